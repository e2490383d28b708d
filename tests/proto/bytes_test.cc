// The bounds the get helpers enforce, and what a null put writes.
#include "proto/bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace nax {
namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t kOk = 1;
constexpr uint32_t kShort = 1029;

const uint8_t kData[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};

struct GetCase {
  std::string name;
  int width;  // 1, 2 or 4
  uint16_t position, size;
  uint32_t status;
  uint32_t value;  // checked on success
  friend void PrintTo(const GetCase& c, std::ostream* os) { *os << c.name; }
};

class GetNumber : public testing::TestWithParam<GetCase> {};

TEST_P(GetNumber, ReadsLittleEndianWithinSize) {
  const GetCase& c = GetParam();
  uint16_t position = c.position;
  uint32_t value = 0xDEADBEEF;
  uint32_t status = 0;
  if (c.width == 1) {
    uint8_t v = 0;
    status = get_u8(&v, kData, position, c.size);
    value = v;
  } else if (c.width == 2) {
    uint16_t v = 0;
    status = get_u16(&v, kData, position, c.size);
    value = v;
  } else {
    status = get_u32(&value, kData, position, c.size);
  }
  ASSERT_EQ(status, c.status);
  if (status == kOk) {
    EXPECT_EQ(value, c.value);
    EXPECT_EQ(position, c.position + c.width);
  } else {
    EXPECT_EQ(position, c.position);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, GetNumber,
    testing::Values(GetCase{"U8LastByte", 1, 7, 8, kOk, 0x08},
                    GetCase{"U8AtSize", 1, 8, 8, kShort, 0},
                    GetCase{"U8EmptyData", 1, 0, 0, kShort, 0},
                    GetCase{"U16First", 2, 0, 8, kOk, 0x0201},
                    GetCase{"U16EndsAtSize", 2, 6, 8, kOk, 0x0807},
                    GetCase{"U16OneBytePastSize", 2, 7, 8, kShort, 0},
                    GetCase{"U16SizeSmallerThanBuffer", 2, 2, 3, kShort, 0},
                    GetCase{"U16PositionNearWrap", 2, 0xFFFF, 0xFFFF, kShort, 0},
                    GetCase{"U32EndsAtSize", 4, 4, 8, kOk, 0x08070605},
                    GetCase{"U32OneBytePastSize", 4, 5, 8, kShort, 0},
                    GetCase{"U32PositionNearWrap", 4, 0xFFFE, 0xFFFF, kShort, 0}),
    [](const testing::TestParamInfo<GetCase>& param) { return param.param.name; });

struct GetBytesCase {
  std::string name;
  uint32_t count, capacity;
  uint16_t position, size;
  uint32_t status;
  Bytes copied;  // checked on success
  friend void PrintTo(const GetBytesCase& c, std::ostream* os) { *os << c.name; }
};

class GetBytes : public testing::TestWithParam<GetBytesCase> {};

TEST_P(GetBytes, CopiesWithinSizeAndCapacity) {
  const GetBytesCase& c = GetParam();
  Bytes out(8, 0xEE);
  ASSERT_EQ(get_bytes(out.data(), c.count, c.capacity, kData, c.position, c.size), c.status);
  if (c.status == kOk) {
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.count), c.copied);
    EXPECT_TRUE(std::all_of(out.begin() + c.count, out.end(), [](uint8_t b) { return b == 0xEE; }));
  } else {
    EXPECT_EQ(out, Bytes(8, 0xEE));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, GetBytes,
    testing::Values(GetBytesCase{"UpToSize", 3, 8, 5, 8, kOk, {0x06, 0x07, 0x08}},
                    GetBytesCase{"OnePastSize", 4, 8, 5, 8, kShort, {}},
                    GetBytesCase{"CountIsCapacity", 2, 2, 0, 8, kOk, {0x01, 0x02}},
                    GetBytesCase{"CountAboveCapacity", 3, 2, 0, 8, kShort, {}},
                    GetBytesCase{"NothingAtTheEnd", 0, 0, 8, 8, kOk, {}},
                    GetBytesCase{"CountNearWrap", 0xFFFFFFFF, 0xFFFFFFFF, 1, 8, kShort, {}}),
    [](const testing::TestParamInfo<GetBytesCase>& param) { return param.param.name; });

TEST(PutBytes, NullCursorOrSourceWritesNothing) {
  uint8_t buffer[4] = {};
  const uint8_t source[] = {9, 8, 7};
  uint8_t* cursor = buffer;
  EXPECT_EQ(put_bytes(cursor, nullptr, 3), 0u);
  EXPECT_EQ(cursor, buffer);
  uint8_t* null_cursor = nullptr;
  EXPECT_EQ(put_bytes(null_cursor, source, 3), 0u);
  EXPECT_EQ(null_cursor, nullptr);
  EXPECT_EQ(put_bytes(cursor, source, 3), 3u);
  EXPECT_EQ(cursor, buffer + 3);
  EXPECT_EQ(Bytes(buffer, buffer + 4), (Bytes{9, 8, 7, 0}));
}

}  // namespace
}  // namespace nax
