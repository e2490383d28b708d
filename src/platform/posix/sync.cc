// POSIX side of events, clocks, sleep and local time.
#include <sys/eventfd.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>

#include "platform/platform.h"

namespace nax::platform {

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

uint64_t now_ms() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<uint64_t>(tv.tv_sec) * 1000u + static_cast<uint64_t>(tv.tv_usec) / 1000u;
}

void sleep_ms(uint32_t ms) {
  struct timespec ts;
  ts.tv_sec = ms / 1000;
  ts.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

bool local_time(std::time_t t, std::tm* out) {
  return localtime_r(&t, out) != nullptr;
}

}  // namespace nax::platform
