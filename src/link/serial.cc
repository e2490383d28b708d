// Serial transport of a link.  Which device names name a serial port, and the
// path they open, are the OS layer's: "COMn" on Windows, "tty..." names and
// device paths elsewhere; any other name gives 1002.
#include "platform/serial.h"

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
  const std::size_t size = std::strlen(link->device_name) + 8;
  char* path = new (std::nothrow) char[size];
  if (path == nullptr) return NAX_ERR_SERIAL_OPEN;
  if (!platform::serial_device_path(link->device_name, path, size)) {
    delete[] path;
    return NAX_ERR_SERIAL_OPEN;
  }
  log_printf(2, "node", "win32 open serial port = %s", path);
  link->handle = platform::serial_open_device(path);
  delete[] path;
  if (link->handle == platform::kNoSerialPort) return NAX_ERR_SERIAL_OPEN;
  unsigned long baud = std::strtoul(link->device_param, nullptr, 10);
  if (!is_supported_baud(baud)) return NAX_ERR_BAD_BAUD_RATE;
  return platform::serial_configure(link->handle, static_cast<uint32_t>(baud),
                                    &link->saved_settings);
}

uint32_t serial_close(nax_link* link) {
  if (link->handle == platform::kNoSerialPort) return NAX_ERR_SERIAL_NOT_OPEN;
  platform::serial_restore(link->handle, link->saved_settings);
  // The reception thread may still wait on the port; it is closed with the link record.
  link->saved_settings.valid = false;
  return NAX_OK;
}

}  // namespace nax
