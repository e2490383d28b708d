// Link registry: link ids to link records, holders, busy waits, deferred frees.
#include "link/registry.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "core/lifecycle.h"
#include "link/link.h"

namespace nax {
namespace {

struct LinkSlot {
  Link* link;
  uint32_t next_free;
  uint32_t holds;
  uint32_t free_pending;
};

constexpr uint32_t kGrowStep = 100;
constexpr uint32_t kAttempts = 3;
constexpr uint32_t kMinPauseMs = 100;

struct Registry {
  LinkSlot* slots = nullptr;  // index i holds link id i + 1
  uint32_t capacity = 0;
  uint32_t used = 0;  // high-water mark
  uint32_t free_head = 0;
  uint32_t free_count = 0;
};

Registry g_registry;
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

void destroy_link(Link* link) {
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
  auto* slots = static_cast<LinkSlot*>(std::calloc(kGrowStep, sizeof(LinkSlot)));
  if (slots == nullptr) return NAX_ERR_NO_MEMORY;
  g_registry = Registry{slots, kGrowStep, 0, 0, 0};
  return NAX_OK;
}

uint32_t registry_destroy() {
  platform::MutexLock lock(g_registry_mutex);
  std::free(g_registry.slots);
  g_registry = Registry{};
  return NAX_OK;
}

uint32_t link_alloc(Link** link, uint32_t* link_id) {
  *link = nullptr;
  *link_id = 0;
  Link* fresh = nullptr;
  {
    platform::MutexLock lock(g_registry_mutex);
    Registry& r = g_registry;
    if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
    fresh = new (std::nothrow) Link();
    if (fresh == nullptr) return NAX_ERR_NO_MEMORY;
    uint32_t index;
    if (r.free_count != 0) {
      index = r.free_head;
      r.free_head = r.slots[index].next_free;
      --r.free_count;
    } else {
      index = r.used;
      if (r.used >= r.capacity) {
        auto* grown = static_cast<LinkSlot*>(
            std::realloc(r.slots, sizeof(LinkSlot) * (r.capacity + kGrowStep)));
        if (grown == nullptr) {
          delete fresh;
          return NAX_ERR_NO_MEMORY;
        }
        std::memset(grown + r.capacity, 0, sizeof(LinkSlot) * kGrowStep);
        r.slots = grown;
        r.capacity += kGrowStep;
      }
      ++r.used;
    }
    LinkSlot& slot = r.slots[index];
    if (slot.link != nullptr) {
      delete fresh;
      return NAX_ERR_SLOT_IN_USE;
    }
    slot = LinkSlot{fresh, 0, 0, 0};
    g_links_alive.fetch_add(1);
    *link = fresh;
    *link_id = index + 1;
  }
  return NAX_OK;
}

uint32_t link_acquire(uint32_t link_id, Link** link, const AcquireOptions& options) {
  *link = nullptr;
  // Three looks, each followed by a pause while the link is busy; after the
  // third pause the answer is 1051 without another look.
  for (uint32_t attempt = 1;; ++attempt) {
    uint32_t pause;
    {
      platform::MutexLock lock(g_registry_mutex);
      Registry& r = g_registry;
      if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
      if (link_id == 0 || link_id > r.used) return NAX_ERR_NO_SUCH_LINK;
      LinkSlot& slot = r.slots[link_id - 1];
      if (slot.link == nullptr || slot.free_pending != 0) return NAX_ERR_LINK_UNAVAILABLE;
      if (slot.holds <= options.max_holds) {
        if (options.states != 0 && (slot.link->link_state.load() & options.states) == 0) {
          return NAX_ERR_LINK_STATE;
        }
        ++slot.holds;
        if (options.new_state != 0) slot.link->link_state.store(options.new_state);
        *link = slot.link;
        return NAX_OK;
      }
      if (options.wait == 0) return NAX_ERR_LINK_UNAVAILABLE;
      pause = options.wait == kWaitLinkTimeouts
                  ? std::max(slot.link->rcv_timeout.load(), slot.link->snd_timeout.load())
                  : options.wait;
    }
    platform::sleep_ms(std::max(pause, kMinPauseMs));
    if (attempt == kAttempts) return NAX_ERR_LINK_BUSY;
  }
}

uint32_t link_get(uint32_t link_id, Link** link) {
  uint32_t status = is_initialised();
  if (status != NAX_OK) {
    *link = nullptr;
    return status;
  }
  return link_acquire(link_id, link, {.states = kStatesCommands, .wait = kWaitLinkTimeouts});
}

namespace {

// Puts the link's slot back on the free list, under the registry lock; returns the
// record, which the caller destroys once the lock is released.
Link* vacate(Registry& r, uint32_t link_id) {
  LinkSlot& slot = r.slots[link_id - 1];
  Link* link = slot.link;
  slot = LinkSlot{nullptr, r.free_head, 0, 0};
  r.free_head = link_id - 1;
  ++r.free_count;
  return link;
}

}  // namespace

uint32_t link_release(uint32_t link_id) {
  Link* doomed = nullptr;
  {
    platform::MutexLock lock(g_registry_mutex);
    Registry& r = g_registry;
    if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
    if (link_id == 0 || link_id > r.capacity) return NAX_ERR_NO_SUCH_LINK;
    LinkSlot& slot = r.slots[link_id - 1];
    if (slot.link == nullptr || slot.holds == 0) return NAX_ERR_LINK_UNAVAILABLE;
    --slot.holds;
    if (slot.holds == 0 && slot.free_pending != 0) {
      doomed = vacate(r, link_id);
    }
  }
  // Closing OS objects happens outside the registry lock.
  if (doomed != nullptr) destroy_link(doomed);
  return NAX_OK;
}

// Under the registry lock: the reception thread this wakes may find its node gone at
// once and free the link, which it can only do once set() has returned.
void link_ready(Link* link, uint32_t state) {
  platform::MutexLock lock(g_registry_mutex);
  link->link_state = state;
  link->ready_event->set();
}

uint32_t link_free(uint32_t link_id) {
  Link* doomed = nullptr;
  {
    platform::MutexLock lock(g_registry_mutex);
    Registry& r = g_registry;
    if (r.slots == nullptr) return NAX_ERR_NO_REGISTRY;
    if (link_id == 0 || link_id > r.capacity) return NAX_ERR_LINK_UNAVAILABLE;
    LinkSlot& slot = r.slots[link_id - 1];
    if (slot.link == nullptr) return NAX_ERR_LINK_UNAVAILABLE;
    if (slot.holds != 0) {
      slot.free_pending = 1;
      return NAX_ERR_LINK_HELD;
    }
    doomed = vacate(r, link_id);
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

RegistryStats registry_get_stats() {
  platform::MutexLock lock(g_registry_mutex);
  return RegistryStats{g_registry.capacity, g_registry.used, g_registry.free_count};
}

}  // namespace nax
