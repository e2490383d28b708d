// Golden-byte tests of the node administration codecs.
#include "commands/admin.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"
#include "vedodiroz.h"

namespace nax {
namespace {

using namespace codec_test;

Bytes text_bytes(const std::string& text, bool with_nul) {
  Bytes out(text.begin(), text.end());
  if (with_nul) out.push_back(0);
  return out;
}

const std::string kQuery511(511, 'q');
const std::string kQuery512(512, 'q');

struct RequestCase {
  std::string name;
  uint32_t (*encode)(Packet&);
  uint32_t status;
  uint16_t cmd;
  Bytes data;
};

class AdminRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(AdminRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  ASSERT_EQ(c.encode(request), c.status);
  if (c.status != NAX_OK) return;
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Admin, AdminRequest,
    testing::Values(
        RequestCase{"InfoQuery511CharsSize512",
                    [](Packet& r) { return encode_get_info_p2(r, kQuery511.c_str()); }, 1, 0x8030,
                    text_bytes(kQuery511, true)},
        RequestCase{"InfoQuery512CharsRefused",
                    [](Packet& r) { return encode_get_info_p2(r, kQuery512.c_str()); },
                    1037,
                    0,
                    {}},
        RequestCase{"InfoQuery512CharsRefusedP1",
                    [](Packet& r) { return encode_get_info_p1(r, kQuery512.c_str()); },
                    1037,
                    0,
                    {}},
        RequestCase{"InfoNullQueryRefused",
                    [](Packet& r) { return encode_get_info_p1(r, nullptr); },
                    1037,
                    0,
                    {}},
        RequestCase{"InfoP1", [](Packet& r) { return encode_get_info_p1(r, "model"); }, 1, 0x200E,
                    Bytes{'m', 'o', 'd', 'e', 'l', 0}},
        RequestCase{"InfoEmptyQueryIsItsNul", [](Packet& r) { return encode_get_info_p2(r, ""); },
                    1, 0x8030, Bytes{0}},
        RequestCase{"ResetDevice1SubMinus1P1",
                    [](Packet& r) { return ok(encode_reset_node_p1, r, 1, -1); }, 1, 0x001A,
                    Bytes{0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        RequestCase{"ResetDevice1SubMinus1P2",
                    [](Packet& r) { return ok(encode_reset_node_p2, r, 1, -1); }, 1, 0x8031,
                    Bytes{0x01, 0x00, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}},
        RequestCase{"BlockP1", [](Packet& r) { return ok(encode_block_node_p1, r, 0x5A); }, 1,
                    0x0030, Bytes{0x5A}},
        RequestCase{"BlockP2", [](Packet& r) { return ok(encode_block_node_p2, r, 0x5A); }, 1,
                    0x8032, Bytes{0x5A}},
        RequestCase{"FlushP1Table0", [](Packet& r) { return encode_flush_table_p1(r, 0); }, 1,
                    0x0004, Bytes{'5', '7', '1', '9'}},
        RequestCase{"FlushP1Table1", [](Packet& r) { return encode_flush_table_p1(r, 1); }, 1,
                    0x0005, Bytes{'5', '7', '1', '9'}},
        RequestCase{"FlushP1Table2Refused",
                    [](Packet& r) { return encode_flush_table_p1(r, 2); },
                    1037,
                    0,
                    {}},
        RequestCase{"FlushP2AnyTable", [](Packet& r) { return ok(encode_flush_table_p2, r, 7); }, 1,
                    0x8035, Bytes{0x07}},
        RequestCase{"DelRecordsP2",
                    [](Packet& r) { return ok(encode_del_records_p2, r, 3, 0x0102); }, 1, 0x8036,
                    Bytes{0x03, 0x02, 0x01}}),
    case_name<RequestCase>);

struct InfoAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
  std::string text;
};

class AdminInfoAnswer : public testing::TestWithParam<InfoAnswerCase> {};

TEST_P(AdminInfoAnswer, FillsTheAnswerText) {
  const InfoAnswerCase& c = GetParam();
  // One byte beyond the 512 the host provides, to see that nothing lands there.
  char text[kInfoTextCapacity + 1];
  std::memset(text, 'x', sizeof text);
  const uint32_t status =
      c.p1 ? decode_get_info_p1(c.answer, text) : decode_get_info_p2(c.answer, text);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(std::string(text), c.text);
  EXPECT_EQ(text[kInfoTextCapacity], 'x');
}

Bytes repeated(char c, std::size_t n) {
  return Bytes(n, static_cast<uint8_t>(c));
}

Bytes with_result(uint8_t result, const Bytes& rest) {
  Bytes out{result};
  out.insert(out.end(), rest.begin(), rest.end());
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Admin, AdminInfoAnswer,
    testing::Values(
        InfoAnswerCase{"P2Answer600BytesGives511", false, answer_of(1, repeated('a', 600)), 1,
                       std::string(511, 'a')},
        InfoAnswerCase{"P1ResultOkSize1IsEmpty", true, answer_of(0, {0x01}), 1, ""},
        InfoAnswerCase{"P1TextUpToNul", true,
                       answer_of(0, with_result(1, text_bytes("v1.2", true))), 1, "v1.2"},
        InfoAnswerCase{"P1RefusedEmptiesText", true, answer_of(0, {0x03, 'a', 0}), 3, ""},
        InfoAnswerCase{"P1EmptyIsShort", true, answer_of(0, {}), 1029, ""},
        InfoAnswerCase{"P1NoNulCutAtDataEnd", true,
                       answer_of(0, with_result(1, text_bytes("serial123", false))), 1,
                       "serial123"},
        InfoAnswerCase{"P1Size513TextCutAt511", true,
                       answer_of(0, with_result(1, repeated('b', 512))), 1, std::string(511, 'b')},
        InfoAnswerCase{"P1Size514LeavesTextEmpty", true,
                       answer_of(0, with_result(1, repeated('b', 513))), 1, ""},
        InfoAnswerCase{"P2StatusOneNoData", false, answer_of(1, {}), 1, ""},
        InfoAnswerCase{"P2StatusPassedOnTextEmpty", false, answer_of(6, repeated('a', 4)), 6, ""},
        InfoAnswerCase{"P2CopiesUpToSize", false, answer_of(1, text_bytes("users=3", false)), 1,
                       "users=3"}),
    case_name<InfoAnswerCase>);

TEST(AdminInfoAnswer, NullAnswerBufferIsInvalid) {
  EXPECT_EQ(decode_get_info_p1(answer_of(0, {0x01, 'a', 0}), nullptr), 1037u);
  EXPECT_EQ(decode_get_info_p2(answer_of(1, {'a'}), nullptr), 1037u);
}

struct StatusCase {
  std::string name;
  Packet answer;
  uint32_t status;
};

class AdminBlockAnswer : public testing::TestWithParam<StatusCase> {};

TEST_P(AdminBlockAnswer, MapsTheErrorByte) {
  EXPECT_EQ(decode_block_answer_p1(GetParam().answer), GetParam().status);
}

INSTANTIATE_TEST_SUITE_P(Admin, AdminBlockAnswer,
                         testing::Values(StatusCase{"Error1IsInvalid", answer_of(0, {0x00, 0x01}),
                                                    1037},
                                         StatusCase{"Error7Is16", answer_of(0, {0x00, 0x07}), 16},
                                         StatusCase{"Done", answer_of(0, {0x01, 0x07}), 1},
                                         StatusCase{"NoErrorByte", answer_of(0, {0x00}), 1029},
                                         StatusCase{"Empty", answer_of(0, {}), 1029}),
                         case_name<StatusCase>);

struct DelRecordsCase {
  std::string name;
  Packet answer;
  uint32_t status;
  uint16_t records_deleted;
};

class AdminDelRecordsAnswer : public testing::TestWithParam<DelRecordsCase> {};

TEST_P(AdminDelRecordsAnswer, ReadsTheCount) {
  const DelRecordsCase& c = GetParam();
  uint16_t deleted = 0;
  EXPECT_EQ(decode_del_records_p2(c.answer, deleted), c.status);
  EXPECT_EQ(deleted, c.records_deleted);
}

INSTANTIATE_TEST_SUITE_P(
    Admin, AdminDelRecordsAnswer,
    testing::Values(DelRecordsCase{"Count", answer_of(1, {0x05, 0x01}), 1, 0x0105},
                    DelRecordsCase{"OneByteIsShort", answer_of(1, {0x05}), 1029, 0},
                    DelRecordsCase{"Refused", answer_of(4, {0x05, 0x01}), 4, 0}),
    case_name<DelRecordsCase>);

}  // namespace
}  // namespace nax
