// The text log: level-filtered writers, one line per call.
#include "core/log.h"

#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>

#include "platform/platform.h"

namespace nax {
namespace {

constexpr const char* kDefaultLogFile = "zavidu.log";

// The level and path are read without the lock; they change only in
// nax_init and nax_uninit, which run while no other call is in progress.
std::atomic<uint32_t> g_level{0};
char* g_path = nullptr;
std::unique_ptr<platform::Mutex> g_mutex;

void write_line(const char* context, const char* text_or_format, va_list* args) {
  platform::Mutex* mutex = g_mutex.get();
  const char* path = g_path;
  if (mutex == nullptr || path == nullptr) return;
  platform::MutexLock lock(*mutex);
  FILE* file = std::fopen(path, "a");
  if (file == nullptr) return;
  std::time_t now = std::time(nullptr);
  std::tm local{};
  (void)platform::local_time(now, &local);
  std::fprintf(file, "%04d-%02d-%02d %02d:%02d:%02d", local.tm_year + 1900, local.tm_mon + 1,
               local.tm_mday, local.tm_hour, local.tm_min, local.tm_sec);
  if (context != nullptr) std::fprintf(file, " %s:", context);
  if (text_or_format != nullptr) {
    std::fputc(' ', file);
    if (args != nullptr) {
      std::vfprintf(file, text_or_format, *args);
    } else {
      std::fputs(text_or_format, file);
    }
  }
  std::fputc('\n', file);
  std::fclose(file);
}

}  // namespace

void log_setup(const char* path, int32_t level) {
  if (g_path != nullptr || level == 0) return;
  const char* source = path != nullptr ? path : kDefaultLogFile;
  std::size_t length = std::strlen(source);
  char* copy = new (std::nothrow) char[length + 1];
  if (copy == nullptr) return;
  std::memcpy(copy, source, length + 1);
  g_mutex.reset(new (std::nothrow) platform::Mutex());
  if (!g_mutex) {
    delete[] copy;
    return;
  }
  g_path = copy;
  g_level.store(static_cast<uint32_t>(level));
}

void log_teardown() {
  if (g_path == nullptr) return;
  g_level.store(0);
  delete[] g_path;
  g_path = nullptr;
  g_mutex.reset();
}

uint32_t log_level() {
  return g_level.load(std::memory_order_relaxed);
}

bool log_enabled(uint32_t level) {
  uint32_t current = log_level();
  return current != 0 && current >= level;
}

void log_printf(uint32_t level, const char* context, const char* format, ...) {
  if (format == nullptr || !log_enabled(level)) return;
  va_list args;
  va_start(args, format);
  write_line(context, format, &args);
  va_end(args);
}

void log_text(uint32_t level, const char* context, const char* text) {
  if (text == nullptr || !log_enabled(level)) return;
  write_line(context, text, nullptr);
}

void log_hex(const char* context, const void* bytes, std::size_t count) {
  if (bytes == nullptr || log_level() == 0) return;
  if (count == 0) {
    log_text(4, context, "empty");
    return;
  }
  if (!log_enabled(4)) return;
  static const char kDigits[] = "0123456789ABCDEF";
  char* text = new (std::nothrow) char[2 * count + 1];
  if (text == nullptr) return;
  const auto* p = static_cast<const uint8_t*>(bytes);
  for (std::size_t i = 0; i < count; ++i) {
    text[2 * i] = kDigits[p[i] >> 4];
    text[2 * i + 1] = kDigits[p[i] & 0x0F];
  }
  text[2 * count] = '\0';
  log_text(4, context, text);
  delete[] text;
}

}  // namespace nax
