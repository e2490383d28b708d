// termios serial ports: raw 8N1 lines, reads and writes bounded by time-outs
// and by the link's stop event.
#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

#include "vedodiroz.h"

namespace nax::platform {
namespace {

speed_t baud_constant(uint32_t baud) {
  switch (baud) {
    case 9600:
      return B9600;
    case 19200:
      return B19200;
    case 38400:
      return B38400;
    case 57600:
      return B57600;
    case 115200:
      return B115200;
    default:
      return B0;
  }
}

// >0 ready, 0 time-out, -1 failure, -2 stop, -3 hang-up.
int wait_port(int fd, short events, int stop_fd, uint32_t timeout_ms) {
  struct pollfd fds[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  nfds_t n = stop_fd >= 0 ? 2 : 1;
  int timeout = timeout_ms > 0x7FFFFFFFu ? -1 : static_cast<int>(timeout_ms);
  for (;;) {
    int rc = ::poll(fds, n, timeout);
    if (rc < 0 && errno == EINTR) continue;
    if (rc <= 0) return rc;
    if (n == 2 && (fds[1].revents & POLLIN)) return -2;
    // A hung-up line also reports itself readable; what is left to read is lost.
    if (fds[0].revents & POLLHUP) return -3;
    if (fds[0].revents & events) return 1;
    return -1;
  }
}

}  // namespace

int serial_open_device(const char* path) {
  return ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
}

uint32_t serial_configure(int fd, uint32_t baud, SerialSaved* saved) {
  if (tcgetattr(fd, &saved->tio) != 0) return NAX_ERR_SERIAL_CONFIG;
  saved->modem_bits = 0;
  (void)ioctl(fd, TIOCMGET, &saved->modem_bits);  // not every device has modem lines
  saved->valid = true;
  struct termios tio = saved->tio;
  cfmakeraw(&tio);
  tio.c_cflag &= ~(PARENB | CSTOPB | CSIZE | CRTSCTS);
  tio.c_cflag |= CS8 | CLOCAL | CREAD;
  tio.c_iflag &= ~(IXON | IXOFF | IXANY | INPCK);
  tio.c_cc[VSTART] = 0x11;
  tio.c_cc[VSTOP] = 0x13;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
  speed_t speed = baud_constant(baud);
  if (cfsetispeed(&tio, speed) != 0 || cfsetospeed(&tio, speed) != 0) return NAX_ERR_SERIAL_CONFIG;
  if (tcsetattr(fd, TCSANOW, &tio) != 0) return NAX_ERR_SERIAL_CONFIG;
  int lines = TIOCM_DTR | TIOCM_RTS;
  (void)ioctl(fd, TIOCMBIC, &lines);
  (void)tcflush(fd, TCIOFLUSH);
  return NAX_OK;
}

void serial_restore(int fd, const SerialSaved& saved) {
  if (!saved.valid) return;
  (void)tcsetattr(fd, TCSANOW, &saved.tio);
  (void)ioctl(fd, TIOCMSET, &saved.modem_bits);
}

void serial_close_device(int fd) {
  if (fd >= 0) ::close(fd);
}

uint32_t serial_write(int fd, int stop_fd, uint32_t timeout_ms, const uint8_t* bytes,
                      std::size_t count) {
  std::size_t done = 0;
  uint32_t status = NAX_OK;
  while (done < count) {
    ssize_t n = ::write(fd, bytes + done, count - done);
    if (n > 0) {
      done += static_cast<std::size_t>(n);
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
      status = done > 0 ? NAX_ERR_SERIAL_WRITE_SHORT : NAX_ERR_IO;
      break;
    }
    int rc = wait_port(fd, POLLOUT, stop_fd, timeout_ms);
    if (rc == -2 || rc == -3) {
      status = NAX_ERR_CONN_CLOSED;
      break;
    }
    if (rc == 0) {
      status = NAX_ERR_TIMEOUT;
      break;
    }
    if (rc < 0) {
      status = NAX_ERR_IO;
      break;
    }
  }
  if (status != NAX_OK) (void)tcflush(fd, TCOFLUSH);
  return status;
}

uint32_t serial_read(int fd, int stop_fd, uint32_t timeout_ms, uint8_t* buffer,
                     std::size_t max_count, uint32_t* count) {
  *count = 0;
  if (fd < 0) return NAX_ERR_IO;
  int rc = wait_port(fd, POLLIN, stop_fd, timeout_ms);
  uint32_t status = NAX_OK;
  if (rc == -2 || rc == -3) {
    status = NAX_ERR_CONN_CLOSED;
  } else if (rc == 0) {
    status = NAX_ERR_TIMEOUT;
  } else if (rc < 0) {
    status = NAX_ERR_IO;
  } else {
    ssize_t n = ::read(fd, buffer, max_count);
    if (n > 0) {
      *count = static_cast<uint32_t>(n);
      return NAX_OK;
    }
    if (n == 0) {
      // Readable yet empty: the other end has gone (a closed pseudo-terminal
      // master reads as end of file).
      status = NAX_ERR_CONN_CLOSED;
    } else if (errno == EIO) {
      status = NAX_ERR_CONN_CLOSED;  // a pseudo-terminal whose other end closed
    } else {
      status = NAX_ERR_IO;
    }
  }
  if (status != NAX_ERR_CONN_CLOSED) (void)tcflush(fd, TCIFLUSH);
  return status;
}

}  // namespace nax::platform
