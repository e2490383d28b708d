// Golden-byte tests of the file codecs.
#include "commands/files.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

Bytes with_nul(const std::string& text) {
  return cat({Bytes(text.begin(), text.end()), {0}});
}

const std::string kName507(507, 'f');
const std::string kName508(508, 'f');
const std::string kName510(510, 'f');
const std::string kName511(511, 'f');
const Bytes kChunk512(512, 0x5A);
const Bytes kChunk513(513, 0x5A);

INSTANTIATE_TEST_SUITE_P(
    File, CodecRequest,
    testing::Values(
        // Flags, name and NUL: 4 + 507 + 1 = 512 bytes, all a node accepts.
        RequestRow("Open507CharName512Bytes", CALL(encode_fopen_p2(r, kName507.c_str(), 0)), 1,
                   0x8070, cat({{0, 0, 0, 0}, with_nul(kName507)})),
        RequestRow("Open508CharName513Bytes", CALL(encode_fopen_p2(r, kName508.c_str(), 0)), 1,
                   0x8070, cat({{0, 0, 0, 0}, with_nul(kName508)})),
        // The longest name: 4 + 510 + 1 = 515 data bytes.
        RequestRow("Open510CharName515Bytes", CALL(encode_fopen_p2(r, kName510.c_str(), 7)), 1,
                   0x8070, cat({{7, 0, 0, 0}, with_nul(kName510)})),
        RequestRow("Open511CharNameRefused", CALL(encode_fopen_p2(r, kName511.c_str(), 0)), 1037, 0,
                   {}),
        RequestRow("OpenEmptyNameIsOneZero", CALL(encode_fopen_p2(r, "", 0x01020304)), 1, 0x8070,
                   {0x04, 0x03, 0x02, 0x01, 0x00}),
        RequestRow("OpenFlagsThenName", CALL(encode_fopen_p2(r, "a.txt", 0x01020304)), 1, 0x8070,
                   cat({{0x04, 0x03, 0x02, 0x01}, with_nul("a.txt")})),
        RequestRow("Del510CharName", CALL(encode_fdel_p2(r, kName510.c_str())), 1, 0x8074,
                   with_nul(kName510)),
        RequestRow("Del511CharNameRefused", CALL(encode_fdel_p2(r, kName511.c_str())), 1037, 0, {}),
        RequestRow("DelEmptyName", CALL(encode_fdel_p2(r, "")), 1, 0x8074, {0x00}),
        RequestRow("ReadLen", CALL(encode_fread_p2(r, 256)), 1, 0x8071, {0x00, 0x01, 0x00, 0x00}),
        RequestRow("WriteLen0NoData",
                   [](Packet& r) {
                     const uint8_t byte = 1;
                     return encode_fwrite_p2(r, &byte, 0);
                   },
                   1, 0x8072, {}),
        RequestRow("Write512", CALL(encode_fwrite_p2(r, kChunk512.data(), 512)), 1, 0x8072,
                   kChunk512),
        RequestRow("Write513Refused", CALL(encode_fwrite_p2(r, kChunk513.data(), 513)), 1037, 0,
                   {}),
        RequestRow("CloseNoData", encode_fclose_p2, 1, 0x8073, {})),
    row_name<RequestRow>);

Bytes pattern(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i);
  return out;
}

// The byte count read into a buffer of `len` (one byte past it as a guard),
// then whether the buffer holds the answer's data ("copied") or nothing ("untouched").
Decoder read(uint32_t len) {
  return [=](const Packet& p, std::string& out) {
    Bytes buffer(len + 1, 0xEE);
    uint32_t read_bytes = 0xDEAD;
    const uint32_t status = decode_fread_p2(p, buffer.data(), len, read_bytes);
    Bytes copied(buffer.size(), 0xEE);
    std::copy(p.data, p.data + std::min<std::size_t>(p.size, buffer.size()), copied.begin());
    out = show(read_bytes) + (buffer == copied                 ? " copied"
                              : buffer == Bytes(len + 1, 0xEE) ? " untouched"
                                                               : " changed");
    return status;
  };
}

Decoder size = into(0xDEADu, decode_fopen_p2);

INSTANTIATE_TEST_SUITE_P(
    File, CodecAnswer,
    testing::Values(
        AnswerRow("ReadAnswer300ToLen256", 1, pattern(300), read(256), 1029, "300 untouched"),
        AnswerRow("ReadRefusedKeepsReadBytes", 5, pattern(10), read(256), 5, "57005 untouched"),
        AnswerRow("ReadEmptyAnswer", 1, {}, read(256), 1, "0 copied"),
        AnswerRow("ReadChunk", 1, pattern(10), read(256), 1, "10 copied"),
        AnswerRow("ReadExactlyLen", 1, pattern(256), read(256), 1, "256 copied"),
        AnswerRow("SizeTwoBytesIsShort", 1, {0x01, 0x02}, size, 1029, "57005"),
        AnswerRow("SizeValue", 1, {0x26, 0x39, 0xF4, 0xCB}, size, 1, "3421780262"),
        AnswerRow("SizeRefused", 4, {0x01, 0x02, 0x03, 0x04}, size, 4, "57005")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
