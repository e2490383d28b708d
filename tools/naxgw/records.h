// The library's records as JSON, both ways.  Everything read from JSON is checked: a
// missing or out-of-range field is a BadRequest naming the field, never a wrong record.
#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <stdexcept>
#include <string>

#include "vedodiroz.h"

namespace naxgw {

using json = nlohmann::json;

class BadRequest : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Compact JSON text.  Texts from a node need not be UTF-8: invalid bytes become U+FFFD
// instead of an exception.
std::string to_text(const json& value);

// "2024-02-29T23:59:58": the node's clock carries no time zone.
std::string iso_time(const nax_date_time& t);
// Accepts "YYYY-MM-DDTHH:MM:SS" (or a space for the T) with years 2000-2099; the weekday
// is computed, 0 = Sunday.  Throws BadRequest.
nax_date_time parse_iso_time(const std::string& text);
// The host's local clock as a node record.
nax_date_time local_now();
// UTC now, "2024-02-29T23:59:58Z": the gateway's own times.
std::string utc_now();

// Field access on a request object.  Throw BadRequest.
uint64_t get_uint(const json& object, const char* key, uint64_t max);
uint64_t get_uint(const json& object, const char* key, uint64_t max, uint64_t fallback);
int64_t get_int(const json& object, const char* key, int64_t min, int64_t max);
std::string get_text(const json& object, const char* key, std::size_t max_length);
const json& get_array(const json& object, const char* key, std::size_t max_items);

json user_to_json(const nax_user& user);
// Fields present set the mask bits; an explicit "mask" overrides.  "id" is required.
nax_user user_from_json(const json& object);

json mark_to_json(const nax_mark& mark);
json user_event_to_json(const nax_user_event& event);
json aux_event_to_json(const nax_aux_input_event& event);

json aux_input_to_json(const nax_aux_input& input);
nax_aux_input aux_input_from_json(const json& object);

json schd_header_to_json(const nax_schd_header& header);
nax_schd_header schd_header_from_json(const json& object);
json segment_to_json(const nax_schd_segment& segment);
nax_schd_segment segment_from_json(const json& object);

nax_display_message display_message_from_json(const json& object);

}  // namespace naxgw
