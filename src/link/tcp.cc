// TCP transport of a link.
#include <cstdlib>

#include "core/log.h"
#include "transport/transport.h"

namespace nax {

uint32_t tcp_connect(nax_link* link, uint32_t timeout_ms) {
  uint16_t port = static_cast<uint16_t>(std::strtoul(link->device_param, nullptr, 10));
  uint32_t status = platform::socket_resolve(link->device_name, port, &link->peer_addr);
  if (status != NAX_OK) return status;
  platform::Socket s = platform::socket_create_tcp();
  if (s == platform::kNoSocket) return NAX_ERR_SOCKET;
  link->socket.store(s);
  if (!platform::socket_set_nonblocking(s)) return NAX_ERR_SOCKET;
  return platform::socket_connect(s, link->peer_addr, timeout_ms, &link->os_error);
}

uint32_t tcp_close(nax_link* link) {
  platform::Socket s = link->socket.load();
  if (s == platform::kNoSocket || link->socket_shut) return NAX_ERR_SOCKET_NOT_OPEN;
  // Another thread may still wait on this socket: shut it down so the wait
  // ends, and close it only when the link record is freed.
  platform::socket_shutdown(s);
  link->socket_shut = true;
  return NAX_OK;
}

void transport_adopt_socket(nax_link* link, platform::Socket socket) {
  link->device_type = kDeviceTcp;
  link->socket.store(socket);
  (void)platform::socket_set_nonblocking(socket);  // a failure shows at the first read
}

}  // namespace nax
