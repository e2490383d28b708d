// The node's records as operators read and write them: texts, table rows, JSON and CSV.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "csv.h"
#include "json.h"
#include "vedodiroz.h"

namespace naxctl {

// A fault in what the operator gave (a file, a field, a date); exit status 1.
class InputError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// ---- date and time ----

// "YYYY-MM-DD hh:mm:ss" (or with a 'T'); years 2000-2099 (the node keeps two digits).
// The weekday is computed, 0 = Sunday.
std::optional<nax_date_time> parse_date_time(std::string_view text);
// What is wrong with text as a date and time ("February 2025 has 28 days"); empty when
// parse_date_time takes it.
std::string date_time_problem(std::string_view text);
// A CLI11 check of a date-time argument, naming the fault.
std::string check_date_time(std::string& text);
// "20YY-MM-DD hh:mm:ss"; fields out of range are printed as they are.
std::string format_date_time(const nax_date_time& t);
// 0 = Sunday ... 6 = Saturday, for a full year.
int weekday_of(int year, int month, int day);
// The host's local time now.
nax_date_time local_now();

// ---- users ----

// Field names, in wire order, as used by CSV headers, JSON keys and command-line flags.
const std::vector<std::string>& user_field_names();
// Sets the field and its mask bit; throws InputError for a bad value or an unknown field.
void set_user_field(nax_user& user, std::string_view name, std::string_view value);
// Fields whose mask bit is set, as name and text.
std::vector<std::pair<std::string, std::string>> user_fields(const nax_user& user);

Json user_to_json(const nax_user& user);
// A JSON object of fields; numbers may be JSON numbers or texts.  Needs "id".
nax_user user_from_json(const Json& object);
// A header line of field names, then one user a row; an empty cell leaves the field out.
std::string users_to_csv(const std::vector<nax_user>& users);
std::vector<nax_user> users_from_csv(std::string_view document);
// A document of either kind: a JSON array (or {"users": [...]}) or CSV, by its first
// non-blank character.
std::vector<nax_user> users_from_document(std::string_view document);
std::string users_table(const std::vector<nax_user>& users);

// ---- marks ----

Json mark_to_json(const nax_mark& mark);
std::string marks_to_csv(const std::vector<nax_mark>& marks);
std::string marks_table(const std::vector<nax_mark>& marks);

// ---- aux inputs ----

const std::vector<std::string>& aux_field_names();
void set_aux_field(nax_aux_input& input, std::string_view name, std::string_view value);
std::vector<std::pair<std::string, std::string>> aux_fields(const nax_aux_input& input);
Json aux_to_json(uint16_t id, const nax_aux_input& input);

// ---- schedule segments ----

// "HH:MM" (enabled) or "HH:MM/0" and "HH:MM/1".
std::optional<nax_schd_segment> parse_segment(std::string_view text);
std::string format_segment(const nax_schd_segment& segment);

// ---- bytes ----

std::string hex_bytes(const uint8_t* data, size_t size);
std::optional<std::vector<uint8_t>> parse_hex(std::string_view text);

// CRC-32 as in IEEE 802.3 (reflected, start and final XOR 0xFFFFFFFF).
uint32_t crc32_of(const uint8_t* data, size_t size);

}  // namespace naxctl
