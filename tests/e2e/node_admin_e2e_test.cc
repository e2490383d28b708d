// Aux inputs and relays, node administration, task groups, answers to user
// events and display messages end to end against the simulated node.
#include <cstring>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "handlers_admin.h"
#include "handlers_answers.h"
#include "handlers_aux.h"
#include "handlers_marks.h"
#include "handlers_tasks.h"
#include "handlers_users.h"

namespace {

using e2e::kSimNode;

class NodeAdminE2E : public e2e::SimFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  bool p1() const { return GetParam() == 1; }
  int32_t open_link() { return static_cast<int32_t>(open(GetParam())); }
  // The node's refusal of a bad request as the host reports it: protocol 1
  // takes the result byte (0) as status, protocol 2 passes the status word.
  uint32_t bad_request() const { return p1() ? 0u : naxsim::kStatusBadRequest; }

  template <class State, class Fn>
  auto on_node(Fn&& fn) {
    return sim_->node().with_state<State>(std::forward<Fn>(fn));
  }
};

bool same(const nax_aux_input& a, const nax_aux_input& b) {
  return a.invert_input == b.invert_input && a.ev_status == b.ev_status && a.time_on == b.time_on &&
         a.time_off == b.time_off && a.ev_host == b.ev_host && a.ev_historic == b.ev_historic &&
         a.ev_in_condition == b.ev_in_condition && a.ev_rele_condition == b.ev_rele_condition &&
         a.schedule_id == b.schedule_id && std::memcmp(a.extra, b.extra, sizeof a.extra) == 0;
}

TEST_P(NodeAdminE2E, AuxInputConfigurationRoundTrip) {
  const int32_t link = open_link();
  const nax_aux_input written = {1, 2,  3,          4,      5,
                                 6, -7, 0x01020304, 0x0102, {1, 2, 3, 4, 5, 6, 7, 8}};
  ASSERT_EQ(nax_set_aux_input(link, kSimNode, 3, &written), NAX_OK);
  nax_aux_input read;
  std::memset(&read, 0xEE, sizeof read);
  ASSERT_EQ(nax_get_aux_input(link, kSimNode, 3, &read), NAX_OK);
  EXPECT_TRUE(same(read, written));
  std::memset(&read, 0xEE, sizeof read);
  const nax_aux_input untouched = read;
  EXPECT_EQ(nax_get_aux_input(link, kSimNode, naxsim::AuxPorts::kInputCount, &read), bad_request());
  EXPECT_TRUE(same(read, untouched));
}

TEST_P(NodeAdminE2E, RelayNumberIsTheLowByte) {
  const int32_t link = open_link();
  ASSERT_EQ(nax_rele_control(link, kSimNode, 0x105, 9), NAX_OK);
  EXPECT_EQ(on_node<naxsim::AuxPorts>([](auto& aux) { return aux.relays[5]; }), 9);
  EXPECT_EQ(nax_rele_control(link, kSimNode, naxsim::AuxPorts::kRelayCount, 1), bad_request());
}

TEST_P(NodeAdminE2E, InformationQueries) {
  const int32_t link = open_link();
  on_node<naxsim::Users>([](naxsim::Users& users) { return users.table.resize(3), 0; });
  char answer[512];
  ASSERT_EQ(nax_get_info(link, kSimNode, "model", answer), NAX_OK);
  EXPECT_STREQ(answer, naxsim::kInfoModel);
  ASSERT_EQ(nax_get_info(link, kSimNode, "serial", answer), NAX_OK);
  EXPECT_STREQ(answer, "SIM-00007");
  ASSERT_EQ(nax_get_info(link, kSimNode, "users", answer), NAX_OK);
  EXPECT_STREQ(answer, "3");
  std::strcpy(answer, "stale");
  EXPECT_EQ(nax_get_info(link, kSimNode, "weather", answer), bad_request());
  EXPECT_STREQ(answer, "");
  const uint64_t before = sim_->requests_received();
  const std::string too_long(512, 'q');
  EXPECT_EQ(nax_get_info(link, kSimNode, too_long.c_str(), answer), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_get_info(link, kSimNode, nullptr, answer), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(sim_->requests_received(), before);
  EXPECT_EQ(nax_get_info(link, kSimNode, "model", nullptr), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(sim_->requests_received(), before + 1) << "the node was asked all the same";
}

TEST_P(NodeAdminE2E, ResetBlockFlush) {
  const int32_t link = open_link();
  ASSERT_EQ(nax_reset_node(link, kSimNode, 1, -1), NAX_OK);
  ASSERT_EQ(nax_block_node(link, kSimNode, 5), NAX_OK);
  EXPECT_EQ(on_node<naxsim::Admin>([](auto& a) { return a.resets; }),
            (std::vector<std::pair<int32_t, int32_t>>{{1, -1}}));
  EXPECT_EQ(on_node<naxsim::Admin>([](auto& a) { return a.blocks; }), std::vector<uint8_t>{5});
  on_node<naxsim::Users>([](naxsim::Users& users) { return users.table.resize(4), 0; });
  on_node<naxsim::MarkLog>([](naxsim::MarkLog& log) { return log.marks.resize(6), 0; });
  ASSERT_EQ(nax_flush_table(link, kSimNode, naxsim::kTableUsers), NAX_OK);
  EXPECT_EQ(on_node<naxsim::Users>([](auto& users) { return users.table.size(); }), 0u);
  EXPECT_EQ(on_node<naxsim::MarkLog>([](auto& log) { return log.marks.size(); }), 6u);
  const uint64_t before = sim_->requests_received();
  // Protocol 1 knows tables 0 and 1 only; protocol 2 asks, and the node refuses.
  EXPECT_EQ(nax_flush_table(link, kSimNode, 2),
            p1() ? uint32_t{NAX_ERR_INVALID_ARG} : bad_request());
  EXPECT_EQ(sim_->requests_received(), before + (p1() ? 0 : 1));
}

TEST_P(NodeAdminE2E, AnswerToUserEventReachesTheNode) {
  const int32_t link = open_link();
  nax_user_event_answer answer;
  std::memset(&answer, 0, sizeof answer);
  answer.date_time = {10, 20, 30, 24, 2, 29, 4};
  answer.user.mask = NAX_USER_ID | NAX_USER_ST;
  answer.user.id = 4242;
  answer.user.st = 3;
  answer.print_enable = 0xFF;
  std::strcpy(answer.aux3, "Welcome");
  std::memset(answer.aux5, 'x', sizeof answer.aux5);  // no NUL: cut to 44
  ASSERT_EQ(nax_answer_user_event(link, kSimNode, &answer), NAX_OK);
  ASSERT_TRUE(e2e::eventually([&] {
    return on_node<naxsim::EventAnswers>([](auto& a) { return a.received.size(); }) == 1;
  }));
  const naxsim::EventAnswer got =
      on_node<naxsim::EventAnswers>([](auto& a) { return a.received[0]; });
  EXPECT_EQ(got.protocol, GetParam());
  if (p1()) return;  // protocol 1 answers with the bare command
  EXPECT_EQ(got.date_time.year, 24);
  EXPECT_EQ(got.date_time.day, 29);
  EXPECT_EQ(got.user_mask, NAX_USER_ID | NAX_USER_ST);
  EXPECT_EQ(got.user_id, 4242u);
  EXPECT_EQ(got.user_st, 3);
  EXPECT_EQ(got.print_enable, 1);
  for (int i = 0; i < 10; ++i) {
    if (i == 3) {
      EXPECT_EQ(got.aux[i], "Welcome");
    } else if (i == 5) {
      EXPECT_EQ(got.aux[i], std::string(44, 'x'));
    } else {
      EXPECT_FALSE(got.aux[i].has_value()) << i;
    }
  }
  EXPECT_EQ(answer.aux5[44], '\0') << "cut in the host's record";
}

INSTANTIATE_TEST_SUITE_P(Protocols, NodeAdminE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

class NodeAdminP2E2E : public e2e::SimFixture {};

TEST_F(NodeAdminP2E2E, InputStateAndAuxEventAnswer) {
  sim_->node().with_state<naxsim::AuxPorts>([](auto& aux) { return aux.input_state = 0x8005; });
  const int32_t link = static_cast<int32_t>(open(2));
  uint32_t state = 0;
  ASSERT_EQ(nax_state_aux_input(link, kSimNode, &state), NAX_OK);
  EXPECT_EQ(state, 0x8005u);
  ASSERT_EQ(nax_answer_aux_input_event(link, kSimNode, 7), NAX_OK);
  EXPECT_TRUE(e2e::eventually([&] {
    return sim_->node().with_state<naxsim::AuxPorts>([](auto& aux) { return aux.event_answers; }) ==
           std::vector<uint8_t>{7};
  }));
}

TEST_F(NodeAdminP2E2E, DelRecordsCountsWhatTheNodeDeleted) {
  sim_->node().with_state<naxsim::MarkLog>([](auto& log) { return log.marks.resize(5), 0; });
  const int32_t link = static_cast<int32_t>(open(2));
  uint16_t deleted = 99;
  ASSERT_EQ(nax_del_records(link, kSimNode, 0x100 | naxsim::kTableMarks, 3, &deleted), NAX_OK);
  EXPECT_EQ(deleted, 3);
  ASSERT_EQ(nax_del_records(link, kSimNode, naxsim::kTableMarks, 3, &deleted), NAX_OK);
  EXPECT_EQ(deleted, 2);
  EXPECT_EQ(nax_del_records(link, kSimNode, 9, 1, &deleted), naxsim::kStatusBadRequest);
  EXPECT_EQ(deleted, 0);
}

TEST_F(NodeAdminP2E2E, TaskGroupsAndItems) {
  const int32_t link = static_cast<int32_t>(open(2));
  nax_task_group group{};
  group.mask_fields = 0x0007;
  group.id = 4;
  std::memset(group.name, 'g', sizeof group.name);  // 17 characters, no NUL
  group.items = 2;
  ASSERT_EQ(nax_add_task_group(link, kSimNode, &group), NAX_OK);
  EXPECT_EQ(std::string(group.name), std::string(16, 'g'));
  nax_task_item item{};
  item.type = 1;
  item.id = 9;
  std::strcpy(item.name, "Mop");
  std::strcpy(item.job_order, "J-17");
  ASSERT_EQ(nax_add_task_item(link, kSimNode, 0x104, &item), NAX_OK) << "group 4 by its low byte";
  EXPECT_EQ(nax_add_task_item(link, kSimNode, 5, &item), naxsim::kTaskStatusNoGroup);
  const naxsim::TaskGroup stored =
      sim_->node().with_state<naxsim::Tasks>([](auto& tasks) { return tasks.groups[4]; });
  EXPECT_EQ(stored.name, std::string(16, 'g'));
  EXPECT_EQ(stored.items, 2);
  ASSERT_EQ(stored.item_list.size(), 1u);
  EXPECT_EQ(stored.item_list[0].name, "Mop");
  EXPECT_EQ(stored.item_list[0].job_order, "J-17");
  EXPECT_EQ(nax_add_task_group(link, kSimNode, nullptr), NAX_ERR_INVALID_ARG);
}

TEST_F(NodeAdminP2E2E, DisplayMessages) {
  const int32_t link = static_cast<int32_t>(open(2));
  // Eight messages are the most one request carries: 6 + 58 × 8 = 470 of the
  // 512 data bytes a node takes.
  std::vector<nax_display_message> messages(8);
  for (uint16_t k = 0; k < messages.size(); ++k) {
    messages[k].line = k;
    messages[k].font = 2;
    std::snprintf(messages[k].data, sizeof messages[k].data, "line %u", unsigned{k});
  }
  std::memset(messages[1].data, 'd', sizeof messages[1].data);  // no NUL: cut to 49
  uint16_t answer = 0;
  ASSERT_EQ(nax_display_msg(link, kSimNode, 8, messages.data(), -1, &answer), NAX_OK);
  EXPECT_EQ(answer, 8);
  const naxsim::Display shown =
      sim_->node().with_state<naxsim::Display>([](auto& display) { return display; });
  EXPECT_EQ(shown.timer, -1);
  ASSERT_EQ(shown.lines.size(), 8u);
  EXPECT_EQ(shown.lines[7].data, "line 7");
  EXPECT_EQ(shown.lines[1].data, std::string(49, 'd'));
  EXPECT_EQ(messages[1].data[49], '\0');
  messages.resize(9);
  const uint64_t before = sim_->requests_received();
  EXPECT_EQ(nax_display_msg(link, kSimNode, 9, messages.data(), 0, &answer), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(answer, 0);
  EXPECT_EQ(sim_->requests_received(), before);
}

}  // namespace
