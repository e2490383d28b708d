// Portable threads, locks, events, clocks and sleep.  Everything above this
// folder uses these types only; the OS is reached from platform/<os>/, which
// the build picks (posix/ and linux/, or win32/).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <ctime>
#include <functional>
#include <mutex>
#include <thread>

namespace nax::platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// An OS object a wait can include beside a socket or a port: a descriptor on
// POSIX, a HANDLE on Windows; -1 when there is none.
using Waitable = std::intptr_t;
inline constexpr Waitable kNoWaitable = -1;

class Mutex {
 public:
  void lock() { m_.lock(); }
  void unlock() { m_.unlock(); }

 private:
  std::mutex m_;
};

class MutexLock {
 public:
  explicit MutexLock(Mutex& m) : m_(m) { m_.lock(); }
  ~MutexLock() { m_.unlock(); }
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

 private:
  Mutex& m_;
};

// A manual- or auto-reset event.  A waitable event also owns an OS object
// that is signalled exactly while the event is set, so that a serial read can
// wait for "this event or the port" in one OS wait.  Events that only threads
// wait for need no OS object.
class Event {
 public:
  explicit Event(bool manual_reset, bool waitable = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool valid() const { return !waitable_ || native_ != kNoWaitable; }
  void set();
  void reset();
  bool is_set() const { return state_.load(std::memory_order_acquire) != 0; }
  // True when the event was (or became) set within timeout_ms; an auto-reset
  // event is consumed by a successful wait.  A time-out of 0 looks once.
  bool wait(uint32_t timeout_ms);
  // The OS object, for the platform layer's own waits; kNoWaitable when none.
  Waitable native() const { return native_; }

 private:
  bool try_take();

  std::atomic<uint32_t> state_{0};     // 1 while set; the word sleepers wait on
  std::atomic<uint32_t> sleepers_{0};  // threads in wait_on_word, so set() wakes only when needed
  std::mutex mirror_;                  // keeps the OS object in step with state_
  const bool manual_;
  const bool waitable_;
  Waitable native_ = kNoWaitable;
};

class Thread {
 public:
  Thread() = default;
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;
  Thread(Thread&&) noexcept = default;

  // False when the thread could not be created.
  bool start(std::function<void()> body);
  bool started() const { return thread_.joinable(); }
  bool is_current() const { return thread_.get_id() == std::this_thread::get_id(); }
  void join();

 private:
  std::thread thread_;
};

// Monotonic clock in milliseconds, for every time-out and deadline.
uint64_t monotonic_ms();
void sleep_ms(uint32_t ms);
// Local time of t; false when it cannot be had.
bool local_time(std::time_t t, std::tm* out);

// Whole milliseconds from now to deadline, rounded up; 0 once it has passed.
inline uint32_t ms_until(std::chrono::steady_clock::time_point deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= left.zero()) return 0;
  return static_cast<uint32_t>(std::chrono::ceil<std::chrono::milliseconds>(left).count());
}

// Sleeps while word holds `value`, at most timeout_ms; it may return early for
// no reason, so the caller looks again.  wake_word wakes one sleeper or all.
// (platform/linux/sync.cc: a futex; platform/win32/sync.cc.)
void wait_on_word(std::atomic<uint32_t>& word, uint32_t value, uint32_t timeout_ms);
void wake_word(std::atomic<uint32_t>& word, bool all);

// The OS side of a waitable event (platform/<os>/sync.cc).
Waitable native_event_create();
void native_event_destroy(Waitable w);
void native_event_set(Waitable w);
void native_event_clear(Waitable w);

}  // namespace nax::platform
