// The simulated node's mark log grows as a real terminal's does: preloaded marks, then one
// per credential presented.
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

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
  struct Case {
    std::size_t count;
  };
  for (const Case c : {Case{0}, Case{1}, Case{250}}) {
    naxsim::Node node(3);
    naxsim::preload_marks(node, c.count);
    const auto marks = marks_of(node);
    ASSERT_EQ(marks.size(), c.count);
    for (std::size_t i = 0; i < marks.size(); ++i) {
      EXPECT_EQ(marks[i].id, i + 1);
      EXPECT_EQ(marks[i].event, 0x01);
      EXPECT_EQ(marks[i].event_word, 0);
      if (i > 0) {
        // One a minute; across a month's end the day arithmetic above is only monotonic.
        EXPECT_GT(minutes_of(marks[i].time), minutes_of(marks[i - 1].time)) << i;
      }
    }
    if (!marks.empty()) {
      EXPECT_LT(minutes_of(marks.back().time), minutes_of(node.time()) + 1);
    }
  }
}

TEST(NaxsimMarkLog, EachSpontaneousEventAppendsItsMark) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  naxsim::preload_marks(sim.node(), 5);
  naxsim_test::RawClient host(sim.port(), 2);
  nax::Packet request{};
  request.cmd = 0x8033;  // get time: teaches the connection its protocol
  request.des_node = 1;
  ASSERT_TRUE(host.request(request));
  naxsim::Faults faults;
  faults.event_every_ms = 20;
  sim.set_faults(faults);
  const auto received = host.receive(3000, 3);
  sim.set_faults({});
  ASSERT_GE(received.packets.size(), 3u);
  const auto marks = marks_of(sim.node());
  ASSERT_GE(marks.size(), 5u + received.packets.size());
  for (std::size_t i = 0; i < received.packets.size(); ++i) {
    const MarkEntry& m = marks[5 + i];
    EXPECT_EQ(m.id, received.packets[i].data[0]) << i;  // the event's user id, low byte
    EXPECT_EQ(m.id, i + 1);
  }
  sim.stop();
}

}  // namespace
