// The protocol-independent packet record of every request, answer and event.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nax {

inline constexpr std::size_t kPacketDataSize = 1024;

struct Packet {
  uint16_t sou_node;  // received: node that sent the frame
  uint16_t des_node;  // received: node the frame is addressed to
  uint16_t cmd;
  uint8_t data[kPacketDataSize];
  uint16_t size;    // meaningful bytes in data
  uint16_t status;  // protocol 2 status word; 1061/1063 when a link failure is handed over
};

}  // namespace nax
