// Golden-byte tests of the shared field codecs.
#include "commands/fields.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

// ---- packed-BCD byte ----

struct BcdByteCase {
  std::string name;
  uint8_t value;
  uint8_t wire;
};

class BcdByteToNode : public testing::TestWithParam<BcdByteCase> {};

TEST_P(BcdByteToNode, PacksTheFirstTwoDigits) {
  EXPECT_EQ(bcd_byte_to_node(GetParam().value), GetParam().wire);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, BcdByteToNode,
    testing::Values(BcdByteCase{"FiftyNine", 59, 0x59}, BcdByteCase{"Zero", 0, 0x00},
                    BcdByteCase{"OneDigit", 7, 0x07}, BcdByteCase{"NinetyNine", 99, 0x99},
                    BcdByteCase{"Hundred", 100, 0x10}, BcdByteCase{"ThreeDigits", 123, 0x12},
                    BcdByteCase{"Max", 255, 0x25}),
    case_name<BcdByteCase>);

class BcdByteFromNode : public testing::TestWithParam<BcdByteCase> {};

TEST_P(BcdByteFromNode, HighTimesTenPlusLow) {
  EXPECT_EQ(bcd_byte_from_node(GetParam().wire), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Fields, BcdByteFromNode,
                         testing::Values(BcdByteCase{"FiftyNine", 59, 0x59},
                                         BcdByteCase{"Zero", 0, 0x00},
                                         BcdByteCase{"NibblesUnchecked", 165, 0xFF},
                                         BcdByteCase{"LowNibbleTen", 10, 0x0A}),
                         case_name<BcdByteCase>);

// ---- 4- and 8-digit packed-BCD numbers ----

struct BcdNumberCase {
  std::string name;
  uint32_t value;
  Bytes wire;
  uint32_t read_back;
};

class Bcd4 : public testing::TestWithParam<BcdNumberCase> {};

TEST_P(Bcd4, WritesAndReadsBack) {
  const BcdNumberCase& c = GetParam();
  uint8_t out[2] = {0xEE, 0xEE};
  bcd4_to_node(c.value, out);
  EXPECT_EQ(Bytes(out, out + 2), c.wire);
  EXPECT_EQ(bcd4_from_node(c.wire.data()), c.read_back);
}

INSTANTIATE_TEST_SUITE_P(Fields, Bcd4,
                         testing::Values(BcdNumberCase{"FourDigits", 4321, {0x43, 0x21}, 4321},
                                         BcdNumberCase{"Zero", 0, {0x00, 0x00}, 0},
                                         BcdNumberCase{"KeepsLastFour", 12345, {0x23, 0x45}, 2345},
                                         BcdNumberCase{"MaxWord", 65535, {0x55, 0x35}, 5535},
                                         BcdNumberCase{"Leading", 7, {0x00, 0x07}, 7}),
                         case_name<BcdNumberCase>);

TEST(FieldsBcd4, NibbleAboveNineCountsAsZero) {
  const uint8_t wire[2] = {0xAB, 0x1F};
  EXPECT_EQ(bcd4_from_node(wire), 10u);
}

class Bcd8 : public testing::TestWithParam<BcdNumberCase> {};

TEST_P(Bcd8, WritesAndReadsBack) {
  const BcdNumberCase& c = GetParam();
  uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  bcd8_to_node(c.value, out);
  EXPECT_EQ(Bytes(out, out + 4), c.wire);
  EXPECT_EQ(bcd8_from_node(c.wire.data()), c.read_back);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, Bcd8,
    testing::Values(
        BcdNumberCase{"MaxDropsTopDigits", 4294967295u, {0x94, 0x96, 0x72, 0x95}, 94967295},
        BcdNumberCase{"Seven", 7, {0x00, 0x00, 0x00, 0x07}, 7},
        BcdNumberCase{"EightDigits", 87654321, {0x87, 0x65, 0x43, 0x21}, 87654321},
        BcdNumberCase{"HundredMillion", 100000000, {0x00, 0x00, 0x00, 0x00}, 0},
        BcdNumberCase{"Zero", 0, {0x00, 0x00, 0x00, 0x00}, 0}),
    case_name<BcdNumberCase>);

TEST(FieldsBcd8, NibbleAboveNineCountsAsZero) {
  const uint8_t wire[4] = {0xFA, 0x00, 0x00, 0x01};
  EXPECT_EQ(bcd8_from_node(wire), 1u);
}

// ---- protocol-2 date-time field ----

const nax_date_time kLeapEve = {23, 59, 58, 24, 2, 29, 4};

TEST(FieldsDateTime, WritesHourMinuteSecondDayMonthYearWeekday) {
  uint8_t buffer[16] = {};
  uint8_t* cursor = buffer;
  EXPECT_EQ(put_date_time(cursor, kLeapEve), kDateTimeFieldSize);
  EXPECT_EQ(cursor, buffer + 7);
  EXPECT_EQ(Bytes(buffer, buffer + 7), (Bytes{0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}));
}

TEST(FieldsDateTime, ReadsAllSevenBytes) {
  const Bytes wire{0xAA, 0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04};
  nax_date_time dt{};
  uint16_t position = 1;
  EXPECT_EQ(get_date_time(dt, wire.data(), position, static_cast<uint16_t>(wire.size())), 1u);
  EXPECT_EQ(position, 8);
  EXPECT_EQ(std::memcmp(&dt, &kLeapEve, sizeof dt), 0);
}

TEST(FieldsDateTime, ShortDataKeepsTheFieldsReadBeforeTheBreak) {
  const Bytes wire{0x17, 0x3B, 0x3A, 0x1D};
  nax_date_time dt = {100, 100, 100, 100, 100, 100, 100};
  uint16_t position = 0;
  EXPECT_EQ(get_date_time(dt, wire.data(), position, static_cast<uint16_t>(wire.size())), 1029u);
  EXPECT_EQ(dt.hour, 23);
  EXPECT_EQ(dt.minute, 59);
  EXPECT_EQ(dt.second, 58);
  EXPECT_EQ(dt.day, 29);
  EXPECT_EQ(dt.month, 100);
  EXPECT_EQ(dt.year, 100);
  EXPECT_EQ(dt.weekday, 100);
}

// ---- text field writer ----

struct TextWriteCase {
  std::string name;
  bool null_text;
  std::string text;
  std::size_t field_size;
  uint32_t flags;
  Bytes wire;
  std::string text_after;  // the caller's buffer up to its first NUL after the write
};

std::string repeat(char c, std::size_t n) {
  return std::string(n, c);
}

Bytes prefixed(const std::string& text) {
  Bytes b{static_cast<uint8_t>(text.size() + 1)};
  b.insert(b.end(), text.begin(), text.end());
  b.push_back(0);
  return b;
}

class TextWriter : public testing::TestWithParam<TextWriteCase> {};

TEST_P(TextWriter, WritesTheFieldAndSizesItAlike) {
  const TextWriteCase& c = GetParam();
  std::vector<char> buffer(512, 'Q');
  std::memcpy(buffer.data(), c.text.c_str(), c.text.size() + 1);
  char* text = c.null_text ? nullptr : buffer.data();
  const std::size_t expected_size = text_field_size(text, c.field_size, c.flags);

  std::vector<uint8_t> out(600, 0xEE);
  uint8_t* cursor = out.data();
  const std::size_t written = put_text(cursor, text, c.field_size, c.flags);

  EXPECT_EQ(Bytes(out.data(), cursor), c.wire);
  EXPECT_EQ(written, c.wire.size());
  EXPECT_EQ(expected_size, c.wire.size());
  EXPECT_EQ(std::string(buffer.data()), c.text_after);
  if (!c.wire.empty() && (c.flags & kTextLengthPrefixed)) {
    EXPECT_EQ(c.wire[0] + 1u, c.wire.size()) << "length byte must announce what follows";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TextWriter,
    testing::Values(
        TextWriteCase{"PrefixedNull", true, "", 10, kTextLengthPrefixed, {0x00}, ""},
        TextWriteCase{"PrefixedSizeZero", false, "abc", 0, kTextLengthPrefixed, {0x00}, "abc"},
        TextWriteCase{"PrefixedFits", false, "abc", 10, kTextLengthPrefixed, prefixed("abc"),
                      "abc"},
        TextWriteCase{"PrefixedExactlyFits", false, "abc", 4, kTextLengthPrefixed, prefixed("abc"),
                      "abc"},
        TextWriteCase{"PrefixedEmpty", false, "", 10, kTextLengthPrefixed, {0x01, 0x00}, ""},
        TextWriteCase{"PrefixedCutInCallersBuffer", false, "abcdef", 4, kTextLengthPrefixed,
                      prefixed("abc"), "abc"},
        TextWriteCase{"PrefixedNeverAnnouncesShort", false, repeat('x', 300), 256,
                      kTextLengthPrefixed, prefixed(repeat('x', 254)), repeat('x', 254)},
        TextWriteCase{"PrefixedField255Carries254", false, repeat('y', 254), 255,
                      kTextLengthPrefixed, prefixed(repeat('y', 254)), repeat('y', 254)},
        TextWriteCase{"FixedPadsWithZeros", false, "ab", 5, kTextFixed, {'a', 'b', 0, 0, 0}, "ab"},
        TextWriteCase{"FixedCut", false, "abcdef", 4, kTextFixed, {'a', 'b', 'c', 0}, "abc"},
        TextWriteCase{"FixedNull", true, "", 5, kTextFixed, {}, ""},
        TextWriteCase{"FixedSizeZero", false, "ab", 0, kTextFixed, {}, "ab"},
        TextWriteCase{"NoFlags", false, "ab", 5, 0, {}, "ab"}),
    case_name<TextWriteCase>);

TEST(FieldsTextWriter, FixedFieldZeroFillsTheCallersBufferAfterTheNul) {
  char buffer[6] = {'a', 'b', 0, 'X', 'Y', 'Z'};
  uint8_t out[8];
  uint8_t* cursor = out;
  put_text(cursor, buffer, 5, kTextFixed);
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{'a', 'b', 0, 0, 0, 'Z'}));
}

// ---- text field reader ----

struct TextReadCase {
  std::string name;
  Bytes data;
  uint16_t position;
  std::size_t capacity;
  uint32_t flags;
  uint32_t status;
  std::string text;  // "~~~~" means the buffer stayed untouched
  uint16_t position_after;
};

class TextReader : public testing::TestWithParam<TextReadCase> {};

TEST_P(TextReader, ReadsByFlag) {
  const TextReadCase& c = GetParam();
  char buffer[300];
  std::memset(buffer, '~', sizeof buffer);
  buffer[4] = 0;
  uint16_t position = c.position;
  EXPECT_EQ(get_text(buffer, c.capacity, c.data.data(), position,
                     static_cast<uint16_t>(c.data.size()), c.flags),
            c.status);
  if (c.status == 1) {
    EXPECT_EQ(std::string(buffer), c.text);
    EXPECT_EQ(position, c.position_after);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Fields, TextReader,
    testing::Values(
        TextReadCase{"PrefixedLengthZero", {0x00, 'a'}, 0, 10, kTextLengthPrefixed, 1, "~~~~", 1},
        TextReadCase{
            "PrefixedWithNul", {0x04, 'a', 'b', 'c', 0}, 0, 10, kTextLengthPrefixed, 1, "abc", 5},
        TextReadCase{
            "PrefixedNoNulOnWire", {0x02, 'h', 'i', 'z'}, 0, 10, kTextLengthPrefixed, 1, "hi", 3},
        TextReadCase{
            "PrefixedAtOffset", {9, 9, 0x02, 'o', 'k'}, 2, 10, kTextLengthPrefixed, 1, "ok", 5},
        TextReadCase{"PrefixedLengthByteMissing", {}, 0, 10, kTextLengthPrefixed, 1029, "", 0},
        TextReadCase{
            "PrefixedBeyondData", {0x05, 'a', 'b'}, 0, 10, kTextLengthPrefixed, 1029, "", 0},
        TextReadCase{"PrefixedAboveCapacity",
                     {0x04, 'a', 'b', 'c', 0},
                     0,
                     3,
                     kTextLengthPrefixed,
                     1029,
                     "",
                     0},
        TextReadCase{
            "FixedTakesCapacity", {'w', 'x', 'y', 'z', 'q'}, 0, 4, kTextFixed, 1, "wxyz", 4},
        TextReadCase{"FixedShortData", {'w', 'x', 'y'}, 0, 4, kTextFixed, 1029, "", 0},
        TextReadCase{"NoFlagsReadsNothing", {0x03, 'a'}, 0, 10, 0, 1, "~~~~", 0}),
    case_name<TextReadCase>);

// ---- protocol-1 packed mark date-time ----

struct MarkDateCase {
  std::string name;
  Bytes wire;
  nax_date_time dt;
};

class MarkDateTime : public testing::TestWithParam<MarkDateCase> {};

TEST_P(MarkDateTime, UnpacksAndPacksBack) {
  const MarkDateCase& c = GetParam();
  nax_date_time dt = {77, 77, 77, 77, 77, 77, 77};
  unpack_mark_date_time(c.wire.data(), dt);
  EXPECT_EQ(dt.hour, c.dt.hour);
  EXPECT_EQ(dt.minute, c.dt.minute);
  EXPECT_EQ(dt.second, 0);
  EXPECT_EQ(dt.year, c.dt.year);
  EXPECT_EQ(dt.month, c.dt.month);
  EXPECT_EQ(dt.day, c.dt.day);
  EXPECT_EQ(dt.weekday, 0);

  uint8_t packed[4];
  pack_mark_date_time(c.dt, packed);
  EXPECT_EQ(Bytes(packed, packed + 4), c.wire);
}

// Record order: hour, minute, second, year, month, day, weekday.
INSTANTIATE_TEST_SUITE_P(
    Fields, MarkDateTime,
    testing::Values(
        MarkDateCase{"YearLowBitsInLastByte", {0x08, 0x30, 0x15, 0x83}, {8, 30, 0, 4, 3, 15, 0}},
        MarkDateCase{"EveryYearBitSpread", {0xA3, 0x59, 0xF1, 0x32}, {23, 59, 0, 99, 12, 31, 0}},
        MarkDateCase{"YearBitFiveFromMinuteByte", {0x00, 0x80, 0x01, 0x01}, {0, 0, 0, 20, 1, 1, 0}},
        MarkDateCase{"Midnight", {0x00, 0x00, 0x01, 0x01}, {0, 0, 0, 0, 1, 1, 0}}),
    case_name<MarkDateCase>);

// ---- mark event mapping and direction ----

struct EventCase {
  std::string name;
  uint16_t word;
  uint8_t event;
};

class MarkEvent : public testing::TestWithParam<EventCase> {};

TEST_P(MarkEvent, MapsTheNodesWord) {
  EXPECT_EQ(map_mark_event(GetParam().word), GetParam().event);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, MarkEvent,
    testing::Values(EventCase{"W0", 0, 0x01}, EventCase{"W2", 2, 0x8F}, EventCase{"W4", 4, 0x91},
                    EventCase{"W8", 8, 0x92}, EventCase{"W16", 16, 0x6C},
                    EventCase{"W106", 106, 0x6A}, EventCase{"W512", 512, 0x93},
                    EventCase{"W2048", 2048, 0x6B}, EventCase{"UnknownThree", 3, 0x00},
                    EventCase{"UnknownOne", 1, 0x00}, EventCase{"UnknownMax", 0xFFFF, 0x00}),
    case_name<EventCase>);

TEST(FieldsDirection, TakesTheLowByte) {
  EXPECT_EQ(direction_byte(0x0102), 0x02);
  EXPECT_EQ(direction_byte(0xFF00), 0x00);
}

}  // namespace
}  // namespace nax
