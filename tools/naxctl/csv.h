// Comma-separated values: fields quoted when they hold a comma, a quote or a line break.
#pragma once

#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace naxctl {

using CsvRow = std::vector<std::string>;

// One line (without its line break) from the fields.
std::string csv_line(const CsvRow& fields);

// Every row of a document; CRLF or LF line ends; blank lines are skipped.  Throws
// CsvError naming the line of an unterminated quote or of text after a closing quote.
std::vector<CsvRow> csv_parse(std::string_view document);

class CsvError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace naxctl
