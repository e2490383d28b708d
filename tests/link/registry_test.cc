// Link registry: ids, reuse, growth, holds, busy waits and deferred frees.
#include "link/registry.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

namespace {

using nax::Link;
using nax::link_acquire;
using nax::link_alloc;
using nax::link_free;
using nax::link_get;
using nax::link_release;

class RegistryTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(nax_init(nullptr, 0), NAX_OK); }
  // The registry never frees links by itself: drop every hold and free them.
  void TearDown() override {
    const uint32_t used = nax::registry_get_stats().used;
    for (uint32_t id = 1; id <= used; ++id) {
      while (link_release(id) == NAX_OK) {
      }
      link_free(id);
    }
    nax_uninit();
  }

  uint32_t alloc(uint32_t state = LINK_OPEN) {
    Link* link = nullptr;
    uint32_t id = 0;
    EXPECT_EQ(link_alloc(&link, &id), NAX_OK);
    link->link_state = state;
    return id;
  }
};

// Ids start at one and the hundred-first grows the table; freed ids are reused
// last in first out, and one freed while held only after its last release.
TEST_F(RegistryTest, IdsAreReusedLastInFirstOutOnceNoLongerHeld) {
  for (uint32_t i = 1; i <= 101; ++i) ASSERT_EQ(alloc(), i);
  Link* link = nullptr;
  ASSERT_EQ(link_get(101, &link), NAX_OK);
  EXPECT_EQ(link_free(101), NAX_ERR_LINK_HELD);
  Link* again = nullptr;
  EXPECT_EQ(link_acquire(101, &again, {.max_holds = nax::kAnyHolds}), NAX_ERR_LINK_UNAVAILABLE);
  EXPECT_EQ(link_free(1), NAX_OK);
  EXPECT_EQ(link_free(2), NAX_OK);
  EXPECT_EQ(alloc(), 2u);
  EXPECT_EQ(alloc(), 1u);
  EXPECT_EQ(alloc(), 102u);  // the pending slot is not reused yet
  EXPECT_EQ(link_release(101), NAX_OK);
  EXPECT_EQ(alloc(), 101u);
}

TEST_F(RegistryTest, AcquireRefusals) {
  uint32_t open = alloc(LINK_OPEN);
  uint32_t incoming = alloc(LINK_INCOMING);
  uint32_t freed = alloc();
  ASSERT_EQ(link_free(freed), NAX_OK);
  struct Case {
    const char* name;
    uint32_t id;
    uint32_t mask;
    uint32_t expected;
  };
  const Case cases[] = {
      {"id 0", 0, nax::kStatesCommands, NAX_ERR_NO_SUCH_LINK},
      {"never given", 4, nax::kStatesCommands, NAX_ERR_NO_SUCH_LINK},
      {"freed id", freed, nax::kStatesCommands, NAX_ERR_LINK_UNAVAILABLE},
      {"not accepted yet", incoming, nax::kStatesCommands, NAX_ERR_LINK_STATE},
      {"incoming for accept", incoming, LINK_INCOMING, NAX_OK},
      {"open for commands", open, nax::kStatesCommands, NAX_OK},
      {"any state", incoming, 0, NAX_ERR_LINK_UNAVAILABLE},  // held by the row above
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Link* link = nullptr;
    EXPECT_EQ(link_acquire(c.id, &link, {.states = c.mask}), c.expected);
    EXPECT_EQ(link != nullptr, c.expected == NAX_OK);
  }
  EXPECT_EQ(link_release(incoming), NAX_OK);
  EXPECT_EQ(link_release(incoming), NAX_ERR_LINK_UNAVAILABLE);  // no holds left
}

// Pauses below 100 ms become 100 ms: three of them before giving up, and a look
// after each, so a holder letting go midway is seen.
TEST_F(RegistryTest, BusyLinkWaitsThreePausesAndIsTakenOnceLetGo) {
  uint32_t id = alloc();
  Link* link = nullptr;
  ASSERT_EQ(link_get(id, &link), NAX_OK);
  link->rcv_timeout = 50;
  link->snd_timeout = 50;
  Link* second = nullptr;
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(link_get(id, &second), NAX_ERR_LINK_BUSY);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  EXPECT_EQ(second, nullptr);
  std::thread holder([id] {
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    link_release(id);
  });
  EXPECT_EQ(link_get(id, &second), NAX_OK);
  EXPECT_EQ(second, link);
  holder.join();
  EXPECT_EQ(link_release(id), NAX_OK);
}

// Looks at 0, 1 and 2 s; the holder lets go in the middle of the third pause,
// which still ends in 1051: there is no fourth look.
TEST_F(RegistryTest, BusyAfterTheThirdPauseWithoutAnotherLook) {
  uint32_t id = alloc();
  Link* link = nullptr;
  ASSERT_EQ(link_get(id, &link), NAX_OK);
  std::atomic<bool> started{false};
  std::thread holder([&] {
    while (!started.load()) std::this_thread::yield();
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    link_release(id);
  });
  Link* second = nullptr;
  started = true;
  EXPECT_EQ(link_acquire(id, &second, {.states = nax::kStatesCommands, .wait = 1000}),
            NAX_ERR_LINK_BUSY);
  EXPECT_EQ(second, nullptr);
  holder.join();
}

// Many threads allocating, holding, releasing and freeing: every id handed out
// is unique among live links and the counters add up at the end.
TEST_F(RegistryTest, ConcurrentAllocAcquireReleaseFree) {
  constexpr int kThreads = 8;
  constexpr int kRounds = 300;
  std::atomic<int> errors{0};
  std::vector<std::atomic<int>> owners(1000);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int round = 0; round < kRounds; ++round) {
        Link* link = nullptr;
        uint32_t id = 0;
        if (link_alloc(&link, &id) != NAX_OK || id >= owners.size()) {
          ++errors;
          continue;
        }
        if (owners[id].exchange(t + 1) != 0) ++errors;  // someone else owns this id
        link->link_state = LINK_OPEN;
        link->rcv_timeout = 0;
        link->snd_timeout = 0;
        Link* held = nullptr;
        if (link_get(id, &held) != NAX_OK || held != link) ++errors;
        Link* other = nullptr;
        if (link_acquire(id, &other, {}) != NAX_ERR_LINK_UNAVAILABLE) ++errors;
        if (link_release(id) != NAX_OK) ++errors;
        owners[id].store(0);
        if (link_free(id) != NAX_OK) ++errors;
      }
    });
  }
  for (auto& th : threads) th.join();
  EXPECT_EQ(errors.load(), 0);
  auto stats = nax::registry_get_stats();
  EXPECT_EQ(stats.free_count, stats.used);  // every slot ever used is free again
  EXPECT_LE(stats.used, static_cast<uint32_t>(kThreads));
}

}  // namespace
