// What naxctl tells an operator about a serial port the library could not use.  One
// implementation per system in os/, chosen by the build.
#pragma once

#include <string>

namespace naxctl {

// The device the library opens for a serial device name ("ttyS0" or "/dev/pts/3" on POSIX
// systems, "COM3" on Windows).
std::string serial_device_path(const std::string& device);

// "device /dev/ttyS9: No such file or directory": the device and why the system refuses to
// open it as a serial port; only the device when the system accepts it.
std::string serial_open_detail(const std::string& path);

}  // namespace naxctl
