// Log lines that only show in the log file: the close of a failed open, the OS
// error a connect leaves, and the record lines of lists and template reads.
#include <unistd.h>

#include <algorithm>
#include <cstdio>

#include "e2e_support.h"
#include "handlers_marks.h"

namespace {

using e2e::kHostNode;
using e2e::kSimNode;

using e2e::count_log_lines;

class LogLines : public e2e::NodeFixture {
 protected:
  void SetUp() override {
    NodeFixture::SetUp();
    path_ = ::testing::TempDir() + "loglines" + std::to_string(::getpid()) + ".log";
    std::remove(path_.c_str());
  }
  void TearDown() override {
    NodeFixture::TearDown();
    std::remove(path_.c_str());
  }
  void restart(int32_t level) {
    ASSERT_EQ(nax_uninit(), NAX_OK);
    ASSERT_EQ(nax_init(path_.c_str(), level), NAX_OK);
  }
  std::string path_;
};

// An open that fails before its transport exists still runs the close, which
// reports what the transport's close gives: a TCP close without a socket 1030,
// a serial close of a port never opened (or of a link whose kind was not yet
// known) 1.  A connect that succeeds leaves no OS error behind.
TEST_F(LogLines, OpenLogsItsCloseAndTheOsErrorOfTheConnect) {
  restart(3);
  struct Case {
    std::string conn;
    uint32_t open_status;
    const char* line;
  };
  // clang-format off
  const Case cases[] = {
      {"192.0.2.20",           NAX_ERR_BAD_CONN_STRING, "node: close link id = 1, ret_val = 1"},
      {"/dev/null:96x0",       NAX_ERR_BAD_CONN_STRING, "node: close link id = 1, ret_val = 1"},
      {"192.0.2.20:30a1",      NAX_ERR_BAD_CONN_STRING, "node: close link id = 1, ret_val = 1030"},
      {"255.255.255.255:3001", NAX_ERR_BAD_ADDRESS,     "node: close link id = 1, ret_val = 1030"},
      {"ttyNAXNOSUCH0:9600",   NAX_ERR_SERIAL_OPEN,     "node: close link id = 1, ret_val = 1"},
      {"nohost.invalid:3001",  NAX_ERR_HOST_NOT_FOUND,  "node: close link id = 1, ret_val = 1030"},
      {node_.tcp(),            NAX_OK,                  "OS error code = 0 for link id = 1"},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conn);
    uint32_t status = 0;
    const uint32_t id =
        nax_open(&status, kHostNode, 2, c.conn.c_str(), 1000, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(status, c.open_status);
    if (id != 0) {
      EXPECT_EQ(nax_close(static_cast<int32_t>(id)), NAX_OK);
    }
    EXPECT_EQ(count_log_lines(path_, c.line, false), 1);
    std::remove(path_.c_str());
  }
}

// Record lines of users are numbered from the first index asked for, and a page
// the node calls its last logs none; marks show each mark and the result; a
// template read logs the ids asked for and echoed, and dumps the whole buffer.
TEST_F(LogLines, ListedRecordsAndTemplatesAreLogged) {
  restart(6);
  const int32_t link = open(2);
  nax_user users[4]{};
  for (uint32_t i = 0; i < 4; ++i) {
    users[i] = {0x1BFF, 10 * (i + 1), static_cast<uint16_t>(i), 1, 0x1234, 1, 2, 3, 4};
    users[i].schedule_id = 5;
    users[i].anti_passback = 1;
  }
  uint16_t stored = 0;
  ASSERT_EQ(nax_add_user(link, kSimNode, 0, 4, users, &stored), NAX_OK);
  ASSERT_EQ(nax_list_users(link, kSimNode, 1, 2, users, &stored), NAX_OK);
  ASSERT_EQ(stored, 2);
  ASSERT_EQ(nax_list_users(link, kSimNode, 3, 2, users, &stored), 8u);
  ASSERT_EQ(stored, 1);
  EXPECT_EQ(count_log_lines(path_, "cmd: list user (00002)", false), 1);
  EXPECT_EQ(count_log_lines(path_, "cmd: list user (00003)", false), 0);

  naxsim::MarkEntry m;
  m.id = 87654321;
  m.time = nax_date_time{8, 30, 0, 4, 3, 15, 0};
  m.direction_word = 0x0102;
  m.index = 4;
  node_.sim().node().with_state<naxsim::MarkLog>([&](naxsim::MarkLog& log) {
    log.marks = {m};
    return 0;
  });
  nax_mark got[3];
  ASSERT_EQ(nax_list_marks(open(1), kSimNode, 0, 3, got, &stored), NAX_OK);
  ASSERT_EQ(stored, 1);
  for (const char* line :
       {"cmd: list user (00001) - mask = 1bff, id = 20, psw = 1, st = 1, ctl = 1234, panic = 1, "
        "bio_count = 2, bio_level = 3, sec_level = 4, schedule_id = 5, anti_passback = 1, for "
        "link id = 1",
        "cmd: list users for link id = 1 from node = 7",
        "cmd: list users for link id = 1 ret_val = 8",
        "cmd: list marks (3) for link id = 2 from node = 7",
        "cmd: user_mark (0) - mask = 3e, id = 87654321, event = 1, direction = 2, 04-03-15 "
        "08:30:00, for link id = 2",
        "cmd: list marks for link id = 2 ret_val = 1"}) {
    EXPECT_GE(count_log_lines(path_, line), 1) << line;
  }
  std::vector<uint8_t> buffer(400, 0xAB);
  ASSERT_EQ(nax_write_template(link, kSimNode, 1, 4294967295u, 3, buffer.data(), 384), NAX_OK);
  std::fill(buffer.begin(), buffer.end(), 0);
  ASSERT_EQ(nax_read_template(link, kSimNode, 1, 4294967295u, 3, buffer.data(), 400), NAX_OK);
  EXPECT_EQ(count_log_lines(path_,
                            "cmd: read template - sensor_id = 1, access_id = 4294967295, "
                            "template_id = 3, for link id = 1"),
            2)
      << "requested and echoed";
  std::string dump;
  for (int i = 0; i < 384; ++i) dump += "AB";
  EXPECT_EQ(count_log_lines(path_, "cmd: " + dump + std::string(2 * 16, '0')), 1);
}

}  // namespace
