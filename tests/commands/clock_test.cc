// Golden-byte tests of the clock command codecs.
#include "commands/clock.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

// Record order: hour, minute, second, year, month, day, weekday.
const nax_date_time kLeapEve = {23, 59, 58, 24, 2, 29, 4};
const nax_date_time kUntouched = {99, 99, 99, 99, 99, 99, 99};
const std::string kLeapEveShown = "23 59 58 24 2 29 4";
const std::string kUntouchedShown = "99 99 99 99 99 99 99";

INSTANTIATE_TEST_SUITE_P(
    Clock, CodecRequest,
    testing::Values(RequestRow("SetP1LeapEve", CALL(encode_set_time_p1(r, kLeapEve)), 1, 0x0002,
                               {0x01, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24, 0x04, 0x00}),
                    RequestRow("SetP2LeapEve", CALL(encode_set_time_p2(r, kLeapEve)), 1, 0x8034,
                               {0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}),
                    RequestRow("SetP1OutOfRangeSentAsConverted",
                               CALL(encode_set_time_p1(r, {123, 0, 0, 0, 0, 0, 0})), 1, 0x0002,
                               {0x01, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}),
                    RequestRow("GetP1Empty", encode_get_time_p1, 1, 0x0002, {}),
                    RequestRow("GetP2Empty", encode_get_time_p2, 1, 0x8033, {})),
    row_name<RequestRow>);

Decoder get_p1 = into(kUntouched, decode_get_time_p1);
Decoder get_p2 = into(kUntouched, decode_get_time_p2);
Decoder set_p1 = status_only(decode_set_time_p1);
Decoder set_p2 = status_only(decode_set_time_p2);

INSTANTIATE_TEST_SUITE_P(
    Clock, CodecAnswer,
    testing::Values(AnswerRow("GetP2Status5LeavesRecord", 5,
                              {0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}, get_p2, 5,
                              kUntouchedShown),
                    AnswerRow("GetP1Bcd", 0, {0x01, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24, 0x04},
                              get_p1, 1, kLeapEveShown),
                    AnswerRow("GetP1ResultByteNotExamined", 0,
                              {0x00, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24, 0x04, 0x00, 0x00}, get_p1,
                              1, kLeapEveShown),
                    AnswerRow("GetP1SevenBytesLeavesRecord", 0,
                              {0x01, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24}, get_p1, 1029,
                              kUntouchedShown),
                    AnswerRow("GetP1Empty", 0, {}, get_p1, 1029, kUntouchedShown),
                    AnswerRow("GetP2Binary", 1, {0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}, get_p2,
                              1, kLeapEveShown),
                    AnswerRow("GetP2ShortKeepsFieldsBeforeBreak", 1, {0x17, 0x3B, 0x3A}, get_p2,
                              1029, "23 59 58 99 99 99 99"),
                    AnswerRow("SetP1RefusedIsTwo", 0, {0x00}, set_p1, 2, ""),
                    AnswerRow("SetP1EmptyIsShort", 0, {}, set_p1, 1029, ""),
                    AnswerRow("SetP1Done", 0, {0x01, 0x00}, set_p1, 1, ""),
                    AnswerRow("SetP1OtherRefusalIsTwo", 0, {0x07}, set_p1, 2, ""),
                    AnswerRow("SetP2Done", 1, {}, set_p2, 1, ""),
                    AnswerRow("SetP2NodeStatusPassedOn", 17, {}, set_p2, 17, "")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
