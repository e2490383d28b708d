// Checksum values against known results.
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

}  // namespace
}  // namespace nax
