// Every command family through the DLL under Wine, in both protocols where the
// family exists in both and refused without a transaction where it does not,
// over TCP and over the mapped COM port.  What a family writes is read back
// from the node, so a codec that garbles a field on the wire shows up here.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "remote_sim.h"

namespace {

using wine::kHostNode;
using wine::kSimNode;

struct Route {
  const char* name;
  bool serial;
  uint8_t protocol;
  uint32_t id_base;  // keeps the users of one route apart from another's
};

class WineFamilies : public ::testing::TestWithParam<Route> {
 protected:
  void SetUp() override {
    ASSERT_EQ(wine::control("faults"), "ok") << "is the simulator's control channel up?";
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
    if (GetParam().serial) {
      ASSERT_TRUE(wine::fresh_serial_line());
    }
    const std::string conn = GetParam().serial ? wine::sim_com() + ":115200" : wine::sim_conn();
    uint32_t status = 0;
    link_ = static_cast<int32_t>(nax_open(&status, kHostNode, GetParam().protocol, conn.c_str(),
                                          1000, nullptr, nullptr, nullptr, nullptr));
    ASSERT_EQ(status, NAX_OK) << conn;
    ASSERT_EQ(nax_set_rcv_timeout(link_, 2000), NAX_OK);
  }
  void TearDown() override {
    if (link_ != 0) nax_close(link_);
    wine::control("faults");
    nax_uninit();
  }
  bool p1() const { return GetParam().protocol == 1; }
  uint32_t only_p2() const { return p1() ? uint32_t{NAX_ERR_WRONG_PROTOCOL} : uint32_t{NAX_OK}; }
  uint32_t id(uint32_t n) const { return GetParam().id_base + n; }

  int32_t link_ = 0;
};

TEST_P(WineFamilies, LinkSettingsTakeEffectOnTheLink) {
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
  ASSERT_EQ(wine::control("faults answer-to=0x0100"), "ok");
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_ERR_NO_ANSWER);
}

TEST_P(WineFamilies, NumericParametersAreReadBackAsWritten) {
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

TEST_P(WineFamilies, AuxInputsAndRelayRoundTrip) {
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

TEST_P(WineFamilies, UsersAreAddedListedAndDeleted) {
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
    for (uint16_t i = 0; i < stored && i < 16; ++i) {
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

TEST_P(WineFamilies, MarksStoredOnTheNodeAreListed) {
  ASSERT_EQ(wine::control("mark " + std::to_string(id(77))), "ok");
  bool found = false;
  uint16_t index = 0;
  for (int page = 0; page < 256 && !found; ++page) {
    nax_mark page_marks[16]{};
    uint16_t stored = 0;
    const uint32_t status = nax_list_marks(link_, kSimNode, index, 16, page_marks, &stored);
    ASSERT_TRUE(status == NAX_OK || status == 8u) << status;
    for (uint16_t i = 0; i < stored && i < 16; ++i) found = found || page_marks[i].id == id(77);
    if (status == 8u || stored == 0) break;
    index = static_cast<uint16_t>(index + stored);
  }
  EXPECT_TRUE(found);
  nax_mark marks[1]{};
  uint16_t stored = 0;
  EXPECT_EQ(nax_list_marks(link_, kSimNode, 0, 0, marks, &stored), NAX_ERR_INVALID_ARG);
}

// The node's verdict on a refused request, in the number each protocol gives it.
TEST_P(WineFamilies, RefusalsPassTheNodesVerdict) {
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
  ASSERT_EQ(wine::control("faults refuse-status=17 refuse-error=4"), "ok");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    stored = 0xFFFF;
    EXPECT_EQ(c.call(link_), p1() ? c.p1 : c.p2);
    EXPECT_EQ(stored, 0);
  }
  ASSERT_EQ(wine::control("faults"), "ok");
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_OK);
}

TEST_P(WineFamilies, AdministrationCommands) {
  char answer[512] = {};
  ASSERT_EQ(nax_get_info(link_, kSimNode, "model", answer), NAX_OK);
  EXPECT_GT(std::strlen(answer), 0u);
  EXPECT_EQ(nax_block_node(link_, kSimNode, 0), NAX_OK);
  uint16_t deleted = 0;
  EXPECT_EQ(nax_del_records(link_, kSimNode, 1, 5, &deleted), only_p2());
  EXPECT_EQ(nax_flush_table(link_, kSimNode, 1), NAX_OK);
  EXPECT_EQ(nax_reset_node(link_, kSimNode, 1, -1), NAX_OK);
}

TEST_P(WineFamilies, SchedulesRoundTrip) {
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

// Written on protocol 2 (the only one that writes them), read on both: the
// protocol 1 route of a transport reads what its protocol 2 route wrote.
TEST_P(WineFamilies, TemplatesWrittenAreReadBack) {
  const uint32_t user = GetParam().serial ? 556 : 555;
  uint8_t tpl[384];
  for (int i = 0; i < 384; ++i) tpl[i] = static_cast<uint8_t>(i * 7 + user);
  EXPECT_EQ(nax_write_template(link_, kSimNode, 0, user, 1, tpl, 384), only_p2());
  if (!p1()) {
    ASSERT_EQ(nax_write_template(link_, kSimNode, 0, user, 2, tpl, 100), NAX_OK);
  }
  uint8_t back[384]{};
  ASSERT_EQ(nax_read_template(link_, kSimNode, 0, user, 1, back, sizeof back), NAX_OK);
  EXPECT_EQ(std::memcmp(tpl, back, sizeof tpl), 0);
  // The second template goes; the first stays for the protocol 1 route.
  EXPECT_EQ(nax_del_template(link_, kSimNode, 0, user, 2), only_p2());
  EXPECT_EQ(nax_flush_templates(link_, kSimNode, 1), only_p2());
}

TEST_P(WineFamilies, TasksExistOnProtocol2Only) {
  nax_task_group g{0xFFFF, 2, "packing", 1};
  const uint32_t expected = p1() ? uint32_t{NAX_ERR_INVALID_ARG} : uint32_t{NAX_OK};
  EXPECT_EQ(nax_add_task_group(link_, kSimNode, &g), expected);
  nax_task_item it{0xFFFF, 1, 1, "boxes", "J-17"};
  EXPECT_EQ(nax_add_task_item(link_, kSimNode, 2, &it), expected);
}

TEST_P(WineFamilies, FilesAreWrittenReadAndDeleted) {
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

TEST_P(WineFamilies, EventAnswersAndTheDisplay) {
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

std::string route_name(const ::testing::TestParamInfo<Route>& route) {
  return route.param.name;
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(Routes, WineFamilies,
                         ::testing::Values(Route{"tcp_p2", false, 2, 10000},
                                           Route{"tcp_p1", false, 1, 20000},
                                           Route{"com_p2", true, 2, 30000},
                                           Route{"com_p1", true, 1, 40000}),
                         route_name);
// clang-format on

}  // namespace
