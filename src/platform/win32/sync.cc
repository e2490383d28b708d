// Windows side of events, sleep and local time.
#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <ctime>
#include <mutex>

#include "platform/platform.h"

namespace nax::platform {
namespace {

HANDLE handle_of(Waitable w) {
  return reinterpret_cast<HANDLE>(w);
}

// Sleepers on a word wait in one of a few shared buckets picked by its
// address; a waker takes the bucket's lock after the word changed, so a
// sleeper that looked before the change is already waiting and is woken.
struct Bucket {
  std::mutex m;
  std::condition_variable cv;
};

Bucket& bucket_of(const std::atomic<uint32_t>& word) {
  // Never freed: a thread the host left running may still wait in one at exit.
  static Bucket* const buckets = new Bucket[32];
  return buckets[(reinterpret_cast<std::uintptr_t>(&word) >> 4) % 32];
}

}  // namespace

void wait_on_word(std::atomic<uint32_t>& word, uint32_t value, uint32_t timeout_ms) {
  Bucket& b = bucket_of(word);
  std::unique_lock<std::mutex> lock(b.m);
  if (word.load() != value) return;
  if (timeout_ms == kWaitForever) {
    b.cv.wait(lock);
  } else {
    b.cv.wait_for(lock, std::chrono::milliseconds(timeout_ms));
  }
}

void wake_word(std::atomic<uint32_t>& word, bool /*all*/) {
  // Others may share the bucket: wake them all, each looks at its own word.
  Bucket& b = bucket_of(word);
  { std::lock_guard<std::mutex> lock(b.m); }
  b.cv.notify_all();
}

Waitable native_event_create() {
  HANDLE h = CreateEventA(nullptr, TRUE, FALSE, nullptr);  // manual reset, not set
  return h != nullptr ? reinterpret_cast<Waitable>(h) : kNoWaitable;
}

void native_event_destroy(Waitable w) {
  CloseHandle(handle_of(w));
}

void native_event_set(Waitable w) {
  SetEvent(handle_of(w));
}

void native_event_clear(Waitable w) {
  ResetEvent(handle_of(w));
}

void sleep_ms(uint32_t ms) {
  Sleep(ms);
}

bool local_time(std::time_t t, std::tm* out) {
  return localtime_s(out, &t) == 0;
}

}  // namespace nax::platform
