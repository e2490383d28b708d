// Golden-byte tests of the attendance mark codecs and their paging answers.
#include "commands/marks.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

std::string show_mark(const nax_mark& m) {
  return show(m.mask, m.kind, m.id, show(m.date_time), m.event, m.index, m.direction, m.value,
              m.flag, m.code);
}

INSTANTIATE_TEST_SUITE_P(
    Marks, CodecRequest,
    testing::Values(RequestRow("P1First", CALL(encode_list_marks_p1(r, 0)), 1, 0x0006, {}),
                    RequestRow("P1Next", CALL(encode_list_marks_p1(r, 3)), 1, 0x0007, {}),
                    RequestRow("P2Page", CALL(encode_list_marks_p2(r, 0x2710, 20)), 1, 0x8010,
                               {0x10, 0x27, 0x14, 0x00})),
    row_name<RequestRow>);

// result, unused, id 87654321, direction 0x0102, event word, index byte, unused, date-time.
Bytes p1_mark(uint16_t event_word, uint8_t index_byte) {
  const uint8_t low = static_cast<uint8_t>(event_word),
                high = static_cast<uint8_t>(event_word >> 8);
  return cat({{0x01, 0xEE, 0x87, 0x65, 0x43, 0x21, 0x02, 0x01, low, high, index_byte, 0xEE},
              {0x08, 0x30, 0x15, 0x83}});
}

// The one mark a p1 answer holds: fixed fields, 08:30 on 15 March of year 4.
std::string p1_shown(uint8_t event, uint16_t index) {
  return "1: " + show(0x3E, 0, 87654321, "8 30 0 4 3 15 0", event, index, 2, 0, 0, "");
}

Decoder list_p1(uint16_t first_index) {
  return list<nax_mark>(
      1,
      [first_index](const Packet& p, uint16_t, nax_mark* marks, uint16_t& stored) {
        return decode_list_marks_p1(p, first_index, marks, stored);
      },
      show_mark);
}

// Every field: kind 5, id 42, 2024-03-15 08:30:00 weekday 2, event 0x6A,
// index 7, direction 1, value 0x12345678, flag 9, code "ABC".
const Bytes kFullMark = {0x20, 0x00, 0xFF, 0x01, 0x00, 0x00, 0x05, 0x2A, 0x00, 0x00, 0x00,
                         0x08, 0x1E, 0x00, 0x0F, 0x03, 0x18, 0x02, 0x6A, 0x07, 0x00, 0x01,
                         0x78, 0x56, 0x34, 0x12, 0x09, 0x04, 'A',  'B',  'C',  0x00};

Bytes id_mark(uint8_t id) {
  return {0x0A, 0x00, 0x02, 0x00, 0x00, 0x00, id, 0x00, 0x00, 0x00};
}

Decoder list_p2(uint16_t count) {
  return list<nax_mark>(count, decode_list_marks_p2, [](const nax_mark& m) { return show(m.id); });
}

Decoder record = record_at_start<nax_mark>(get_mark_p2, show_mark);

INSTANTIATE_TEST_SUITE_P(
    Marks, CodecAnswer,
    testing::Values(
        AnswerRow("ListP1NoMarksFirstPage", 0, {0x00, 0x09}, list_p1(0), 21, "0:"),
        AnswerRow("ListP1NoMoreMarksLaterPage", 0, {0x00, 0x09}, list_p1(3), 8, "0:"),
        AnswerRow("ListP1OtherRefusal", 0, {0x00, 0x04}, list_p1(0), 18, "0:"),
        AnswerRow("ListP1IndexByteZero", 0, p1_mark(0, 0), list_p1(0), 1, p1_shown(0x01, 0)),
        AnswerRow("ListP1IndexByteOne", 0, p1_mark(0, 1), list_p1(0), 1, p1_shown(0x01, 0)),
        AnswerRow("ListP1IndexByteFive", 0, p1_mark(0, 5), list_p1(7), 1, p1_shown(0x01, 4)),
        AnswerRow("ListP1UnknownEventWord", 0, p1_mark(3, 1), list_p1(0), 1, p1_shown(0x00, 0)),
        AnswerRow("ListP1EventWord2048", 0, p1_mark(2048, 1), list_p1(0), 1, p1_shown(0x6B, 0)),
        AnswerRow("ListP1LongerAnswerReadByPosition", 0, cat({p1_mark(16, 2), Bytes(8, 0xEE)}),
                  list_p1(0), 1, p1_shown(0x6C, 1)),
        AnswerRow("ListP1MarkCutShort", 0, head(p1_mark(0, 1), 15), list_p1(0), 1029, "0:"),
        AnswerRow("ListP1ErrorByteMissing", 0, {0x00}, list_p1(0), 1029, "0:"),
        AnswerRow("ListP1Empty", 0, {}, list_p1(0), 1029, "0:"),
        AnswerRow("RecordP2EveryField", 1, kFullMark, record, 1,
                  "32 " +
                      show(0x01FF, 5, 42, "8 30 0 24 3 15 2", 0x6A, 7, 1, 0x12345678, 9, "ABC")),
        AnswerRow("RecordP2CodeOfTenFits", 1,
                  cat({{0x11, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0A}, Bytes(10, 'z')}), record, 1,
                  "17 " + show(0x0100, 0, 0, "0 0 0 0 0 0 0", 0, 0, 0, 0, 0, "zzzzzzzzzz")),
        AnswerRow("RecordP2CodeLongerThanTenIsShort", 1,
                  cat({{0x12, 0x00, 0x00, 0x01, 0x00, 0x00, 0x0B}, Bytes(11, 'z')}), record, 1029,
                  ""),
        AnswerRow("ListP2Status8NoneLeft", 8, list_answer(0, {}), list_p2(4), 8, "0:"),
        AnswerRow("ListP2Status8LastRecords", 8, list_answer(2, {id_mark(1), id_mark(2)}),
                  list_p2(4), 8, "2: 1 2"),
        AnswerRow("ListP2FullPage", 1, list_answer(3, {id_mark(1), kFullMark, id_mark(3)}),
                  list_p2(3), 1, "3: 1 42 3"),
        AnswerRow("ListP2RefusalPassedOn", 7, list_answer(1, {id_mark(1)}), list_p2(4), 7, "0:"),
        AnswerRow("ListP2CutInsideThirdRecord", 1,
                  list_answer(3, {id_mark(1), id_mark(2), {0x0A, 0x00, 0x02, 0x00}}), list_p2(4),
                  1029, "2: 1 2"),
        AnswerRow("ListP2AnnouncesMoreThanArray", 1,
                  list_answer(4, {id_mark(1), id_mark(2), id_mark(3), id_mark(4)}), list_p2(3), 1,
                  "3: 1 2 3"),
        AnswerRow("ListP2HeaderCutShort", 1, {0x00, 0x00}, list_p2(4), 1029, "0:")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
