// Events: what a wait sees for each reset mode, the OS object of a waitable
// event in step with it, and wake-ups from other threads (one or all).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "platform/platform.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <poll.h>
#endif

namespace {

using nax::platform::Event;
using Clock = std::chrono::steady_clock;

// Whether a waitable event's OS object is signalled now, looked at without waiting.
bool os_object_set(const Event& e) {
#ifdef _WIN32
  return WaitForSingleObject(reinterpret_cast<HANDLE>(e.native()), 0) == WAIT_OBJECT_0;
#else
  pollfd p{static_cast<int>(e.native()), POLLIN, 0};
  return ::poll(&p, 1, 0) == 1;
#endif
}

TEST(Event, WaitsSeeTheStateEachResetModeLeaves) {
  for (const bool manual : {false, true}) {
    for (const bool waitable : {false, true}) {
      SCOPED_TRACE(::testing::Message() << "manual " << manual << ", waitable " << waitable);
      Event e(manual, waitable);
      EXPECT_EQ(e.native() != nax::platform::kNoWaitable, waitable);
      // The OS object of a waitable event says what the event says.
      auto expect_set = [&](bool set) {
        EXPECT_EQ(e.is_set(), set);
        EXPECT_TRUE(!waitable || os_object_set(e) == set);
      };
      expect_set(false);
      EXPECT_FALSE(e.wait(0));
      const auto start = Clock::now();
      EXPECT_FALSE(e.wait(30));
      EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(29));

      e.set();
      e.set();  // setting twice is still one
      expect_set(true);
      EXPECT_TRUE(e.wait(0));
      // An auto-reset event is consumed by the wait that saw it; a manual one stays.
      expect_set(manual);
      EXPECT_EQ(e.wait(0), manual);

      e.set();
      e.reset();
      expect_set(false);
      EXPECT_FALSE(e.wait(0));
    }
  }
}

// Two threads hand a turn back and forth many times, each wait bounded: a
// wake-up lost between a waiter going to sleep and a set shows as a time-out.
TEST(Event, ManyHandOffsBetweenTwoThreadsLoseNoWakeUp) {
  constexpr int kTurns = 20000;
  for (const bool waitable : {false, true}) {
    SCOPED_TRACE(waitable ? "waitable" : "thread-only");
    Event ping(false, waitable), pong(false, waitable);
    std::atomic<int> lost{0};
    std::thread other([&] {
      for (int i = 0; i < kTurns; ++i) {
        if (!ping.wait(2000)) ++lost;
        pong.set();
      }
    });
    for (int i = 0; i < kTurns; ++i) {
      ping.set();
      if (!pong.wait(2000)) ++lost;
    }
    other.join();
    EXPECT_EQ(lost.load(), 0);
    EXPECT_FALSE(waitable && (os_object_set(ping) || os_object_set(pong)));
  }
}

// Waiters blocked before the set: a manual event wakes all of them, even those waiting
// for ever; an auto-reset one exactly one.
TEST(Event, AutoResetWakesOneWaiterPerSetManualWakesAll) {
  constexpr int kWaiters = 4;
  for (const bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    Event e(manual);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
      waiters.emplace_back([&] { woke += e.wait(manual ? nax::platform::kWaitForever : 400); });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(woke.load(), 0);
    e.set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woke.load(), manual ? kWaiters : 1);
  }
}

}  // namespace
