// The node's aux inputs and relays, reachable from tests through Node::with_state<AuxPorts>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <vector>

namespace naxsim {

// Inputs and relays 0..count-1 exist; others are refused with kStatusBadRequest
// (protocol 2) or result byte 0 (protocol 1, whose hosts take the result byte as status).
struct AuxPorts {
  static constexpr uint16_t kInputCount = 16;
  static constexpr uint8_t kRelayCount = 8;
  static constexpr std::size_t kConfigSize = 24;                // the configuration as it travels
  std::map<uint16_t, std::array<uint8_t, kConfigSize>> inputs;  // never set: all zero
  uint32_t input_state = 0;                                     // one bit an input
  std::map<uint8_t, uint8_t> relays;                            // relay -> last time_mode
  std::vector<uint8_t> event_answers;  // answer codes the host sent to aux input events
};

}  // namespace naxsim
