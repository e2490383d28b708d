// The answer wait's choice between watching and blocking, driven with the
// round trips a link would see.
#include "core/wait_policy.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using nax::AnswerWaitPolicy;
using P = AnswerWaitPolicy;

// One wait: asks for the budget and, when it watched, reports the round trip.
uint32_t wait_once(AnswerWaitPolicy& p, uint32_t round_trip_us) {
  const uint32_t budget = p.watch_budget_us();
  if (budget != 0) p.note_watched(round_trip_us);
  return budget;
}

void run(AnswerWaitPolicy& p, uint32_t round_trip_us, uint32_t waits) {
  for (uint32_t i = 0; i < waits; ++i) wait_once(p, round_trip_us);
}

TEST(AnswerWaitPolicy, AFirstProbeRunDecidesFromTheNodesRoundTrips) {
  struct Case {
    const char* name;
    uint32_t round_trip_us;
    bool watching;
  };
  for (const Case& c :
       {Case{"quick node", 25, true}, Case{"just quick enough", P::kEnterUs - 1, true},
        Case{"between the thresholds", 50, false}, Case{"a network node", 800, false},
        Case{"a serial node", 40000, false}}) {
    SCOPED_TRACE(c.name);
    AnswerWaitPolicy p;
    for (uint32_t i = 0; i < P::kProbeRun; ++i) {
      EXPECT_EQ(wait_once(p, c.round_trip_us), P::kProbeBudgetUs) << i;
    }
    EXPECT_EQ(p.watching(), c.watching);
    const uint32_t next = p.watch_budget_us();
    if (c.watching) {
      EXPECT_EQ(next, std::max(2 * c.round_trip_us, P::kMinBudgetUs));
    } else {
      EXPECT_EQ(next, 0u);
    }
  }
}

TEST(AnswerWaitPolicy, ABlockingLinkProbesAgainAtLongIntervalsOnly) {
  AnswerWaitPolicy p;
  run(p, 800, P::kProbeRun);
  ASSERT_FALSE(p.watching());
  std::vector<uint32_t> watched_at;
  for (uint32_t wait = 1; wait <= 3 * P::kProbeEvery; ++wait) {
    if (wait_once(p, 800) != 0) watched_at.push_back(wait);
  }
  // Runs of kProbeRun watched waits, kProbeEvery blocked waits apart.
  ASSERT_EQ(watched_at.size(), 2 * P::kProbeRun);
  EXPECT_EQ(watched_at[0], P::kProbeEvery);
  EXPECT_EQ(watched_at[P::kProbeRun - 1], P::kProbeEvery + P::kProbeRun - 1);
  EXPECT_EQ(watched_at[P::kProbeRun], 2 * P::kProbeEvery + P::kProbeRun - 1);
}

TEST(AnswerWaitPolicy, ANodeThatBecameQuickIsWatchedAfterTheNextProbeRun) {
  AnswerWaitPolicy p;
  run(p, 800, P::kProbeRun);
  ASSERT_FALSE(p.watching());
  run(p, 25, P::kProbeEvery - 1);  // blocked waits: no samples
  EXPECT_FALSE(p.watching());
  run(p, 25, P::kProbeRun);
  EXPECT_TRUE(p.watching());
  EXPECT_EQ(p.estimate_us(), 25u);
}

TEST(AnswerWaitPolicy, WatchingSurvivesASlowRoundTripButNotASlowNode) {
  struct Case {
    const char* name;
    std::vector<uint32_t> then;
    bool watching;
  };
  const std::vector<Case> cases = {
      {"one stall of a millisecond", {1000, 25, 25, 25}, true},
      {"round trips between the thresholds", std::vector<uint32_t>(40, 50), true},
      {"round trips just over the upper threshold", std::vector<uint32_t>(60, P::kLeaveUs + 4),
       false},
      {"the node slowed down for good", {1000, 1000, 1000}, false},
      {"no answer at all, twice", {1000000, 1000000}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AnswerWaitPolicy p;
    run(p, 25, P::kProbeRun);
    ASSERT_TRUE(p.watching());
    for (uint32_t us : c.then) wait_once(p, us);
    EXPECT_EQ(p.watching(), c.watching);
    EXPECT_LE(p.watch_budget_us(), P::kMaxBudgetUs);
  }
}

TEST(AnswerWaitPolicy, AProbeRunWithoutAFreeCoreEndsBlocking) {
  AnswerWaitPolicy p;
  for (uint32_t i = 0; i < P::kProbeRun; ++i) {
    ASSERT_NE(p.watch_budget_us(), 0u);
    p.note_not_watched();
  }
  EXPECT_FALSE(p.watching());
  EXPECT_EQ(p.watch_budget_us(), 0u);
}

}  // namespace
