// Golden-byte tests of the biometric template codecs.
#include "commands/templates.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

Bytes pattern(std::size_t n, uint8_t seed) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7);
  return out;
}

const Bytes kTemplate = pattern(kTemplateSize, 3);
// sensor 0x0102, access 0x0A0B0C0D, template 3.
const Bytes kIdsP2 = {0x02, 0x01, 0x0D, 0x0C, 0x0B, 0x0A, 0x03};

uint32_t write_of(Packet& r, uint32_t length) {
  const Bytes data = pattern(length, 9);
  return encode_write_template_p2(r, 0x0102, 0x0A0B0C0D, 3, data.data(), length);
}

INSTANTIATE_TEST_SUITE_P(
    Template, CodecRequest,
    testing::Values(
        RequestRow("Write385Refused", CALL(write_of(r, 385)), 1037, 0, {}),
        RequestRow("Write384Sends391", CALL(write_of(r, 384)), 1, 0x8020,
                   cat({kIdsP2, pattern(384, 9)})),
        RequestRow("Write0SendsIdentifiersOnly", CALL(write_of(r, 0)), 1, 0x8020, kIdsP2),
        RequestRow("WriteNullTemplateSendsIdentifiersOnly",
                   CALL(encode_write_template_p2(r, 0x0102, 0x0A0B0C0D, 3, nullptr, 10)), 1, 0x8020,
                   kIdsP2),
        RequestRow("ReadP1AccessIdBcd", CALL(encode_read_template_p1(r, 87654321, 2)), 1, 0x0016,
                   {0x87, 0x65, 0x43, 0x21, 0x02}),
        RequestRow("ReadP1AccessIdLowEightDigits", CALL(encode_read_template_p1(r, 100000005, 2)),
                   1, 0x0016, {0x00, 0x00, 0x00, 0x05, 0x02}),
        RequestRow("ReadP2", CALL(encode_read_template_p2(r, 0x0102, 0x0A0B0C0D, 3)), 1, 0x8021,
                   kIdsP2),
        RequestRow("DelP2", CALL(encode_del_template_p2(r, 0x0102, 0x0A0B0C0D, 3)), 1, 0x8022,
                   kIdsP2),
        RequestRow("FlushP2", CALL(encode_flush_templates_p2(r, 0x0304)), 1, 0x8023, {0x04, 0x03})),
    row_name<RequestRow>);

std::string show_echo(const TemplateEcho& e) {
  return show(e.sensor_id, e.access_id, e.template_id);
}
const TemplateEcho kNoEcho{0xFFFF, 0xFFFFFFFF, 0xFF};
const std::string kEchoP2Shown = "258 168496141 3";

// The echo (read only on success), then whether the buffer of `capacity` (and one byte past it)
// holds the whole template ("template"), nothing ("untouched") or anything else.
template <typename Decode>
Decoder read(uint32_t capacity, Decode decode) {
  return [=](const Packet& p, std::string& out) {
    Bytes buffer(capacity + 1, 0xEE);
    TemplateEcho echo = kNoEcho;
    const uint32_t status = decode(p, echo, buffer.data(), capacity);
    std::string copied = "changed";
    if (buffer == Bytes(buffer.size(), 0xEE)) copied = "untouched";
    if (buffer == cat({kTemplate, Bytes(buffer.size() - kTemplateSize, 0xEE)})) copied = "template";
    out = (status == NAX_OK ? show_echo(echo) + " " : "") + copied;
    return status;
  };
}
auto read_p1 = [](uint32_t capacity) { return read(capacity, decode_read_template_p1); };
auto read_p2 = [](uint32_t capacity) { return read(capacity, decode_read_template_p2); };

const Bytes kP1Done = cat({{0x01, 0x87, 0x65, 0x43, 0x21, 0x02}, kTemplate});
const Bytes kP2Done = cat({kIdsP2, kTemplate});
Decoder echo = [](const Packet& p, std::string& out) {
  TemplateEcho e = kNoEcho;
  const uint32_t status = decode_template_echo_p2(p, e);
  if (status == NAX_OK) out = show_echo(e);
  return status;
};
Decoder flush = into(uint16_t{0}, decode_flush_templates_p2);

INSTANTIATE_TEST_SUITE_P(
    Template, CodecAnswer,
    testing::Values(
        AnswerRow("ReadP2Capacity383IsShortBufferUntouched", 1, kP2Done, read_p2(383), 1029,
                  "untouched"),
        AnswerRow("ReadP2Only390BytesIsShort", 1, head(kP2Done, 390), read_p2(384), 1029,
                  "untouched"),
        AnswerRow("ReadP2Whole", 1, kP2Done, read_p2(384), 1, kEchoP2Shown + " template"),
        AnswerRow("ReadP2LargerBufferGetsExactly384", 1, kP2Done, read_p2(500), 1,
                  kEchoP2Shown + " template"),
        AnswerRow("ReadP2StatusWinsOverShortEcho", 6, {0x02}, read_p2(384), 6, "untouched"),
        AnswerRow("ReadP1Error3Is10", 0, {0x00, 0x03}, read_p1(384), 10, "untouched"),
        AnswerRow("ReadP1Error9Is11", 0, {0x00, 0x09}, read_p1(384), 11, "untouched"),
        AnswerRow("ReadP1Error2Is12", 0, {0x00, 0x02}, read_p1(384), 12, "untouched"),
        AnswerRow("ReadP1Error7Is16", 0, {0x00, 0x07}, read_p1(384), 16, "untouched"),
        AnswerRow("ReadP1RefusedWithoutErrorByte", 0, {0x00}, read_p1(384), 1029, "untouched"),
        AnswerRow("ReadP1Done", 0, kP1Done, read_p1(384), 1, "0 87654321 2 template"),
        AnswerRow("ReadP1NibbleAbove9CountsZero", 0,
                  cat({{0x01, 0xA7, 0x65, 0x43, 0x21, 0x02}, kTemplate}), read_p1(384), 1,
                  "0 7654321 2 template"),
        AnswerRow("ReadP1Capacity383", 0, kP1Done, read_p1(383), 1029, "untouched"),
        AnswerRow("ReadP1EndsInsideBlock", 0, head(kP1Done, kP1Done.size() - 1), read_p1(384), 1029,
                  "untouched"),
        AnswerRow("EchoWhole", 1, kIdsP2, echo, 1, kEchoP2Shown),
        AnswerRow("EchoSixBytesIsShort", 1, head(kIdsP2, 6), echo, 1029, ""),
        AnswerRow("EchoRefused", 3, {}, echo, 3, ""),
        AnswerRow("FlushReadsTheSensor", 1, {0x04, 0x03}, flush, 1, "772"),
        AnswerRow("FlushOneByteIsShort", 1, {0x04}, flush, 1029, "0"),
        AnswerRow("FlushRefused", 5, {}, flush, 5, "0")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
