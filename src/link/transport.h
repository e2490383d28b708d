// Link transports: a small table of operations per kind, one file per kind
// (tcp.cc, serial.cc).  The frame and command layers never ask which one a link has.
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "link/registry.h"
#include "platform/socket.h"

namespace nax {

struct TransportOps {
  // The link's stop event needs an OS object that this transport's waits can include.
  bool waitable_stop;
  // From device_name and device_param; a TCP connect gives up after timeout_ms.
  uint32_t (*open)(Link* link, uint32_t timeout_ms);
  // Ends a receive that waits (the stop event is set before); the descriptor itself
  // stays open for that thread and is closed when the record is freed.
  uint32_t (*close)(Link* link);
  // Within the link's snd_timeout.
  uint32_t (*send)(Link* link, const uint8_t* bytes, std::size_t count);
  // At least one byte, within timeout_ms; 1061 when the line is gone or stop is set.
  uint32_t (*receive)(Link* link, uint32_t timeout_ms, uint8_t* buffer, std::size_t max_count,
                      uint32_t* count);
};

extern const TransportOps kSerialTransport;
extern const TransportOps kTcpTransport;

// Indexed by device type.  Type 0 is a link whose open failed before its kind was known:
// it closes like a serial port that was never opened, which does nothing and succeeds.
inline constexpr const TransportOps* kTransports[] = {&kSerialTransport, &kSerialTransport,
                                                      &kTcpTransport};

inline const TransportOps& transport_of(const Link* link) {
  return link->device_type < std::size(kTransports) ? *kTransports[link->device_type]
                                                    : kTcpTransport;
}

// Makes an accepted socket the link's TCP transport (non-blocking).
void transport_adopt_socket(Link* link, platform::Socket socket);

}  // namespace nax
