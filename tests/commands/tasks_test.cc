// Golden-byte tests of the task group and task item codecs.
#include "commands/tasks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

// Copies up to the field's size; a text as long as the field leaves no NUL in it.
template <std::size_t N>
void fill(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

Bytes lp(const std::string& text) {
  Bytes out{static_cast<uint8_t>(text.size() + 1)};
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
  return out;
}

struct GroupCase {
  std::string name;
  uint16_t mask;
  uint8_t id;
  std::string group_name;
  uint8_t items;
  Bytes data;
  std::string name_after;  // the host's name once sent
};

class TaskGroupRequest : public testing::TestWithParam<GroupCase> {};

TEST_P(TaskGroupRequest, EncodesGoldenBytes) {
  const GroupCase& c = GetParam();
  nax_task_group group{};
  group.mask_fields = c.mask;
  group.id = c.id;
  fill(group.name, c.group_name);
  group.items = c.items;
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  encode_add_task_group_p2(request, group);
  EXPECT_EQ(request.cmd, 0x8060);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
  EXPECT_EQ(std::string(group.name), c.name_after);
  EXPECT_EQ(group.items, c.items);
}

INSTANTIATE_TEST_SUITE_P(
    Task, TaskGroupRequest,
    testing::Values(GroupCase{"EmptyNameSixBytes", 0x0102, 5, "", 3,
                              Bytes{0x02, 0x01, 0x05, 0x01, 0x00, 0x03}, ""},
                    GroupCase{"Name", 0x0003, 5, "Cleaning", 4,
                              cat({{0x03, 0x00, 0x05}, lp("Cleaning"), {4}}), "Cleaning"},
                    GroupCase{"Name16Chars", 0, 1, std::string(16, 'g'), 0,
                              cat({{0, 0, 1}, lp(std::string(16, 'g')), {0}}),
                              std::string(16, 'g')},
                    GroupCase{"Name17CharsNoNulCut", 0, 1, std::string(17, 'g'), 0,
                              cat({{0, 0, 1}, lp(std::string(16, 'g')), {0}}),
                              std::string(16, 'g')}),
    case_name<GroupCase>);

struct ItemCase {
  std::string name;
  uint8_t group_id;
  uint16_t mask;
  uint8_t type;
  uint8_t id;
  std::string item_name;
  std::string job_order;
  Bytes data;
  std::string name_after;
  std::string job_order_after;
};

class TaskItemRequest : public testing::TestWithParam<ItemCase> {};

TEST_P(TaskItemRequest, EncodesGoldenBytes) {
  const ItemCase& c = GetParam();
  nax_task_item item{};
  item.mask_fields = c.mask;
  item.type = c.type;
  item.id = c.id;
  fill(item.name, c.item_name);
  fill(item.job_order, c.job_order);
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  encode_add_task_item_p2(request, c.group_id, item);
  EXPECT_EQ(request.cmd, 0x8061);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
  EXPECT_EQ(std::string(item.name, strnlen(item.name, sizeof item.name)), c.name_after);
  EXPECT_EQ(std::string(item.job_order, strnlen(item.job_order, sizeof item.job_order)),
            c.job_order_after);
}

INSTANTIATE_TEST_SUITE_P(
    Task, TaskItemRequest,
    testing::Values(ItemCase{"Name17CharsNoNulSentAs17", 9, 0x0001, 2, 4, std::string(17, 'n'),
                             "J1", cat({{9, 0x01, 0x00, 2, 4}, lp(std::string(16, 'n')), lp("J1")}),
                             std::string(16, 'n'), "J1"},
                    ItemCase{"MaskZeroSendsEveryField", 9, 0, 2, 4, "Mop", "J-17",
                             cat({{9, 0, 0, 2, 4}, lp("Mop"), lp("J-17")}), "Mop", "J-17"},
                    ItemCase{"EmptyTextsNineBytes", 1, 0xFFFF, 0, 0, "", "",
                             Bytes{1, 0xFF, 0xFF, 0, 0, 1, 0, 1, 0}, "", ""},
                    ItemCase{"JobOrder10CharsNoNulCut", 1, 0, 0, 0, "A", std::string(10, 'j'),
                             cat({{1, 0, 0, 0, 0}, lp("A"), lp(std::string(9, 'j'))}), "A",
                             std::string(9, 'j')}),
    case_name<ItemCase>);

}  // namespace
}  // namespace nax
