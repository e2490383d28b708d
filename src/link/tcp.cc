// TCP transport of a link: one non-blocking socket, read only by the
// reception thread and written by the transaction.
#include <cstdlib>

#include "link/transport.h"

namespace nax {
namespace {

uint32_t tcp_open(Link* link, uint32_t timeout_ms) {
  uint16_t port = static_cast<uint16_t>(std::strtoul(link->device_param, nullptr, 10));
  uint32_t status = platform::socket_resolve(link->device_name, port, &link->peer_addr);
  if (status != NAX_OK) return status;
  platform::Socket s = platform::socket_create_tcp();
  if (s == platform::kNoSocket) return NAX_ERR_SOCKET;
  link->socket.store(s);
  if (!platform::socket_set_nonblocking(s)) return NAX_ERR_SOCKET;
  return platform::socket_connect(s, link->peer_addr, timeout_ms, &link->os_error);
}

// Shutting the socket down ends the reception thread's wait; closing it now
// would let the descriptor number be reused under that wait.
uint32_t tcp_close(Link* link) {
  platform::Socket s = link->socket.load();
  if (s == platform::kNoSocket || link->transport_closed) return NAX_ERR_SOCKET_NOT_OPEN;
  platform::socket_shutdown(s);
  link->transport_closed = true;
  return NAX_OK;
}

uint32_t tcp_send(Link* link, const uint8_t* bytes, std::size_t count) {
  platform::Socket s = link->socket.load();
  if (s == platform::kNoSocket || link->transport_closed) return NAX_ERR_IO;
  return platform::socket_send(s, bytes, count, link->snd_timeout.load());
}

uint32_t tcp_receive(Link* link, uint32_t timeout_ms, uint8_t* buffer, std::size_t max_count,
                     uint32_t* count) {
  *count = 0;
  platform::Socket s = link->socket.load();
  if (s == platform::kNoSocket) return NAX_ERR_IO;
  return platform::socket_receive(s, link->stop_event.get(), timeout_ms, buffer, max_count, count);
}

}  // namespace

// On POSIX shutting the socket down wakes its reader, so a link needs no
// second OS object; Windows waits on the stop event's object beside the socket.
const TransportOps kTcpTransport{.waitable_stop = platform::kSocketStopNeedsObject,
                                 .open = tcp_open,
                                 .close = tcp_close,
                                 .send = tcp_send,
                                 .receive = tcp_receive};

void transport_adopt_socket(Link* link, platform::Socket socket) {
  link->device_type = kDeviceTcp;
  link->socket.store(socket);
  (void)platform::socket_set_nonblocking(socket);  // a failure shows at the first read
}

}  // namespace nax
