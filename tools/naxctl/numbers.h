// Numbers as operators type them: decimal, or hexadecimal with a 0x prefix.
#pragma once

#include <CLI/CLI.hpp>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace naxctl {

// Whole text as one number within [min, max]; a leading '-' only when min < 0.
// Leading zeros stay decimal ("0100" is one hundred, not sixty-four).
std::optional<int64_t> parse_number(std::string_view text, int64_t min, int64_t max);

// CLI11 check that admits what parse_number admits and hands CLI11 the decimal form.
CLI::Validator number_in(int64_t min, int64_t max);

template <class T>
CLI::Validator number_for() {
  return number_in(static_cast<int64_t>(std::numeric_limits<T>::min()),
                   static_cast<int64_t>(std::numeric_limits<T>::max()));
}

// An option or positional holding a number of type T, hex or decimal.
template <class T>
CLI::Option* add_number(CLI::App* app, const std::string& name, T& value,
                        const std::string& description) {
  return app->add_option(name, value, description)->transform(number_for<T>());
}

}  // namespace naxctl
