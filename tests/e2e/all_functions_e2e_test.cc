// Every exported function once against the simulated node, in both protocols
// where the command exists, and refused without a transaction where it does not.
#include <cstring>
#include <set>

#include "e2e_support.h"
#include "handlers_marks.h"
#include "link/link.h"

namespace {

using e2e::kHostNode;

std::set<std::string> g_called;

// Records which exported functions the test reached.
#define CALL(fn, ...) (g_called.insert(#fn), fn(__VA_ARGS__))

constexpr uint16_t kNode = 3;

struct Expect {
  uint32_t p1;
  uint32_t p2;
  uint32_t for_protocol(uint8_t p) const { return p == 1 ? p1 : p2; }
};

void NAX_CALL on_user(void*, int32_t, uint32_t, nax_user_event*) {}
void NAX_CALL on_aux(void*, int32_t, uint32_t, nax_aux_input_event*) {}
void NAX_CALL on_conn(void*, int32_t, uint32_t) {}

// Walks every command on one link; returns the number of refusals that must
// not have reached the node.
void walk_commands(naxsim::Simulator& sim, int32_t link, uint8_t p) {
  SCOPED_TRACE(p == 1 ? "protocol 1" : "protocol 2");
  const bool p1 = p == 1;
  const uint32_t only_p2 = p1 ? NAX_ERR_WRONG_PROTOCOL : NAX_OK;

  // Settings.
  EXPECT_EQ(CALL(nax_set_source_node, link, kHostNode), NAX_OK);
  EXPECT_EQ(CALL(nax_set_packet_protocol, link, p), NAX_OK);
  EXPECT_EQ(CALL(nax_get_packet_protocol, link), p);
  EXPECT_EQ(CALL(nax_set_user_callback, link, on_user), NAX_OK);
  EXPECT_EQ(CALL(nax_set_aux_input_callback, link, on_aux), NAX_OK);
  EXPECT_EQ(CALL(nax_set_conn_callback, link, on_conn), NAX_OK);
  EXPECT_EQ(CALL(nax_set_callback_args, link, nullptr), NAX_OK);
  EXPECT_EQ(CALL(nax_set_rcv_timeout, link, 1000), NAX_OK);
  EXPECT_EQ(CALL(nax_set_snd_timeout, link, 1000), NAX_OK);
  EXPECT_EQ(CALL(nax_set_interbyte_timeout, link, 500), NAX_OK);

  // Clock and parameters.
  nax_date_time t{9, 8, 7, 26, 1, 2, 5};
  EXPECT_EQ(CALL(nax_set_time, link, kNode, &t), NAX_OK);
  nax_date_time now{};
  EXPECT_EQ(CALL(nax_get_time, link, kNode, &now), NAX_OK);
  EXPECT_EQ(now.day, 2);
  EXPECT_EQ(CALL(nax_set_num_cfg, link, kNode, 2, 12, 0x1234), NAX_OK);
  uint32_t value = 0;
  EXPECT_EQ(CALL(nax_get_num_cfg, link, kNode, 2, 12, &value), NAX_OK);
  EXPECT_EQ(value, 0x1234u);

  // Aux inputs and relay.
  nax_aux_input in{1, 0, 5, 6, 1, 1, 7, 8, 0x0102, {1, 2, 3, 4, 5, 6, 7, 8}};
  EXPECT_EQ(CALL(nax_set_aux_input, link, kNode, 2, &in), NAX_OK);
  nax_aux_input back{};
  EXPECT_EQ(CALL(nax_get_aux_input, link, kNode, 2, &back), NAX_OK);
  EXPECT_EQ(back.time_off, in.time_off);
  EXPECT_EQ(back.ev_rele_condition, in.ev_rele_condition);
  EXPECT_EQ(back.schedule_id, in.schedule_id);
  EXPECT_EQ(std::memcmp(back.extra, in.extra, sizeof in.extra), 0);
  uint32_t state = 0;
  EXPECT_EQ(CALL(nax_state_aux_input, link, kNode, &state), only_p2);
  EXPECT_EQ(CALL(nax_rele_control, link, kNode, 1, 3), NAX_OK);
  EXPECT_EQ(CALL(nax_answer_aux_input_event, link, kNode, 1), only_p2);

  // Users.
  nax_user users[2]{};
  for (int i = 0; i < 2; ++i) {
    users[i].mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_SEC_LEVEL | NAX_USER_SCHEDULE_ID;
    users[i].id = 1000u + i + (p1 ? 0 : 100);
    users[i].psw = 4321;
    users[i].sec_level = 3;
    users[i].schedule_id = 9;
  }
  uint16_t taken = 0;
  EXPECT_EQ(CALL(nax_add_user, link, kNode, 0, p1 ? 1 : 2, users, &taken), NAX_OK);
  EXPECT_EQ(taken, p1 ? 1 : 2);
  nax_user listed[4]{};
  uint16_t stored = 0;
  uint32_t list_status = CALL(nax_list_users, link, kNode, 0, 4, listed, &stored);
  EXPECT_TRUE(list_status == NAX_OK || list_status == 8u) << list_status;
  EXPECT_GE(stored, 1);
  EXPECT_EQ(CALL(nax_edit_user, link, kNode, 0, 1, users, &taken), only_p2);
  nax_user extra_user = users[1];
  const uint8_t extra[3] = {1, 2, 3};
  EXPECT_EQ(CALL(nax_add_user_in1, link, kNode, &extra_user, 0, extra, 3),
            p1 ? NAX_OK : NAX_ERR_INVALID_ARG);
  EXPECT_EQ(CALL(nax_del_user, link, kNode, 0, 1, users, &taken), NAX_OK);

  // Marks.
  sim.node().with_state<naxsim::MarkLog>([](naxsim::MarkLog& log) {
    naxsim::MarkEntry m;
    m.id = 77;
    m.time = {8, 30, 0, 26, 1, 2, 0};
    log.marks.push_back(m);
    log.p1_cursor = 0;
    return 0;
  });
  nax_mark marks[4]{};
  uint32_t marks_status = CALL(nax_list_marks, link, kNode, 0, 4, marks, &stored);
  EXPECT_TRUE(marks_status == NAX_OK || marks_status == 8u) << marks_status;
  EXPECT_GE(stored, 1);
  EXPECT_EQ(marks[0].id, 77u);

  // Administration.
  char answer[512];
  EXPECT_EQ(CALL(nax_get_info, link, kNode, "model", answer), NAX_OK);
  EXPECT_GT(std::strlen(answer), 0u);
  EXPECT_EQ(CALL(nax_reset_node, link, kNode, 1, -1), NAX_OK);
  EXPECT_EQ(CALL(nax_block_node, link, kNode, 0), NAX_OK);
  uint16_t deleted = 0;
  EXPECT_EQ(CALL(nax_del_records, link, kNode, 1, 5, &deleted), only_p2);
  EXPECT_EQ(CALL(nax_flush_table, link, kNode, 1), NAX_OK);

  // Schedules.
  nax_schd_header h{};
  h.id = 4;
  std::strcpy(h.name, "night shift");
  h.segments = 2;
  EXPECT_EQ(CALL(nax_set_schd_header, link, kNode, &h), NAX_OK);
  nax_schd_header hb{};
  EXPECT_EQ(CALL(nax_get_schd_header, link, kNode, 4, &hb), NAX_OK);
  EXPECT_STREQ(hb.name, "night shift");
  nax_schd_segment seg[2] = {{22, 0, 1}, {6, 30, 1}};
  uint32_t count = 0;
  EXPECT_EQ(CALL(nax_set_schd_segments, link, kNode, 4, seg, 0, 2, &count), NAX_OK);
  nax_schd_segment segb[2]{};
  EXPECT_EQ(CALL(nax_get_schd_segments, link, kNode, 4, segb, 0, 2, &count), NAX_OK);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(segb[1].minutes, 30);
  nax_schd_entry entries[8]{};
  uint16_t start = 0;
  uint32_t list_schd = CALL(nax_list_schd, link, kNode, entries, &start, 8, &count);
  EXPECT_TRUE(list_schd == NAX_OK || list_schd == 31u) << list_schd;
  EXPECT_GE(count, 1u);
  EXPECT_EQ(CALL(nax_del_schd, link, kNode, 4), NAX_OK);

  // Templates: written on protocol 2; protocol 1 reads what protocol 2 wrote.
  uint8_t tpl[384];
  for (int i = 0; i < 384; ++i) tpl[i] = static_cast<uint8_t>(i * 7);
  EXPECT_EQ(CALL(nax_write_template, link, kNode, 0, 555, 1, tpl, 384), only_p2);
  uint8_t tplb[384]{};
  EXPECT_EQ(CALL(nax_read_template, link, kNode, 0, 555, 1, tplb, sizeof tplb), NAX_OK);
  EXPECT_EQ(std::memcmp(tpl, tplb, 384), 0);
  // The second template and another sensor go; the first stays for protocol 1.
  if (!p1) {
    EXPECT_EQ(nax_write_template(link, kNode, 0, 555, 2, tpl, 100), NAX_OK);
  }
  EXPECT_EQ(CALL(nax_del_template, link, kNode, 0, 555, 2), only_p2);
  EXPECT_EQ(CALL(nax_flush_templates, link, kNode, 1), only_p2);

  // Tasks (protocol 2 only; the other protocol is refused as an invalid argument).
  nax_task_group g{0xFFFF, 2, "packing", 1};
  EXPECT_EQ(CALL(nax_add_task_group, link, kNode, &g), p1 ? NAX_ERR_INVALID_ARG : NAX_OK);
  nax_task_item it{0xFFFF, 1, 1, "boxes", "J-17"};
  EXPECT_EQ(CALL(nax_add_task_item, link, kNode, 2, &it), p1 ? NAX_ERR_INVALID_ARG : NAX_OK);

  // Files.
  uint32_t fsize = 0;
  EXPECT_EQ(CALL(nax_fopen, link, kNode, "notes.txt", 1, &fsize), only_p2);
  const uint8_t text[] = "hello node";
  EXPECT_EQ(CALL(nax_fwrite, link, kNode, text, sizeof text), only_p2);
  uint32_t crc = 0;
  EXPECT_EQ(CALL(nax_fclose, link, kNode, &crc), only_p2);
  uint8_t buffer[64];
  uint32_t read = 0;
  if (!p1) {
    EXPECT_EQ(nax_fopen(link, kNode, "notes.txt", 0, &fsize), NAX_OK);
  }
  EXPECT_EQ(CALL(nax_fread, link, kNode, buffer, sizeof buffer, &read), only_p2);
  if (!p1) {
    EXPECT_EQ(read, sizeof text);
    EXPECT_EQ(nax_fclose(link, kNode, &crc), NAX_OK);
  }
  EXPECT_EQ(CALL(nax_fdel, link, kNode, "notes.txt"), only_p2);

  // Answers to user events and the display.
  nax_user_event_answer ans{};
  ans.user.mask = NAX_USER_ID;
  ans.user.id = 1000;
  ans.print_enable = 1;
  std::strcpy(ans.aux0, "welcome");
  EXPECT_EQ(CALL(nax_answer_user_event, link, kNode, &ans), NAX_OK);
  nax_display_message msg{1, 0, 0, 0, 1, "hello"};
  uint16_t word = 0;
  EXPECT_EQ(CALL(nax_display_msg, link, kNode, 1, &msg, 5, &word), only_p2);
}

TEST(AllFunctions, EveryExportedFunctionAgainstTheSimulator) {
  char version[8];
  EXPECT_STREQ(CALL(nax_lib_version, version), "1.1.13");
  EXPECT_EQ(CALL(nax_set_keepalive, 0, 0, 0xFFFF), NAX_OK);
  ASSERT_EQ(CALL(nax_init, nullptr, 0), NAX_OK);
  EXPECT_STREQ(CALL(nax_status_text, 1026), "no answer within the link's receive time-out");

  naxsim::Config config;
  config.node = kNode;
  naxsim::Simulator sim(config);
  ASSERT_TRUE(sim.start());
  for (uint8_t p : {2, 1}) {  // protocol 2 first: it writes the template protocol 1 reads
    uint32_t status = 0;
    uint32_t link = CALL(nax_open, &status, kHostNode, p, sim.conn_string().c_str(), 1000, nullptr,
                         nullptr, nullptr, nullptr);
    ASSERT_EQ(status, NAX_OK);
    const uint64_t before = sim.requests_received();
    walk_commands(sim, static_cast<int32_t>(link), p);
    EXPECT_GT(sim.requests_received(), before);
    EXPECT_EQ(CALL(nax_close, static_cast<int32_t>(link)), NAX_OK);
  }

  // A node connecting in, claimed and used.
  uint32_t status = 0;
  ASSERT_EQ(CALL(nax_listen, &status, 0, 0, nullptr, nullptr), 1u);
  ASSERT_TRUE(sim.connect_to("127.0.0.1", nax::listener_port()));
  uint32_t id = 0;
  uint16_t node = 0, port = 0;
  ASSERT_EQ(CALL(nax_accept, &id, &node, &port, 2, kHostNode, 3000, 1000), NAX_OK);
  EXPECT_EQ(node, kNode);
  nax_date_time now{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), node, &now), NAX_OK);
  EXPECT_EQ(nax_close(static_cast<int32_t>(id)), NAX_OK);
  EXPECT_EQ(CALL(nax_close_listen, 1), NAX_OK);
  sim.stop();
  EXPECT_EQ(CALL(nax_uninit), NAX_OK);

  EXPECT_EQ(g_called.size(), 59u) << "58 exported functions and nax_status_text";
}

}  // namespace
