// Results for people (aligned tables) or for programs (JSON), and a progress bar.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "json.h"

namespace naxctl {

// Columns padded to their widest cell, two spaces apart, header first.
std::string format_table(const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows);
// "name  value" lines with the names padded to the longest.
std::string format_fields(const std::vector<std::pair<std::string, std::string>>& fields);

// "1 user", "3 users".
std::string count_of(uint64_t n, const std::string& noun);

// Writes to stdout: the JSON (pretty) when json is set, else the text.
void emit(bool json, const std::string& text, const Json& value);

// A bar on stderr while a long transfer runs, drawn only when stderr is a terminal.
class Progress {
 public:
  // total 0: the size is unknown; a running count is shown instead.
  Progress(std::string label, uint64_t total);
  ~Progress();
  Progress(const Progress&) = delete;
  Progress& operator=(const Progress&) = delete;

  void update(uint64_t done);
  void finish();

 private:
  std::string label_;
  uint64_t total_;
  bool active_;
  bool drawn_ = false;
};

}  // namespace naxctl
