// The node's biometric templates, reachable from tests through Node::with_state<Templates>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <tuple>
#include <vector>

namespace naxsim {

// A template that is not there: protocol 2 status, protocol 1 error byte.
inline constexpr uint16_t kTemplateStatusNotFound = 10;
inline constexpr uint8_t kTemplateErrorNotFound = 3;
// Protocol 1 names no sensor; its reads look on this one.
inline constexpr uint16_t kTemplateP1Sensor = 0;

struct Templates {
  static constexpr std::size_t kSize = 384;             // every template read is this long
  using Key = std::tuple<uint16_t, uint32_t, uint8_t>;  // sensor, access id, template id
  std::map<Key, std::vector<uint8_t>> store;            // as written, 0 to kSize bytes
};

}  // namespace naxsim
