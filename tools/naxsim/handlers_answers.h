// The node's display and the host's answers to user events, reachable from tests
// through Node::with_state<Display> and Node::with_state<EventAnswers>.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "vedodiroz.h"

namespace naxsim {

struct DisplayLine {
  uint16_t line = 0;
  uint16_t pos = 0;
  uint8_t cmd_line = 0;
  uint8_t cmd_pos = 0;
  uint16_t font = 0;
  std::string data;
};

// Every batch shown replaces the last; the node answers the number of messages shown.
struct Display {
  int32_t timer = 0;
  std::vector<DisplayLine> lines;
  uint32_t batches = 0;
};

// One answer to a user event as the node received it.  Protocol 1 answers carry
// nothing but the command; only protocol is set then.
struct EventAnswer {
  int protocol = 0;
  nax_date_time date_time{};
  uint32_t user_mask = 0;
  std::vector<uint8_t> user_fields;  // the user record after its mask, as sent
  std::optional<uint32_t> user_id;   // when the mask selects it
  std::optional<uint8_t> user_st;    // when the mask selects it
  uint8_t print_enable = 0;
  std::array<std::optional<std::string>, 10> aux;  // the slots sent, by number
};

struct EventAnswers {
  std::vector<EventAnswer> received;
};

}  // namespace naxsim
