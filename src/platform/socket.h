// TCP sockets for links and the listener: non-blocking, every wait bounded by
// poll, outcomes as the library's status numbers.
#pragma once

#include <netinet/in.h>

#include <cstddef>
#include <cstdint>

namespace nax::platform {

// A name starting with a letter is resolved as a host name (1008 when it
// cannot be); anything else must be a dotted IPv4 address other than
// 255.255.255.255 (1009).
uint32_t socket_resolve(const char* name, uint16_t port, sockaddr_in* out);
// -1 when no socket could be created.
int socket_create_tcp();
bool socket_set_nonblocking(int fd);
// 1, 1011 (failed at once), 1062 (wait failed), 1014 (time-out), 1012 (pending
// error unreadable) or 1013 (refused); os_error gets the OS error code.
uint32_t socket_connect(int fd, const sockaddr_in& peer, uint32_t timeout_ms, int32_t* os_error);
// 1 when every byte went out; 1021 on time-out or partial send; 1020 on failure.
uint32_t socket_send(int fd, const uint8_t* bytes, std::size_t count, uint32_t timeout_ms);
// Delivers at least one byte (1), or 1021 (time-out), 1020 (failure) or 1061
// (closed by the peer, or stop_fd became readable).  stop_fd may be -1.
uint32_t socket_receive(int fd, int stop_fd, uint32_t timeout_ms, uint8_t* buffer,
                        std::size_t max_count, uint32_t* count);
// Wakes any thread polling fd; the descriptor stays valid until socket_close.
void socket_shutdown(int fd);
void socket_close(int fd);

// Listener helpers.  socket_bind returns 1, 1060 when the port is in use, or
// 1042 for other failures.
uint32_t socket_bind_any(int fd, uint16_t port);
bool socket_listen(int fd);
// Waits for a connection or stop_fd; returns the accepted descriptor, -1 on
// failure, -2 when stop_fd fired.  peer_text receives the dotted address.
int socket_accept(int fd, int stop_fd, char* peer_text, std::size_t peer_text_size);
uint16_t socket_local_port(int fd);

}  // namespace nax::platform
