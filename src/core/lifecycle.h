// Process-wide library state: initialised flag, library-wide keepalive
// settings and the one-slot listener registry.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/platform.h"

namespace nax {

inline constexpr const char* kLibVersion = "1.1.13";

// 1 when nax_init has succeeded and nax_uninit has not, else 1034.
uint32_t is_initialised();

// Library-wide keepalive settings: written only while the library is not
// initialised, read without a lock by every reception thread.
struct keepalive_settings {
  std::atomic<uint32_t> timeout_ms{0};  // 0 disables keepalives
  std::atomic<uint32_t> retries{0};
  std::atomic<uint16_t> dest_node{0xFFFF};
};
keepalive_settings& keepalive();

// Listener registry: at most one listener, id 1.
struct nax_listener;
struct listener_registry {
  platform::Mutex mutex;
  bool created = false;
  nax_listener* listener = nullptr;
};
listener_registry& listeners();

}  // namespace nax
