// Serial transport of a link.
//
// Device names: "ttyS0", "ttyUSB1" (any case of "tty") name /dev/ttyS0 ...;
// a name starting with '/' is a device path as it stands, so pseudo-terminals
// and /dev/serial/by-id/ links work.  "COM" names exist only on Windows and
// are refused here with 1002.
#include "platform/serial.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/log.h"
#include "transport/transport.h"

namespace nax {
namespace {

bool is_supported_baud(unsigned long baud) {
  return baud == 9600 || baud == 19200 || baud == 38400 || baud == 57600 || baud == 115200;
}

}  // namespace

uint32_t serial_open(nax_link* link) {
  const char* name = link->device_name;
  if ((name[0] | 0x20) == 'c') return NAX_ERR_SERIAL_OPEN;
  const char* prefix = name[0] == '/' ? "" : "/dev/";
  std::size_t size = std::strlen(prefix) + std::strlen(name) + 1;
  char* path = new (std::nothrow) char[size];
  if (path == nullptr) return NAX_ERR_SERIAL_OPEN;
  std::snprintf(path, size, "%s%s", prefix, name);
  if (name[0] != '/') {
    // The device files are lower case whatever case the host wrote "tty" in.
    for (std::size_t i = 5; i < 8 && path[i] != '\0'; ++i) path[i] |= 0x20;
  }
  log_printf(2, "node", "win32 open serial port = %s", path);
  link->handle = platform::serial_open_device(path);
  delete[] path;
  if (link->handle < 0) return NAX_ERR_SERIAL_OPEN;
  unsigned long baud = std::strtoul(link->device_param, nullptr, 10);
  if (!is_supported_baud(baud)) return NAX_ERR_BAD_BAUD_RATE;
  return platform::serial_configure(link->handle, static_cast<uint32_t>(baud),
                                    &link->saved_settings);
}

uint32_t serial_close(nax_link* link) {
  if (link->handle < 0) return NAX_ERR_SERIAL_NOT_OPEN;
  platform::serial_restore(link->handle, link->saved_settings);
  // The reception thread may still poll the port; it is closed with the link record.
  link->saved_settings.valid = false;
  return NAX_OK;
}

}  // namespace nax
