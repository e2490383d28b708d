// POSIX implementation of the link and listener sockets.
#include "platform/socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

#include "vedodiroz.h"

static_assert(sizeof(nax::platform::Ipv4Address) == sizeof(sockaddr_in));

namespace nax::platform {
namespace {

int poll_timeout(uint32_t timeout_ms) {
  return timeout_ms > 0x7FFFFFFFu ? -1 : static_cast<int>(timeout_ms);
}

int fd_of(Socket s) {
  return static_cast<int>(s);
}

int stop_fd_of(const Event* stop) {
  return stop != nullptr && stop->native() != kNoWaitable ? static_cast<int>(stop->native()) : -1;
}

// Polls one descriptor (and optionally a stop descriptor); a signal that
// interrupts the poll does not restart the time-out.  Returns >0 ready,
// 0 time-out, -1 failure, -2 stop.
int wait_fd(int fd, short events, int stop_fd, uint32_t timeout_ms) {
  struct pollfd fds[2] = {{fd, events, 0}, {stop_fd, POLLIN, 0}};
  nfds_t n = stop_fd >= 0 ? 2 : 1;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  uint32_t left = timeout_ms;
  for (;;) {
    int rc = ::poll(fds, n, poll_timeout(left));
    if (rc < 0 && errno == EINTR) {
      if (timeout_ms != kWaitForever) {
        left = ms_until(deadline);
        if (left == 0) return 0;
      }
      continue;
    }
    if (rc <= 0) return rc;
    if (n == 2 && (fds[1].revents & POLLIN)) return -2;
    if (fds[0].revents & (events | POLLHUP | POLLERR)) return 1;
    return -1;
  }
}

}  // namespace

bool net_startup() {
  return true;  // POSIX sockets need no start-up
}

void net_cleanup() {}

uint32_t socket_resolve(const char* name, uint16_t port, Ipv4Address* out) {
  std::memset(out, 0, sizeof *out);
  out->family = AF_INET;
  out->port_be = htons(port);
  if (std::isalpha(static_cast<unsigned char>(name[0]))) {
    struct addrinfo hints {};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    struct addrinfo* result = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &result) != 0 || result == nullptr) {
      return NAX_ERR_HOST_NOT_FOUND;
    }
    out->address_be = reinterpret_cast<sockaddr_in*>(result->ai_addr)->sin_addr.s_addr;
    freeaddrinfo(result);
    return NAX_OK;
  }
  in_addr_t address = inet_addr(name);
  if (address == INADDR_NONE) return NAX_ERR_BAD_ADDRESS;
  out->address_be = address;
  return NAX_OK;
}

Socket socket_create_tcp() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
  return fd >= 0 ? fd : kNoSocket;
}

bool socket_set_nonblocking(Socket s) {
  const int fd = fd_of(s);
  int flags = fcntl(fd, F_GETFL, 0);
  return flags >= 0 && fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

uint32_t socket_connect(Socket s, const Ipv4Address& peer, uint32_t timeout_ms, int32_t* os_error) {
  const int fd = fd_of(s);
  sockaddr_in address{};
  std::memcpy(&address, &peer, sizeof address);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return NAX_OK;
  }
  *os_error = errno;
  if (errno != EINPROGRESS && errno != EWOULDBLOCK && errno != EINTR) return NAX_ERR_CONNECT;
  int rc = wait_fd(fd, POLLOUT, -1, timeout_ms);
  if (rc < 0) {
    *os_error = errno;
    return NAX_ERR_CONNECT_WAIT;
  }
  if (rc == 0) return NAX_ERR_CONNECT_TIMEOUT;
  int pending = 0;
  socklen_t length = sizeof pending;
  if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &length) != 0) {
    *os_error = errno;
    return NAX_ERR_SOCKET_ERROR_READ;
  }
  *os_error = 0;
  return pending != 0 ? NAX_ERR_CONN_REFUSED : NAX_OK;
}

uint32_t socket_send(Socket s, const uint8_t* bytes, std::size_t count, uint32_t timeout_ms) {
  const int fd = fd_of(s);
  ssize_t sent = ::send(fd, bytes, count, MSG_NOSIGNAL);
  if (sent == static_cast<ssize_t>(count)) return NAX_OK;
  if (sent > 0) return NAX_ERR_TIMEOUT;
  int rc = wait_fd(fd, POLLOUT, -1, timeout_ms);
  if (rc == 0) return NAX_ERR_TIMEOUT;
  if (rc < 0) return NAX_ERR_IO;
  sent = ::send(fd, bytes, count, MSG_NOSIGNAL);
  if (sent == static_cast<ssize_t>(count)) return NAX_OK;
  return sent > 0 ? NAX_ERR_TIMEOUT : NAX_ERR_IO;
}

uint32_t socket_receive(Socket s, const Event* stop, uint32_t timeout_ms, uint8_t* buffer,
                        std::size_t max_count, uint32_t* count) {
  *count = 0;
  const int fd = fd_of(s);
  // Wait first: after a whole frame the next read would only find nothing.
  int rc = wait_fd(fd, POLLIN, stop_fd_of(stop), timeout_ms);
  if (rc == -2) return NAX_ERR_CONN_CLOSED;
  if (rc == 0) return NAX_ERR_TIMEOUT;
  if (rc < 0) return NAX_ERR_IO;
  const ssize_t got = ::recv(fd, buffer, max_count, 0);
  if (got > 0) {
    *count = static_cast<uint32_t>(got);
    return NAX_OK;
  }
  if (got < 0 && (errno == EWOULDBLOCK || errno == EAGAIN || errno == EINTR)) return NAX_ERR_IO;
  return NAX_ERR_CONN_CLOSED;
}

void socket_shutdown(Socket s) {
  if (s != kNoSocket) ::shutdown(fd_of(s), SHUT_RDWR);
}

void socket_close(Socket s) {
  if (s != kNoSocket) ::close(fd_of(s));
}

uint32_t socket_bind_any(Socket s, uint16_t port) {
  const int fd = fd_of(s);
  // Connections of an earlier listener that linger in TIME_WAIT do not keep
  // the port; a live listener still does.
  int on = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) return NAX_OK;
  return errno == EADDRINUSE ? NAX_ERR_PORT_IN_USE : NAX_ERR_BIND;
}

bool socket_listen(Socket s) {
  return ::listen(fd_of(s), SOMAXCONN) == 0;
}

Socket socket_accept(Socket s, const Event* stop, char* peer_text, std::size_t peer_text_size,
                     bool* stopped) {
  const int fd = fd_of(s);
  *stopped = false;
  int rc = wait_fd(fd, POLLIN, stop_fd_of(stop), kWaitForever);
  if (rc == -2 || (stop != nullptr && stop->is_set())) {
    *stopped = true;
    return kNoSocket;
  }
  if (rc <= 0) return kNoSocket;
  sockaddr_in peer{};
  socklen_t length = sizeof peer;
  int accepted = ::accept4(fd, reinterpret_cast<sockaddr*>(&peer), &length, SOCK_CLOEXEC);
  if (accepted < 0) return kNoSocket;
  if (peer_text != nullptr && peer_text_size > 0) {
    if (inet_ntop(AF_INET, &peer.sin_addr, peer_text, static_cast<socklen_t>(peer_text_size)) ==
        nullptr) {
      std::snprintf(peer_text, peer_text_size, "unknow");
    }
  }
  return accepted;
}

uint16_t socket_local_port(Socket s) {
  const int fd = fd_of(s);
  sockaddr_in local{};
  socklen_t length = sizeof local;
  if (getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

}  // namespace nax::platform
