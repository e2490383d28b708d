// Golden-byte tests of the numeric parameter codecs.
#include "commands/num_cfg.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

struct RequestCase {
  std::string name;
  void (*encode)(Packet&);
  uint16_t cmd;
  Bytes data;
};

class NumCfgRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(NumCfgRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  c.encode(request);
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    NumCfg, NumCfgRequest,
    testing::Values(
        RequestCase{"GetP1Param300Size2", [](Packet& r) { encode_get_num_cfg_p1(r, 2, 300); },
                    0x200A, Bytes{0x02, 0x2C, 0x01}},
        RequestCase{"GetP2Param300Size2", [](Packet& r) { encode_get_num_cfg_p2(r, 2, 300); },
                    0x8040, Bytes{0x02, 0x2C, 0x01}},
        RequestCase{"SetP1Param7Size1To5", [](Packet& r) { encode_set_num_cfg_p1(r, 1, 7, 5); },
                    0x200B, Bytes{0x01, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00}},
        RequestCase{"SetP2Param7Size1To5", [](Packet& r) { encode_set_num_cfg_p2(r, 1, 7, 5); },
                    0x8041, Bytes{0x01, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00}},
        RequestCase{"SetAlwaysFourValueBytes",
                    [](Packet& r) { encode_set_num_cfg_p2(r, 2, 0xABCD, -2); }, 0x8041,
                    Bytes{0x02, 0xCD, 0xAB, 0xFE, 0xFF, 0xFF, 0xFF}}),
    case_name<RequestCase>);

struct GetAnswerCase {
  std::string name;
  bool p1;
  uint8_t num_size;
  Packet answer;
  uint32_t status;
  uint32_t value;
};

class NumCfgGetAnswer : public testing::TestWithParam<GetAnswerCase> {};

TEST_P(NumCfgGetAnswer, DecodesTheValue) {
  const GetAnswerCase& c = GetParam();
  uint32_t value = 0xDEADBEEF;
  const uint32_t status = c.p1 ? decode_get_num_cfg_p1(c.answer, c.num_size, value)
                               : decode_get_num_cfg_p2(c.answer, c.num_size, value);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    NumCfg, NumCfgGetAnswer,
    testing::Values(
        GetAnswerCase{"P1TwoBytes", true, 2, answer_of(0, {0x01, 0x05, 0x2A}), 1, 0x2A05},
        GetAnswerCase{"P2TwoBytes", false, 2, answer_of(1, {0x05, 0x2A}), 1, 0x2A05},
        GetAnswerCase{"P1RefusedReturnsResultByte", true, 2, answer_of(0, {0x00, 0x05, 0x2A}), 0,
                      0},
        GetAnswerCase{"P1EmptyIsShort", true, 2, answer_of(0, {}), 1029, 0},
        GetAnswerCase{"P1OneByte", true, 1, answer_of(0, {0x01, 0xFE, 0x2A}), 1, 0xFE},
        GetAnswerCase{"P1ValueCutShort", true, 2, answer_of(0, {0x01, 0x05}), 1029, 0},
        GetAnswerCase{"P1SizeFourRefusedAfterAnswer", true, 4,
                      answer_of(0, {0x01, 0x05, 0x2A, 0x00, 0x00}), 1037, 0},
        GetAnswerCase{"P2RefusedPassesStatus", false, 2, answer_of(9, {0x05, 0x2A}), 9, 0},
        GetAnswerCase{"P2OneByte", false, 1, answer_of(1, {0x80}), 1, 0x80},
        GetAnswerCase{"P2Empty", false, 1, answer_of(1, {}), 1029, 0},
        GetAnswerCase{"P2SizeZeroRefused", false, 0, answer_of(1, {0x05, 0x2A}), 1037, 0}),
    case_name<GetAnswerCase>);

struct SetAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
};

class NumCfgSetAnswer : public testing::TestWithParam<SetAnswerCase> {};

TEST_P(NumCfgSetAnswer, GivesTheStatus) {
  const SetAnswerCase& c = GetParam();
  EXPECT_EQ(c.p1 ? decode_set_num_cfg_p1(c.answer) : decode_set_num_cfg_p2(c.answer), c.status);
}

INSTANTIATE_TEST_SUITE_P(
    NumCfg, NumCfgSetAnswer,
    testing::Values(SetAnswerCase{"P1Refused", true, answer_of(0, {0x00}), 0},
                    SetAnswerCase{"P1Empty", true, answer_of(0, {}), 1029},
                    SetAnswerCase{"P1Done", true, answer_of(0, {0x01, 0x00}), 1},
                    SetAnswerCase{"P1OtherByte", true, answer_of(0, {0x06}), 6},
                    SetAnswerCase{"P2Done", false, answer_of(1, {}), 1},
                    SetAnswerCase{"P2Refused", false, answer_of(17, {}), 17}),
    case_name<SetAnswerCase>);

}  // namespace
}  // namespace nax
