// Golden-byte tests of the aux input and relay codecs.
#include "commands/aux.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

// Every field distinct, negative condition included.
const nax_aux_input kFull = {1, 2,  3,          4,      5,
                             6, -2, 0x01020304, 0x0A0B, {11, 12, 13, 14, 15, 16, 17, 18}};
const Bytes kFullWire = {1,    2,    3,    4,    5,  6,  0xFE, 0xFF, 0xFF, 0xFF, 0x04, 0x03,
                         0x02, 0x01, 0x0B, 0x0A, 11, 12, 13,   14,   15,   16,   17,   18};
const std::string kFullShown = "1 2 3 4 5 6 -2 16909060 2571 11 12 13 14 15 16 17 18";
const std::string kUntouchedShown =
    "119 119 119 119 119 119 2004318071 2004318071 30583 119 119 119 119 119 119 119 119";

std::string show_aux(const nax_aux_input& a) {
  const uint8_t* x = a.extra;
  return show(a.invert_input, a.ev_status, a.time_on, a.time_off, a.ev_host, a.ev_historic,
              a.ev_in_condition, a.ev_rele_condition, a.schedule_id, x[0], x[1], x[2], x[3], x[4],
              x[5], x[6], x[7]);
}

nax_aux_input untouched() {
  nax_aux_input aux;
  std::memset(&aux, 0x77, sizeof aux);
  return aux;
}

const Bytes kSchedule0102Wire =
    cat({{0x03, 0x00}, Bytes(6, 0), Bytes(8, 0), {0x02, 0x01}, Bytes(8, 0)});

INSTANTIATE_TEST_SUITE_P(
    Aux, CodecRequest,
    testing::Values(
        RequestRow("SetP2Input3Schedule0102",
                   CALL(encode_set_aux_input_p2(r, 3,
                                                nax_aux_input{0, 0, 0, 0, 0, 0, 0, 0, 0x0102, {}})),
                   1, 0x8043, kSchedule0102Wire),
        RequestRow("SetP1Input3Schedule0102",
                   CALL(encode_set_aux_input_p1(r, 3,
                                                nax_aux_input{0, 0, 0, 0, 0, 0, 0, 0, 0x0102, {}})),
                   1, 0x200D, kSchedule0102Wire),
        RequestRow("SetP2EveryFieldInOrder", CALL(encode_set_aux_input_p2(r, 0x1234, kFull)), 1,
                   0x8043, cat({{0x34, 0x12}, kFullWire})),
        RequestRow("GetP1", CALL(encode_get_aux_input_p1(r, 0x1234)), 1, 0x200C, {0x34, 0x12}),
        RequestRow("GetP2", CALL(encode_get_aux_input_p2(r, 0x1234)), 1, 0x8042, {0x34, 0x12}),
        RequestRow("StateP2Empty", encode_state_aux_input_p2, 1, 0x8044, {}),
        RequestRow("ReleP1", CALL(encode_rele_control_p1(r, 5, 7)), 1, 0x200F, {0x05, 0x07}),
        RequestRow("ReleP2", CALL(encode_rele_control_p2(r, 5, 7)), 1, 0x8100, {0x05, 0x07}),
        RequestRow("AnswerAuxEventP2CarriesEventCode", CALL(encode_answer_aux_input_event_p2(r, 9)),
                   1, 0x8051, {0x09})),
    row_name<RequestRow>);

Decoder get_p1 = into(untouched(), decode_get_aux_input_p1, show_aux);
Decoder get_p2 = into(untouched(), decode_get_aux_input_p2, show_aux);
Decoder state = into(0xDEADBEEFu, decode_status_and_u32_p2);

INSTANTIATE_TEST_SUITE_P(
    Aux, CodecAnswer,
    testing::Values(
        AnswerRow("GetP1Refused4LeavesRecord", 0, cat({{0x04}, kFullWire}), get_p1, 4,
                  kUntouchedShown),
        AnswerRow("GetP1EmptyIsShort", 0, {}, get_p1, 1029, kUntouchedShown),
        AnswerRow("GetP1FieldsAfterResultByte", 0, cat({{0x01}, kFullWire, {0, 0}}), get_p1, 1,
                  kFullShown),
        AnswerRow("GetP2Fields", 1, kFullWire, get_p2, 1, kFullShown),
        AnswerRow("GetP2StatusPassedOnRecordUntouched", 7, kFullWire, get_p2, 7, kUntouchedShown),
        AnswerRow("GetP2EndsInsideScheduleIdKeepsEarlierFields", 1,
                  Bytes(kFullWire.begin(), kFullWire.begin() + 15), get_p2, 1029,
                  "1 2 3 4 5 6 -2 16909060 30583 119 119 119 119 119 119 119 119"),
        AnswerRow("StateMask", 1, {0x05, 0x00, 0x00, 0x80}, state, 1, "2147483653"),
        AnswerRow("StateThreeBytesIsShort", 1, {0x05, 0x00, 0x00}, state, 1029, "3735928559"),
        AnswerRow("StateRefusedKeepsValue", 9, {0x05, 0x00, 0x00, 0x80}, state, 9, "3735928559")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
