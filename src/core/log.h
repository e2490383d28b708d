// The library's text log: one line per call, level-filtered, file opened and
// closed for every line so that it can be read (or removed) while running.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nax {

// Sets the log up unless a path is held already or level is 0.  path null
// means "zavidu.log" in the current directory.
void log_setup(const char* path, int32_t level);
// Frees the path, sets the level to 0; no line is written afterwards.
void log_teardown();
uint32_t log_level();
bool log_enabled(uint32_t level);

// One line: "YYYY-MM-DD hh:mm:ss context: message", written when the log
// level (unsigned) is at least level.  Levels in use: 1, 2, 3, 6.
void log_printf(uint32_t level, const char* context, const char* format, ...)
    __attribute__((format(printf, 3, 4)));
// One line with a fixed text.
void log_text(uint32_t level, const char* context, const char* text);
// Level-4 hex dump: two upper-case digits per byte on one line; "empty" for 0 bytes.
void log_hex(const char* context, const void* bytes, std::size_t count);

}  // namespace nax
