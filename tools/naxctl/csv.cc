// Comma-separated values.
#include "csv.h"

namespace naxctl {

std::string csv_line(const CsvRow& fields) {
  std::string out;
  for (size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) out += ',';
    const std::string& f = fields[i];
    if (f.find_first_of(",\"\r\n") == std::string::npos) {
      out += f;
      continue;
    }
    out += '"';
    for (char c : f) {
      if (c == '"') out += '"';
      out += c;
    }
    out += '"';
  }
  return out;
}

std::vector<CsvRow> csv_parse(std::string_view doc) {
  std::vector<CsvRow> rows;
  CsvRow row;
  std::string field;
  size_t line = 1;
  size_t i = 0;
  bool row_has_text = false;
  const auto end_field = [&] {
    row.push_back(std::move(field));
    field.clear();
  };
  const auto end_row = [&] {
    end_field();
    if (row_has_text || row.size() > 1) rows.push_back(std::move(row));
    row.clear();
    row_has_text = false;
  };
  while (i < doc.size()) {
    const char c = doc[i];
    if (c == '"' && field.empty()) {
      const size_t opened = line;
      ++i;
      while (true) {
        if (i >= doc.size()) {
          throw CsvError("CSV line " + std::to_string(opened) + ": quote not closed");
        }
        if (doc[i] == '"') {
          if (i + 1 < doc.size() && doc[i + 1] == '"') {
            field += '"';
            i += 2;
            continue;
          }
          ++i;
          break;
        }
        if (doc[i] == '\n') ++line;
        field += doc[i++];
      }
      row_has_text = true;
      if (i < doc.size() && doc[i] != ',' && doc[i] != '\n' && doc[i] != '\r') {
        throw CsvError("CSV line " + std::to_string(line) + ": text after a closing quote");
      }
      continue;
    }
    if (c == ',') {
      end_field();
      ++i;
    } else if (c == '\r' || c == '\n') {
      end_row();
      if (c == '\r' && i + 1 < doc.size() && doc[i + 1] == '\n') ++i;
      ++i;
      ++line;
    } else {
      field += c;
      row_has_text = true;
      ++i;
    }
  }
  if (!field.empty() || !row.empty() || row_has_text) end_row();
  return rows;
}

}  // namespace naxctl
