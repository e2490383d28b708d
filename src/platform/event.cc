// Events and threads on the C++ standard library, shared by every OS; a
// waitable event mirrors its state into an OS object (sync.cc of each OS).
#include <chrono>

#include "platform/platform.h"

namespace nax::platform {

Event::Event(bool manual_reset, bool waitable) : manual_(manual_reset), waitable_(waitable) {
  if (waitable_) native_ = native_event_create();
}

Event::~Event() {
  if (native_ != kNoWaitable) native_event_destroy(native_);
}

void Event::set() {
  std::lock_guard<std::mutex> lock(m_);
  if (!signalled_ && native_ != kNoWaitable) native_event_set(native_);
  signalled_ = true;
  signalled_fast_.store(true, std::memory_order_release);
  if (manual_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
}

void Event::reset() {
  std::lock_guard<std::mutex> lock(m_);
  if (signalled_ && native_ != kNoWaitable) native_event_clear(native_);
  signalled_ = false;
  signalled_fast_.store(false, std::memory_order_relaxed);
}

bool Event::wait(uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(m_);
  auto ready = [this] { return signalled_; };
  if (timeout_ms == kWaitForever) {
    cv_.wait(lock, ready);
  } else if (!cv_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready)) {
    return false;
  }
  if (!manual_) {
    if (native_ != kNoWaitable) native_event_clear(native_);
    signalled_ = false;
    signalled_fast_.store(false, std::memory_order_relaxed);
  }
  return true;
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
