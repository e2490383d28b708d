// Results for people (aligned tables) or for programs (JSON), and a progress bar.
#pragma once

#include <chrono>
#include <cstdint>
#include <stdexcept>
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

// Every list command's --format: table (the default; json with the global --json), csv
// (a header line, then one line a row) or json (an array).
enum class ListFormat { Table, Csv, Json };
ListFormat list_format(const std::string& given, bool json);
// A list in that format: the table is followed by footer (e.g. "3 users").
std::string render_list(ListFormat format, const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows, const Json& json,
                        const std::string& footer);

// Writes to stdout: the JSON (pretty) when json is set, else the text.
void emit(bool json, const std::string& text, const Json& value);
// Writes text to stdout and flushes it; throws OutputError with the system's reason.
void write_stdout(const std::string& text);
// Flushes stdout; throws OutputError when that or an earlier write to it failed.
void check_stdout();

// A result that could not be written (a full disk, a closed pipe); exit status 1.
class OutputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// One progress line: "label [####      ]  40% 400/1000  120.0/s  5s left" (known total) or
// "label 400  120.0/s" (unknown total); the rate and time left appear once time has passed.
std::string progress_line(const std::string& label, uint64_t done, uint64_t total,
                          double elapsed_s);

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
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
};

}  // namespace naxctl
