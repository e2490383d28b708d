// Log lines of the link engine that only show in the log file: the close of
// a failed open, the reception thread's dump of an empty read and the level
// of the packet protocol query.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "e2e_support.h"

namespace {

using e2e::kHostNode;

// Lines of the log without their time stamp: "context: text".
std::vector<std::string> log_lines(const std::string& path) {
  std::vector<std::string> out;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) out.push_back(line.substr(20));
  return out;
}

bool has(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

class LogLines : public ::testing::Test {
 protected:
  void SetUp() override {
    path_ = ::testing::TempDir() + "loglines" + std::to_string(::getpid()) + ".log";
    std::remove(path_.c_str());
  }
  void TearDown() override {
    nax_uninit();
    std::remove(path_.c_str());
  }
  std::string path_;
};

// An open that fails before its transport exists still runs the close, which
// reports what the transport's close gives: a TCP close without a socket 1030,
// a serial close of a port never opened (or of a link whose kind was not yet
// known) 1.
TEST_F(LogLines, FailedOpenWithoutTransportLogsItsClose) {
  ASSERT_EQ(nax_init(path_.c_str(), 3), NAX_OK);
  struct Case {
    const char* conn;
    uint32_t open_status;
    const char* close_line;
  };
  // clang-format off
  const Case cases[] = {
      {"192.0.2.20",           NAX_ERR_BAD_CONN_STRING, "node: close link id = 1, ret_val = 1"},
      {"/dev/null:96x0",       NAX_ERR_BAD_CONN_STRING, "node: close link id = 1, ret_val = 1"},
      {"192.0.2.20:30a1",      NAX_ERR_BAD_CONN_STRING, "node: close link id = 1, ret_val = 1030"},
      {"255.255.255.255:3001", NAX_ERR_BAD_ADDRESS,     "node: close link id = 1, ret_val = 1030"},
      {"ttyNAXNOSUCH0:9600",   NAX_ERR_SERIAL_OPEN,     "node: close link id = 1, ret_val = 1"},
      {"nohost.invalid:3001",  NAX_ERR_HOST_NOT_FOUND,  "node: close link id = 1, ret_val = 1030"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conn);
    uint32_t status = 0;
    EXPECT_EQ(nax_open(&status, kHostNode, 2, c.conn, 100, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(status, c.open_status);
    const auto lines = log_lines(path_);
    EXPECT_TRUE(has(lines, c.close_line));
    std::remove(path_.c_str());
  }
}

// A read that times out on a quiet link brought no bytes: the level-4 dump
// says "empty".
TEST_F(LogLines, QuietReadDumpsEmpty) {
  ASSERT_EQ(nax_set_keepalive(100, 50, 0xFFFF), NAX_OK);
  naxsim::Simulator sim(naxsim::Config{.node = e2e::kSimNode});
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(nax_init(path_.c_str(), 4), NAX_OK);
  uint32_t status = 0;
  const uint32_t link = nax_open(&status, kHostNode, 2, sim.conn_string().c_str(), 1000, nullptr,
                                 nullptr, nullptr, nullptr);
  ASSERT_EQ(status, NAX_OK);
  // A keepalive follows every quiet read, so two of them mean a quiet read happened.
  ASSERT_TRUE(e2e::eventually([&] { return sim.keepalives_received() >= 2; }));
  EXPECT_EQ(nax_close(static_cast<int32_t>(link)), NAX_OK);
  sim.stop();
  EXPECT_TRUE(has(log_lines(path_), "rthr: empty"));
  nax_uninit();
  EXPECT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
}

struct ProtocolLineCase {
  int32_t level;
  bool written;
};

class PacketProtocolLine : public LogLines,
                           public ::testing::WithParamInterface<ProtocolLineCase> {};

TEST_P(PacketProtocolLine, WrittenFromLevelTwo) {
  ASSERT_EQ(nax_init(path_.c_str(), GetParam().level), NAX_OK);
  EXPECT_EQ(nax_get_packet_protocol(42), 0);
  EXPECT_EQ(has(log_lines(path_), "init: get packet protocol = 0 for link id = 42"),
            GetParam().written);
}

INSTANTIATE_TEST_SUITE_P(Levels, PacketProtocolLine,
                         ::testing::Values(ProtocolLineCase{1, false}, ProtocolLineCase{2, true},
                                           ProtocolLineCase{3, true}),
                         [](const auto& p) { return "Level" + std::to_string(p.param.level); });

}  // namespace
