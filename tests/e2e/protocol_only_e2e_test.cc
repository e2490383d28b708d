// Commands that exist in one packet protocol only are refused on a link of the
// other before anything is sent, and leave their out values as documented.
#include <functional>
#include <string>

#include "e2e_support.h"

namespace {

using e2e::kSimNode;

struct Case {
  std::string name;
  uint8_t protocol;  // the link's protocol, where the command does not exist
  uint32_t status;
  std::function<uint32_t(int32_t link)> call;
};

class ProtocolOnlyE2E : public e2e::SimFixture, public ::testing::WithParamInterface<Case> {};

TEST_P(ProtocolOnlyE2E, RefusedWithoutTransaction) {
  const Case& c = GetParam();
  const int32_t link = static_cast<int32_t>(open(c.protocol));
  const uint64_t before = sim_->requests_received();
  EXPECT_EQ(c.call(link), c.status);
  EXPECT_EQ(sim_->requests_received(), before);
}

uint8_t g_bytes[16];
nax_user g_user = [] {
  nax_user u{};
  u.mask = NAX_USER_ID;
  u.id = 1;
  return u;
}();

Case p1(const std::string& name, uint32_t status, std::function<uint32_t(int32_t)> call) {
  return {name, 1, status, std::move(call)};
}

INSTANTIATE_TEST_SUITE_P(
    Commands, ProtocolOnlyE2E,
    ::testing::Values(
        p1("StateAuxInput", 1038,
           [](int32_t l) {
             uint32_t state = 0;
             return nax_state_aux_input(l, kSimNode, &state);
           }),
        p1("AnswerAuxInputEvent", 1038,
           [](int32_t l) { return nax_answer_aux_input_event(l, kSimNode, 1); }),
        p1("DelRecords", 1038,
           [](int32_t l) {
             uint16_t deleted = 9;
             const uint32_t status = nax_del_records(l, kSimNode, 1, 5, &deleted);
             return deleted == 0 ? status : 0;
           }),
        p1("WriteTemplate", 1038,
           [](int32_t l) { return nax_write_template(l, kSimNode, 1, 2, 3, g_bytes, 16); }),
        p1("DelTemplate", 1038, [](int32_t l) { return nax_del_template(l, kSimNode, 1, 2, 3); }),
        p1("FlushTemplates", 1038, [](int32_t l) { return nax_flush_templates(l, kSimNode, 1); }),
        p1("AddTaskGroupIs1037", 1037,
           [](int32_t l) {
             nax_task_group group{};
             return nax_add_task_group(l, kSimNode, &group);
           }),
        p1("AddTaskItemIs1037", 1037,
           [](int32_t l) {
             nax_task_item item{};
             return nax_add_task_item(l, kSimNode, 1, &item);
           }),
        p1("Fopen", 1038,
           [](int32_t l) {
             uint32_t fsize = 9;
             const uint32_t status = nax_fopen(l, kSimNode, "f", 0, &fsize);
             return fsize == 0 ? status : 0;
           }),
        p1("FreadKeepsReadBytes", 1038,
           [](int32_t l) {
             uint32_t read_bytes = 9;
             const uint32_t status = nax_fread(l, kSimNode, g_bytes, 16, &read_bytes);
             return read_bytes == 9 ? status : 0;
           }),
        p1("Fwrite", 1038, [](int32_t l) { return nax_fwrite(l, kSimNode, g_bytes, 16); }),
        p1("FcloseKeepsCrc", 1038,
           [](int32_t l) {
             uint32_t crc = 9;
             const uint32_t status = nax_fclose(l, kSimNode, &crc);
             return crc == 9 ? status : 0;
           }),
        p1("Fdel", 1038, [](int32_t l) { return nax_fdel(l, kSimNode, "f"); }),
        p1("DisplayMsg", 1038,
           [](int32_t l) {
             nax_display_message message{};
             uint16_t answer = 9;
             const uint32_t status = nax_display_msg(l, kSimNode, 1, &message, 0, &answer);
             return answer == 0 ? status : 0;
           }),
        p1("EditUser", 1038,
           [](int32_t l) {
             uint16_t taken = 0;
             return nax_edit_user(l, kSimNode, 0, 1, &g_user, &taken);
           }),
        Case{"AddUserIn1OnProtocol2Is1037", 2, 1037,
             [](int32_t l) { return nax_add_user_in1(l, kSimNode, &g_user, 0, nullptr, 0); }},
        Case{"DisplayCountZeroOnProtocol2", 2, 1037,
             [](int32_t l) {
               nax_display_message message{};
               uint16_t answer = 0;
               return nax_display_msg(l, kSimNode, 0, &message, 0, &answer);
             }}),
    [](const auto& p) { return p.param.name; });

}  // namespace
