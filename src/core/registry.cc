// Link registry: link ids to link records, holders, busy waits, deferred frees.
#include "core/registry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/lifecycle.h"

namespace nax {
namespace {

struct link_slot {
  nax_link* link;
  uint32_t next_free;
  uint32_t holds;
  uint32_t free_pending;
};

constexpr uint32_t kGrowStep = 100;
constexpr uint32_t kAttempts = 3;
constexpr uint32_t kMinPauseMs = 100;

struct registry {
  link_slot* slots = nullptr;  // index i holds link id i + 1
  uint32_t capacity = 0;
  uint32_t used = 0;  // high-water mark
  uint32_t free_head = 0;
  uint32_t free_count = 0;
};

registry g_registry;
// Created with the registry and kept for the life of the process, so that a
// late caller never locks a destroyed mutex.
platform::Mutex g_registry_mutex;

// Links allocated and not yet destroyed; nax_uninit sleeps on it until it is 0.
std::atomic<uint32_t> g_links_alive{0};
// Reception threads that freed their own link: they cannot join themselves, and a thread
// nobody joins keeps its stack, so each is joined by the next one to get here or by
// nax_uninit, which leaves no library thread running behind it.
platform::Mutex g_ended_mutex;
std::vector<platform::Thread> g_ended_threads;

std::vector<platform::Thread> take_ended_threads() {
  std::vector<platform::Thread> ended;
  platform::MutexLock lock(g_ended_mutex);
  ended.swap(g_ended_threads);
  return ended;
}

void destroy_link(nax_link* link) {
  // The transport was closed and the reception thread has ended before this,
  // or this is that thread on its way out.
  link->rx_thread.join();
  std::vector<platform::Thread> earlier;
  if (link->rx_thread.is_current()) {
    platform::MutexLock lock(g_ended_mutex);
    earlier.swap(g_ended_threads);
    try {
      g_ended_threads.push_back(std::move(link->rx_thread));
    } catch (...) {
      // No room to keep it: it is detached with the record instead.
    }
  }
  platform::socket_close(link->socket.exchange(platform::kNoSocket));
  platform::serial_close_device(link->handle);
  std::free(link->device_name);
  std::free(link->device_param);
  // Counted out only now that its descriptors are closed, so that the count bounds them.
  std::atomic<bool> unclaimed{link->unclaimed.load()};
  delete link;
  leave_unclaimed(unclaimed);
  for (platform::Thread& ended : earlier) ended.join();
  if (g_links_alive.fetch_sub(1) == 1) platform::wake_word(g_links_alive, true);
}

}  // namespace

uint32_t registry_create() {
  platform::MutexLock lock(g_registry_mutex);
  if (g_registry.slots != nullptr) return NAX_ERR_REGISTRY_EXISTS;
  auto* slots = static_cast<link_slot*>(std::calloc(kGrowStep, sizeof(link_slot)));
  if (slots == nullptr) return NAX_ERR_NO_MEMORY;
  g_registry = registry{slots, kGrowStep, 0, 0, 0};
  return NAX_OK;
}

uint32_t registry_destroy() {
  platform::MutexLock lock(g_registry_mutex);
  std::free(g_registry.slots);
  g_registry = registry{};
  return NAX_OK;
}

uint32_t link_alloc(nax_link** link, uint32_t* link_id) {
  *link = nullptr;
  *link_id = 0;
  nax_link* fresh = nullptr;
  {
    platform::MutexLock lock(g_registry_mutex);
    registry& r = g_registry;
    if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
    fresh = new (std::nothrow) nax_link();
    if (fresh == nullptr) return NAX_ERR_NO_MEMORY;
    uint32_t index;
    if (r.free_count != 0) {
      index = r.free_head;
      r.free_head = r.slots[index].next_free;
      --r.free_count;
    } else {
      index = r.used;
      if (r.used >= r.capacity) {
        auto* grown = static_cast<link_slot*>(
            std::realloc(r.slots, sizeof(link_slot) * (r.capacity + kGrowStep)));
        if (grown == nullptr) {
          delete fresh;
          return NAX_ERR_NO_MEMORY;
        }
        std::memset(grown + r.capacity, 0, sizeof(link_slot) * kGrowStep);
        r.slots = grown;
        r.capacity += kGrowStep;
      }
      ++r.used;
    }
    link_slot& slot = r.slots[index];
    if (slot.link != nullptr) {
      delete fresh;
      return NAX_ERR_SLOT_IN_USE;
    }
    slot = link_slot{fresh, 0, 0, 0};
    g_links_alive.fetch_add(1);
    *link = fresh;
    *link_id = index + 1;
  }
  return NAX_OK;
}

uint32_t link_acquire(uint32_t link_id, nax_link** link, uint32_t state_mask, uint32_t new_state,
                      uint32_t max_holds, uint32_t wait_mode) {
  *link = nullptr;
  // Three looks, each followed by a pause while the link is busy; after the
  // third pause the answer is 1051 without another look.
  for (uint32_t attempt = 1;; ++attempt) {
    uint32_t pause;
    {
      platform::MutexLock lock(g_registry_mutex);
      registry& r = g_registry;
      if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
      if (link_id == 0 || link_id > r.used) return NAX_ERR_NO_SUCH_LINK;
      link_slot& slot = r.slots[link_id - 1];
      if (slot.link == nullptr || slot.free_pending != 0) return NAX_ERR_LINK_UNAVAILABLE;
      if (slot.holds <= max_holds) {
        if (state_mask != 0 && (slot.link->link_state.load() & state_mask) == 0) {
          return NAX_ERR_LINK_STATE;
        }
        ++slot.holds;
        if (new_state != 0) slot.link->link_state.store(new_state);
        *link = slot.link;
        return NAX_OK;
      }
      if (wait_mode == 0) return NAX_ERR_LINK_UNAVAILABLE;
      if (wait_mode == 1) {
        pause = std::max(slot.link->rcv_timeout.load(), slot.link->snd_timeout.load());
      } else {
        pause = wait_mode;
      }
    }
    platform::sleep_ms(std::max(pause, kMinPauseMs));
    if (attempt == kAttempts) return NAX_ERR_LINK_BUSY;
  }
}

uint32_t link_get(uint32_t link_id, nax_link** link) {
  uint32_t status = is_initialised();
  if (status != NAX_OK) {
    *link = nullptr;
    return status;
  }
  return link_acquire(link_id, link, kStatesCommands, kKeepState, kExclusive, kWaitLinkTimeouts);
}

uint32_t link_release(uint32_t link_id) {
  nax_link* doomed = nullptr;
  {
    platform::MutexLock lock(g_registry_mutex);
    registry& r = g_registry;
    if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
    if (link_id == 0 || link_id > r.capacity) return NAX_ERR_NO_SUCH_LINK;
    link_slot& slot = r.slots[link_id - 1];
    if (slot.link == nullptr || slot.holds == 0) return NAX_ERR_LINK_UNAVAILABLE;
    --slot.holds;
    if (slot.holds == 0 && slot.free_pending != 0) {
      doomed = slot.link;
      slot = link_slot{nullptr, r.free_head, 0, 0};
      r.free_head = link_id - 1;
      ++r.free_count;
    }
  }
  // Closing OS objects happens outside the registry lock.
  if (doomed != nullptr) destroy_link(doomed);
  return NAX_OK;
}

uint32_t link_free(uint32_t link_id) {
  nax_link* doomed = nullptr;
  {
    platform::MutexLock lock(g_registry_mutex);
    registry& r = g_registry;
    if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
    if (link_id == 0 || link_id > r.capacity) return NAX_ERR_LINK_UNAVAILABLE;
    link_slot& slot = r.slots[link_id - 1];
    if (slot.link == nullptr) return NAX_ERR_LINK_UNAVAILABLE;
    if (slot.holds != 0) {
      slot.free_pending = 1;
      return NAX_ERR_LINK_HELD;
    }
    doomed = slot.link;
    slot = link_slot{nullptr, r.free_head, 0, 0};
    r.free_head = link_id - 1;
    ++r.free_count;
  }
  destroy_link(doomed);
  return NAX_OK;
}

void registry_wait_all_freed() {
  for (uint32_t alive = g_links_alive.load(); alive != 0; alive = g_links_alive.load()) {
    platform::wait_on_word(g_links_alive, alive, platform::kWaitForever);
  }
  for (platform::Thread& ended : take_ended_threads()) ended.join();
}

uint32_t registry_next_live(uint32_t after) {
  platform::MutexLock lock(g_registry_mutex);
  for (uint32_t i = after; i < g_registry.used; ++i) {
    if (g_registry.slots[i].link != nullptr) return i + 1;
  }
  return 0;
}

uint32_t registry_live_links() {
  platform::MutexLock lock(g_registry_mutex);
  uint32_t live = 0;
  for (uint32_t i = 0; i < g_registry.used; ++i) {
    if (g_registry.slots[i].link != nullptr) ++live;
  }
  return live;
}

registry_stats registry_get_stats() {
  platform::MutexLock lock(g_registry_mutex);
  return registry_stats{g_registry.capacity, g_registry.used, g_registry.free_count};
}

}  // namespace nax
