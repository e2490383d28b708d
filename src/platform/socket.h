// TCP sockets for links and the listener: non-blocking, every wait bounded by
// a time-out, outcomes as the library's status numbers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace nax::platform {

// A socket: a descriptor on POSIX, a SOCKET on Windows; -1 when none.
using Socket = std::intptr_t;
inline constexpr Socket kNoSocket = -1;

// An IPv4 socket address as the wire has it: family, port and address in
// network byte order, 8 zero bytes.
struct Ipv4Address {
  uint16_t family;
  uint16_t port_be;
  uint32_t address_be;
  uint8_t zero[8];
};

// Start and stop the socket layer (Winsock 2.2 on Windows; nothing on POSIX).
bool net_startup();
void net_cleanup();

// A name starting with a letter is resolved as a host name (1008 when it
// cannot be); anything else must be a dotted IPv4 address other than
// 255.255.255.255 (1009).
uint32_t socket_resolve(const char* name, uint16_t port, Ipv4Address* out);
// kNoSocket when no socket could be created.
Socket socket_create_tcp();
bool socket_set_nonblocking(Socket s);
// 1, 1011 (failed at once), 1062 (wait failed), 1014 (time-out), 1012 (pending
// error unreadable) or 1013 (refused).  os_error gets the OS error code of a
// failed start, wait or read of the pending error; it is 0 once the pending
// error has been read.
uint32_t socket_connect(Socket s, const Ipv4Address& peer, uint32_t timeout_ms, int32_t* os_error);
// 1 when every byte went out; 1021 on time-out or partial send; 1020 on failure.
uint32_t socket_send(Socket s, const uint8_t* bytes, std::size_t count, uint32_t timeout_ms);
// Delivers at least one byte (1), or 1021 (time-out), 1020 (failure) or 1061
// (closed by the peer, shut down by socket_shutdown, or stop set).  stop may
// be null.  On POSIX a shut-down socket wakes the wait by itself, so stop
// needs no OS object; on Windows the wait includes stop's OS object, so a
// stop that must end it is made waitable (kSocketStopNeedsObject).
#ifdef _WIN32
inline constexpr bool kSocketStopNeedsObject = true;
#else
inline constexpr bool kSocketStopNeedsObject = false;
#endif
uint32_t socket_receive(Socket s, const Event* stop, uint32_t timeout_ms, uint8_t* buffer,
                        std::size_t max_count, uint32_t* count);
// Ends both directions, waking a thread that waits on s; s stays valid until
// socket_close.
void socket_shutdown(Socket s);
void socket_close(Socket s);

// Listener helpers.  socket_bind_any allows rebinding a port that only
// closed connections still hold, but not one a live listener holds; it
// returns 1, 1060 when the port is in use, or 1042 for other failures.
uint32_t socket_bind_any(Socket s, uint16_t port);
bool socket_listen(Socket s);
// Waits for a connection until stop is set; returns the accepted socket, or
// kNoSocket with *stopped telling whether stop ended the wait.  peer_text
// receives the dotted address of the node.
Socket socket_accept(Socket s, const Event* stop, char* peer_text, std::size_t peer_text_size,
                     bool* stopped);
uint16_t socket_local_port(Socket s);

}  // namespace nax::platform
