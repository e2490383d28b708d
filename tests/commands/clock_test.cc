// Golden-byte tests of the clock command codecs.
#include "commands/clock.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

// Record order: hour, minute, second, year, month, day, weekday.
const nax_date_time kLeapEve = {23, 59, 58, 24, 2, 29, 4};
const nax_date_time kUntouched = {99, 99, 99, 99, 99, 99, 99};

bool same(const nax_date_time& a, const nax_date_time& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

struct RequestCase {
  std::string name;
  void (*encode)(Packet&);
  uint16_t cmd;
  Bytes data;
};

class ClockRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(ClockRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  c.encode(request);
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, ClockRequest,
    testing::Values(RequestCase{"SetP1LeapEve", [](Packet& r) { encode_set_time_p1(r, kLeapEve); },
                                0x0002,
                                Bytes{0x01, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24, 0x04, 0x00}},
                    RequestCase{"SetP2LeapEve", [](Packet& r) { encode_set_time_p2(r, kLeapEve); },
                                0x8034, Bytes{0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}},
                    RequestCase{"SetP1OutOfRangeSentAsConverted",
                                [](Packet& r) {
                                  encode_set_time_p1(r, {123, 0, 0, 0, 0, 0, 0});
                                },
                                0x0002,
                                Bytes{0x01, 0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
                    RequestCase{"GetP1Empty", encode_get_time_p1, 0x0002, Bytes{}},
                    RequestCase{"GetP2Empty", encode_get_time_p2, 0x8033, Bytes{}}),
    case_name<RequestCase>);

struct GetAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
  nax_date_time dt;
};

class ClockGetAnswer : public testing::TestWithParam<GetAnswerCase> {};

TEST_P(ClockGetAnswer, DecodesIntoTheRecord) {
  const GetAnswerCase& c = GetParam();
  nax_date_time dt = kUntouched;
  const uint32_t status =
      c.p1 ? decode_get_time_p1(c.answer, dt) : decode_get_time_p2(c.answer, dt);
  EXPECT_EQ(status, c.status);
  EXPECT_TRUE(same(dt, c.dt));
}

INSTANTIATE_TEST_SUITE_P(
    Clock, ClockGetAnswer,
    testing::Values(
        GetAnswerCase{"P2Status5LeavesRecord", false,
                      answer_of(5, {0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}), 5, kUntouched},
        GetAnswerCase{"P1Bcd", true, answer_of(0, {0x01, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24, 0x04}),
                      1, kLeapEve},
        GetAnswerCase{"P1ResultByteNotExamined", true,
                      answer_of(0, {0x00, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24, 0x04, 0x00, 0x00}), 1,
                      kLeapEve},
        GetAnswerCase{"P1SevenBytesLeavesRecord", true,
                      answer_of(0, {0x01, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24}), 1029, kUntouched},
        GetAnswerCase{"P1Empty", true, answer_of(0, {}), 1029, kUntouched},
        GetAnswerCase{"P2Binary", false, answer_of(1, {0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}),
                      1, kLeapEve},
        GetAnswerCase{"P2ShortKeepsFieldsBeforeBreak",
                      false,
                      answer_of(1, {0x17, 0x3B, 0x3A}),
                      1029,
                      {23, 59, 58, 99, 99, 99, 99}}),
    case_name<GetAnswerCase>);

struct SetAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
};

class ClockSetAnswer : public testing::TestWithParam<SetAnswerCase> {};

TEST_P(ClockSetAnswer, GivesTheStatus) {
  const SetAnswerCase& c = GetParam();
  EXPECT_EQ(c.p1 ? decode_set_time_p1(c.answer) : decode_set_time_p2(c.answer), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Clock, ClockSetAnswer,
    testing::Values(SetAnswerCase{"P1RefusedIsTwo", true, answer_of(0, {0x00}), 2},
                    SetAnswerCase{"P1EmptyIsShort", true, answer_of(0, {}), 1029},
                    SetAnswerCase{"P1Done", true, answer_of(0, {0x01, 0x00}), 1},
                    SetAnswerCase{"P1OtherRefusalIsTwo", true, answer_of(0, {0x07}), 2},
                    SetAnswerCase{"P2Done", false, answer_of(1, {}), 1},
                    SetAnswerCase{"P2NodeStatusPassedOn", false, answer_of(17, {}), 17}),
    case_name<SetAnswerCase>);

}  // namespace
}  // namespace nax
