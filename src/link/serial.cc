// Serial transport of a link.  Which device names name a serial port, and the
// path they open, are the OS layer's: "COMn" on Windows, "tty..." names and
// device paths elsewhere; any other name gives 1002.
#include "platform/serial.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "core/log.h"
#include "link/transport.h"

namespace nax {
namespace {

bool is_supported_baud(unsigned long baud) {
  return baud == 9600 || baud == 19200 || baud == 38400 || baud == 57600 || baud == 115200;
}

uint32_t serial_open(Link* link, uint32_t /*timeout_ms: opening a port does not wait*/) {
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

// A port that was never opened closes as the OS closes a null handle: nothing
// happens and the close succeeds.
uint32_t serial_close(Link* link) {
  if (link->transport_closed) return NAX_ERR_SERIAL_NOT_OPEN;
  if (link->handle == platform::kNoSerialPort) return NAX_OK;
  platform::serial_restore(link->handle, link->saved_settings);
  link->saved_settings.valid = false;
  link->transport_closed = true;
  return NAX_OK;
}

uint32_t serial_send(Link* link, const uint8_t* bytes, std::size_t count) {
  return platform::serial_write(link->handle, link->stop_event.get(), link->snd_timeout.load(),
                                bytes, count);
}

uint32_t serial_receive(Link* link, uint32_t timeout_ms, uint8_t* buffer, std::size_t max_count,
                        uint32_t* count) {
  return platform::serial_read(link->handle, link->stop_event.get(), timeout_ms, buffer, max_count,
                               count);
}

}  // namespace

// A port's wait includes the stop event's OS object, so that a close ends it.
const TransportOps kSerialTransport{.waitable_stop = true,
                                    .open = serial_open,
                                    .close = serial_close,
                                    .send = serial_send,
                                    .receive = serial_receive};

}  // namespace nax
