// Process-wide library state: initialised flag, listen limits and the
// one-slot listener registry.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace nax {

inline constexpr const char* kLibVersion = "1.1.13";

// 1 when nax_init has succeeded and nax_uninit has not, else 1034.
uint32_t is_initialised();

// Bounds on the links that nodes open by connecting in, until the host claims
// them: every such link holds a thread and its descriptors, and anyone who can
// reach the port can open them.  Off until the host sets them (at any time): an
// unclaimed link otherwise waits to be claimed for as long as its node stays.
inline constexpr uint32_t kDefaultMaxUnclaimed = 0;
inline constexpr uint32_t kDefaultClaimTimeoutMs = 0;
struct ListenLimitSettings {
  std::atomic<uint32_t> max_unclaimed{kDefaultMaxUnclaimed};       // 0: no cap
  std::atomic<uint32_t> claim_timeout_ms{kDefaultClaimTimeoutMs};  // 0: kept until closed
  std::atomic<uint32_t> unclaimed{0};  // links created by the listener, not yet claimed or freed
};
ListenLimitSettings& listen_limits();
// Ends a link's count as unclaimed, once: when the host claims it or it is freed.
inline void leave_unclaimed(std::atomic<bool>& counted) {
  if (counted.exchange(false)) listen_limits().unclaimed.fetch_sub(1);
}

// Listener registry: at most one listener, id 1.
struct Listener;
struct ListenerRegistry {
  platform::Mutex mutex;
  bool created = false;
  Listener* listener = nullptr;
};
ListenerRegistry& listeners();

}  // namespace nax
