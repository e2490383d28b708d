// Golden-byte tests of the numeric parameter codecs.
#include "commands/num_cfg.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

INSTANTIATE_TEST_SUITE_P(
    NumCfg, CodecRequest,
    testing::Values(RequestRow("GetP1Param300Size2", CALL(encode_get_num_cfg_p1(r, 2, 300)), 1,
                               0x200A, {0x02, 0x2C, 0x01}),
                    RequestRow("GetP2Param300Size2", CALL(encode_get_num_cfg_p2(r, 2, 300)), 1,
                               0x8040, {0x02, 0x2C, 0x01}),
                    RequestRow("SetP1Param7Size1To5", CALL(encode_set_num_cfg_p1(r, 1, 7, 5)), 1,
                               0x200B, {0x01, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00}),
                    RequestRow("SetP2Param7Size1To5", CALL(encode_set_num_cfg_p2(r, 1, 7, 5)), 1,
                               0x8041, {0x01, 0x07, 0x00, 0x05, 0x00, 0x00, 0x00}),
                    RequestRow("SetAlwaysFourValueBytes",
                               CALL(encode_set_num_cfg_p2(r, 2, 0xABCD, -2)), 1, 0x8041,
                               {0x02, 0xCD, 0xAB, 0xFE, 0xFF, 0xFF, 0xFF})),
    row_name<RequestRow>);

// The value read for a parameter of `size` bytes, from 0xDEADBEEF.
Decoder get_p1(uint8_t size) {
  return into(0xDEADBEEFu,
              [size](const Packet& p, uint32_t& v) { return decode_get_num_cfg_p1(p, size, v); });
}
Decoder get_p2(uint8_t size) {
  return into(0xDEADBEEFu,
              [size](const Packet& p, uint32_t& v) { return decode_get_num_cfg_p2(p, size, v); });
}
Decoder set_p1 = status_only(decode_set_num_cfg_p1);
Decoder set_p2 = status_only(decode_set_num_cfg_p2);

INSTANTIATE_TEST_SUITE_P(
    NumCfg, CodecAnswer,
    testing::Values(AnswerRow("GetP1TwoBytes", 0, {0x01, 0x05, 0x2A}, get_p1(2), 1, "10757"),
                    AnswerRow("GetP2TwoBytes", 1, {0x05, 0x2A}, get_p2(2), 1, "10757"),
                    AnswerRow("GetP1RefusedReturnsResultByte", 0, {0x00, 0x05, 0x2A}, get_p1(2), 0,
                              "0"),
                    AnswerRow("GetP1EmptyIsShort", 0, {}, get_p1(2), 1029, "0"),
                    AnswerRow("GetP1OneByte", 0, {0x01, 0xFE, 0x2A}, get_p1(1), 1, "254"),
                    AnswerRow("GetP1ValueCutShort", 0, {0x01, 0x05}, get_p1(2), 1029, "0"),
                    AnswerRow("GetP1SizeFourRefusedAfterAnswer", 0, {0x01, 0x05, 0x2A, 0x00, 0x00},
                              get_p1(4), 1037, "0"),
                    AnswerRow("GetP2RefusedPassesStatus", 9, {0x05, 0x2A}, get_p2(2), 9, "0"),
                    AnswerRow("GetP2OneByte", 1, {0x80}, get_p2(1), 1, "128"),
                    AnswerRow("GetP2Empty", 1, {}, get_p2(1), 1029, "0"),
                    AnswerRow("GetP2SizeZeroRefused", 1, {0x05, 0x2A}, get_p2(0), 1037, "0"),
                    AnswerRow("SetP1Refused", 0, {0x00}, set_p1, 0, ""),
                    AnswerRow("SetP1Empty", 0, {}, set_p1, 1029, ""),
                    AnswerRow("SetP1Done", 0, {0x01, 0x00}, set_p1, 1, ""),
                    AnswerRow("SetP1OtherByte", 0, {0x06}, set_p1, 6, ""),
                    AnswerRow("SetP2Done", 1, {}, set_p2, 1, ""),
                    AnswerRow("SetP2Refused", 17, {}, set_p2, 17, "")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
