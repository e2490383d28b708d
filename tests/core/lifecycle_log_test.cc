// Library start and stop, and the log's format, levels and default file.
#include <gtest/gtest.h>

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
    do {  // a fresh one, not somebody else's
      dir_ = fs::temp_directory_path() / ("naxlog" + std::to_string(std::random_device{}()));
    } while (!fs::create_directory(dir_));
    fs::current_path(dir_);
  }
  void TearDown() override {
    nax_uninit();
    fs::current_path(old_);
    fs::remove_all(dir_);
  }
  // The file's messages, each after its time stamp.
  static std::vector<std::string> messages(const std::string& path) {
    std::vector<std::string> out;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
      EXPECT_TRUE(std::regex_search(line, std::regex(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d )")))
          << line;
      out.push_back(line.substr(20));
    }
    return out;
  }
  fs::path old_, dir_;
};

TEST_F(LogTest, CallsBeforeInitAndASecondInitAreRefusedUninitFinishesTheFile) {
  EXPECT_EQ(nax_uninit(), NAX_ERR_NOT_INIT);
  uint32_t status = 0;
  EXPECT_EQ(nax_open(&status, 1, 2, "127.0.0.1:1", 100, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_NOT_INIT);
  EXPECT_EQ(nax_close(1), NAX_ERR_NOT_INIT);
  EXPECT_EQ(nax_set_rcv_timeout(1, 10), NAX_ERR_NOT_INIT);
  EXPECT_EQ(nax_get_packet_protocol(1), 0);
  ASSERT_EQ(nax_init("first.log", 1), NAX_OK);
  EXPECT_EQ(nax_init("second.log", 6), NAX_ERR_ALREADY_INIT);
  nax::log_printf(3, "cmd", "level three");  // above level 1: not written
  nax::log_printf(1, "cmd", "level one");
  nax::log_printf(1, "cmd", nullptr);  // nothing
  nax::log_printf(1, nullptr, "no tag %d", 5);
  EXPECT_EQ(nax_uninit(), NAX_OK);
  EXPECT_FALSE(fs::exists("second.log"));
  EXPECT_EQ(messages("first.log"),
            (std::vector<std::string>{"init: log level = 1, version = 1.1.13", "cmd: level one",
                                      "no tag 5", "init: finish"}));
}

// Into the default file: the init line, hex dumps from level four on, the finish line.
TEST_F(LogTest, HexDumpsOnlyFromLevelFour) {
  struct Case {
    int32_t level;
    std::vector<uint8_t> bytes;
    std::vector<std::string> expected;  // dumps between the init and finish lines
  };
  const std::vector<Case> cases = {
      {0, {0x01}, {}},
      {3, {0x01, 0xAB}, {}},
      {4, {}, {"pbuf: empty"}},
      {4, {0x00, 0x0F, 0xA5, 0xFF}, {"pbuf: 000FA5FF"}},
      {-1, {0x7E}, {"pbuf: 7E"}},  // a negative level logs everything
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.level);
    ASSERT_EQ(nax_init(nullptr, c.level), NAX_OK);
    nax::log_hex("pbuf", c.bytes.empty() ? reinterpret_cast<const uint8_t*>("") : c.bytes.data(),
                 c.bytes.size());
    nax::log_hex("pbuf", nullptr, 3);  // nothing
    ASSERT_EQ(nax_uninit(), NAX_OK);
    auto got = messages("zavidu.log");
    EXPECT_EQ(fs::exists("zavidu.log"), c.level != 0);
    if (c.level != 0) {
      ASSERT_EQ(got.size(), 2 + c.expected.size());
      EXPECT_EQ(got[0], "init: log level = " + std::to_string(c.level) + ", version = 1.1.13");
      EXPECT_EQ(std::vector<std::string>(got.begin() + 1, got.end() - 1), c.expected);
    }
    fs::remove("zavidu.log");
  }
}

TEST(StatusText, NodeStatusesShareOneTextUnknownCodesAnother) {
  EXPECT_STREQ(nax_status_text(17), "status reported by the node");
  EXPECT_STREQ(nax_status_text(1052), "unknown library status");  // not a code in use
}

}  // namespace
