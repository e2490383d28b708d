// Golden-byte tests of the file codecs.
#include "commands/files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/aux.h"
#include "commands/codec_test_support.h"
#include "vedodiroz.h"

namespace nax {
namespace {

using namespace codec_test;

Bytes with_nul(const std::string& text) {
  Bytes out(text.begin(), text.end());
  out.push_back(0);
  return out;
}

const std::string kName507(507, 'f');
const std::string kName508(508, 'f');
const std::string kName510(510, 'f');
const std::string kName511(511, 'f');
const Bytes kChunk512(512, 0x5A);
const Bytes kChunk513(513, 0x5A);

struct RequestCase {
  std::string name;
  uint32_t (*encode)(Packet&);
  uint32_t status;
  uint16_t cmd;
  Bytes data;
};

class FileRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(FileRequest, EncodesGoldenBytes) {
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
    File, FileRequest,
    testing::Values(
        // Flags, name and NUL: 4 + 507 + 1 = 512 bytes, all a node accepts.
        RequestCase{"Open507CharName512Bytes",
                    [](Packet& r) { return encode_fopen_p2(r, kName507.c_str(), 0); }, 1, 0x8070,
                    cat({{0, 0, 0, 0}, with_nul(kName507)})},
        RequestCase{"Open508CharName513Bytes",
                    [](Packet& r) { return encode_fopen_p2(r, kName508.c_str(), 0); }, 1, 0x8070,
                    cat({{0, 0, 0, 0}, with_nul(kName508)})},
        // The longest name: 4 + 510 + 1 = 515 data bytes.
        RequestCase{"Open510CharName515Bytes",
                    [](Packet& r) { return encode_fopen_p2(r, kName510.c_str(), 7); }, 1, 0x8070,
                    cat({{7, 0, 0, 0}, with_nul(kName510)})},
        RequestCase{"Open511CharNameRefused",
                    [](Packet& r) { return encode_fopen_p2(r, kName511.c_str(), 0); },
                    1037,
                    0,
                    {}},
        RequestCase{"OpenEmptyNameIsOneZero",
                    [](Packet& r) { return encode_fopen_p2(r, "", 0x01020304); }, 1, 0x8070,
                    Bytes{0x04, 0x03, 0x02, 0x01, 0x00}},
        RequestCase{"OpenFlagsThenName",
                    [](Packet& r) { return encode_fopen_p2(r, "a.txt", 0x01020304); }, 1, 0x8070,
                    cat({{0x04, 0x03, 0x02, 0x01}, with_nul("a.txt")})},
        RequestCase{"Del510CharName", [](Packet& r) { return encode_fdel_p2(r, kName510.c_str()); },
                    1, 0x8074, with_nul(kName510)},
        RequestCase{"Del511CharNameRefused",
                    [](Packet& r) { return encode_fdel_p2(r, kName511.c_str()); },
                    1037,
                    0,
                    {}},
        RequestCase{"DelEmptyName", [](Packet& r) { return encode_fdel_p2(r, ""); }, 1, 0x8074,
                    Bytes{0x00}},
        RequestCase{"ReadLen", [](Packet& r) { return ok(encode_fread_p2, r, 256); }, 1, 0x8071,
                    Bytes{0x00, 0x01, 0x00, 0x00}},
        RequestCase{"WriteLen0NoData",
                    [](Packet& r) {
                      const uint8_t byte = 1;
                      return encode_fwrite_p2(r, &byte, 0);
                    },
                    1, 0x8072, Bytes{}},
        RequestCase{"Write512",
                    [](Packet& r) { return encode_fwrite_p2(r, kChunk512.data(), 512); }, 1, 0x8072,
                    kChunk512},
        RequestCase{"Write513Refused",
                    [](Packet& r) { return encode_fwrite_p2(r, kChunk513.data(), 513); },
                    1037,
                    0,
                    {}},
        RequestCase{"CloseNoData", [](Packet& r) { return ok(encode_fclose_p2, r); }, 1, 0x8073,
                    Bytes{}}),
    case_name<RequestCase>);

struct ReadAnswerCase {
  std::string name;
  Packet answer;
  uint32_t len;
  uint32_t status;
  uint32_t read_bytes;
  bool copied;
};

class FileReadAnswer : public testing::TestWithParam<ReadAnswerCase> {};

TEST_P(FileReadAnswer, CopiesOnlyWhatFits) {
  const ReadAnswerCase& c = GetParam();
  Bytes buffer(c.len + 1, 0xEE);
  uint32_t read_bytes = 0xDEAD;
  EXPECT_EQ(decode_fread_p2(c.answer, buffer.data(), c.len, read_bytes), c.status);
  EXPECT_EQ(read_bytes, c.read_bytes);
  Bytes expected(buffer.size(), 0xEE);
  if (c.copied) std::memcpy(expected.data(), c.answer.data, c.answer.size);
  EXPECT_EQ(buffer, expected);
}

Bytes pattern(std::size_t n) {
  Bytes out(n);
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(i);
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    File, FileReadAnswer,
    testing::Values(
        ReadAnswerCase{"Answer300ToLen256", answer_of(1, pattern(300)), 256, 1029, 300, false},
        ReadAnswerCase{"RefusedKeepsReadBytes", answer_of(5, pattern(10)), 256, 5, 0xDEAD, false},
        ReadAnswerCase{"EmptyAnswer", answer_of(1, {}), 256, 1, 0, false},
        ReadAnswerCase{"Chunk", answer_of(1, pattern(10)), 256, 1, 10, true},
        ReadAnswerCase{"ExactlyLen", answer_of(1, pattern(256)), 256, 1, 256, true}),
    case_name<ReadAnswerCase>);

struct U32AnswerCase {
  std::string name;
  Packet answer;
  uint32_t status;
  uint32_t value;
};

class FileSizeAndCrcAnswer : public testing::TestWithParam<U32AnswerCase> {};

TEST_P(FileSizeAndCrcAnswer, WritesTheValueOnlyOnSuccess) {
  const U32AnswerCase& c = GetParam();
  uint32_t fsize = 0xDEAD;
  uint32_t crc32 = 0xDEAD;
  EXPECT_EQ(decode_fopen_p2(c.answer, fsize), c.status);
  EXPECT_EQ(decode_status_and_u32_p2(c.answer, crc32), c.status);
  EXPECT_EQ(fsize, c.value);
  EXPECT_EQ(crc32, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    File, FileSizeAndCrcAnswer,
    testing::Values(U32AnswerCase{"TwoBytesIsShort", answer_of(1, {0x01, 0x02}), 1029, 0xDEAD},
                    U32AnswerCase{"Value", answer_of(1, {0x26, 0x39, 0xF4, 0xCB}), 1, 0xCBF43926},
                    U32AnswerCase{"Refused", answer_of(4, {0x01, 0x02, 0x03, 0x04}), 4, 0xDEAD}),
    case_name<U32AnswerCase>);

}  // namespace
}  // namespace nax
