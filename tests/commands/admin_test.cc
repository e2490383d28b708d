// Golden-byte tests of the node administration codecs.
#include "commands/admin.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

Bytes text_bytes(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

const std::string kQuery511(511, 'q');
const std::string kQuery512(512, 'q');

INSTANTIATE_TEST_SUITE_P(
    Admin, CodecRequest,
    testing::Values(
        RequestRow("InfoQuery511CharsSize512", CALL(encode_get_info_p2(r, kQuery511.c_str())), 1,
                   0x8030, cat({text_bytes(kQuery511), {0}})),
        RequestRow("InfoQuery512CharsRefused", CALL(encode_get_info_p2(r, kQuery512.c_str())), 1037,
                   0, {}),
        RequestRow("InfoQuery512CharsRefusedP1", CALL(encode_get_info_p1(r, kQuery512.c_str())),
                   1037, 0, {}),
        RequestRow("InfoNullQueryRefused", CALL(encode_get_info_p1(r, nullptr)), 1037, 0, {}),
        RequestRow("InfoP1", CALL(encode_get_info_p1(r, "model")), 1, 0x200E,
                   {'m', 'o', 'd', 'e', 'l', 0}),
        RequestRow("InfoEmptyQueryIsItsNul", CALL(encode_get_info_p2(r, "")), 1, 0x8030, {0}),
        RequestRow("ResetDevice1SubMinus1P1", CALL(encode_reset_node_p1(r, 1, -1)), 1, 0x001A,
                   {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),
        RequestRow("ResetDevice1SubMinus1P2", CALL(encode_reset_node_p2(r, 1, -1)), 1, 0x8031,
                   {0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}),
        RequestRow("BlockP1", CALL(encode_block_node_p1(r, 0x5A)), 1, 0x0030, {0x5A}),
        RequestRow("BlockP2", CALL(encode_block_node_p2(r, 0x5A)), 1, 0x8032, {0x5A}),
        RequestRow("FlushP1Table0", CALL(encode_flush_table_p1(r, 0)), 1, 0x0004,
                   {'5', '7', '1', '9'}),
        RequestRow("FlushP1Table1", CALL(encode_flush_table_p1(r, 1)), 1, 0x0005,
                   {'5', '7', '1', '9'}),
        RequestRow("FlushP1Table2Refused", CALL(encode_flush_table_p1(r, 2)), 1037, 0, {}),
        RequestRow("FlushP2AnyTable", CALL(encode_flush_table_p2(r, 7)), 1, 0x8035, {0x07}),
        RequestRow("DelRecordsP2", CALL(encode_del_records_p2(r, 3, 0x0102)), 1, 0x8036,
                   {0x03, 0x02, 0x01})),
    row_name<RequestRow>);

// The answer text, and "overrun" if anything landed past the 512 bytes the host provides.
template <typename Decode>
Decoder info(Decode decode) {
  return [=](const Packet& p, std::string& out) {
    char text[kInfoTextCapacity + 1];
    std::memset(text, 'x', sizeof text);
    const uint32_t status = decode(p, text);
    out = std::string(text) + (text[kInfoTextCapacity] == 'x' ? "" : " overrun");
    return status;
  };
}
Decoder info_p1 = info(decode_get_info_p1);
Decoder info_p2 = info(decode_get_info_p2);
Decoder block = status_only(decode_block_answer_p1);
Decoder del_records = into(uint16_t{0}, decode_del_records_p2);

Bytes repeated(char c, std::size_t n) {
  return Bytes(n, static_cast<uint8_t>(c));
}

INSTANTIATE_TEST_SUITE_P(
    Admin, CodecAnswer,
    testing::Values(
        AnswerRow("InfoP2Answer600BytesGives511", 1, repeated('a', 600), info_p2, 1,
                  std::string(511, 'a')),
        AnswerRow("InfoP1ResultOkSize1IsEmpty", 0, {0x01}, info_p1, 1, ""),
        AnswerRow("InfoP1TextUpToNul", 0, {0x01, 'v', '1', '.', '2', 0}, info_p1, 1, "v1.2"),
        AnswerRow("InfoP1RefusedEmptiesText", 0, {0x03, 'a', 0}, info_p1, 3, ""),
        AnswerRow("InfoP1EmptyIsShort", 0, {}, info_p1, 1029, ""),
        AnswerRow("InfoP1NoNulCutAtDataEnd", 0, cat({{0x01}, text_bytes("serial123")}), info_p1, 1,
                  "serial123"),
        AnswerRow("InfoP1Size513TextCutAt511", 0, cat({{0x01}, repeated('b', 512)}), info_p1, 1,
                  std::string(511, 'b')),
        AnswerRow("InfoP1Size514LeavesTextEmpty", 0, cat({{0x01}, repeated('b', 513)}), info_p1, 1,
                  ""),
        AnswerRow("InfoP2StatusOneNoData", 1, {}, info_p2, 1, ""),
        AnswerRow("InfoP2StatusPassedOnTextEmpty", 6, repeated('a', 4), info_p2, 6, ""),
        AnswerRow("InfoP2CopiesUpToSize", 1, text_bytes("users=3"), info_p2, 1, "users=3"),
        AnswerRow("InfoP1NullBufferIsInvalid", 0, {0x01, 'a', 0},
                  status_only([](const Packet& p) { return decode_get_info_p1(p, nullptr); }), 1037,
                  ""),
        AnswerRow("InfoP2NullBufferIsInvalid", 1, {'a'},
                  status_only([](const Packet& p) { return decode_get_info_p2(p, nullptr); }), 1037,
                  ""),
        AnswerRow("BlockError1IsInvalid", 0, {0x00, 0x01}, block, 1037, ""),
        AnswerRow("BlockError7Is16", 0, {0x00, 0x07}, block, 16, ""),
        AnswerRow("BlockDone", 0, {0x01, 0x07}, block, 1, ""),
        AnswerRow("BlockNoErrorByte", 0, {0x00}, block, 1029, ""),
        AnswerRow("BlockEmpty", 0, {}, block, 1029, ""),
        AnswerRow("DelRecordsCount", 1, {0x05, 0x01}, del_records, 1, "261"),
        AnswerRow("DelRecordsOneByteIsShort", 1, {0x05}, del_records, 1029, "0"),
        AnswerRow("DelRecordsRefused", 4, {0x05, 0x01}, del_records, 4, "0")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
