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

int64_t ms_since(Clock::time_point t) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - t).count();
}

TEST(Event, WaitsSeeTheStateEachResetModeLeaves) {
  struct Case {
    const char* name;
    bool manual;
    bool waitable;
  };
  for (const Case& c :
       {Case{"auto", false, false}, Case{"manual", true, false},
        Case{"auto, waitable", false, true}, Case{"manual, waitable", true, true}}) {
    SCOPED_TRACE(c.name);
    Event e(c.manual, c.waitable);
    ASSERT_TRUE(e.valid());
    EXPECT_EQ(e.native() != nax::platform::kNoWaitable, c.waitable);
    EXPECT_FALSE(e.is_set());
    EXPECT_FALSE(e.wait(0));
    const auto start = Clock::now();
    EXPECT_FALSE(e.wait(30));
    EXPECT_GE(ms_since(start), 29);

    // The OS object of a waitable event says what the event says.
    auto os_agrees = [&] {
      if (c.waitable) {
        EXPECT_EQ(os_object_set(e), e.is_set());
      }
    };
    os_agrees();

    e.set();
    e.set();  // setting twice is still one
    EXPECT_TRUE(e.is_set());
    os_agrees();
    EXPECT_TRUE(e.wait(0));
    // An auto-reset event is consumed by the wait that saw it; a manual one stays.
    EXPECT_EQ(e.is_set(), c.manual);
    os_agrees();
    EXPECT_EQ(e.wait(0), c.manual);

    e.set();
    e.reset();
    EXPECT_FALSE(e.is_set());
    os_agrees();
    EXPECT_FALSE(e.wait(0));
  }
}

TEST(Event, ASetFromAnotherThreadWakesABlockedWaitAtOnce) {
  for (const bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    Event e(manual);
    std::atomic<bool> woke{false};
    const auto start = Clock::now();
    std::thread waiter([&] { woke = e.wait(nax::platform::kWaitForever); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(woke.load());
    e.set();
    waiter.join();
    EXPECT_TRUE(woke.load());
    EXPECT_LT(ms_since(start), 5000);
  }
}

// Two threads hand a turn back and forth many times, each wait bounded: a
// wake-up lost between a waiter going to sleep and a set shows as a time-out.
TEST(Event, ManyHandOffsBetweenTwoThreadsLoseNoWakeUp) {
  constexpr int kTurns = 20000;
  for (const bool waitable : {false, true}) {
    SCOPED_TRACE(waitable ? "waitable" : "thread-only");
    Event ping(false, waitable);
    Event pong(false, waitable);
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
    if (waitable) {
      EXPECT_FALSE(os_object_set(ping) || os_object_set(pong));
    }
  }
}

TEST(Event, AutoResetWakesOneWaiterPerSetManualWakesAll) {
  constexpr int kWaiters = 4;
  for (const bool manual : {false, true}) {
    SCOPED_TRACE(manual ? "manual" : "auto");
    Event e(manual);
    std::atomic<int> woke{0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < kWaiters; ++i) {
      waiters.emplace_back([&] {
        if (e.wait(manual ? 5000 : 400)) ++woke;
      });
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    e.set();
    for (auto& t : waiters) t.join();
    EXPECT_EQ(woke.load(), manual ? kWaiters : 1);
  }
}

}  // namespace
