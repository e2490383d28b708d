// naxgw's own log: one line per event on stderr, with time and level, or with the
// priority prefix journald reads when stderr is the journal.
#pragma once

#include <string>

namespace naxgw {

enum class Level { error = 3, warning = 4, info = 6, debug = 7 };

// "error", "warning", "info" or "debug"; false for anything else.
bool parse_level(const std::string& name, Level& level);
void set_log_level(Level level);
void log(Level level, const std::string& message);

inline void log_error(const std::string& m) {
  log(Level::error, m);
}
inline void log_warning(const std::string& m) {
  log(Level::warning, m);
}
inline void log_info(const std::string& m) {
  log(Level::info, m);
}
inline void log_debug(const std::string& m) {
  log(Level::debug, m);
}

}  // namespace naxgw
