// Task groups and task items (protocol 2 only).
#pragma once

#include <cstdint>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

inline constexpr uint16_t kCmdAddTaskGroupP2 = 0x8060;
inline constexpr uint16_t kCmdAddTaskItemP2 = 0x8061;

inline constexpr uint16_t kTaskNameFieldSize = 17;
inline constexpr uint16_t kTaskJobOrderFieldSize = 10;

// Texts travel length-prefixed; one that does not end within its field is
// cut in the host's record.  Answers: the status word only.
void encode_add_task_group_p2(Packet& request, nax_task_group& group);
void encode_add_task_item_p2(Packet& request, uint8_t group_id, nax_task_item& item);

}  // namespace nax
