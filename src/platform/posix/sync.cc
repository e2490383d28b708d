// POSIX events, threads, clocks and sleep.
#include <sys/eventfd.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

#include "platform/platform.h"

namespace nax::platform {

Event::Event(bool manual_reset, bool pollable) : manual_(manual_reset), pollable_(pollable) {
  if (pollable_) fd_ = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
}

Event::~Event() {
  if (fd_ >= 0) ::close(fd_);
}

void Event::set() {
  std::lock_guard<std::mutex> lock(m_);
  if (!signalled_ && fd_ >= 0) {
    uint64_t one = 1;
    (void)!::write(fd_, &one, sizeof one);
  }
  signalled_ = true;
  if (manual_) {
    cv_.notify_all();
  } else {
    cv_.notify_one();
  }
}

void Event::reset() {
  std::lock_guard<std::mutex> lock(m_);
  if (signalled_ && fd_ >= 0) {
    uint64_t drained;
    (void)!::read(fd_, &drained, sizeof drained);
  }
  signalled_ = false;
}

bool Event::is_set() {
  std::lock_guard<std::mutex> lock(m_);
  return signalled_;
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
    if (fd_ >= 0) {
      uint64_t drained;
      (void)!::read(fd_, &drained, sizeof drained);
    }
    signalled_ = false;
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

uint64_t now_ms() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u;
}

uint64_t monotonic_ms() {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

void sleep_ms(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

}  // namespace nax::platform
