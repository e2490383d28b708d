// Every command family on every platform, in both protocols where the family
// exists in both and refused without a transaction where it does not, over TCP
// and a serial line.  What a family writes is read back from the node, so a
// codec that garbles a field on the wire shows up here.
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::kHostNode;
using e2e::kSimNode;

class FamiliesE2E : public e2e::RouteFixture {
 protected:
  void SetUp() override {
    RouteFixture::SetUp();
    link_ = open_route(2000);
    ASSERT_NE(link_, 0);
  }
  uint32_t only_p2() const { return p1() ? uint32_t{NAX_ERR_WRONG_PROTOCOL} : uint32_t{NAX_OK}; }
  // Keeps the records of one route apart from another's on a node they share.
  uint32_t id(uint32_t n) const {
    return 10000u * (1u + (GetParam().serial ? 2u : 0u) + GetParam().protocol) + n;
  }

  int32_t link_ = 0;
};

TEST_P(FamiliesE2E, LinkSettingsTakeEffectOnTheLink) {
  EXPECT_EQ(nax_set_source_node(link_, kHostNode), NAX_OK);
  EXPECT_EQ(nax_set_packet_protocol(link_, GetParam().protocol), NAX_OK);
  EXPECT_EQ(nax_get_packet_protocol(link_), GetParam().protocol);
  EXPECT_EQ(nax_set_packet_protocol(link_, 3), NAX_ERR_BAD_PROTOCOL);
  EXPECT_EQ(nax_set_callback_args(link_, nullptr), NAX_OK);
  EXPECT_EQ(nax_set_user_callback(link_, nullptr), NAX_OK);
  EXPECT_EQ(nax_set_aux_input_callback(link_, nullptr), NAX_OK);
  EXPECT_EQ(nax_set_conn_callback(link_, nullptr), NAX_OK);
  EXPECT_EQ(nax_set_snd_timeout(link_, 1000), NAX_OK);
  EXPECT_EQ(nax_set_interbyte_timeout(link_, 500), NAX_OK);
  // Answers go to the source node: another one makes the node's answers foreign.
  ASSERT_EQ(nax_set_source_node(link_, 0x0222), NAX_OK);
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_OK);
  ASSERT_EQ(nax_set_rcv_timeout(link_, 300), NAX_OK);
  ASSERT_EQ(node_.control("faults answer-to=0x0100"), "ok");
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_ERR_NO_ANSWER);
}

TEST_P(FamiliesE2E, NumericParametersAreReadBackAsWritten) {
  struct Case {
    const char* name;
    uint32_t width;
    uint16_t index;
    int32_t written;
    uint32_t read;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"one byte", 1, 7, 5, 5},
      {"two bytes", 2, 300, 0x2A05, 0x2A05},
      {"one byte keeps the low byte", 1, 8, 0x1234, 0x34},
      {"two bytes keep the low word", 2, 9, -2, 0xFFFE},
      {"only the low byte of the width counts", 0x102, 10, 0x0304, 0x0304},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(nax_set_num_cfg(link_, kSimNode, c.width, c.index, c.written), NAX_OK);
    uint32_t value = 0xDEADBEEF;
    ASSERT_EQ(nax_get_num_cfg(link_, kSimNode, c.width, c.index, &value), NAX_OK);
    EXPECT_EQ(value, c.read);
  }
  uint32_t value = 0;
  ASSERT_EQ(nax_get_num_cfg(link_, kSimNode, 2, 0, &value), NAX_OK);
  EXPECT_EQ(value, kSimNode) << "parameter 0 is the node number";
  // Four-byte values are written but not read back; the node is asked all the same.
  ASSERT_EQ(nax_set_num_cfg(link_, kSimNode, 4, 12, 0x01020304), NAX_OK);
  value = 0xDEADBEEF;
  EXPECT_EQ(nax_get_num_cfg(link_, kSimNode, 4, 12, &value), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(value, 0u);
  // No 3-byte parameters: protocol 1 returns its result byte, protocol 2 the status word.
  EXPECT_EQ(nax_set_num_cfg(link_, kSimNode, 3, 1, 1), p1() ? 0u : 3u);
}

TEST_P(FamiliesE2E, AuxInputsAndRelayRoundTrip) {
  nax_aux_input in{1, 0, 5, 6, 1, 1, 7, 8, 0x0102, {1, 2, 3, 4, 5, 6, 7, 8}};
  ASSERT_EQ(nax_set_aux_input(link_, kSimNode, 2, &in), NAX_OK);
  nax_aux_input back{};
  ASSERT_EQ(nax_get_aux_input(link_, kSimNode, 2, &back), NAX_OK);
  EXPECT_EQ(back.time_off, in.time_off);
  EXPECT_EQ(back.ev_rele_condition, in.ev_rele_condition);
  EXPECT_EQ(back.schedule_id, in.schedule_id);
  EXPECT_EQ(std::memcmp(back.extra, in.extra, sizeof in.extra), 0);
  uint32_t state = 0;
  EXPECT_EQ(nax_state_aux_input(link_, kSimNode, &state), only_p2());
  EXPECT_EQ(nax_rele_control(link_, kSimNode, 1, 3), NAX_OK);
  EXPECT_EQ(nax_answer_aux_input_event(link_, kSimNode, 1), only_p2());
}

TEST_P(FamiliesE2E, UsersAreAddedListedAndDeleted) {
  nax_user users[2]{};
  for (uint32_t i = 0; i < 2; ++i) {
    users[i].mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_SEC_LEVEL | NAX_USER_SCHEDULE_ID;
    users[i].id = id(i);
    users[i].psw = 4321;
    users[i].sec_level = 3;
    users[i].schedule_id = 9;
  }
  const uint16_t count = p1() ? 1 : 2;  // protocol 1 carries one user per request
  uint16_t taken = 0;
  ASSERT_EQ(nax_add_user(link_, kSimNode, 0, count, users, &taken), NAX_OK);
  EXPECT_EQ(taken, count);
  // Protocol 1 hands out one user a page; protocol 2 as many as asked.
  bool found = false;
  uint16_t index = 0;
  for (int page = 0; page < 64 && !found; ++page) {
    nax_user listed[16]{};
    uint16_t stored = 0;
    const uint32_t status = nax_list_users(link_, kSimNode, index, 16, listed, &stored);
    ASSERT_TRUE(status == NAX_OK || status == 8u) << status;
    ASSERT_LE(stored, 16);  // never more than asked for
    for (uint16_t i = 0; i < stored; ++i) {
      if (listed[i].id == id(0)) {
        found = true;
        EXPECT_EQ(listed[i].psw, 4321u);
        EXPECT_EQ(listed[i].sec_level, 3);
      }
    }
    if (status == 8u || stored == 0) break;
    index = static_cast<uint16_t>(index + stored);
  }
  EXPECT_TRUE(found) << "user " << id(0) << " not listed";
  EXPECT_EQ(nax_edit_user(link_, kSimNode, 0, 1, users, &taken), only_p2());
  nax_user extra_user = users[1];
  const uint8_t extra[3] = {1, 2, 3};
  EXPECT_EQ(nax_add_user_in1(link_, kSimNode, &extra_user, 0, extra, 3),
            p1() ? uint32_t{NAX_OK} : uint32_t{NAX_ERR_INVALID_ARG});
  EXPECT_EQ(nax_del_user(link_, kSimNode, 0, 1, users, &taken), NAX_OK);
  EXPECT_EQ(nax_add_user(link_, kSimNode, 0, 0, users, &taken), NAX_ERR_INVALID_ARG);
}

TEST_P(FamiliesE2E, MarksStoredOnTheNodeAreListed) {
  ASSERT_EQ(node_.control("mark " + std::to_string(id(77))), "ok");
  bool found = false;
  uint16_t index = 0;
  for (int page = 0; page < 256 && !found; ++page) {
    nax_mark page_marks[16]{};
    uint16_t stored = 0;
    const uint32_t status = nax_list_marks(link_, kSimNode, index, 16, page_marks, &stored);
    ASSERT_TRUE(status == NAX_OK || status == 8u) << status;
    ASSERT_LE(stored, 16);
    for (uint16_t i = 0; i < stored; ++i) found = found || page_marks[i].id == id(77);
    if (status == 8u || stored == 0) break;
    index = static_cast<uint16_t>(index + stored);
  }
  EXPECT_TRUE(found);
  nax_mark marks[1]{};
  uint16_t stored = 0;
  EXPECT_EQ(nax_list_marks(link_, kSimNode, 0, 0, marks, &stored), NAX_ERR_INVALID_ARG);
}

// The node's verdict on a refused request, in the number each protocol gives it.
TEST_P(FamiliesE2E, RefusalsPassTheNodesVerdict) {
  struct Case {
    const char* what;
    uint32_t p1;
    uint32_t p2;
    std::function<uint32_t(int32_t)> call;
  };
  nax_mark marks[2]{};
  nax_user users[2]{};
  uint16_t stored = 0xFFFF;
  // clang-format off
  const std::vector<Case> cases = {
      {"marks", 18, 17, [&](int32_t l) { return nax_list_marks(l, kSimNode, 0, 2, marks, &stored); }},
      {"users", 4, 17, [&](int32_t l) { return nax_list_users(l, kSimNode, 0, 2, users, &stored); }},
  };
  // clang-format on
  ASSERT_EQ(node_.control("faults refuse-status=17 refuse-error=4"), "ok");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stored = 0xFFFF;
    EXPECT_EQ(c.call(link_), p1() ? c.p1 : c.p2);
    EXPECT_EQ(stored, 0);
  }
  ASSERT_EQ(node_.control("faults"), "ok");
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_OK);
}

TEST_P(FamiliesE2E, AdministrationCommands) {
  char answer[512] = {};
  ASSERT_EQ(nax_get_info(link_, kSimNode, "model", answer), NAX_OK);
  EXPECT_GT(std::strlen(answer), 0u);
  EXPECT_EQ(nax_block_node(link_, kSimNode, 0), NAX_OK);
  uint16_t deleted = 0;
  EXPECT_EQ(nax_del_records(link_, kSimNode, 1, 5, &deleted), only_p2());
  EXPECT_EQ(nax_flush_table(link_, kSimNode, 1), NAX_OK);
  EXPECT_EQ(nax_reset_node(link_, kSimNode, 1, -1), NAX_OK);
}

TEST_P(FamiliesE2E, SchedulesRoundTrip) {
  nax_schd_header h{};
  h.id = 4;
  std::strcpy(h.name, "night shift");
  h.segments = 2;
  ASSERT_EQ(nax_set_schd_header(link_, kSimNode, &h), NAX_OK);
  nax_schd_header hb{};
  ASSERT_EQ(nax_get_schd_header(link_, kSimNode, 4, &hb), NAX_OK);
  EXPECT_STREQ(hb.name, "night shift");
  nax_schd_segment seg[2] = {{22, 0, 1}, {6, 30, 1}};
  uint32_t count = 0;
  ASSERT_EQ(nax_set_schd_segments(link_, kSimNode, 4, seg, 0, 2, &count), NAX_OK);
  nax_schd_segment segb[2]{};
  ASSERT_EQ(nax_get_schd_segments(link_, kSimNode, 4, segb, 0, 2, &count), NAX_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(segb[0].hours, 22);
  EXPECT_EQ(segb[1].minutes, 30);
  nax_schd_entry entries[8]{};
  uint16_t start = 0;
  const uint32_t listed = nax_list_schd(link_, kSimNode, entries, &start, 8, &count);
  EXPECT_TRUE(listed == NAX_OK || listed == 31u) << listed;
  EXPECT_GE(count, 1u);
  EXPECT_EQ(nax_del_schd(link_, kSimNode, 4), NAX_OK);
}

// Written on protocol 2 (the only one that writes them), read on the route's
// own link.
TEST_P(FamiliesE2E, TemplatesWrittenAreReadBack) {
  const uint32_t user = id(555);
  uint8_t tpl[384];
  for (int i = 0; i < 384; ++i) tpl[i] = static_cast<uint8_t>(i * 7 + user);
  EXPECT_EQ(nax_write_template(link_, kSimNode, 0, user, 1, tpl, 384), only_p2());
  const int32_t writer = p1() ? open(node_.tcp(), 2, 2000) : link_;
  ASSERT_EQ(nax_write_template(writer, kSimNode, 0, user, 1, tpl, 384), NAX_OK);
  ASSERT_EQ(nax_write_template(writer, kSimNode, 0, user, 2, tpl, 100), NAX_OK);
  uint8_t back[384]{};
  ASSERT_EQ(nax_read_template(link_, kSimNode, 0, user, 1, back, sizeof back), NAX_OK);
  EXPECT_EQ(std::memcmp(tpl, back, sizeof tpl), 0);
  EXPECT_EQ(nax_del_template(link_, kSimNode, 0, user, 2), only_p2());
  EXPECT_EQ(nax_flush_templates(link_, kSimNode, 1), only_p2());
}

TEST_P(FamiliesE2E, TasksExistOnProtocol2Only) {
  nax_task_group g{0xFFFF, 2, "packing", 1};
  const uint32_t expected = p1() ? uint32_t{NAX_ERR_INVALID_ARG} : uint32_t{NAX_OK};
  EXPECT_EQ(nax_add_task_group(link_, kSimNode, &g), expected);
  nax_task_item it{0xFFFF, 1, 1, "boxes", "J-17"};
  EXPECT_EQ(nax_add_task_item(link_, kSimNode, 2, &it), expected);
}

TEST_P(FamiliesE2E, FilesAreWrittenReadAndDeleted) {
  const std::string name = std::string("n") + GetParam().name + ".txt";
  uint32_t size = 0;
  EXPECT_EQ(nax_fopen(link_, kSimNode, name.c_str(), 1, &size), only_p2());
  const uint8_t text[] = "hello node, from Windows";
  EXPECT_EQ(nax_fwrite(link_, kSimNode, text, sizeof text), only_p2());
  uint32_t crc_written = 0;
  EXPECT_EQ(nax_fclose(link_, kSimNode, &crc_written), only_p2());
  uint8_t buffer[64]{};
  uint32_t read = 0;
  if (p1()) {
    EXPECT_EQ(nax_fread(link_, kSimNode, buffer, sizeof buffer, &read), NAX_ERR_WRONG_PROTOCOL);
    EXPECT_EQ(nax_fdel(link_, kSimNode, name.c_str()), NAX_ERR_WRONG_PROTOCOL);
    return;
  }
  ASSERT_EQ(nax_fopen(link_, kSimNode, name.c_str(), 0, &size), NAX_OK);
  EXPECT_EQ(size, sizeof text);
  ASSERT_EQ(nax_fread(link_, kSimNode, buffer, sizeof buffer, &read), NAX_OK);
  EXPECT_EQ(read, sizeof text);
  EXPECT_EQ(std::memcmp(buffer, text, sizeof text), 0);
  uint32_t crc_read = 0;
  EXPECT_EQ(nax_fclose(link_, kSimNode, &crc_read), NAX_OK);
  EXPECT_EQ(crc_read, crc_written);
  EXPECT_EQ(nax_fdel(link_, kSimNode, name.c_str()), NAX_OK);
  EXPECT_NE(nax_fopen(link_, kSimNode, name.c_str(), 0, &size), NAX_OK);
}

TEST_P(FamiliesE2E, EventAnswersAndTheDisplay) {
  nax_user_event_answer ans{};
  ans.user.mask = NAX_USER_ID;
  ans.user.id = id(0);
  ans.print_enable = 1;
  std::strcpy(ans.aux0, "welcome");
  EXPECT_EQ(nax_answer_user_event(link_, kSimNode, &ans), NAX_OK);
  nax_display_message msg{1, 0, 0, 0, 1, "hello"};
  uint16_t word = 0;
  EXPECT_EQ(nax_display_msg(link_, kSimNode, 1, &msg, 5, &word), only_p2());
}

INSTANTIATE_TEST_SUITE_P(Routes, FamiliesE2E, e2e::routes(), e2e::route_name);

}  // namespace
