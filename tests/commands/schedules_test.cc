// Golden-byte tests of the schedule codecs.
#include "commands/schedules.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

// A name field: the text, zero-filled to 21 bytes.
Bytes name_field(const std::string& name) {
  Bytes out(name.begin(), name.end());
  out.resize(kSchdNameFieldSize, 0);
  return out;
}

nax_schd_header make_header(const char* name) {
  nax_schd_header h = {7, "", 0x01020304, 5, {8, 30, 0, 24, 2, 29, 4}};
  std::memcpy(h.name, name, std::min(std::strlen(name), sizeof h.name - 1));
  return h;
}

// id 7, "Day shift", hours 0x01020304, segments 5, 08:30:00 29-02-24 weekday 4.
const Bytes kDayShiftBlock = cat({{0x07, 0x00},
                                  name_field("Day shift"),
                                  {0x04, 0x03, 0x02, 0x01},
                                  {0x05, 0x00, 0x00, 0x00},
                                  {0x08, 0x1E, 0x00, 0x1D, 0x02, 0x18, 0x04}});

uint32_t set_segments(Packet& r, bool p1, uint32_t count) {
  const std::vector<nax_schd_segment> segments(count, {8, 30, 1});
  return p1 ? encode_set_schd_segments_p1(r, 3, segments.data(), 0, count)
            : encode_set_schd_segments_p2(r, 3, segments.data(), 0, count);
}

Bytes set_segments_wire(uint32_t count) {
  return cat({{0x03, 0x00}, le32(0), le32(count), le32(3), times({8, 30, 1}, count)});
}

// The header is sent from the host's record, cut there to a 20-character name.
template <typename Encode>
uint32_t set_header(Packet& r, Encode encode, const char* name, const char* name_after) {
  nax_schd_header h = make_header(name);
  encode(r, h);
  return ok_if(std::strcmp(h.name, name_after) == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Schd, CodecRequest,
    testing::Values(
        RequestRow("SetHeaderP2Block38Bytes",
                   CALL(set_header(r, encode_set_schd_header_p2, "Day shift", "Day shift")), 1,
                   0x8082, kDayShiftBlock),
        RequestRow("SetHeaderP1SameBlock",
                   CALL(set_header(r, encode_set_schd_header_p1, "Day shift", "Day shift")), 1,
                   0x2012, kDayShiftBlock),
        RequestRow("SetHeaderName21CharsSent20AndCutInRecord",
                   CALL(set_header(r, encode_set_schd_header_p2, "ABCDEFGHIJKLMNOPQRSTU",
                                   "ABCDEFGHIJKLMNOPQRST")),
                   1, 0x8082,
                   cat({{0x07, 0x00},
                        name_field("ABCDEFGHIJKLMNOPQRST"),
                        Bytes(kDayShiftBlock.begin() + 23, kDayShiftBlock.end())})),
        RequestRow("GetHeaderP1", CALL(encode_get_schd_header_p1(r, 0x0102)), 1, 0x2010,
                   {0x02, 0x01}),
        RequestRow("GetHeaderP2", CALL(encode_get_schd_header_p2(r, 0x0102)), 1, 0x8080,
                   {0x02, 0x01}),
        RequestRow("GetSegmentsP1", CALL(encode_get_schd_segments_p1(r, 3, 0x10, 5)), 1, 0x2011,
                   cat({{0x03, 0x00}, le32(0x10), le32(5)})),
        RequestRow("GetSegmentsP2", CALL(encode_get_schd_segments_p2(r, 3, 0x10, 5)), 1, 0x8081,
                   cat({{0x03, 0x00}, le32(0x10), le32(5)})),
        RequestRow(
            "SetSegmentsP2TwoSegments",
            [](Packet& r) {
              const nax_schd_segment s[] = {{8, 0, 1}, {17, 30, 0}};
              return encode_set_schd_segments_p2(r, 3, s, 2, 2);
            },
            1, 0x8083, cat({{0x03, 0x00}, le32(2), le32(2), le32(3), {8, 0, 1, 17, 30, 0}})),
        RequestRow("SetSegmentsP1Max170", CALL(set_segments(r, true, 170)), 1, 0x2013,
                   set_segments_wire(170)),
        RequestRow("SetSegmentsP1Refuses171", CALL(set_segments(r, true, 171)), 1037, 0, {}),
        // 14 + 3 × 166 = 512 bytes, all a node accepts; 167 segments take 515.
        RequestRow("SetSegmentsP2Max166", CALL(set_segments(r, false, 166)), 1, 0x8083,
                   set_segments_wire(166)),
        RequestRow("SetSegmentsP2Refuses167", CALL(set_segments(r, false, 167)), 1037, 0, {}),
        RequestRow("DelP1", CALL(encode_del_schd_p1(r, 9)), 1, 0x2014, {0x09, 0x00}),
        RequestRow("DelP2", CALL(encode_del_schd_p2(r, 9)), 1, 0x8084, {0x09, 0x00}),
        RequestRow("ListP1", CALL(encode_list_schd_p1(r, 5, 10)), 1, 0x2015,
                   cat({{0x05, 0x00}, le32(10)})),
        RequestRow("ListP2", CALL(encode_list_schd_p2(r, 5, 10)), 1, 0x8085,
                   cat({{0x05, 0x00}, le32(10)}))),
    row_name<RequestRow>);

const nax_schd_header kBlankHeader = {0, "", 0xEEEEEEEE};
std::string show_header(const nax_schd_header& h) {
  return show(h.id, h.name, h.hours);
}
Decoder header_p1 = into(kBlankHeader, decode_get_schd_header_p1, show_header);
Decoder header_p2 = into(kBlankHeader, decode_get_schd_header_p2, show_header);
const std::string kDayShiftShown = "7 Day shift 16909060";
const std::string kBlankShown = "0  4008636142";

const Bytes kName21Block =
    cat({{0x07, 0x00}, Bytes(21, 'N'), le32(1), le32(2), {1, 2, 3, 4, 5, 6, 7}});

// How many segments were stored within `capacity`, then "bad" for each place
// that is neither the answer's segment (i, 10 + i, 1) nor untouched.
template <typename Decode>
Decoder segments(uint32_t capacity, Decode decode) {
  return [=](const Packet& p, std::string& out) {
    const nax_schd_segment untouched{0xEE, 0xEE, 0xEE};
    std::vector<nax_schd_segment> s(capacity + 1, untouched);
    uint32_t received = 0;
    const uint32_t status = decode(p, s.data(), capacity, received);
    out = show(received);
    for (uint32_t i = 0; i <= capacity; ++i) {
      const nax_schd_segment want =
          i < received ? nax_schd_segment{uint8_t(i), uint8_t(10 + i), 1} : untouched;
      if (std::memcmp(&s[i], &want, sizeof want) != 0) out += " bad";
    }
    return status;
  };
}
auto segments_p1 = [](uint32_t capacity) {
  return segments(capacity, decode_get_schd_segments_p1);
};
auto segments_p2 = [](uint32_t capacity) {
  return segments(capacity, decode_get_schd_segments_p2);
};

// Two skipped words, the announced count, `present` whole segments (i, 10 + i, 1) and
// `extra_bytes` of one more.
Bytes segments_answer(uint32_t announced, uint32_t present, uint32_t extra_bytes = 0) {
  Bytes out = cat({le32(0xAAAAAAAA), le32(0xBBBBBBBB), le32(announced)});
  for (uint32_t i = 0; i < present; ++i) {
    out.insert(out.end(), {static_cast<uint8_t>(i), static_cast<uint8_t>(10 + i), 1});
  }
  for (uint32_t i = 0; i < extra_bytes; ++i) out.push_back(static_cast<uint8_t>(present));
  return out;
}

Decoder set_segments_p1 = into(0u, decode_set_schd_segments_p1);
Decoder set_segments_p2 = into(0u, decode_set_schd_segments_p2);

// The next start id and how many entries were stored within `capacity`, then
// "bad" for each place that is neither the answer's entry (100 + i, "S<i>") nor
// untouched (the guard past the capacity has id 0xEEEE).
template <typename Decode>
Decoder entries(uint32_t capacity, Decode decode) {
  return [=](const Packet& p, std::string& out) {
    std::vector<nax_schd_entry> e(capacity + 1);
    e[capacity].id = 0xEEEE;
    uint16_t start_id = 0x0F0F;
    uint32_t received = 0;
    const uint32_t status = decode(p, e.data(), capacity, start_id, received);
    out = show(start_id, received);
    for (uint32_t i = 0; i <= capacity; ++i) {
      const std::string want = i < received   ? show(100 + i, "S" + std::to_string(i))
                               : i < capacity ? "0 "
                                              : "61166 ";
      if (show(e[i].id, e[i].name) != want) out += " bad";
    }
    return status;
  };
}
auto entries_p1 = [](uint32_t capacity) { return entries(capacity, decode_list_schd_p1); };
auto entries_p2 = [](uint32_t capacity) { return entries(capacity, decode_list_schd_p2); };

// Next start id 0x0203, a skipped word, the announced count, `present` whole entries
// (100 + i, "S<i>") and `extra_bytes` of one more.
Bytes entries_answer(uint32_t announced, uint32_t present, uint32_t extra_bytes = 0) {
  Bytes out = cat({{0x03, 0x02}, le32(0xAAAAAAAA), le32(announced)});
  for (uint32_t i = 0; i < present; ++i) {
    out = cat({out, {static_cast<uint8_t>(100 + i), 0}, name_field("S" + std::to_string(i))});
  }
  for (uint32_t i = 0; i < extra_bytes; ++i) out.push_back(0x41);
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Schd, CodecAnswer,
    testing::Values(
        AnswerRow("HeaderP2Block", 1, kDayShiftBlock, header_p2, 1, kDayShiftShown),
        AnswerRow("HeaderP2Name21CharsReceivedWhole", 1, kName21Block, header_p2, 1,
                  show(7, std::string(21, 'N'), 1)),
        AnswerRow("HeaderP1AfterResultByte", 0, cat({{0x01}, kDayShiftBlock}), header_p1, 1,
                  kDayShiftShown),
        AnswerRow("HeaderP1Refused4StillStoresFields", 0, cat({{0x04}, kDayShiftBlock}), header_p1,
                  4, kDayShiftShown),
        AnswerRow("HeaderP2Status4", 4, {}, header_p2, 4, kBlankShown),
        AnswerRow("HeaderP2EndsInsideHours", 1,
                  Bytes(kDayShiftBlock.begin(), kDayShiftBlock.begin() + 25), header_p2, 1029,
                  "7 Day shift 4008636142"),
        AnswerRow("HeaderP1Empty", 0, {}, header_p1, 1029, kBlankShown),
        AnswerRow("SegmentsP2EndsInFourthSegment", 1, segments_answer(4, 3, 2), segments_p2(4),
                  1029, "3"),
        AnswerRow("SegmentsP2Three", 1, segments_answer(3, 3), segments_p2(5), 1, "3"),
        AnswerRow("SegmentsP2AnnouncesMoreThanAskedStopsAtCount", 1, segments_answer(5, 5),
                  segments_p2(2), 1, "2"),
        AnswerRow("SegmentsP2Status4", 4, segments_answer(3, 3), segments_p2(3), 4, "0"),
        AnswerRow("SegmentsP2NoCountIsShort", 1, Bytes(11, 0), segments_p2(3), 1029, "0"),
        AnswerRow("SegmentsP2ZeroSegments", 1, segments_answer(0, 0), segments_p2(3), 1, "0"),
        AnswerRow("SegmentsP1AfterResultByte", 0, cat({{0x01}, segments_answer(2, 2)}),
                  segments_p1(2), 1, "2"),
        AnswerRow("SegmentsP1Refused4", 0, cat({{0x04}, segments_answer(2, 2)}), segments_p1(2), 4,
                  "0"),
        AnswerRow("SetSegmentsP2", 1, cat({le32(9), le32(2)}), set_segments_p2, 1, "2"),
        AnswerRow("SetSegmentsP2SecondWordMissing", 1, cat({le32(9), {2}}), set_segments_p2, 1029,
                  "0"),
        AnswerRow("SetSegmentsP2Refused", 4, cat({le32(9), le32(2)}), set_segments_p2, 4, "0"),
        AnswerRow("SetSegmentsP1", 0, cat({{1}, le32(9), le32(2)}), set_segments_p1, 1, "2"),
        AnswerRow("SetSegmentsP1Refused4", 0, {4}, set_segments_p1, 4, "0"),
        AnswerRow("ListP2Status31DecodesLikeOne", 31, entries_answer(2, 2), entries_p2(5), 31,
                  "515 2"),
        AnswerRow("ListP2Announces50ToCapacity10", 1, entries_answer(50, 10), entries_p2(10), 1,
                  "515 10"),
        AnswerRow("ListP2NoEntries", 1, entries_answer(0, 0), entries_p2(3), 1, "515 0"),
        AnswerRow("ListP2EndsInsideThirdEntry", 1, entries_answer(3, 2, 10), entries_p2(5), 1029,
                  "515 2"),
        AnswerRow("ListP2Status5KeepsStartId", 5, entries_answer(2, 2), entries_p2(5), 5, "3855 0"),
        AnswerRow("ListP2CountMissing", 1, {0x03, 0x02, 0, 0, 0, 0, 1}, entries_p2(5), 1029,
                  "515 0"),
        AnswerRow("ListP1AfterResultByte", 0, cat({{31}, entries_answer(1, 1)}), entries_p1(5), 31,
                  "515 1")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
