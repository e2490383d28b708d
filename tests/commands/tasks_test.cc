// Golden-byte tests of the task group and task item codecs.
#include "commands/tasks.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

// Sends a group; accepted only if the host's name reads `name_after` once sent.
uint32_t group(Packet& r, uint16_t mask, uint8_t id, const std::string& name, uint8_t items,
               const std::string& name_after) {
  nax_task_group g = {mask, id, "", items};
  fill(g.name, name);
  encode_add_task_group_p2(r, g);
  return ok_if(std::string(g.name) == name_after);
}

// Sends an item; accepted only if the host's texts read as given once sent.
uint32_t item(Packet& r, uint8_t group_id, uint16_t mask, const std::string& name,
              const std::string& job_order, const std::string& name_after,
              const std::string& job_order_after) {
  nax_task_item it = {mask, 2, 4, "", ""};
  fill(it.name, name);
  fill(it.job_order, job_order);
  encode_add_task_item_p2(r, group_id, it);
  return ok_if(std::string(it.name, strnlen(it.name, sizeof it.name)) == name_after &&
               std::string(it.job_order, strnlen(it.job_order, sizeof it.job_order)) ==
                   job_order_after);
}

const std::string k16(16, 'g');
const std::string k17(17, 'g');

INSTANTIATE_TEST_SUITE_P(
    Task, CodecRequest,
    testing::Values(
        RequestRow("GroupEmptyNameSixBytes", CALL(group(r, 0x0102, 5, "", 3, "")), 1, 0x8060,
                   {0x02, 0x01, 0x05, 0x01, 0x00, 0x03}),
        RequestRow("GroupName", CALL(group(r, 0x0003, 5, "Cleaning", 4, "Cleaning")), 1, 0x8060,
                   cat({{0x03, 0x00, 0x05}, lp("Cleaning"), {4}})),
        RequestRow("GroupName16Chars", CALL(group(r, 0, 1, k16, 0, k16)), 1, 0x8060,
                   cat({{0, 0, 1}, lp(k16), {0}})),
        RequestRow("GroupName17CharsNoNulCut", CALL(group(r, 0, 1, k17, 0, k16)), 1, 0x8060,
                   cat({{0, 0, 1}, lp(k16), {0}})),
        RequestRow("ItemName17CharsNoNulSentAs16",
                   CALL(item(r, 9, 0x0001, std::string(17, 'n'), "J1", std::string(16, 'n'), "J1")),
                   1, 0x8061, cat({{9, 0x01, 0x00, 2, 4}, lp(std::string(16, 'n')), lp("J1")})),
        RequestRow("ItemMaskZeroSendsEveryField", CALL(item(r, 9, 0, "Mop", "J-17", "Mop", "J-17")),
                   1, 0x8061, cat({{9, 0, 0, 2, 4}, lp("Mop"), lp("J-17")})),
        RequestRow("ItemJobOrder10CharsNoNulCut",
                   CALL(item(r, 1, 0, "A", std::string(10, 'j'), "A", std::string(9, 'j'))), 1,
                   0x8061, cat({{1, 0, 0, 2, 4}, lp("A"), lp(std::string(9, 'j'))})),
        RequestRow("ItemEmptyTextsNineBytes",
                   [](Packet& r) {
                     nax_task_item it{};
                     it.mask_fields = 0xFFFF;
                     encode_add_task_item_p2(r, 1, it);
                   },
                   1, 0x8061, {1, 0xFF, 0xFF, 0, 0, 1, 0, 1, 0})),
    row_name<RequestRow>);

}  // namespace
}  // namespace nax::codec_test
