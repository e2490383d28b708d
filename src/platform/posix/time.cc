// POSIX sleep and local time.
#include <time.h>

#include <cerrno>

#include "platform/platform.h"

namespace nax::platform {

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
