// Dispatch of link transport operations on the link's device type:
// 1 = serial port, anything else TCP.
#include "transport/transport.h"

#include "platform/serial.h"

namespace nax {

uint32_t transport_open(nax_link* link, uint32_t timeout_ms) {
  return link->device_type == kDeviceSerial ? serial_open(link) : tcp_connect(link, timeout_ms);
}

bool transport_needs_waitable_stop(const nax_link* link) {
  // A TCP link is woken by shutting its socket down: no second OS object per link.
  return link->device_type == kDeviceSerial;
}

uint32_t transport_send(nax_link* link, const uint8_t* bytes, std::size_t count) {
  if (link->device_type == kDeviceSerial) {
    return platform::serial_write(link->handle, link->stop_event.get(), link->snd_timeout.load(),
                                  bytes, count);
  }
  platform::Socket s = link->socket.load();
  if (s == platform::kNoSocket || link->socket_shut) return NAX_ERR_IO;
  return platform::socket_send(s, bytes, count, link->snd_timeout.load());
}

uint32_t transport_receive(nax_link* link, uint32_t timeout_ms, uint8_t* buffer,
                           std::size_t max_count, uint32_t* count) {
  if (link->device_type == kDeviceSerial) {
    return platform::serial_read(link->handle, link->stop_event.get(), timeout_ms, buffer,
                                 max_count, count);
  }
  *count = 0;
  platform::Socket s = link->socket.load();
  if (s == platform::kNoSocket) return NAX_ERR_IO;
  return platform::socket_receive(s, link->stop_event.get(), timeout_ms, buffer, max_count, count);
}

uint32_t transport_close(nax_link* link) {
  return link->device_type == kDeviceSerial ? serial_close(link) : tcp_close(link);
}

}  // namespace nax
