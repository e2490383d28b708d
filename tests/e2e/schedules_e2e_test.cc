// Schedules end to end in both protocols: headers and segments written and read
// back, the list paged through, deletion, and the limits checked before sending.
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "e2e_support.h"
#include "handlers_schedules.h"

namespace {

using e2e::kSimNode;

class SchedulesE2E : public e2e::SimFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  bool p1() const { return GetParam() == 1; }
  int32_t open_link() { return static_cast<int32_t>(open(GetParam())); }
};

nax_schd_header header(uint16_t id, const std::string& name) {
  nax_schd_header h{};
  h.id = id;
  std::memcpy(h.name, name.data(), std::min(name.size(), sizeof h.name - 1));
  h.hours = 0x01020304u + id;
  h.segments = 48;
  h.date_time = {8, 30, 15, 24, 2, 29, 4};
  return h;
}

std::vector<nax_schd_segment> segments(uint32_t n) {
  std::vector<nax_schd_segment> out(n);
  for (uint32_t i = 0; i < n; ++i) {
    out[i] = {static_cast<uint8_t>(i % 24), static_cast<uint8_t>(i % 60),
              static_cast<uint8_t>(i % 2)};
  }
  return out;
}

bool same(const nax_schd_segment& a, const nax_schd_segment& b) {
  return a.hours == b.hours && a.minutes == b.minutes && a.enabled == b.enabled;
}

TEST_P(SchedulesE2E, HeaderAndSegmentsWrittenReadAndDeleted) {
  const int32_t link = open_link();
  nax_schd_header written = header(12, "ABCDEFGHIJKLMNOPQRSTU");  // 21 characters
  ASSERT_EQ(nax_set_schd_header(link, kSimNode, &written), NAX_OK);
  EXPECT_STREQ(written.name, "ABCDEFGHIJKLMNOPQRST") << "cut in the host's record";

  nax_schd_header read;
  std::memset(&read, 0xEE, sizeof read);
  ASSERT_EQ(nax_get_schd_header(link, kSimNode, 12, &read), NAX_OK);
  EXPECT_EQ(read.id, 12);
  EXPECT_STREQ(read.name, "ABCDEFGHIJKLMNOPQRST");
  EXPECT_EQ(read.hours, written.hours);
  EXPECT_EQ(read.segments, 48u);
  EXPECT_EQ(std::memcmp(&read.date_time, &written.date_time, sizeof read.date_time), 0);

  // The most one request carries to a node: the protocol-1 frame limit, and the
  // 512 data bytes a protocol-2 node takes.
  const uint32_t total = p1() ? 170 : 166;
  const std::vector<nax_schd_segment> sent = segments(total);
  uint32_t count_out = 0;
  ASSERT_EQ(nax_set_schd_segments(link, kSimNode, 12, sent.data(), 0, total, &count_out), NAX_OK);
  EXPECT_EQ(count_out, total);

  // The node answers at most what fits its frame, so read in runs of 100.
  std::vector<nax_schd_segment> back;
  for (uint32_t first = 0; first < total; first += 100) {
    std::vector<nax_schd_segment> run(100);
    uint32_t received = 0;
    ASSERT_EQ(nax_get_schd_segments(link, kSimNode, 12, run.data(), first, 100, &received), NAX_OK);
    ASSERT_EQ(received, std::min<uint32_t>(100, total - first));
    back.insert(back.end(), run.begin(), run.begin() + received);
  }
  ASSERT_EQ(back.size(), sent.size());
  for (uint32_t i = 0; i < total; ++i) EXPECT_TRUE(same(back[i], sent[i])) << i;

  ASSERT_EQ(nax_del_schd(link, kSimNode, 12), NAX_OK);
  EXPECT_EQ(nax_get_schd_header(link, kSimNode, 12, &read), naxsim::kSchdNotFound);
  EXPECT_EQ(nax_del_schd(link, kSimNode, 12), naxsim::kSchdNotFound);
}

TEST_P(SchedulesE2E, ListPagedUntilTheLastPage) {
  const int32_t link = open_link();
  for (uint16_t id = 10; id < 40; ++id) {
    nax_schd_header h = header(id, "schedule " + std::to_string(id));
    ASSERT_EQ(nax_set_schd_header(link, kSimNode, &h), NAX_OK);
  }
  std::vector<nax_schd_entry> all;
  std::vector<uint32_t> statuses;
  uint16_t start_id = 0;
  for (int page = 0; page < 10; ++page) {
    nax_schd_entry entries[8];
    uint32_t received = 99;
    const uint32_t status = nax_list_schd(link, kSimNode, entries, &start_id, 8, &received);
    statuses.push_back(status);
    all.insert(all.end(), entries, entries + received);
    if (status != NAX_OK) break;
  }
  EXPECT_EQ(statuses, (std::vector<uint32_t>{1, 1, 1, naxsim::kSchdListLastPage}));
  ASSERT_EQ(all.size(), 30u);
  for (uint16_t i = 0; i < 30; ++i) {
    EXPECT_EQ(all[i].id, 10 + i);
    EXPECT_EQ(std::string(all[i].name), "schedule " + std::to_string(10 + i));
  }
  EXPECT_EQ(start_id, 40) << "the start id the node gave last";
}

TEST_P(SchedulesE2E, LimitsCheckedWithoutTransaction) {
  const int32_t link = open_link();
  nax_schd_header h = header(1, "one");
  ASSERT_EQ(nax_set_schd_header(link, kSimNode, &h), NAX_OK);
  const uint64_t before = sim_->requests_received();
  const uint32_t too_many = p1() ? 171 : 167;
  const std::vector<nax_schd_segment> sent = segments(too_many);
  uint32_t count_out = 7;
  EXPECT_EQ(nax_set_schd_segments(link, kSimNode, 1, sent.data(), 0, too_many, &count_out),
            NAX_ERR_INVALID_ARG);
  EXPECT_EQ(count_out, 0u);
  nax_schd_segment one[1];
  uint32_t received = 7;
  EXPECT_EQ(nax_get_schd_segments(link, kSimNode, 1, one, 0, 0, &received), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_get_schd_segments(link, kSimNode, 1, nullptr, 0, 1, &received),
            NAX_ERR_INVALID_ARG);
  EXPECT_EQ(received, 0u);
  EXPECT_EQ(nax_get_schd_header(link, kSimNode, 1, nullptr), NAX_ERR_INVALID_ARG);
  uint16_t start_id = 0;
  EXPECT_EQ(nax_list_schd(link, kSimNode, nullptr, &start_id, 4, &received), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(sim_->requests_received(), before);
}

INSTANTIATE_TEST_SUITE_P(Protocols, SchedulesE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

}  // namespace
