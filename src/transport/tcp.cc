// TCP transport of a link.
#include <cstdlib>

#include "core/log.h"
#include "platform/socket.h"
#include "transport/transport.h"

namespace nax {

uint32_t tcp_connect(nax_link* link, uint32_t timeout_ms) {
  uint16_t port = static_cast<uint16_t>(std::strtoul(link->device_param, nullptr, 10));
  uint32_t status = platform::socket_resolve(link->device_name, port, &link->peer_addr);
  if (status != NAX_OK) return status;
  int fd = platform::socket_create_tcp();
  if (fd < 0) return NAX_ERR_SOCKET;
  link->socket.store(fd);
  if (!platform::socket_set_nonblocking(fd)) return NAX_ERR_SOCKET;
  return platform::socket_connect(fd, link->peer_addr, timeout_ms, &link->os_error);
}

uint32_t tcp_close(nax_link* link) {
  int fd = link->socket.load();
  if (fd < 0 || link->socket_shut) return NAX_ERR_SOCKET_NOT_OPEN;
  // Another thread may still poll this descriptor: shut it down so the poll
  // wakes, and close it only when the link record is freed.
  platform::socket_shutdown(fd);
  link->socket_shut = true;
  return NAX_OK;
}

uint32_t transport_send(nax_link* link, const uint8_t* bytes, std::size_t count) {
  if (link->device_type == kDeviceSerial) {
    return platform::serial_write(link->handle, link->stop_event->poll_fd(),
                                  link->snd_timeout.load(), bytes, count);
  }
  int fd = link->socket.load();
  if (fd < 0 || link->socket_shut) return NAX_ERR_IO;
  return platform::socket_send(fd, bytes, count, link->snd_timeout.load());
}

uint32_t transport_receive(nax_link* link, uint32_t timeout_ms, uint8_t* buffer,
                           std::size_t max_count, uint32_t* count) {
  int stop_fd = link->stop_event ? link->stop_event->poll_fd() : -1;
  if (link->device_type == kDeviceSerial) {
    return platform::serial_read(link->handle, stop_fd, timeout_ms, buffer, max_count, count);
  }
  *count = 0;
  int fd = link->socket.load();
  if (fd < 0) return NAX_ERR_IO;
  return platform::socket_receive(fd, stop_fd, timeout_ms, buffer, max_count, count);
}

uint32_t transport_close(nax_link* link) {
  return link->device_type == kDeviceTcp ? tcp_close(link) : serial_close(link);
}

}  // namespace nax
