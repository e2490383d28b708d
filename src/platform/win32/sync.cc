// Windows side of events, clocks, sleep and local time.
#include <windows.h>

#include <ctime>

#include "platform/platform.h"

namespace nax::platform {
namespace {

HANDLE handle_of(Waitable w) {
  return reinterpret_cast<HANDLE>(w);
}

}  // namespace

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

uint64_t now_ms() {
  // 100 ns ticks since 1601-01-01, moved to the Unix epoch.
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t ticks = (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
  constexpr uint64_t kEpochTicks = 116444736000000000ull;
  return ticks < kEpochTicks ? 0 : (ticks - kEpochTicks) / 10000u;
}

void sleep_ms(uint32_t ms) {
  Sleep(ms);
}

bool local_time(std::time_t t, std::tm* out) {
  return localtime_s(out, &t) == 0;
}

}  // namespace nax::platform
