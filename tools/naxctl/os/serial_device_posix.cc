// Serial device names and open failures on POSIX systems.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstring>

#include "serial_device.h"

namespace naxctl {

std::string serial_device_path(const std::string& device) {
  if (device.empty() || device[0] == '/') return device;
  // The library opens /dev/ plus the name, with "tty" in lower case whatever case was typed.
  std::string path = "/dev/" + device;
  for (std::size_t i = 5; i < 8 && i < path.size(); ++i) {
    path[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(path[i])));
  }
  return path;
}

std::string serial_open_detail(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  if (fd < 0) return "device " + path + ": " + std::strerror(errno);
  termios settings{};
  const bool terminal = tcgetattr(fd, &settings) == 0;
  const int error = errno;
  ::close(fd);
  if (!terminal) return "device " + path + ": " + std::strerror(error);
  return "device " + path;
}

}  // namespace naxctl
