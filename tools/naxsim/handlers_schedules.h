// The node's schedules, reachable from tests through Node::with_state<Schedules>.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace naxsim {

// An unknown schedule is refused with this code: the result byte in protocol 1,
// the status word in protocol 2.
inline constexpr uint8_t kSchdNotFound = 4;
// Status of the list page that reaches the end of the table (1: more follow).
inline constexpr uint8_t kSchdListLastPage = 31;

struct Schedule {
  std::string name;  // up to 21 bytes as received, without trailing zeros
  uint32_t hours = 0;
  uint32_t segment_count = 0;                    // the header's segments field, passed through
  std::array<uint8_t, 7> date_time{};            // as received
  std::vector<std::array<uint8_t, 3>> segments;  // hours, minutes, enabled
};

struct Schedules {
  static constexpr std::size_t kMaxSegments = 1024;
  std::map<uint16_t, Schedule> table;
};

}  // namespace naxsim
