// Results for people or for programs, and a progress bar.
#include "output.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

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
  const std::string out = json ? value.dump(2) + "\n" : text;
  std::fwrite(out.data(), 1, out.size(), stdout);
  std::fflush(stdout);
}

Progress::Progress(std::string label, uint64_t total)
    : label_(std::move(label)), total_(total), active_(isatty(STDERR_FILENO) == 1) {}

Progress::~Progress() {
  finish();
}

void Progress::update(uint64_t done) {
  if (!active_) return;
  constexpr int kBar = 30;
  if (total_ > 0) {
    const uint64_t shown = std::min(done, total_);
    const int filled = static_cast<int>(shown * kBar / total_);
    std::fprintf(stderr, "\r%s [%.*s%*s] %3d%% %llu/%llu", label_.c_str(), filled,
                 "##############################", kBar - filled, "",
                 static_cast<int>(shown * 100 / total_), static_cast<unsigned long long>(shown),
                 static_cast<unsigned long long>(total_));
  } else {
    std::fprintf(stderr, "\r%s %llu", label_.c_str(), static_cast<unsigned long long>(done));
  }
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
