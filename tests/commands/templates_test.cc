// Golden-byte tests of the biometric template codecs.
#include "commands/templates.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"
#include "vedodiroz.h"

namespace nax {
namespace {

using namespace codec_test;

Bytes head(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + n);
}

Bytes pattern(std::size_t n, uint8_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
  return out;
}

const Bytes kTemplate = pattern(kTemplateSize, 3);
// sensor 0x0102, access 0x0A0B0C0D, template 3.
const Bytes kIdsP2 = {0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A, 0x03};

struct RequestCase {
  std::string name;
  uint32_t (*encode)(Packet&);
  uint32_t status;
  uint16_t cmd;
  Bytes data;
};

class TemplateRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(TemplateRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  ASSERT_EQ(c.encode(request), c.status);
  if (c.status != NAX_OK) return;
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

uint32_t write_of(Packet& r, uint32_t length) {
  const Bytes data = pattern(length, 9);
  return encode_write_template_p2(r, 0x0102, 0x0A0B0C0D, 3, data.data(), length);
}

INSTANTIATE_TEST_SUITE_P(
    Template, TemplateRequest,
    testing::Values(
        RequestCase{"Write385Refused", [](Packet& r) { return write_of(r, 385); }, 1037, 0, {}},
        RequestCase{"Write384Sends391", [](Packet& r) { return write_of(r, 384); }, 1, 0x8020,
                    cat({kIdsP2, pattern(384, 9)})},
        RequestCase{"Write0SendsIdentifiersOnly", [](Packet& r) { return write_of(r, 0); }, 1,
                    0x8020, kIdsP2},
        RequestCase{"WriteNullTemplateSendsIdentifiersOnly",
                    [](Packet& r) {
                      return encode_write_template_p2(r, 0x0102, 0x0A0B0C0D, 3, nullptr, 10);
                    },
                    1, 0x8020, kIdsP2},
        RequestCase{"ReadP1AccessIdBcd",
                    [](Packet& r) { return ok(encode_read_template_p1, r, 87654321, 2); }, 1,
                    0x0016, Bytes{0x87, 0x65, 0x43, 0x21, 0x02}},
        RequestCase{"ReadP1AccessIdLowEightDigits",
                    [](Packet& r) { return ok(encode_read_template_p1, r, 100000005, 2); }, 1,
                    0x0016, Bytes{0x00, 0x00, 0x00, 0x05, 0x02}},
        RequestCase{"ReadP2",
                    [](Packet& r) { return ok(encode_read_template_p2, r, 0x0102, 0x0A0B0C0D, 3); },
                    1, 0x8021, kIdsP2},
        RequestCase{"DelP2",
                    [](Packet& r) { return ok(encode_del_template_p2, r, 0x0102, 0x0A0B0C0D, 3); },
                    1, 0x8022, kIdsP2},
        RequestCase{"FlushP2", [](Packet& r) { return ok(encode_flush_templates_p2, r, 0x0304); },
                    1, 0x8023, Bytes{0x04, 0x03}}),
    case_name<RequestCase>);

struct ReadAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t capacity;
  uint32_t status;
  TemplateEcho echo;
  bool filled;  // the buffer holds kTemplate
};

class TemplateReadAnswer : public testing::TestWithParam<ReadAnswerCase> {};

TEST_P(TemplateReadAnswer, CopiesTheBlockOnlyWhole) {
  const ReadAnswerCase& c = GetParam();
  Bytes buffer(c.capacity + 1, 0xEE);
  TemplateEcho echo{0xFFFF, 0xFFFFFFFF, 0xFF};
  const uint32_t status = c.p1 ? decode_read_template_p1(c.answer, echo, buffer.data(), c.capacity)
                               : decode_read_template_p2(c.answer, echo, buffer.data(), c.capacity);
  EXPECT_EQ(status, c.status);
  if (status == NAX_OK) {
    EXPECT_EQ(echo.sensor_id, c.echo.sensor_id);
    EXPECT_EQ(echo.access_id, c.echo.access_id);
    EXPECT_EQ(echo.template_id, c.echo.template_id);
  }
  const Bytes expected = c.filled ? cat({kTemplate, Bytes(buffer.size() - kTemplateSize, 0xEE)})
                                  : Bytes(buffer.size(), 0xEE);
  EXPECT_EQ(buffer, expected);
}

const Bytes kP1Done = cat({{0x01, 0x87, 0x65, 0x43, 0x21, 0x02}, kTemplate});

INSTANTIATE_TEST_SUITE_P(
    Template, TemplateReadAnswer,
    testing::Values(
        ReadAnswerCase{"P2Capacity383IsShortBufferUntouched",
                       false,
                       answer_of(1, cat({kIdsP2, kTemplate})),
                       383,
                       1029,
                       {},
                       false},
        ReadAnswerCase{"P2Only390BytesIsShort",
                       false,
                       answer_of(1, head(cat({kIdsP2, kTemplate}), 390)),
                       384,
                       1029,
                       {},
                       false},
        ReadAnswerCase{"P2Whole",
                       false,
                       answer_of(1, cat({kIdsP2, kTemplate})),
                       384,
                       1,
                       {0x0102, 0x0A0B0C0D, 3},
                       true},
        ReadAnswerCase{"P2LargerBufferGetsExactly384",
                       false,
                       answer_of(1, cat({kIdsP2, kTemplate})),
                       500,
                       1,
                       {0x0102, 0x0A0B0C0D, 3},
                       true},
        ReadAnswerCase{"P2StatusWinsOverShortEcho", false, answer_of(6, {0x02}), 384, 6, {}, false},
        ReadAnswerCase{"P1Error3Is10", true, answer_of(0, {0x00, 0x03}), 384, 10, {}, false},
        ReadAnswerCase{"P1Error9Is11", true, answer_of(0, {0x00, 0x09}), 384, 11, {}, false},
        ReadAnswerCase{"P1Error2Is12", true, answer_of(0, {0x00, 0x02}), 384, 12, {}, false},
        ReadAnswerCase{"P1Error7Is16", true, answer_of(0, {0x00, 0x07}), 384, 16, {}, false},
        ReadAnswerCase{
            "P1RefusedWithoutErrorByte", true, answer_of(0, {0x00}), 384, 1029, {}, false},
        ReadAnswerCase{"P1Done", true, answer_of(0, kP1Done), 384, 1, {0, 87654321, 2}, true},
        ReadAnswerCase{"P1NibbleAbove9CountsZero",
                       true,
                       answer_of(0, cat({{0x01, 0xA7, 0x65, 0x43, 0x21, 0x02}, kTemplate})),
                       384,
                       1,
                       {0, 7654321, 2},
                       true},
        ReadAnswerCase{"P1Capacity383", true, answer_of(0, kP1Done), 383, 1029, {}, false},
        ReadAnswerCase{"P1EndsInsideBlock",
                       true,
                       answer_of(0, head(kP1Done, kP1Done.size() - 1)),
                       384,
                       1029,
                       {},
                       false}),
    case_name<ReadAnswerCase>);

struct EchoAnswerCase {
  std::string name;
  Packet answer;
  uint32_t status;
  TemplateEcho echo;
};

class TemplateEchoAnswer : public testing::TestWithParam<EchoAnswerCase> {};

TEST_P(TemplateEchoAnswer, ReadsTheEcho) {
  const EchoAnswerCase& c = GetParam();
  TemplateEcho echo{0xFFFF, 0xFFFFFFFF, 0xFF};
  EXPECT_EQ(decode_template_echo_p2(c.answer, echo), c.status);
  if (c.status == NAX_OK) {
    EXPECT_EQ(echo.sensor_id, c.echo.sensor_id);
    EXPECT_EQ(echo.access_id, c.echo.access_id);
    EXPECT_EQ(echo.template_id, c.echo.template_id);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Template, TemplateEchoAnswer,
    testing::Values(EchoAnswerCase{"Whole", answer_of(1, kIdsP2), 1, {0x0102, 0x0A0B0C0D, 3}},
                    EchoAnswerCase{"SixBytesIsShort", answer_of(1, head(kIdsP2, 6)), 1029, {}},
                    EchoAnswerCase{"Refused", answer_of(3, {}), 3, {}}),
    case_name<EchoAnswerCase>);

TEST(TemplateFlushAnswer, ReadsTheSensor) {
  uint16_t sensor = 0;
  EXPECT_EQ(decode_flush_templates_p2(answer_of(1, {0x04, 0x03}), sensor), 1u);
  EXPECT_EQ(sensor, 0x0304);
  EXPECT_EQ(decode_flush_templates_p2(answer_of(1, {0x04}), sensor), 1029u);
  EXPECT_EQ(decode_flush_templates_p2(answer_of(5, {}), sensor), 5u);
}

}  // namespace
}  // namespace nax
