// Task groups and task items: codecs and the exported commands.
#include "commands/tasks.h"

#include "commands/command.h"
#include "commands/fields.h"
#include "core/log.h"
#include "proto/bytes.h"

namespace nax {
namespace {}  // namespace

void encode_add_task_group_p2(Packet& request, nax_task_group& group) {
  begin_request(request, kCmdAddTaskGroupP2);
  uint8_t* cursor = request.data;
  put_u16(cursor, group.mask_fields);
  put_u8(cursor, group.id);
  put_text(cursor, group.name, kTaskNameFieldSize, kTextLengthPrefixed);
  put_u8(cursor, group.items);
  end_request(request, cursor);
}

void encode_add_task_item_p2(Packet& request, uint8_t group_id, nax_task_item& item) {
  begin_request(request, kCmdAddTaskItemP2);
  uint8_t* cursor = request.data;
  put_u8(cursor, group_id);
  put_u16(cursor, item.mask_fields);
  put_u8(cursor, item.type);
  put_u8(cursor, item.id);
  put_text(cursor, item.name, kTaskNameFieldSize, kTextLengthPrefixed);
  put_text(cursor, item.job_order, kTaskJobOrderFieldSize, kTextLengthPrefixed);
  end_request(request, cursor);
}

namespace {

// Both task commands refuse a protocol-1 link with 1037, not 1038.
uint32_t add_group_held(const LinkHold& hold, int32_t link_id, uint16_t node,
                        nax_task_group* group) {
  if (group == nullptr || hold.p1()) return NAX_ERR_INVALID_ARG;
  Packet request;
  // Encoded before the detail line: the name is then cut to its field, so
  // the line never reads past the record.
  encode_add_task_group_p2(request, *group);
  log_printf(1, kCmd,
             "add task group - mask_fields = %x, id = %lu, name = %s, items = %d for link id = %d",
             group->mask_fields, static_cast<unsigned long>(group->id), group->name, group->items,
             link_id);
  Packet answer;
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  return ret != NAX_OK ? ret : answer.status;
}

uint32_t add_item_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint8_t group_id,
                       nax_task_item* item) {
  if (item == nullptr || hold.p1()) return NAX_ERR_INVALID_ARG;
  Packet request;
  encode_add_task_item_p2(request, group_id, *item);
  log_printf(1, kCmd,
             "add task item - mask_fields = %x, type = %d, id = %lu, name = %s, job_order = %s, "
             "group_id = %d, for link id = %d",
             item->mask_fields, item->type, static_cast<unsigned long>(item->id), item->name,
             item->job_order, group_id, link_id);
  Packet answer;
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  return ret != NAX_OK ? ret : answer.status;
}

}  // namespace
}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_add_task_group(int32_t link_id, uint16_t node, nax_task_group* group) {
  return nax::run_command("add task group", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::add_group_held(hold, link_id, node, group);
  });
}

uint32_t NAX_CALL nax_add_task_item(int32_t link_id, uint16_t node, uint32_t group_id,
                                    nax_task_item* item) {
  return nax::run_command("add task item", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::add_item_held(hold, link_id, node, static_cast<uint8_t>(group_id & 0xFF), item);
  });
}

}  // extern "C"
