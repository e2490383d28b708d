// Events and threads, shared by every OS: an event's sleepers wait on its
// state word through the OS (sync.cc of each OS), and a waitable event
// mirrors its state into an OS object.
#include <chrono>

#include "platform/platform.h"

namespace nax::platform {

Event::Event(bool manual_reset, bool waitable) : manual_(manual_reset), waitable_(waitable) {
  if (waitable_) native_ = native_event_create();
}

Event::~Event() {
  if (native_ != kNoWaitable) native_event_destroy(native_);
}

// A sleeper counts itself before it looks at the state and a setter stores
// the state before it looks at the count (both sequentially consistent), so
// either the sleeper sees the event set or the setter sees the sleeper.
void Event::set() {
  if (native_ != kNoWaitable) {
    std::lock_guard<std::mutex> lock(mirror_);
    if (state_.exchange(1) == 0) native_event_set(native_);
  } else {
    state_.store(1);
  }
  if (sleepers_.load() != 0) wake_word(state_, manual_);
}

void Event::reset() {
  if (native_ != kNoWaitable) {
    std::lock_guard<std::mutex> lock(mirror_);
    if (state_.exchange(0) != 0) native_event_clear(native_);
  } else {
    state_.store(0);
  }
}

bool Event::try_take() {
  if (manual_) return is_set();
  if (native_ != kNoWaitable) {
    std::lock_guard<std::mutex> lock(mirror_);
    if (state_.exchange(0) == 0) return false;
    native_event_clear(native_);
    return true;
  }
  uint32_t set = 1;
  return state_.compare_exchange_strong(set, 0);
}

bool Event::wait(uint32_t timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    if (try_take()) return true;
    uint32_t left = kWaitForever;
    if (timeout_ms != kWaitForever) {
      left = ms_until(deadline);
      if (left == 0) return false;
    }
    sleepers_.fetch_add(1);
    wait_on_word(state_, 0, left);
    sleepers_.fetch_sub(1);
  }
}

Thread::~Thread() {
  // A thread still joinable here was never waited for; detach rather than
  // terminate the host's process.
  if (thread_.joinable()) thread_.detach();
}

bool Thread::start(std::function<void()> body) {
  try {
    thread_ = std::thread(std::move(body));
  } catch (...) {
    return false;
  }
  return true;
}

void Thread::join() {
  if (thread_.joinable() && !is_current()) thread_.join();
}

uint64_t monotonic_ms() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now().time_since_epoch())
                                   .count());
}

}  // namespace nax::platform
