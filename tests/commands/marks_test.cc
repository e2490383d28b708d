// Golden-byte tests of the attendance mark codecs and their paging answers.
#include "commands/marks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

// ---- requests ----

struct RequestCase {
  std::string name;
  void (*encode)(Packet&);
  uint16_t cmd;
  Bytes data;
};

class MarksRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(MarksRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  c.encode(request);
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, MarksRequest,
    testing::Values(
        RequestCase{"P1First", [](Packet& r) { encode_list_marks_p1(r, 0); }, 0x0006, {}},
        RequestCase{"P1Next", [](Packet& r) { encode_list_marks_p1(r, 3); }, 0x0007, {}},
        RequestCase{"P2Page",
                    [](Packet& r) { encode_list_marks_p2(r, 0x2710, 20); },
                    0x8010,
                    {0x10, 0x27, 0x14, 0x00}}),
    case_name<RequestCase>);

// ---- protocol-1 answers ----

// result, unused, id 87654321, direction 0x0102, event word, index byte, unused, date-time.
Bytes p1_mark(uint16_t event_word, uint8_t index_byte) {
  return {0x01,
          0xEE,
          0x87,
          0x65,
          0x43,
          0x21,
          0x02,
          0x01,
          static_cast<uint8_t>(event_word),
          static_cast<uint8_t>(event_word >> 8),
          index_byte,
          0xEE,
          0x08,
          0x30,
          0x15,
          0x83};
}

Bytes without_last(Bytes b) {
  b.pop_back();
  return b;
}

struct ListP1Case {
  std::string name;
  uint16_t first_index;
  Bytes answer;
  uint32_t status;
  uint16_t stored;
  uint8_t event;
  uint16_t index;
};

class MarksListP1 : public testing::TestWithParam<ListP1Case> {};

TEST_P(MarksListP1, DecodesOneMarkOrMapsTheRefusal) {
  const ListP1Case& c = GetParam();
  nax_mark marks[2] = {};
  uint16_t stored = 0;
  EXPECT_EQ(decode_list_marks_p1(answer_of(0, c.answer), c.first_index, marks, stored), c.status);
  ASSERT_EQ(stored, c.stored);
  EXPECT_EQ(marks[1].mask, 0u);
  if (stored == 0) {
    EXPECT_EQ(marks[0].mask, 0u);
    return;
  }
  const nax_mark& m = marks[0];
  EXPECT_EQ(m.mask, 0x003Eu);
  EXPECT_EQ(m.id, 87654321u);
  EXPECT_EQ(m.direction, 0x02);
  EXPECT_EQ(m.event, c.event);
  EXPECT_EQ(m.index, c.index);
  EXPECT_EQ(m.date_time.hour, 8);
  EXPECT_EQ(m.date_time.minute, 30);
  EXPECT_EQ(m.date_time.second, 0);
  EXPECT_EQ(m.date_time.day, 15);
  EXPECT_EQ(m.date_time.month, 3);
  EXPECT_EQ(m.date_time.year, 4);
  EXPECT_EQ(m.date_time.weekday, 0);
  EXPECT_EQ(m.kind, 0);
  EXPECT_EQ(m.value, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, MarksListP1,
    testing::Values(ListP1Case{"NoMarksFirstPage", 0, {0x00, 0x09}, 21, 0, 0, 0},
                    ListP1Case{"NoMoreMarksLaterPage", 3, {0x00, 0x09}, 8, 0, 0, 0},
                    ListP1Case{"OtherRefusal", 0, {0x00, 0x04}, 18, 0, 0, 0},
                    ListP1Case{"IndexByteZero", 0, p1_mark(0, 0), 1, 1, 0x01, 0},
                    ListP1Case{"IndexByteOne", 0, p1_mark(0, 1), 1, 1, 0x01, 0},
                    ListP1Case{"IndexByteFive", 7, p1_mark(0, 5), 1, 1, 0x01, 4},
                    ListP1Case{"UnknownEventWord", 0, p1_mark(3, 1), 1, 1, 0x00, 0},
                    ListP1Case{"EventWord2048", 0, p1_mark(2048, 1), 1, 1, 0x6B, 0},
                    ListP1Case{"LongerAnswerReadByPosition", 0,
                               cat({p1_mark(16, 2), Bytes(8, 0xEE)}), 1, 1, 0x6C, 1},
                    ListP1Case{"MarkCutShort", 0, without_last(p1_mark(0, 1)), 1029, 0, 0, 0},
                    ListP1Case{"ErrorByteMissing", 0, {0x00}, 1029, 0, 0, 0},
                    ListP1Case{"Empty", 0, {}, 1029, 0, 0, 0}),
    case_name<ListP1Case>);

// ---- protocol-2 answers ----

// Every field: kind 5, id 42, 2024-03-15 08:30:00 weekday 2, event 0x6A,
// index 7, direction 1, value 0x12345678, flag 9, code "ABC".
const Bytes kFullMark = {0x20, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x05, 0x2A, 0x00, 0x00, 0x00,
                         0x08, 0x1E, 0x00, 0x0F, 0x03, 0x18, 0x02, 0x6A, 0x07, 0x00, 0x01,
                         0x78, 0x56, 0x34, 0x12, 0x09, 0x04, 'A',  'B',  'C',  0x00};

Bytes id_mark(uint8_t id) {
  return {0x0A, 0x00, 0x02, 0x00, 0x00, 0x00, id, 0x00, 0x00, 0x00};
}

Bytes list_answer(uint16_t n, std::initializer_list<Bytes> records) {
  return cat({{0x00, 0x00, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)}, cat(records)});
}

TEST(MarksRecordP2, ReadsEveryField) {
  nax_mark m{};
  uint16_t position = 0;
  ASSERT_EQ(get_mark_p2(m, kFullMark.data(), position, static_cast<uint16_t>(kFullMark.size())),
            1u);
  EXPECT_EQ(position, kFullMark.size());
  EXPECT_EQ(m.mask, 0x01FFu);
  EXPECT_EQ(m.kind, 5);
  EXPECT_EQ(m.id, 42u);
  EXPECT_EQ(m.date_time.hour, 8);
  EXPECT_EQ(m.date_time.minute, 30);
  EXPECT_EQ(m.date_time.second, 0);
  EXPECT_EQ(m.date_time.day, 15);
  EXPECT_EQ(m.date_time.month, 3);
  EXPECT_EQ(m.date_time.year, 24);
  EXPECT_EQ(m.date_time.weekday, 2);
  EXPECT_EQ(m.event, 0x6A);
  EXPECT_EQ(m.index, 7);
  EXPECT_EQ(m.direction, 1);
  EXPECT_EQ(m.value, 0x12345678u);
  EXPECT_EQ(m.flag, 9);
  EXPECT_STREQ(m.code, "ABC");
}

TEST(MarksRecordP2, CodeLongerThanTenIsShort) {
  const Bytes wire = cat({{0x12, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0B}, Bytes(11, 'z')});
  nax_mark m{};
  uint16_t position = 0;
  EXPECT_EQ(get_mark_p2(m, wire.data(), position, static_cast<uint16_t>(wire.size())), 1029u);
}

TEST(MarksRecordP2, CodeOfTenFits) {
  const Bytes wire = cat({{0x11, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0A}, Bytes(10, 'z')});
  nax_mark m{};
  uint16_t position = 0;
  EXPECT_EQ(get_mark_p2(m, wire.data(), position, static_cast<uint16_t>(wire.size())), 1u);
  EXPECT_STREQ(m.code, "zzzzzzzzzz");
}

struct ListP2Case {
  std::string name;
  uint16_t status_word;
  Bytes data;
  uint16_t count;
  uint32_t status;
  std::vector<uint32_t> ids;
};

class MarksListP2 : public testing::TestWithParam<ListP2Case> {};

TEST_P(MarksListP2, StoresWholeRecordsWithinTheArray) {
  const ListP2Case& c = GetParam();
  std::vector<nax_mark> marks(c.count + 1);
  marks[c.count].mask = 0xA5A5A5A5;  // guard behind the host's array
  marks[c.count].id = 0xA5A5A5A5;
  uint16_t stored = 0;
  EXPECT_EQ(decode_list_marks_p2(answer_of(c.status_word, c.data), c.count, marks.data(), stored),
            c.status);
  ASSERT_EQ(stored, c.ids.size());
  for (std::size_t i = 0; i < c.ids.size(); ++i) EXPECT_EQ(marks[i].id, c.ids[i]) << i;
  for (std::size_t i = c.ids.size(); i < c.count; ++i) EXPECT_EQ(marks[i].mask, 0u) << i;
  EXPECT_EQ(marks[c.count].mask, 0xA5A5A5A5u);
  EXPECT_EQ(marks[c.count].id, 0xA5A5A5A5u);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, MarksListP2,
    testing::Values(
        ListP2Case{"Status8NoneLeft", 8, list_answer(0, {}), 4, 8, {}},
        ListP2Case{"Status8LastRecords", 8, list_answer(2, {id_mark(1), id_mark(2)}), 4, 8, {1, 2}},
        ListP2Case{
            "FullPage", 1, list_answer(3, {id_mark(1), kFullMark, id_mark(3)}), 3, 1, {1, 42, 3}},
        ListP2Case{"RefusalPassedOn", 7, list_answer(1, {id_mark(1)}), 4, 7, {}},
        ListP2Case{"CutInsideThirdRecord",
                   1,
                   list_answer(3, {id_mark(1), id_mark(2), {0x0A, 0x00, 0x02, 0x00}}),
                   4,
                   1029,
                   {1, 2}},
        ListP2Case{"AnnouncesMoreThanArray",
                   1,
                   list_answer(4, {id_mark(1), id_mark(2), id_mark(3), id_mark(4)}),
                   3,
                   1,
                   {1, 2, 3}},
        ListP2Case{"HeaderCutShort", 1, {0x00, 0x00}, 4, 1029, {}}),
    case_name<ListP2Case>);

}  // namespace
}  // namespace nax
