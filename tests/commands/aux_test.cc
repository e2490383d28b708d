// Golden-byte tests of the aux input and relay codecs.
#include "commands/aux.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

nax_aux_input only_schedule(uint16_t schedule_id) {
  nax_aux_input aux{};
  aux.schedule_id = schedule_id;
  return aux;
}

// Every field distinct, negative condition included.
const nax_aux_input kFull = {1, 2,  3,          4,      5,
                             6, -2, 0x01020304, 0x0A0B, {11, 12, 13, 14, 15, 16, 17, 18}};
const Bytes kFullWire = {1,    2,    3,    4,    5,  6,  0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03,
                         0x02, 0x01, 0x0B, 0x0A, 11, 12, 13,   14,   15,   16,   17,   18};

nax_aux_input untouched() {
  nax_aux_input aux;
  std::memset(&aux, 0x77, sizeof aux);
  return aux;
}

// Field by field: the record has padding that decoding never writes.
bool same(const nax_aux_input& a, const nax_aux_input& b) {
  return a.invert_input == b.invert_input && a.ev_status == b.ev_status && a.time_on == b.time_on &&
         a.time_off == b.time_off && a.ev_host == b.ev_host && a.ev_historic == b.ev_historic &&
         a.ev_in_condition == b.ev_in_condition && a.ev_rele_condition == b.ev_rele_condition &&
         a.schedule_id == b.schedule_id && std::memcmp(a.extra, b.extra, sizeof a.extra) == 0;
}

struct RequestCase {
  std::string name;
  void (*encode)(Packet&);
  uint16_t cmd;
  Bytes data;
};

class AuxRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(AuxRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  c.encode(request);
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Aux, AuxRequest,
    testing::Values(
        RequestCase{"SetP2Input3Schedule0102",
                    [](Packet& r) { encode_set_aux_input_p2(r, 3, only_schedule(0x0102)); }, 0x8043,
                    cat({{0x03, 0x00}, Bytes(6, 0), Bytes(8, 0), {0x02, 0x01}, Bytes(8, 0)})},
        RequestCase{"SetP1Input3Schedule0102",
                    [](Packet& r) { encode_set_aux_input_p1(r, 3, only_schedule(0x0102)); }, 0x200D,
                    cat({{0x03, 0x00}, Bytes(6, 0), Bytes(8, 0), {0x02, 0x01}, Bytes(8, 0)})},
        RequestCase{"SetP2EveryFieldInOrder",
                    [](Packet& r) { encode_set_aux_input_p2(r, 0x1234, kFull); }, 0x8043,
                    cat({{0x34, 0x12}, kFullWire})},
        RequestCase{"GetP1", [](Packet& r) { encode_get_aux_input_p1(r, 0x1234); }, 0x200C,
                    Bytes{0x34, 0x12}},
        RequestCase{"GetP2", [](Packet& r) { encode_get_aux_input_p2(r, 0x1234); }, 0x8042,
                    Bytes{0x34, 0x12}},
        RequestCase{"StateP2Empty", encode_state_aux_input_p2, 0x8044, Bytes{}},
        RequestCase{"ReleP1", [](Packet& r) { encode_rele_control_p1(r, 5, 7); }, 0x200F,
                    Bytes{0x05, 0x07}},
        RequestCase{"ReleP2", [](Packet& r) { encode_rele_control_p2(r, 5, 7); }, 0x8100,
                    Bytes{0x05, 0x07}},
        RequestCase{"AnswerAuxEventP2CarriesEventCode",
                    [](Packet& r) { encode_answer_aux_input_event_p2(r, 9); }, 0x8051,
                    Bytes{0x09}}),
    case_name<RequestCase>);

struct GetAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
  nax_aux_input expected;
};

class AuxGetAnswer : public testing::TestWithParam<GetAnswerCase> {};

TEST_P(AuxGetAnswer, DecodesIntoTheRecord) {
  const GetAnswerCase& c = GetParam();
  nax_aux_input aux = untouched();
  const uint32_t status =
      c.p1 ? decode_get_aux_input_p1(c.answer, aux) : decode_get_aux_input_p2(c.answer, aux);
  EXPECT_EQ(status, c.status);
  EXPECT_TRUE(same(aux, c.expected));
}

nax_aux_input stored_up_to_rele_condition() {
  nax_aux_input aux = kFull;
  aux.schedule_id = 0x7777;
  std::memset(aux.extra, 0x77, sizeof aux.extra);
  return aux;
}

INSTANTIATE_TEST_SUITE_P(
    Aux, AuxGetAnswer,
    testing::Values(GetAnswerCase{"P1Refused4LeavesRecord", true,
                                  answer_of(0, cat({{0x04}, kFullWire})), 4, untouched()},
                    GetAnswerCase{"P1EmptyIsShort", true, answer_of(0, {}), 1029, untouched()},
                    GetAnswerCase{"P1FieldsAfterResultByte", true,
                                  answer_of(0, cat({{0x01}, kFullWire, {0, 0}})), 1, kFull},
                    GetAnswerCase{"P2Fields", false, answer_of(1, kFullWire), 1, kFull},
                    GetAnswerCase{"P2StatusPassedOnRecordUntouched", false, answer_of(7, kFullWire),
                                  7, untouched()},
                    GetAnswerCase{"P2EndsInsideScheduleIdKeepsEarlierFields", false,
                                  answer_of(1, Bytes(kFullWire.begin(), kFullWire.begin() + 15)),
                                  1029, stored_up_to_rele_condition()}),
    case_name<GetAnswerCase>);

struct U32AnswerCase {
  std::string name;
  Packet answer;
  uint32_t status;
  uint32_t value;
};

class AuxStateAnswer : public testing::TestWithParam<U32AnswerCase> {};

TEST_P(AuxStateAnswer, ReadsTheValueOnlyOnSuccess) {
  const U32AnswerCase& c = GetParam();
  uint32_t value = 0xDEADBEEF;
  EXPECT_EQ(decode_status_and_u32_p2(c.answer, value), c.status);
  EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Aux, AuxStateAnswer,
    testing::Values(
        U32AnswerCase{"Mask", answer_of(1, {0x05, 0x00, 0x00, 0x80}), 1, 0x80000005},
        U32AnswerCase{"ThreeBytesIsShort", answer_of(1, {0x05, 0x00, 0x00}), 1029, 0xDEADBEEF},
        U32AnswerCase{"RefusedKeepsValue", answer_of(9, {0x05, 0x00, 0x00, 0x80}), 9, 0xDEADBEEF}),
    case_name<U32AnswerCase>);

}  // namespace
}  // namespace nax
