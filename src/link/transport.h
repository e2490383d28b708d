// Link transports: a TCP connection or a serial port, chosen by the link's
// device type (1 = serial port, anything else TCP).  The frame and command
// layers never ask which one they have.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/registry.h"
#include "platform/socket.h"

namespace nax {

// TCP (tcp.cc).
uint32_t tcp_connect(nax_link* link, uint32_t timeout_ms);
// Shuts the connection down (waking the reception thread) and marks the socket
// closed; the socket itself is released with the link record.
uint32_t tcp_close(nax_link* link);

// Serial (serial.cc).
uint32_t serial_open(nax_link* link);
uint32_t serial_close(nax_link* link);

// Opens the link's transport from device_name and device_param: serial open
// for a serial port, TCP connect within timeout_ms otherwise.
uint32_t transport_open(nax_link* link, uint32_t timeout_ms);
// Makes an accepted socket the link's TCP transport (non-blocking).
void transport_adopt_socket(nax_link* link, platform::Socket socket);
// Whether the link's stop event needs an OS object for the transport's waits.
bool transport_needs_waitable_stop(const nax_link* link);
uint32_t transport_send(nax_link* link, const uint8_t* bytes, std::size_t count);
uint32_t transport_receive(nax_link* link, uint32_t timeout_ms, uint8_t* buffer,
                           std::size_t max_count, uint32_t* count);
uint32_t transport_close(nax_link* link);

}  // namespace nax
