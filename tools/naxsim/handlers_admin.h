// The node's administration state, reachable from tests through Node::with_state<Admin>.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

namespace naxsim {

// Information queries the node knows (any other is refused):
//   "model"        the node's model name, kInfoModel
//   "serial"       "SIM-" and the node number in five digits
//   "version"      the node's firmware version, kInfoVersion
//   "users"        the number of users in its table, in decimal
//   "marks"        the number of marks in its log, in decimal
//   "echo <text>"  the text itself (up to the 511 characters an answer holds)
// Protocol 1 answers the text with its NUL after the result byte; protocol 2
// answers the text alone, without a NUL.
inline constexpr const char* kInfoModel = "NX-SIM";
inline constexpr const char* kInfoVersion = "naxsim 1.0";

// Tables a flush or a record deletion acts on.
inline constexpr uint8_t kTableUsers = 0;
inline constexpr uint8_t kTableMarks = 1;

struct Admin {
  std::vector<std::pair<int32_t, int32_t>> resets;  // device_id, sub_id of every reset
  std::vector<uint8_t> blocks;                      // every block value received
};

}  // namespace naxsim
