// Checksum values against known results and against frames captured as golden bytes.
#include "proto/crc.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace nax {
namespace {

using Bytes = std::vector<uint8_t>;

struct CheckCase {
  std::string name;
  Bytes input;
  uint16_t crc16;
  uint8_t crc8;
  friend void PrintTo(const CheckCase& c, std::ostream* os) { *os << c.name; }
};

class CrcCheckValues : public testing::TestWithParam<CheckCase> {};

TEST_P(CrcCheckValues, MatchReference) {
  const CheckCase& c = GetParam();
  EXPECT_EQ(crc16(c.input.data(), c.input.size()), c.crc16);
  EXPECT_EQ(crc8(c.input.data(), c.input.size()), c.crc8);
}

INSTANTIATE_TEST_SUITE_P(
    Crc, CrcCheckValues,
    testing::Values(CheckCase{"Digits", Bytes{'1', '2', '3', '4', '5', '6', '7', '8', '9'}, 0x29B1,
                              0xA1},
                    CheckCase{"Empty", Bytes{}, 0xFFFF, 0x00},
                    CheckCase{"Zero", Bytes{0x00}, 0xE1F0, 0x00},
                    CheckCase{"AllOnes", Bytes{0xFF}, 0xFF00, 0x35},
                    CheckCase{"StartByte", Bytes{0x55}, 0xEBA0, 0xE4},
                    CheckCase{"LowAndHighBit", Bytes{0x01, 0x80}, 0xBFB6, 0x48}),
    [](const testing::TestParamInfo<CheckCase>& param) { return param.param.name; });

TEST(Crc16, SeedContinuesAnEarlierRun) {
  const Bytes digits{'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  for (std::size_t split = 0; split <= digits.size(); ++split) {
    const uint16_t head = crc16(digits.data(), split);
    EXPECT_EQ(crc16(digits.data() + split, digits.size() - split, head), 0x29B1) << split;
  }
}

struct FrameCase {
  std::string name;
  Bytes frame;
  friend void PrintTo(const FrameCase& c, std::ostream* os) { *os << c.name; }
};

const std::vector<FrameCase> kP1Frames = {
    {"P1Empty", {0x34, 0x12, 0x01, 0x00, 0x00, 0x22, 0x21, 0x02, 0x01, 0x7F, 0x67}},
    {"P1Keepalive", {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x23, 0x2E, 0x00, 0x30, 0x00, 0x34, 0x31}},
    {"P1OddSeqAndHighNibble",
     {0x01, 0x00, 0x09, 0x00, 0xC3, 0xF4, 0xAF, 0x05, 0x01, 0xAA, 0xBB, 0xFD, 0xD7}},
};

const std::vector<FrameCase> kP2Frames = {
    {"P2Keepalive", {0x55, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x82, 0x00, 0x00, 0x00, 0x00, 0x50, 0x8C}},
    {"P2Answer",
     {0x55, 0x01, 0x00, 0x03, 0x00, 0x30, 0x01, 0x01, 0x01, 0x03, 0x00, 0x11, 0x22, 0x33, 0x5A,
      0x4D}},
};

std::string frame_name(const testing::TestParamInfo<FrameCase>& info) {
  return info.param.name;
}

class CrcTrailer : public testing::TestWithParam<FrameCase> {};

// Every frame ends with the little-endian CRC-16 of the bytes before it.
TEST_P(CrcTrailer, IsCrc16OfTheRest) {
  const Bytes& f = GetParam().frame;
  const std::size_t covered = f.size() - 2;
  EXPECT_EQ(crc16(f.data(), covered), f[covered] | (f[covered + 1] << 8));
}

INSTANTIATE_TEST_SUITE_P(P1, CrcTrailer, testing::ValuesIn(kP1Frames), frame_name);
INSTANTIATE_TEST_SUITE_P(P2, CrcTrailer, testing::ValuesIn(kP2Frames), frame_name);

class CrcP1Header : public testing::TestWithParam<FrameCase> {};

TEST_P(CrcP1Header, WholeHeaderLeavesCheckValue) {
  const Bytes& f = GetParam().frame;
  EXPECT_EQ(crc8(f.data(), 7), 0x35);
  EXPECT_EQ(static_cast<uint8_t>(~crc8(f.data(), 6)), f[6]);
}

INSTANTIATE_TEST_SUITE_P(P1, CrcP1Header, testing::ValuesIn(kP1Frames), frame_name);

}  // namespace
}  // namespace nax
