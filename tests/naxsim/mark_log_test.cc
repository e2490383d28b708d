// The simulated node's mark log grows as a real terminal's does: preloaded marks, then one
// per credential presented.
#include <gtest/gtest.h>

#include "handlers_marks.h"
#include "naxsim.h"
#include "raw_client.h"

namespace {

using naxsim::MarkEntry;
using naxsim::MarkLog;

std::vector<MarkEntry> marks_of(naxsim::Node& node) {
  return node.with_state<MarkLog>([](MarkLog& log) { return log.marks; });
}

int minutes_of(const nax_date_time& t) {
  return ((t.year * 12 + t.month) * 31 + t.day) * 24 * 60 + t.hour * 60 + t.minute;
}

TEST(NaxsimMarkLog, PreloadedMarksAreDistinctOldestFirstAndEndBeforeNow) {
  for (const std::size_t count : {0, 1, 250}) {
    naxsim::Node node(3);
    naxsim::preload_marks(node, count);
    const auto marks = marks_of(node);
    ASSERT_EQ(marks.size(), count);
    for (std::size_t i = 0; i < marks.size(); ++i) {
      EXPECT_EQ(marks[i].id, i + 1);
      // One a minute; across a month's end the day arithmetic above is only monotonic.
      EXPECT_TRUE(i == 0 || minutes_of(marks[i].time) > minutes_of(marks[i - 1].time)) << i;
    }
    EXPECT_TRUE(marks.empty() || minutes_of(marks.back().time) <= minutes_of(node.time()));
  }
}

TEST(NaxsimMarkLog, EachSpontaneousEventAppendsItsMark) {
  auto sim = naxsim_test::start_simulator();
  naxsim::preload_marks(sim->node(), 5);
  naxsim_test::RawClient host(sim->port(), 2);
  ASSERT_TRUE(host.request(naxsim_test::get_time_request(2)));  // teaches the protocol
  naxsim::Faults faults;
  faults.event_every_ms = 20;
  sim->set_faults(faults);
  const auto received = host.receive(3000, 3);
  sim->set_faults({});
  ASSERT_GE(received.packets.size(), 3u);
  const auto marks = marks_of(sim->node());
  ASSERT_GE(marks.size(), 5u + received.packets.size());
  for (std::size_t i = 0; i < received.packets.size(); ++i) {
    const MarkEntry& m = marks[5 + i];
    EXPECT_EQ(m.id, received.packets[i].data[0]) << i;  // the event's user id, low byte
    EXPECT_EQ(m.id, i + 1);
  }
}

}  // namespace
