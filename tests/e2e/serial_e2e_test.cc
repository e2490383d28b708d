// Serial line settings over a real pseudo-terminal: the simulator serves the
// master side, the library opens the slave side by its device path.
#include <fcntl.h>
#include <pty.h>
#include <termios.h>
#include <unistd.h>

#include "e2e_support.h"

namespace {

using e2e::kHostNode;

// The line settings as the terminal reports them after nax_open: the rate
// asked for, 8 data bits, no parity, one stop bit and no flow control.  The
// slave starts from other settings, so nothing passes by being left alone; a
// rate refused just before left the port free to open again at once.
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
  uint32_t status = 0;
  EXPECT_EQ(nax_open(&status, kHostNode, 2, (slave + ":4800").c_str(), 0, nullptr, nullptr, nullptr,
                     nullptr),
            0u);
  EXPECT_EQ(status, NAX_ERR_BAD_BAUD_RATE);
  const std::string conn = slave + ":" + GetParam().baud;
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

}  // namespace
