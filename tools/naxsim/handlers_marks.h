// The node's attendance mark log, reachable from tests through Node::with_state<MarkLog>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "vedodiroz.h"

namespace naxsim {

// Protocol 1 answers result byte 0 and this error byte when there is no (further) mark;
// protocol 2 answers status 8 on the page that reaches the end of the log.
inline constexpr uint8_t kMarkErrorNoRecords = 9;
inline constexpr uint16_t kMarkStatusNoRecords = 8;

struct MarkEntry {
  uint8_t kind = 0;
  uint32_t id = 0;
  nax_date_time time{};         // protocol 1 carries neither second nor weekday
  uint16_t event_word = 0;      // what protocol 1 sends
  uint8_t event = 0;            // what protocol 2 sends
  uint16_t index = 0;           // 0-based; protocol 1 sends index + 1 in one byte
  uint16_t direction_word = 0;  // protocol 2 sends its low byte
  uint32_t value = 0;
  uint8_t flag = 0;
  std::string code;  // up to 10 characters; protocol 2 leaves the field out when empty
};

struct MarkLog {
  std::vector<MarkEntry> marks;  // oldest first
  std::size_t p1_cursor = 0;     // next mark for a protocol-1 "next" request
};

class Node;

// Appends the mark a terminal records when user id presents a credential at time.
void record_mark(Node& node, uint32_t id, const nax_date_time& time);
// Appends count marks of users 1..count, one a minute, the last one a minute ago by the
// node's clock.
void preload_marks(Node& node, std::size_t count);

}  // namespace naxsim
