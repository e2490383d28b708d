// Golden-byte tests of the shared field codecs.
#include "commands/fields.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

TEST(FieldsBcd, ByteKeepsTheFirstTwoDigitsAndReadsHighTimesTenPlusLow) {
  const struct {
    uint8_t value, wire;
  } to_node[] = {{59, 0x59},  {0, 0x00},   {7, 0x07},  {99, 0x99},
                 {100, 0x10}, {123, 0x12}, {255, 0x25}},
    from_node[] = {{59, 0x59}, {0, 0x00}, {165, 0xFF}, {10, 0x0A}};  // nibbles unchecked
  for (const auto& r : to_node) EXPECT_EQ(bcd_byte_to_node(r.value), r.wire) << +r.value;
  for (const auto& r : from_node) EXPECT_EQ(bcd_byte_from_node(r.wire), r.value) << +r.wire;
}

TEST(FieldsBcd, NumbersKeepTheirLastDigitsAndReadNibblesAboveNineAsZero) {
  const struct {
    uint32_t value;
    Bytes wire;
    uint32_t read_back;
  } four[] = {{4321, {0x43, 0x21}, 4321},
              {0, {0x00, 0x00}, 0},
              {12345, {0x23, 0x45}, 2345},
              {65535, {0x55, 0x35}, 5535},
              {7, {0x00, 0x07}, 7}},
    eight[] = {{4294967295u, {0x94, 0x96, 0x72, 0x95}, 94967295},
               {7, {0x00, 0x00, 0x00, 0x07}, 7},
               {87654321, {0x87, 0x65, 0x43, 0x21}, 87654321},
               {100000000, {0x00, 0x00, 0x00, 0x00}, 0},
               {0, {0x00, 0x00, 0x00, 0x00}, 0}};
  for (const auto& r : four) {
    uint8_t out[2] = {0xEE, 0xEE};
    bcd4_to_node(r.value, out);
    EXPECT_EQ(Bytes(out, out + 2), r.wire) << r.value;
    EXPECT_EQ(bcd4_from_node(r.wire.data()), r.read_back) << r.value;
  }
  for (const auto& r : eight) {
    uint8_t out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    bcd8_to_node(r.value, out);
    EXPECT_EQ(Bytes(out, out + 4), r.wire) << r.value;
    EXPECT_EQ(bcd8_from_node(r.wire.data()), r.read_back) << r.value;
  }
  const uint8_t wire4[2] = {0xAB, 0x1F};
  EXPECT_EQ(bcd4_from_node(wire4), 10u);
  const uint8_t wire8[4] = {0xFA, 0x00, 0x00, 0x01};
  EXPECT_EQ(bcd8_from_node(wire8), 1u);
}

const std::string k300(300, 'x');
const std::string k254(254, 'x');
constexpr uint32_t kP = kTextLengthPrefixed;
constexpr uint32_t kF = kTextFixed;

// The field written for a text, its size computed alike, and the caller's
// buffer up to its first NUL afterwards.
TEST(FieldsTextWriter, WritesTheFieldAndSizesItAlike) {
  const struct {
    bool null_text;
    std::string text;
    std::size_t field_size;
    uint32_t flags;
    Bytes wire;
    std::string text_after;
  } rows[] = {{true, "", 10, kP, {0x00}, ""},
              {false, "abc", 0, kP, {0x00}, "abc"},
              {false, "abc", 10, kP, lp("abc"), "abc"},
              {false, "abc", 4, kP, lp("abc"), "abc"},
              {false, "", 10, kP, {0x01, 0x00}, ""},
              {false, "abcdef", 4, kP, lp("abc"), "abc"},  // cut in the caller's buffer
              {false, k300, 256, kP, lp(k254), k254},      // never announces short
              {false, k254, 255, kP, lp(k254), k254},
              {false, "ab", 5, kF, {'a', 'b', 0, 0, 0}, "ab"},
              {false, "abcdef", 4, kF, {'a', 'b', 'c', 0}, "abc"},
              {true, "", 5, kF, {}, ""},
              {false, "ab", 0, kF, {}, "ab"},
              {false, "ab", 5, 0, {}, "ab"}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text.substr(0, 8) + " in " + std::to_string(r.field_size));
    std::vector<char> buffer(512, 'Q');
    std::memcpy(buffer.data(), r.text.c_str(), r.text.size() + 1);
    char* text = r.null_text ? nullptr : buffer.data();
    const std::size_t expected_size = text_field_size(text, r.field_size, r.flags);
    uint8_t out[600];
    uint8_t* cursor = out;
    EXPECT_EQ(put_text(cursor, text, r.field_size, r.flags), r.wire.size());
    EXPECT_EQ(Bytes(out, cursor), r.wire);
    EXPECT_EQ(expected_size, r.wire.size());
    EXPECT_EQ(std::string(buffer.data()), r.text_after);
  }
}

TEST(FieldsTextWriter, FixedFieldZeroFillsTheCallersBufferAfterTheNul) {
  char buffer[6] = {'a', 'b', 0, 'X', 'Y', 'Z'};
  uint8_t out[8];
  uint8_t* cursor = out;
  put_text(cursor, buffer, 5, kTextFixed);
  EXPECT_EQ(Bytes(buffer, buffer + 6), (Bytes{'a', 'b', 0, 0, 0, 'Z'}));
}

// The text read by flag: "~~~~" means the buffer stayed untouched.
TEST(FieldsTextReader, ReadsByFlag) {
  const struct {
    Bytes data;
    uint16_t position;
    std::size_t capacity;
    uint32_t flags, status;
    std::string text;
    uint16_t position_after;
  } rows[] = {{{0x00, 'a'}, 0, 10, kP, 1, "~~~~", 1},
              {{0x04, 'a', 'b', 'c', 0}, 0, 10, kP, 1, "abc", 5},
              {{0x02, 'h', 'i', 'z'}, 0, 10, kP, 1, "hi", 3},  // no NUL on the wire
              {{9, 9, 0x02, 'o', 'k'}, 2, 10, kP, 1, "ok", 5},
              {{}, 0, 10, kP, 1029, "", 0},
              {{0x05, 'a', 'b'}, 0, 10, kP, 1029, "", 0},
              {{0x04, 'a', 'b', 'c', 0}, 0, 3, kP, 1029, "", 0},  // above capacity
              {{'w', 'x', 'y', 'z', 'q'}, 0, 4, kF, 1, "wxyz", 4},
              {{'w', 'x', 'y'}, 0, 4, kF, 1029, "", 0},
              {{0x03, 'a'}, 0, 10, 0, 1, "~~~~", 0}};
  for (const auto& r : rows) {
    SCOPED_TRACE(show(r.data.size(), r.position, r.capacity, r.flags));
    char buffer[300];
    std::memset(buffer, '~', sizeof buffer);
    buffer[4] = 0;
    uint16_t position = r.position;
    EXPECT_EQ(get_text(buffer, r.capacity, r.data.data(), position,
                       static_cast<uint16_t>(r.data.size()), r.flags),
              r.status);
    if (r.status == NAX_OK) {
      EXPECT_EQ(std::string(buffer), r.text);
      EXPECT_EQ(position, r.position_after);
    }
  }
}

// The p1 mark's packed date-time: no seconds, no weekday, year bits spread.
TEST(FieldsMarkDateTime, UnpacksAndPacksBack) {
  const struct {
    Bytes wire;
    nax_date_time dt;  // hour, minute, second, year, month, day, weekday
  } rows[] = {{{0x08, 0x30, 0x15, 0x83}, {8, 30, 0, 4, 3, 15, 0}},
              {{0xA3, 0x59, 0xF1, 0x32}, {23, 59, 0, 99, 12, 31, 0}},
              {{0x00, 0x80, 0x01, 0x01}, {0, 0, 0, 20, 1, 1, 0}},  // year bit five in the minute
              {{0x00, 0x00, 0x01, 0x01}, {0, 0, 0, 0, 1, 1, 0}}};
  for (const auto& r : rows) {
    nax_date_time dt = {77, 77, 77, 77, 77, 77, 77};
    unpack_mark_date_time(r.wire.data(), dt);
    EXPECT_EQ(show(dt), show(r.dt));
    uint8_t packed[4];
    pack_mark_date_time(r.dt, packed);
    EXPECT_EQ(Bytes(packed, packed + 4), r.wire) << show(r.dt);
  }
}

TEST(FieldsMarkEvent, MapsTheNodesWordAndUnknownWordsToZero) {
  const struct {
    uint16_t word;
    uint8_t event;
  } rows[] = {{0, 0x01},   {2, 0x8F},    {4, 0x91}, {8, 0x92}, {16, 0x6C},    {106, 0x6A},
              {512, 0x93}, {2048, 0x6B}, {3, 0x00}, {1, 0x00}, {0xFFFF, 0x00}};
  for (const auto& r : rows) EXPECT_EQ(map_mark_event(r.word), r.event) << r.word;
}

}  // namespace
}  // namespace nax::codec_test
