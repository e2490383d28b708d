// Winsock 2.2 implementation of the link and listener sockets.  Every socket
// is non-blocking; a wait that a close must end blocks on the socket's network
// events and the stop event's object together, any other goes through select.
#include "platform/socket.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cctype>
#include <cstdio>
#include <cstring>

#include "vedodiroz.h"

static_assert(sizeof(nax::platform::Ipv4Address) == sizeof(sockaddr_in));

namespace nax::platform {
namespace {

SOCKET sock_of(Socket s) {
  return static_cast<SOCKET>(s);
}

enum class Ready { yes, timeout, failed, stopped };

// One select on s for reading or writing (errors count as ready, so that the
// next call reports them), at most timeout_ms long.
Ready select_once(SOCKET s, bool for_write, uint32_t timeout_ms) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(s, &set);
  fd_set errors;
  FD_ZERO(&errors);
  FD_SET(s, &errors);
  timeval tv;
  tv.tv_sec = static_cast<long>(timeout_ms / 1000);
  tv.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
  int rc = ::select(0, for_write ? nullptr : &set, for_write ? &set : nullptr, &errors,
                    timeout_ms == kWaitForever ? nullptr : &tv);
  if (rc == SOCKET_ERROR) return Ready::failed;
  return rc == 0 ? Ready::timeout : Ready::yes;
}

// Waits up to timeout_ms (kWaitForever: no limit) for s to become readable (or
// for a connection to accept) or for stop's OS object to be set, in one blocking
// wait.  Winsock records a condition that already holds when the selection is
// made, so data that came before the call is not missed.
Ready wait_readable(SOCKET s, const Event* stop, uint32_t timeout_ms) {
  const HANDLE stop_handle = stop != nullptr && stop->native() != kNoWaitable
                                 ? reinterpret_cast<HANDLE>(stop->native())
                                 : nullptr;
  if (stop_handle == nullptr) return select_once(s, false, timeout_ms);
  WSAEVENT ready = WSACreateEvent();
  if (ready == WSA_INVALID_EVENT) return Ready::failed;
  Ready r = Ready::failed;
  if (WSAEventSelect(s, ready, FD_READ | FD_ACCEPT | FD_CLOSE) == 0) {
    const HANDLE handles[2] = {ready, stop_handle};
    switch (WaitForMultipleObjects(2, handles, FALSE,
                                   timeout_ms == kWaitForever ? INFINITE : timeout_ms)) {
      case WAIT_OBJECT_0:
        r = Ready::yes;
        break;
      case WAIT_OBJECT_0 + 1:
        r = Ready::stopped;
        break;
      case WAIT_TIMEOUT:
        r = Ready::timeout;
        break;
      default:
        break;
    }
    WSAEventSelect(s, nullptr, 0);  // the socket stays non-blocking
  }
  WSACloseEvent(ready);
  return r;
}

}  // namespace

bool net_startup() {
  WSADATA data;
  return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

void net_cleanup() {
  WSACleanup();
}

uint32_t socket_resolve(const char* name, uint16_t port, Ipv4Address* out) {
  std::memset(out, 0, sizeof *out);
  out->family = AF_INET;
  out->port_be = htons(port);
  if (std::isalpha(static_cast<unsigned char>(name[0]))) {
    hostent* host = gethostbyname(name);
    if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) {
      return NAX_ERR_HOST_NOT_FOUND;
    }
    std::memcpy(&out->address_be, host->h_addr_list[0], sizeof out->address_be);
    return NAX_OK;
  }
  unsigned long address = inet_addr(name);
  if (address == INADDR_NONE) return NAX_ERR_BAD_ADDRESS;
  out->address_be = static_cast<uint32_t>(address);
  return NAX_OK;
}

Socket socket_create_tcp() {
  SOCKET s = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  if (s == INVALID_SOCKET) return kNoSocket;
  // Kept out of processes the host starts.
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  return static_cast<Socket>(s);
}

bool socket_set_nonblocking(Socket s) {
  u_long on = 1;
  return ioctlsocket(sock_of(s), FIONBIO, &on) == 0;
}

uint32_t socket_connect(Socket s, const Ipv4Address& peer, uint32_t timeout_ms, int32_t* os_error) {
  sockaddr_in address{};
  std::memcpy(&address, &peer, sizeof address);
  if (::connect(sock_of(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
    return NAX_OK;
  }
  const int error = WSAGetLastError();
  *os_error = error;
  if (error != WSAEWOULDBLOCK && error != WSAEINPROGRESS) return NAX_ERR_CONNECT;
  // A refused connection shows in the error set, not as writable.
  fd_set writable;
  FD_ZERO(&writable);
  FD_SET(sock_of(s), &writable);
  fd_set failed;
  FD_ZERO(&failed);
  FD_SET(sock_of(s), &failed);
  timeval tv;
  tv.tv_sec = static_cast<long>(timeout_ms / 1000);
  tv.tv_usec = static_cast<long>((timeout_ms % 1000) * 1000);
  int rc = ::select(0, nullptr, &writable, &failed, &tv);
  if (rc == SOCKET_ERROR) {
    *os_error = WSAGetLastError();
    return NAX_ERR_CONNECT_WAIT;
  }
  if (rc == 0) return NAX_ERR_CONNECT_TIMEOUT;
  int pending = 0;
  int length = sizeof pending;
  if (getsockopt(sock_of(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&pending), &length) !=
      0) {
    *os_error = WSAGetLastError();
    return NAX_ERR_SOCKET_ERROR_READ;
  }
  *os_error = 0;
  if (pending == 0 && FD_ISSET(sock_of(s), &failed)) return NAX_ERR_CONN_REFUSED;
  return pending != 0 ? NAX_ERR_CONN_REFUSED : NAX_OK;
}

uint32_t socket_send(Socket s, const uint8_t* bytes, std::size_t count, uint32_t timeout_ms) {
  const int length = static_cast<int>(count);
  int sent = ::send(sock_of(s), reinterpret_cast<const char*>(bytes), length, 0);
  if (sent == length) return NAX_OK;
  if (sent > 0) return NAX_ERR_TIMEOUT;
  Ready r = select_once(sock_of(s), true, timeout_ms);
  if (r == Ready::timeout) return NAX_ERR_TIMEOUT;
  if (r != Ready::yes) return NAX_ERR_IO;
  sent = ::send(sock_of(s), reinterpret_cast<const char*>(bytes), length, 0);
  if (sent == length) return NAX_OK;
  return sent > 0 ? NAX_ERR_TIMEOUT : NAX_ERR_IO;
}

uint32_t socket_receive(Socket s, const Event* stop, uint32_t timeout_ms, uint8_t* buffer,
                        std::size_t max_count, uint32_t* count) {
  *count = 0;
  const int size = static_cast<int>(max_count);
  // Wait first: after a whole frame the next read would only find nothing.
  Ready r = wait_readable(sock_of(s), stop, timeout_ms);
  if (r == Ready::stopped) return NAX_ERR_CONN_CLOSED;
  if (r == Ready::timeout) return NAX_ERR_TIMEOUT;
  if (r != Ready::yes) return NAX_ERR_IO;
  const int got = ::recv(sock_of(s), reinterpret_cast<char*>(buffer), size, 0);
  if (got > 0) {
    *count = static_cast<uint32_t>(got);
    return NAX_OK;
  }
  if (got < 0) {
    const int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK || error == WSAEINPROGRESS) return NAX_ERR_IO;
  }
  return NAX_ERR_CONN_CLOSED;
}

void socket_shutdown(Socket s) {
  if (s != kNoSocket) ::shutdown(sock_of(s), SD_BOTH);
}

void socket_close(Socket s) {
  if (s != kNoSocket) ::closesocket(sock_of(s));
}

uint32_t socket_bind_any(Socket s, uint16_t port) {
  // Only this socket may hold the port while it is bound; connections of an
  // earlier listener that linger do not keep it from binding.
  BOOL on = TRUE;
  (void)setsockopt(sock_of(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on),
                   sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  if (::bind(sock_of(s), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) return NAX_OK;
  const int error = WSAGetLastError();
  // Only "address in use" is worth waiting for; WSAEACCES (a port another socket holds
  // exclusively, or one the system reserves) is a bind error like any other.
  return error == WSAEADDRINUSE ? NAX_ERR_PORT_IN_USE : NAX_ERR_BIND;
}

bool socket_listen(Socket s) {
  return ::listen(sock_of(s), SOMAXCONN) == 0;
}

Socket socket_accept(Socket s, const Event* stop, char* peer_text, std::size_t peer_text_size,
                     bool* stopped) {
  *stopped = false;
  Ready r = wait_readable(sock_of(s), stop, kWaitForever);
  if (r == Ready::stopped || (stop != nullptr && stop->is_set())) {
    *stopped = true;
    return kNoSocket;
  }
  if (r != Ready::yes) return kNoSocket;
  sockaddr_in peer{};
  int length = sizeof peer;
  SOCKET accepted = ::accept(sock_of(s), reinterpret_cast<sockaddr*>(&peer), &length);
  if (accepted == INVALID_SOCKET) return kNoSocket;
  SetHandleInformation(reinterpret_cast<HANDLE>(accepted), HANDLE_FLAG_INHERIT, 0);
  if (peer_text != nullptr && peer_text_size > 0) {
    // The address alone, without the port.
    peer.sin_port = 0;
    DWORD text_size = static_cast<DWORD>(peer_text_size);
    if (WSAAddressToStringA(reinterpret_cast<sockaddr*>(&peer), sizeof peer, nullptr, peer_text,
                            &text_size) != 0) {
      std::snprintf(peer_text, peer_text_size, "unknow");
    }
  }
  return static_cast<Socket>(accepted);
}

uint16_t socket_local_port(Socket s) {
  sockaddr_in local{};
  int length = sizeof local;
  if (getsockname(sock_of(s), reinterpret_cast<sockaddr*>(&local), &length) != 0) return 0;
  return ntohs(local.sin_port);
}

}  // namespace nax::platform
