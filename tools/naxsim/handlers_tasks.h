// The node's task groups and items, reachable from tests through Node::with_state<Tasks>.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace naxsim {

// An item for a group the node does not hold is refused with this status.
inline constexpr uint16_t kTaskStatusNoGroup = 6;

struct TaskItem {
  uint16_t mask_fields = 0;
  uint8_t type = 0;
  uint8_t id = 0;
  std::string name;
  std::string job_order;
};

struct TaskGroup {
  uint16_t mask_fields = 0;
  std::string name;
  uint8_t items = 0;
  std::vector<TaskItem> item_list;  // in the order received
};

struct Tasks {
  std::map<uint8_t, TaskGroup> groups;  // by group id; adding a group again replaces it
};

}  // namespace naxsim
