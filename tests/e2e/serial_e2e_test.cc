// Serial links over real pseudo-terminals: the simulator serves the master
// side, the library opens the slave side by its device path.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "e2e_support.h"

namespace {

using e2e::kHostNode;
using Clock = std::chrono::steady_clock;

class SerialE2E : public ::testing::TestWithParam<uint8_t> {
 protected:
  void SetUp() override {
    sim_ = std::make_unique<naxsim::Simulator>();
    ASSERT_TRUE(sim_->start());
    ASSERT_TRUE(sim_->open_serial(&slave_));
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  }
  void TearDown() override {
    sim_->stop();
    nax_uninit();
  }
  uint32_t open(const std::string& baud = "115200") {
    uint32_t status = 0;
    std::string conn = slave_ + ":" + baud;
    uint32_t id = nax_open(&status, kHostNode, GetParam(), conn.c_str(), 0, &rec_,
                           e2e::Recorder::user_cb, nullptr, e2e::Recorder::conn_cb);
    EXPECT_EQ(status, NAX_OK);
    return id;
  }
  std::unique_ptr<naxsim::Simulator> sim_;
  std::string slave_;
  e2e::Recorder rec_;
};

TEST_P(SerialE2E, UnsupportedBaudRateIsRefusedAndThePortReleased) {
  uint32_t status = 0;
  std::string conn = slave_ + ":4800";
  EXPECT_EQ(
      nax_open(&status, kHostNode, GetParam(), conn.c_str(), 0, nullptr, nullptr, nullptr, nullptr),
      0u);
  EXPECT_EQ(status, NAX_ERR_BAD_BAUD_RATE);
  uint32_t link = open("9600");  // the port can be opened again at once
  EXPECT_NE(link, 0u);
  EXPECT_EQ(nax_close(link), NAX_OK);
}

TEST_P(SerialE2E, SilentLineTimesOutAndCloseReturnsPromptly) {
  uint32_t link = open();
  ASSERT_EQ(nax_set_rcv_timeout(link, 200), NAX_OK);
  naxsim::Faults f;
  f.no_answer = true;
  sim_->set_faults(f);
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, 1, &got), NAX_ERR_NO_ANSWER);
  // The reception thread waits on the port without limit; closing must wake it.
  auto start = Clock::now();
  EXPECT_EQ(nax_close(link), NAX_OK);
  EXPECT_LT(e2e::elapsed_ms(start), 1000);
  EXPECT_EQ(rec_.conn_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, SerialE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

// The line settings as the terminal reports them after nax_open: the rate
// asked for, 8 data bits, no parity, one stop bit and no flow control.  The
// slave starts from other settings, so nothing passes by being left alone.
struct LineCase {
  const char* baud;
  speed_t speed;
};

class SerialLineSettings : public ::testing::TestWithParam<LineCase> {};

TEST_P(SerialLineSettings, ReadBackFromTheTerminal) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  std::string slave;
  ASSERT_TRUE(sim.open_serial(&slave));
  const int fd = ::open(slave.c_str(), O_RDWR | O_NOCTTY);
  ASSERT_GE(fd, 0);
  termios other{};
  ASSERT_EQ(tcgetattr(fd, &other), 0);
  other.c_cflag = (other.c_cflag & ~CSIZE) | CS7 | PARENB | PARODD | CSTOPB | CRTSCTS;
  other.c_iflag |= IXON | IXOFF;
  ASSERT_EQ(cfsetispeed(&other, B300), 0);
  ASSERT_EQ(cfsetospeed(&other, B300), 0);
  ASSERT_EQ(tcsetattr(fd, TCSANOW, &other), 0);

  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const std::string conn = slave + ":" + GetParam().baud;
  uint32_t status = 0;
  const uint32_t link =
      nax_open(&status, kHostNode, 2, conn.c_str(), 0, nullptr, nullptr, nullptr, nullptr);
  ASSERT_EQ(status, NAX_OK);
  termios got{};
  ASSERT_EQ(tcgetattr(fd, &got), 0);
  EXPECT_EQ(cfgetospeed(&got), GetParam().speed);
  EXPECT_EQ(cfgetispeed(&got), GetParam().speed);
  EXPECT_EQ(got.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(got.c_cflag & PARENB, 0u) << "no parity";
  EXPECT_EQ(got.c_cflag & CSTOPB, 0u) << "one stop bit";
  EXPECT_EQ(got.c_cflag & CRTSCTS, 0u) << "no hardware flow control";
  EXPECT_EQ(got.c_iflag & (IXON | IXOFF), 0u) << "no software flow control";
  EXPECT_EQ(nax_close(static_cast<int32_t>(link)), NAX_OK);
  nax_uninit();
  ::close(fd);
  sim.stop();
}

INSTANTIATE_TEST_SUITE_P(Rates, SerialLineSettings,
                         ::testing::Values(LineCase{"9600", B9600}, LineCase{"19200", B19200},
                                           LineCase{"38400", B38400}, LineCase{"57600", B57600},
                                           LineCase{"115200", B115200}),
                         [](const auto& p) { return std::string("Baud") + p.param.baud; });

TEST(SerialNames, TtyNamesMapToDevAndComIsRefused) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  struct Case {
    const char* conn;
    uint32_t expected;
  };
  const Case cases[] = {
      {"COM3:115200", NAX_ERR_SERIAL_OPEN},
      {"com3:9600", NAX_ERR_SERIAL_OPEN},
      {"ttyNAXNOSUCH0:9600", NAX_ERR_SERIAL_OPEN},  // mapped to /dev/ttyNAXNOSUCH0
      {"/dev/null:9600", NAX_ERR_SERIAL_CONFIG},    // opens, but is no terminal
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conn);
    uint32_t status = 0;
    EXPECT_EQ(nax_open(&status, 1, 1, c.conn, 0, nullptr, nullptr, nullptr, nullptr), 0u);
    EXPECT_EQ(status, c.expected);
  }
  nax_uninit();
}

}  // namespace
