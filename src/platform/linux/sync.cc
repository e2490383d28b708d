// Linux side of events: a futex for sleepers, an eventfd for the OS object.
#include <linux/futex.h>
#include <sys/eventfd.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>

#include "platform/platform.h"

namespace nax::platform {

void wait_on_word(std::atomic<uint32_t>& word, uint32_t value, uint32_t timeout_ms) {
  static_assert(sizeof(std::atomic<uint32_t>) == sizeof(uint32_t));
  timespec relative{};
  timespec* bound = nullptr;
  if (timeout_ms != kWaitForever) {
    relative.tv_sec = static_cast<time_t>(timeout_ms / 1000);
    relative.tv_nsec = static_cast<long>(timeout_ms % 1000) * 1000000L;
    bound = &relative;
  }
  // Returns at once when the word no longer holds value; EINTR and time-out
  // both send the caller back to look.
  (void)syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAIT_PRIVATE, value, bound,
                nullptr, 0);
}

void wake_word(std::atomic<uint32_t>& word, bool all) {
  (void)syscall(SYS_futex, reinterpret_cast<uint32_t*>(&word), FUTEX_WAKE_PRIVATE,
                all ? 0x7FFFFFFF : 1, nullptr, nullptr, 0);
}

Waitable native_event_create() {
  int fd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  return fd >= 0 ? fd : kNoWaitable;
}

void native_event_destroy(Waitable w) {
  ::close(static_cast<int>(w));
}

void native_event_set(Waitable w) {
  uint64_t one = 1;
  (void)!::write(static_cast<int>(w), &one, sizeof one);
}

void native_event_clear(Waitable w) {
  uint64_t drained;
  (void)!::read(static_cast<int>(w), &drained, sizeof drained);
}

}  // namespace nax::platform
