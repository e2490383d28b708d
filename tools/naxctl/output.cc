// Results for people or for programs, and a progress bar.
#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "csv.h"

namespace naxctl {

namespace {

// Display width: bytes that start a UTF-8 character.
size_t width_of(const std::string& s) {
  return static_cast<size_t>(std::count_if(
      s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

}  // namespace

std::string format_table(const std::vector<std::string>& header,
                         const std::vector<std::vector<std::string>>& rows) {
  std::vector<size_t> widths(header.size(), 0);
  for (size_t c = 0; c < header.size(); ++c) widths[c] = width_of(header[c]);
  for (const auto& row : rows) {
    for (size_t c = 0; c < row.size() && c < widths.size(); ++c) {
      widths[c] = std::max(widths[c], width_of(row[c]));
    }
  }
  std::string out;
  const auto line = [&](const std::vector<std::string>& cells) {
    std::string text;
    for (size_t c = 0; c < cells.size() && c < widths.size(); ++c) {
      if (c > 0) text += "  ";
      text += cells[c];
      if (c + 1 < cells.size()) text.append(widths[c] - width_of(cells[c]), ' ');
    }
    while (!text.empty() && text.back() == ' ') text.pop_back();
    out += text + "\n";
  };
  line(header);
  for (const auto& row : rows) line(row);
  return out;
}

std::string format_fields(const std::vector<std::pair<std::string, std::string>>& fields) {
  size_t width = 0;
  for (const auto& f : fields) width = std::max(width, width_of(f.first));
  std::string out;
  for (const auto& [name, value] : fields) {
    out += name;
    out.append(width - width_of(name) + 2, ' ');
    out += value + "\n";
  }
  return out;
}

std::string count_of(uint64_t n, const std::string& noun) {
  return std::to_string(n) + " " + noun + (n == 1 ? "" : "s");
}

void emit(bool json, const std::string& text, const Json& value) {
  write_stdout(json ? value.dump(2) + "\n" : text);
}

void write_stdout(const std::string& text) {
  errno = 0;
  if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size()) check_stdout();
  check_stdout();
}

void check_stdout() {
  const int earlier = errno;
  if (std::fflush(stdout) != 0 || std::ferror(stdout) != 0) {
    const int reason = errno != 0 ? errno : earlier;
    throw OutputError(std::string("standard output: ") +
                      (reason != 0 ? std::strerror(reason) : "write failed"));
  }
}

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), active_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  finish();
}

ListFormat list_format(const std::string& given, bool json) {
  if (given == "csv") return ListFormat::Csv;
  if (given == "json" || (given.empty() && json)) return ListFormat::Json;
  return ListFormat::Table;
}

std::string render_list(ListFormat format, const std::vector<std::string>& header,
                        const std::vector<std::vector<std::string>>& rows, const Json& json,
                        const std::string& footer) {
  switch (format) {
    case ListFormat::Json:
      return json.dump(2) + "\n";
    case ListFormat::Csv: {
      std::string text = csv_line(header) + "\n";
      for (const auto& row : rows) text += csv_line(row) + "\n";
      return text;
    }
    case ListFormat::Table:
      break;
  }
  return format_table(header, rows) + footer;
}

std::string progress_line(const std::string& label, uint64_t done, uint64_t total,
                          double elapsed_s) {
  constexpr int kBar = 30;
  char text[256];
  std::string line = label;
  if (total > 0) {
    const uint64_t shown = std::min(done, total);
    const int filled = static_cast<int>(shown * kBar / total);
    std::snprintf(text, sizeof text, " [%.*s%*s] %3d%% %llu/%llu", filled,
                  "##############################", kBar - filled, "",
                  static_cast<int>(shown * 100 / total), static_cast<unsigned long long>(shown),
                  static_cast<unsigned long long>(total));
  } else {
    std::snprintf(text, sizeof text, " %llu", static_cast<unsigned long long>(done));
  }
  line += text;
  if (elapsed_s > 0 && done > 0) {
    const double rate = static_cast<double>(done) / elapsed_s;
    std::snprintf(text, sizeof text, "  %.1f/s", rate);
    line += text;
    if (total > done) {
      const double left = static_cast<double>(total - done) / rate;
      std::snprintf(text, sizeof text, "  %llus left", static_cast<unsigned long long>(left + 0.5));
      line += text;
    }
  }
  return line;
}

void Progress::update(uint64_t done) {
  if (!active_) return;
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start_;
  std::fprintf(stderr, "\r%s\033[K", progress_line(label_, done, total_, elapsed.count()).c_str());
  std::fflush(stderr);
  drawn_ = true;
}

void Progress::finish() {
  if (drawn_) {
    std::fputs("\r\033[K", stderr);
    std::fflush(stderr);
  }
  drawn_ = false;
}

}  // namespace naxctl
