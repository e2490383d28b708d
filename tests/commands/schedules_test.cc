// Golden-byte tests of the schedule codecs.
#include "commands/schedules.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// A name field: the text, zero-filled to 21 bytes.
Bytes name_field(const std::string& name) {
  Bytes out(name.begin(), name.end());
  out.resize(kSchdNameFieldSize, 0);
  return out;
}

nax_schd_header make_header(uint16_t id, const char* name) {
  nax_schd_header h{};
  h.id = id;
  std::memcpy(h.name, name, std::min(std::strlen(name), sizeof h.name - 1));
  h.hours = 0x01020304;
  h.segments = 5;
  h.date_time = {8, 30, 0, 24, 2, 29, 4};
  return h;
}

// id 7, "Day shift", hours 0x01020304, segments 5, 08:30:00 29-02-24 weekday 4.
const Bytes kDayShiftBlock = cat({{0x07, 0x00},
                                  name_field("Day shift"),
                                  {0x04, 0x03, 0x02, 0x01},
                                  {0x05, 0x00, 0x00, 0x00},
                                  {0x08, 0x1E, 0x00, 0x1D, 0x02, 0x18, 0x04}});

std::vector<nax_schd_segment> segments_of(uint32_t n) {
  std::vector<nax_schd_segment> out(n);
  for (uint32_t i = 0; i < n; ++i) out[i] = {static_cast<uint8_t>(i % 24), 30, 1};
  return out;
}

struct RequestCase {
  std::string name;
  uint32_t (*encode)(Packet&);
  uint32_t status;
  uint16_t cmd;
  Bytes data;
};

class SchdRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(SchdRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  ASSERT_EQ(c.encode(request), c.status);
  if (c.status != NAX_OK) return;
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

uint32_t set_segments(Packet& r, bool p1, uint32_t count) {
  const std::vector<nax_schd_segment> segments = segments_of(count);
  return p1 ? encode_set_schd_segments_p1(r, 3, segments.data(), 0, count)
            : encode_set_schd_segments_p2(r, 3, segments.data(), 0, count);
}

Bytes set_segments_wire(uint32_t count) {
  Bytes out = cat({{0x03, 0x00}, le32(0), le32(count), le32(3)});
  for (const nax_schd_segment& s : segments_of(count)) {
    out.insert(out.end(), {s.hours, s.minutes, s.enabled});
  }
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Schd, SchdRequest,
    testing::Values(
        RequestCase{"SetHeaderP2Block38Bytes",
                    [](Packet& r) {
                      nax_schd_header h = make_header(7, "Day shift");
                      encode_set_schd_header_p2(r, h);
                      return 1u;
                    },
                    1, 0x8082, kDayShiftBlock},
        RequestCase{"SetHeaderP1SameBlock",
                    [](Packet& r) {
                      nax_schd_header h = make_header(7, "Day shift");
                      encode_set_schd_header_p1(r, h);
                      return 1u;
                    },
                    1, 0x2012, kDayShiftBlock},
        RequestCase{"GetHeaderP1",
                    [](Packet& r) { return ok(encode_get_schd_header_p1, r, 0x0102); }, 1, 0x2010,
                    Bytes{0x02, 0x01}},
        RequestCase{"GetHeaderP2",
                    [](Packet& r) { return ok(encode_get_schd_header_p2, r, 0x0102); }, 1, 0x8080,
                    Bytes{0x02, 0x01}},
        RequestCase{"GetSegmentsP1",
                    [](Packet& r) { return ok(encode_get_schd_segments_p1, r, 3, 0x10, 5); }, 1,
                    0x2011, cat({{0x03, 0x00}, le32(0x10), le32(5)})},
        RequestCase{"GetSegmentsP2",
                    [](Packet& r) { return ok(encode_get_schd_segments_p2, r, 3, 0x10, 5); }, 1,
                    0x8081, cat({{0x03, 0x00}, le32(0x10), le32(5)})},
        RequestCase{"SetSegmentsP2TwoSegments",
                    [](Packet& r) {
                      const nax_schd_segment s[] = {{8, 0, 1}, {17, 30, 0}};
                      return encode_set_schd_segments_p2(r, 3, s, 2, 2);
                    },
                    1, 0x8083,
                    cat({{0x03, 0x00}, le32(2), le32(2), le32(3), {8, 0, 1, 17, 30, 0}})},
        RequestCase{"SetSegmentsP1Max170", [](Packet& r) { return set_segments(r, true, 170); }, 1,
                    0x2013, set_segments_wire(170)},
        RequestCase{"SetSegmentsP1Refuses171",
                    [](Packet& r) { return set_segments(r, true, 171); },
                    1037,
                    0,
                    {}},
        // 14 + 3 × 166 = 512 bytes, all a node accepts; 167 segments take 515.
        RequestCase{"SetSegmentsP2Max166", [](Packet& r) { return set_segments(r, false, 166); }, 1,
                    0x8083, set_segments_wire(166)},
        RequestCase{"SetSegmentsP2Refuses167",
                    [](Packet& r) { return set_segments(r, false, 167); },
                    1037,
                    0,
                    {}},
        RequestCase{"DelP1", [](Packet& r) { return ok(encode_del_schd_p1, r, 9); }, 1, 0x2014,
                    Bytes{0x09, 0x00}},
        RequestCase{"DelP2", [](Packet& r) { return ok(encode_del_schd_p2, r, 9); }, 1, 0x8084,
                    Bytes{0x09, 0x00}},
        RequestCase{"ListP1", [](Packet& r) { return ok(encode_list_schd_p1, r, 5, 10); }, 1,
                    0x2015, cat({{0x05, 0x00}, le32(10)})},
        RequestCase{"ListP2", [](Packet& r) { return ok(encode_list_schd_p2, r, 5, 10); }, 1,
                    0x8085, cat({{0x05, 0x00}, le32(10)})}),
    case_name<RequestCase>);

TEST(SchdSetHeader, Name21CharsSent20AndCutInRecord) {
  nax_schd_header h = make_header(7, "ABCDEFGHIJKLMNOPQRSTU");
  Packet request;
  encode_set_schd_header_p2(request, h);
  ASSERT_EQ(request.size, kSchdHeaderBlockSize);
  EXPECT_EQ(Bytes(request.data + 2, request.data + 23), name_field("ABCDEFGHIJKLMNOPQRST"));
  EXPECT_STREQ(h.name, "ABCDEFGHIJKLMNOPQRST");
}

struct HeaderAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
  uint16_t id;
  std::string header_name;
  uint32_t hours;
};

class SchdHeaderAnswer : public testing::TestWithParam<HeaderAnswerCase> {};

TEST_P(SchdHeaderAnswer, StoresTheBlock) {
  const HeaderAnswerCase& c = GetParam();
  nax_schd_header h;
  std::memset(&h, 0, sizeof h);
  h.hours = 0xEEEEEEEE;
  const uint32_t status =
      c.p1 ? decode_get_schd_header_p1(c.answer, h) : decode_get_schd_header_p2(c.answer, h);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(h.id, c.id);
  EXPECT_EQ(std::string(h.name), c.header_name);
  EXPECT_EQ(h.hours, c.hours);
}

const Bytes kName21Block =
    cat({{0x07, 0x00}, Bytes(21, 'N'), le32(1), le32(2), {1, 2, 3, 4, 5, 6, 7}});

INSTANTIATE_TEST_SUITE_P(
    Schd, SchdHeaderAnswer,
    testing::Values(
        HeaderAnswerCase{"P2Block", false, answer_of(1, kDayShiftBlock), 1, 7, "Day shift",
                         0x01020304},
        HeaderAnswerCase{"P2Name21CharsReceivedWhole", false, answer_of(1, kName21Block), 1, 7,
                         std::string(21, 'N'), 1},
        HeaderAnswerCase{"P1AfterResultByte", true, answer_of(0, cat({{0x01}, kDayShiftBlock})), 1,
                         7, "Day shift", 0x01020304},
        HeaderAnswerCase{"P1Refused4StillStoresFields", true,
                         answer_of(0, cat({{0x04}, kDayShiftBlock})), 4, 7, "Day shift",
                         0x01020304},
        HeaderAnswerCase{"P2Status4", false, answer_of(4, {}), 4, 0, "", 0xEEEEEEEE},
        HeaderAnswerCase{"P2EndsInsideHours", false,
                         answer_of(1, Bytes(kDayShiftBlock.begin(), kDayShiftBlock.begin() + 25)),
                         1029, 7, "Day shift", 0xEEEEEEEE},
        HeaderAnswerCase{"P1Empty", true, answer_of(0, {}), 1029, 0, "", 0xEEEEEEEE}),
    case_name<HeaderAnswerCase>);

struct SegmentsAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t capacity;
  uint32_t status;
  uint32_t received;
};

class SchdSegmentsAnswer : public testing::TestWithParam<SegmentsAnswerCase> {};

TEST_P(SchdSegmentsAnswer, StoresWholeSegmentsWithinCapacity) {
  const SegmentsAnswerCase& c = GetParam();
  // One guard segment past the capacity must stay as it was.
  std::vector<nax_schd_segment> segments(c.capacity + 1, nax_schd_segment{0xEE, 0xEE, 0xEE});
  uint32_t received = 0;
  const uint32_t status =
      c.p1 ? decode_get_schd_segments_p1(c.answer, segments.data(), c.capacity, received)
           : decode_get_schd_segments_p2(c.answer, segments.data(), c.capacity, received);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(received, c.received);
  for (uint32_t i = 0; i < received; ++i) {
    EXPECT_EQ(segments[i].hours, i) << i;
    EXPECT_EQ(segments[i].minutes, 10 + i) << i;
    EXPECT_EQ(segments[i].enabled, 1) << i;
  }
  EXPECT_EQ(segments[received].hours, 0xEE);
  EXPECT_EQ(segments[c.capacity].hours, 0xEE);
}

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

INSTANTIATE_TEST_SUITE_P(
    Schd, SchdSegmentsAnswer,
    testing::Values(
        SegmentsAnswerCase{"P2EndsInFourthSegment", false, answer_of(1, segments_answer(4, 3, 2)),
                           4, 1029, 3},
        SegmentsAnswerCase{"P2Three", false, answer_of(1, segments_answer(3, 3)), 5, 1, 3},
        SegmentsAnswerCase{"P2AnnouncesMoreThanAskedStopsAtCount", false,
                           answer_of(1, segments_answer(5, 5)), 2, 1, 2},
        SegmentsAnswerCase{"P2Status4", false, answer_of(4, segments_answer(3, 3)), 3, 4, 0},
        SegmentsAnswerCase{"P2NoCountIsShort", false, answer_of(1, Bytes(11, 0)), 3, 1029, 0},
        SegmentsAnswerCase{"P2ZeroSegments", false, answer_of(1, segments_answer(0, 0)), 3, 1, 0},
        SegmentsAnswerCase{"P1AfterResultByte", true,
                           answer_of(0, cat({{0x01}, segments_answer(2, 2)})), 2, 1, 2},
        SegmentsAnswerCase{"P1Refused4", true, answer_of(0, cat({{0x04}, segments_answer(2, 2)})),
                           2, 4, 0}),
    case_name<SegmentsAnswerCase>);

struct SetSegmentsAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
  uint32_t count_out;
};

class SchdSetSegmentsAnswer : public testing::TestWithParam<SetSegmentsAnswerCase> {};

TEST_P(SchdSetSegmentsAnswer, ReadsTheNodesCount) {
  const SetSegmentsAnswerCase& c = GetParam();
  uint32_t count_out = 0;
  const uint32_t status = c.p1 ? decode_set_schd_segments_p1(c.answer, count_out)
                               : decode_set_schd_segments_p2(c.answer, count_out);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(count_out, c.count_out);
}

INSTANTIATE_TEST_SUITE_P(
    Schd, SchdSetSegmentsAnswer,
    testing::Values(
        SetSegmentsAnswerCase{"P2", false, answer_of(1, cat({le32(9), le32(2)})), 1, 2},
        SetSegmentsAnswerCase{"P2SecondWordMissing", false, answer_of(1, cat({le32(9), {2}})), 1029,
                              0},
        SetSegmentsAnswerCase{"P2Refused", false, answer_of(4, cat({le32(9), le32(2)})), 4, 0},
        SetSegmentsAnswerCase{"P1", true, answer_of(0, cat({{1}, le32(9), le32(2)})), 1, 2},
        SetSegmentsAnswerCase{"P1Refused4", true, answer_of(0, {4}), 4, 0}),
    case_name<SetSegmentsAnswerCase>);

struct ListAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t capacity;
  uint32_t status;
  uint16_t start_id;
  uint32_t received;
};

class SchdListAnswer : public testing::TestWithParam<ListAnswerCase> {};

TEST_P(SchdListAnswer, StoresEntriesWithinCapacity) {
  const ListAnswerCase& c = GetParam();
  std::vector<nax_schd_entry> entries(c.capacity + 1);
  std::memset(entries.data(), 0, entries.size() * sizeof(nax_schd_entry));
  entries[c.capacity].id = 0xEEEE;
  uint16_t start_id = 0x0F0F;
  uint32_t received = 0;
  const uint32_t status =
      c.p1 ? decode_list_schd_p1(c.answer, entries.data(), c.capacity, start_id, received)
           : decode_list_schd_p2(c.answer, entries.data(), c.capacity, start_id, received);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(start_id, c.start_id);
  EXPECT_EQ(received, c.received);
  for (uint32_t i = 0; i < received; ++i) {
    EXPECT_EQ(entries[i].id, 100 + i);
    EXPECT_EQ(std::string(entries[i].name), "S" + std::to_string(i));
  }
  EXPECT_EQ(entries[received].id, received == c.capacity ? 0xEEEE : 0);
}

// Next start id 0x0203, a skipped word, the announced count, `present` whole entries
// (100 + i, "S<i>") and `extra_bytes` of one more.
Bytes list_answer(uint32_t announced, uint32_t present, uint32_t extra_bytes = 0) {
  Bytes out = cat({{0x03, 0x02}, le32(0xAAAAAAAA), le32(announced)});
  for (uint32_t i = 0; i < present; ++i) {
    out.insert(out.end(), {static_cast<uint8_t>(100 + i), 0});
    const Bytes name = name_field("S" + std::to_string(i));
    out.insert(out.end(), name.begin(), name.end());
  }
  for (uint32_t i = 0; i < extra_bytes; ++i) out.push_back(0x41);
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Schd, SchdListAnswer,
    testing::Values(ListAnswerCase{"P2Status31DecodesLikeOne", false,
                                   answer_of(31, list_answer(2, 2)), 5, 31, 0x0203, 2},
                    ListAnswerCase{"P2Announces50ToCapacity10", false,
                                   answer_of(1, list_answer(50, 10)), 10, 1, 0x0203, 10},
                    ListAnswerCase{"P2NoEntries", false, answer_of(1, list_answer(0, 0)), 3, 1,
                                   0x0203, 0},
                    ListAnswerCase{"P2EndsInsideThirdEntry", false,
                                   answer_of(1, list_answer(3, 2, 10)), 5, 1029, 0x0203, 2},
                    ListAnswerCase{"P2Status5KeepsStartId", false, answer_of(5, list_answer(2, 2)),
                                   5, 5, 0x0F0F, 0},
                    ListAnswerCase{"P2CountMissing", false,
                                   answer_of(1, {0x03, 0x02, 0, 0, 0, 0, 1}), 5, 1029, 0x0203, 0},
                    ListAnswerCase{"P1AfterResultByte", true,
                                   answer_of(0, cat({{31}, list_answer(1, 1)})), 5, 31, 0x0203, 1}),
    case_name<ListAnswerCase>);

}  // namespace
}  // namespace nax
