// Numbers as operators type them.
#include "numbers.h"

#include <cctype>

namespace naxctl {

std::optional<int64_t> parse_number(std::string_view text, int64_t min, int64_t max) {
  bool negative = false;
  if (!text.empty() && text.front() == '-') {
    if (min >= 0) return std::nullopt;
    negative = true;
    text.remove_prefix(1);
  }
  int base = 10;
  if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
    base = 16;
    text.remove_prefix(2);
  }
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t magnitude = 0;
  for (char c : text) {
    int digit = 0;
    if (std::isdigit(static_cast<unsigned char>(c))) {
      digit = c - '0';
    } else if (base == 16 && std::isxdigit(static_cast<unsigned char>(c))) {
      digit = std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    } else {
      return std::nullopt;
    }
    if (magnitude > (UINT64_MAX - static_cast<uint64_t>(digit)) / base) return std::nullopt;
    magnitude = magnitude * base + static_cast<uint64_t>(digit);
  }
  if (magnitude > static_cast<uint64_t>(INT64_MAX)) return std::nullopt;
  const int64_t value =
      negative ? -static_cast<int64_t>(magnitude) : static_cast<int64_t>(magnitude);
  if (value < min || value > max) return std::nullopt;
  return value;
}

CLI::Validator number_in(int64_t min, int64_t max) {
  const std::string range = std::to_string(min) + ".." + std::to_string(max);
  return CLI::Validator(
      [min, max, range](std::string& text) -> std::string {
        const auto value = parse_number(text, min, max);
        if (!value) return "'" + text + "' is not a number in " + range;
        text = std::to_string(*value);
        return {};
      },
      "NUMBER " + range, "number");
}

}  // namespace naxctl
