// Log lines: "2026-01-02T03:04:05.678Z warning door1: offline: connection closed".  Under
// systemd (JOURNAL_STREAM set) the journal adds the time and reads the level from "<4>".
#include "log.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace naxgw {
namespace {

std::atomic<int> threshold{static_cast<int>(Level::info)};
const bool to_journal = std::getenv("JOURNAL_STREAM") != nullptr;

const char* name_of(Level level) {
  switch (level) {
    case Level::error:
      return "error";
    case Level::warning:
      return "warning";
    case Level::info:
      return "info";
    case Level::debug:
      return "debug";
  }
  return "info";
}

}  // namespace

bool parse_level(const std::string& name, Level& level) {
  for (const Level l : {Level::error, Level::warning, Level::info, Level::debug}) {
    if (name == name_of(l)) {
      level = l;
      return true;
    }
  }
  return false;
}

void set_log_level(Level level) {
  threshold.store(static_cast<int>(level));
}

void log(Level level, const std::string& message) {
  if (static_cast<int>(level) > threshold.load()) return;
  std::string line;
  if (to_journal) {
    line = "<" + std::to_string(static_cast<int>(level)) + ">" + message;
  } else {
    const auto now = std::chrono::system_clock::now();
    const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    const auto millis =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    char stamp[64];
    std::snprintf(stamp, sizeof stamp, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                  utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                  static_cast<int>(millis));
    line = std::string(stamp) + " " + name_of(level) + " " + message;
  }
  // Newlines inside a message would split it into lines a collector reads apart.
  for (char& c : line) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  line += '\n';
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace naxgw
