// Library start and stop, and the log's format, levels and default file.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "core/log.h"
#include "vedodiroz.h"

namespace {

namespace fs = std::filesystem;

// Runs each test in a fresh directory, so the default log file is its own.
class LogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    old_ = fs::current_path();
    std::random_device random;
    for (;;) {
      dir_ = fs::temp_directory_path() / ("naxlog" + std::to_string(random()));
      if (fs::create_directory(dir_)) break;  // a fresh one, not somebody else's
    }
    fs::current_path(dir_);
  }
  void TearDown() override {
    nax_uninit();
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  static std::vector<std::string> lines(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) out.push_back(line);
    return out;
  }
  fs::path old_, dir_;
};

const std::regex kLinePrefix(R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} )");

TEST_F(LogTest, LevelZeroCreatesNoFileAndWritesNothing) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  nax::log_printf(1, "cmd", "should not appear %d", 1);
  nax::log_hex("pbuf", "ab", 2);
  EXPECT_TRUE(fs::is_empty(dir_));
}

TEST_F(LogTest, NullPathWritesDefaultFileWithInitLine) {
  ASSERT_EQ(nax_init(nullptr, 3), NAX_OK);
  auto got = lines("zavidu.log");
  ASSERT_EQ(got.size(), 1u);
  EXPECT_TRUE(std::regex_search(got[0], kLinePrefix)) << got[0];
  EXPECT_EQ(got[0].substr(20), "init: log level = 3, version = 1.1.13");
}

TEST_F(LogTest, SecondInitRefusedAndKeepsFirstSettings) {
  ASSERT_EQ(nax_init("first.log", 1), NAX_OK);
  EXPECT_EQ(nax_init("second.log", 6), NAX_ERR_ALREADY_INIT);
  nax::log_printf(3, "cmd", "level three");  // above level 1: not written
  nax::log_printf(1, "cmd", "level one");
  EXPECT_FALSE(fs::exists("second.log"));
  auto got = lines("first.log");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].substr(20), "cmd: level one");
}

TEST_F(LogTest, UninitTwiceAndReinitWithAnotherPath) {
  ASSERT_EQ(nax_init("a.log", 1), NAX_OK);
  EXPECT_EQ(nax_uninit(), NAX_OK);
  EXPECT_EQ(nax_uninit(), NAX_ERR_NOT_INIT);
  ASSERT_EQ(nax_init("b.log", 2), NAX_OK);
  auto a = lines("a.log");
  ASSERT_EQ(a.size(), 2u);
  EXPECT_EQ(a[1].substr(20), "init: finish");
  EXPECT_EQ(lines("b.log").size(), 1u);
}

TEST_F(LogTest, HexDumpsOnlyFromLevelFour) {
  struct Case {
    int32_t level;
    std::vector<uint8_t> bytes;
    std::vector<std::string> expected;  // messages after the init line
  };
  const std::vector<Case> cases = {
      {3, {0x01, 0xAB}, {}},
      {4, {}, {"pbuf: empty"}},
      {4, {0x00, 0x0F, 0xA5, 0xFF}, {"pbuf: 000FA5FF"}},
      {-1, {0x7E}, {"pbuf: 7E"}},  // a negative level logs everything
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    fs::remove("dump.log");
    ASSERT_EQ(nax_init("dump.log", c.level), NAX_OK);
    nax::log_hex("pbuf", c.bytes.data() ? c.bytes.data() : reinterpret_cast<const uint8_t*>(""),
                 c.bytes.size());
    auto got = lines("dump.log");
    ASSERT_EQ(got.size(), 1 + c.expected.size());
    for (size_t i = 0; i < c.expected.size(); ++i) EXPECT_EQ(got[1 + i].substr(20), c.expected[i]);
    ASSERT_EQ(nax_uninit(), NAX_OK);
  }
}

TEST_F(LogTest, NullFormatAndNullContextAreHandled) {
  ASSERT_EQ(nax_init("n.log", 6), NAX_OK);
  nax::log_printf(1, "cmd", nullptr);  // nothing
  nax::log_printf(1, nullptr, "no tag %d", 5);
  nax::log_hex("pbuf", nullptr, 3);  // nothing
  auto got = lines("n.log");
  ASSERT_EQ(got.size(), 2u);
  EXPECT_EQ(got[1].substr(19), " no tag 5");
}

TEST(Lifecycle, StatusesBeforeAndAfterInit) {
  char buffer[7];
  EXPECT_EQ(nax_lib_version(nullptr), nullptr);
  EXPECT_STREQ(nax_lib_version(buffer), "1.1.13");
  EXPECT_EQ(nax_uninit(), NAX_ERR_NOT_INIT);
  uint32_t status = 0;
  EXPECT_EQ(nax_open(&status, 1, 2, "127.0.0.1:1", 100, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_NOT_INIT);
  EXPECT_EQ(nax_close(1), NAX_ERR_NOT_INIT);
  EXPECT_EQ(nax_set_rcv_timeout(1, 10), NAX_ERR_NOT_INIT);
  EXPECT_EQ(nax_get_packet_protocol(1), 0);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  EXPECT_EQ(nax_init(nullptr, 0), NAX_ERR_ALREADY_INIT);
  EXPECT_EQ(nax_close(1), NAX_ERR_NO_SUCH_LINK);
  EXPECT_EQ(nax_uninit(), NAX_OK);
}

TEST(StatusText, EveryLibraryCodeHasItsOwnText) {
  EXPECT_STREQ(nax_status_text(NAX_OK), "success");
  EXPECT_STREQ(nax_status_text(1063), "the node stopped answering keepalives");
  EXPECT_STREQ(nax_status_text(17), "status reported by the node");
  EXPECT_STREQ(nax_status_text(1052), "unknown library status");  // not a code in use
}

}  // namespace
