// termios serial ports: raw 8N1 lines, reads and writes bounded by time-outs
// and by the link's stop event.
#include "platform/serial.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "vedodiroz.h"

namespace nax::platform {
namespace {

struct PosixSaved {
  struct termios tio;
  int modem_bits;
};
static_assert(sizeof(PosixSaved) <= sizeof(SerialSaved::bytes));

int fd_of(SerialPort port) {
  return static_cast<int>(port);
}

int stop_fd_of(const Event* stop) {
  return stop != nullptr && stop->native() != kNoWaitable ? static_cast<int>(stop->native()) : -1;
}

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

// "ttyS0", "ttyUSB1" (any case of "tty") name /dev/ttyS0 ...; a name starting
// with '/' is a device path as it stands, so pseudo-terminals and
// /dev/serial/by-id/ links work.  "COM" names exist only on Windows.
bool serial_device_path(const char* name, char* path, std::size_t path_size) {
  if (name[0] == '/') {
    return std::snprintf(path, path_size, "%s", name) < static_cast<int>(path_size);
  }
  if (std::tolower(static_cast<unsigned char>(name[0])) != 't') return false;
  if (std::snprintf(path, path_size, "/dev/%s", name) >= static_cast<int>(path_size)) return false;
  // The device files are lower case whatever case the host wrote "tty" in.
  for (std::size_t i = 5; i < 8 && path[i] != '\0'; ++i) {
    path[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
  }
  return true;
}

SerialPort serial_open_device(const char* path) {
  int fd = ::open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  return fd >= 0 ? fd : kNoSerialPort;
}

uint32_t serial_configure(SerialPort port, uint32_t baud, SerialSaved* saved) {
  const int fd = fd_of(port);
  PosixSaved old{};
  if (tcgetattr(fd, &old.tio) != 0) return NAX_ERR_SERIAL_CONFIG;
  (void)ioctl(fd, TIOCMGET, &old.modem_bits);  // not every device has modem lines
  std::memcpy(saved->bytes, &old, sizeof old);
  saved->valid = true;
  struct termios tio = old.tio;
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

void serial_restore(SerialPort port, const SerialSaved& saved) {
  if (!saved.valid) return;
  PosixSaved old{};
  std::memcpy(&old, saved.bytes, sizeof old);
  (void)tcsetattr(fd_of(port), TCSANOW, &old.tio);
  (void)ioctl(fd_of(port), TIOCMSET, &old.modem_bits);
}

void serial_close_device(SerialPort port) {
  if (port != kNoSerialPort) ::close(fd_of(port));
}

uint32_t serial_write(SerialPort port, const Event* stop, uint32_t timeout_ms, const uint8_t* bytes,
                      std::size_t count) {
  const int fd = fd_of(port);
  const int stop_fd = stop_fd_of(stop);
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

uint32_t serial_read(SerialPort port, const Event* stop, uint32_t timeout_ms, uint8_t* buffer,
                     std::size_t max_count, uint32_t* count) {
  *count = 0;
  if (port == kNoSerialPort) return NAX_ERR_IO;
  const int fd = fd_of(port);
  int rc = wait_port(fd, POLLIN, stop_fd_of(stop), timeout_ms);
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
