// Link transports: a TCP connection or a serial port, chosen by the link's
// device type.  The frame and command layers never ask which one they have.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/registry.h"

namespace nax {

// TCP (tcp.cc).
uint32_t tcp_connect(nax_link* link, uint32_t timeout_ms);
// Shuts the connection down (waking the reception thread) and marks the socket
// closed; the descriptor itself is released with the link record.
uint32_t tcp_close(nax_link* link);

// Serial (serial.cc).
uint32_t serial_open(nax_link* link);
uint32_t serial_close(nax_link* link);

// Dispatch on device_type: 1 = serial, anything else TCP.
uint32_t transport_send(nax_link* link, const uint8_t* bytes, std::size_t count);
uint32_t transport_receive(nax_link* link, uint32_t timeout_ms, uint8_t* buffer,
                           std::size_t max_count, uint32_t* count);
uint32_t transport_close(nax_link* link);

}  // namespace nax
