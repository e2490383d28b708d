// Task groups and task items (protocol 2): the node keeps every field it is sent.
#include "handlers_tasks.h"

#include "handlers_io.h"
#include "naxsim.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdAddGroupP2 = 0x8060;
constexpr uint16_t kCmdAddItemP2 = 0x8061;

bool add_group(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  TaskGroup group;
  group.mask_fields = in.u16();
  const uint8_t id = in.u8();
  group.name = in.length_prefixed();
  group.items = in.u8();
  if (!in.ok()) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
    return true;
  }
  node.with_state<Tasks>([&](Tasks& tasks) {
    tasks.groups[id] = std::move(group);
    return 0;
  });
  return true;
}

bool add_item(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint8_t group_id = in.u8();
  TaskItem item;
  item.mask_fields = in.u16();
  item.type = in.u8();
  item.id = in.u8();
  item.name = in.length_prefixed();
  item.job_order = in.length_prefixed();
  if (!in.ok()) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
    return true;
  }
  const bool added = node.with_state<Tasks>([&](Tasks& tasks) {
    auto found = tasks.groups.find(group_id);
    if (found == tasks.groups.end()) return false;
    found->second.item_list.push_back(std::move(item));
    return true;
  });
  if (!added) answer.status = kTaskStatusNoGroup;
  return true;
}

const HandlerRegistration kAddGroupP2(2, kCmdAddGroupP2, add_group);
const HandlerRegistration kAddItemP2(2, kCmdAddItemP2, add_item);

}  // namespace
}  // namespace naxsim
