// Portable threads, locks, events, clock and sleep.  Everything above this
// folder uses these types only; the OS is reached from platform/<os>/.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>

namespace nax::platform {

inline constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

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

// A manual- or auto-reset event.  A pollable event also owns a descriptor that
// is readable exactly while the event is set, so that a thread can wait for
// "this event or that descriptor" in one poll.
class Event {
 public:
  explicit Event(bool manual_reset, bool pollable = false);
  ~Event();
  Event(const Event&) = delete;
  Event& operator=(const Event&) = delete;

  bool valid() const { return !pollable_ || fd_ >= 0; }
  void set();
  void reset();
  bool is_set();
  // True when the event was (or became) set within timeout_ms; an auto-reset
  // event is consumed by a successful wait.  It blocks at once: a caller that
  // expects the event within microseconds watches for it itself first.
  bool wait(uint32_t timeout_ms);
  int poll_fd() const { return fd_; }

 private:
  std::mutex m_;
  std::condition_variable cv_;
  bool signalled_ = false;
  const bool manual_;
  const bool pollable_;
  int fd_ = -1;
};

class Thread {
 public:
  Thread() = default;
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // False when the thread could not be created.
  bool start(std::function<void()> body);
  bool started() const { return thread_.joinable(); }
  bool is_current() const { return thread_.get_id() == std::this_thread::get_id(); }
  void join();

 private:
  std::thread thread_;
};

// Wall clock in milliseconds (seconds * 1000 + microseconds / 1000).
uint64_t now_ms();
// Monotonic clock in milliseconds, for measuring waits.
uint64_t monotonic_ms();
void sleep_ms(uint32_t ms);

}  // namespace nax::platform
