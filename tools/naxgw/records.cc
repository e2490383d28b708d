// JSON forms of the library's records.
#include "records.h"

#include <cstdio>
#include <cstring>
#include <ctime>

namespace naxgw {
namespace {

void copy_text(char* out, std::size_t capacity, const std::string& text) {
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::memcpy(out, text.data(), n);
  out[n] = '\0';
}

std::string bounded(const char* text, std::size_t capacity) {
  return std::string(text, strnlen(text, capacity));
}

// 0 = Sunday, for the proleptic Gregorian calendar.
uint8_t weekday_of(int year, int month, int day) {
  static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return static_cast<uint8_t>(
      (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7);
}

bool leap(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

}  // namespace

std::string to_text(const json& value) {
  return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

std::string iso_time(const nax_date_time& t) {
  char text[32];
  std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", 2000u + t.year % 100u,
                unsigned{t.month}, unsigned{t.day}, unsigned{t.hour}, unsigned{t.minute},
                unsigned{t.second});
  return text;
}

nax_date_time parse_iso_time(const std::string& text) {
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
  char sep = 0;
  int used = 0;
  if (std::sscanf(text.c_str(), "%4d-%2d-%2d%c%2d:%2d:%2d%n", &y, &mo, &d, &sep, &h, &mi, &s,
                  &used) != 7 ||
      static_cast<std::size_t>(used) != text.size() || (sep != 'T' && sep != ' ')) {
    throw BadRequest("time must be written YYYY-MM-DDTHH:MM:SS, not \"" + text + "\"");
  }
  static const int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (y < 2000 || y > 2099 || mo < 1 || mo > 12 || d < 1 || d > days[mo - 1] ||
      (mo == 2 && d == 29 && !leap(y)) || h > 23 || mi > 59 || s > 59 || h < 0 || mi < 0 || s < 0) {
    throw BadRequest("time out of range: \"" + text + "\" (years 2000 to 2099)");
  }
  nax_date_time t{};
  t.year = static_cast<uint8_t>(y - 2000);
  t.month = static_cast<uint8_t>(mo);
  t.day = static_cast<uint8_t>(d);
  t.hour = static_cast<uint8_t>(h);
  t.minute = static_cast<uint8_t>(mi);
  t.second = static_cast<uint8_t>(s);
  t.weekday = weekday_of(y, mo, d);
  return t;
}

nax_date_time local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  nax_date_time t{};
  t.year = static_cast<uint8_t>(tm.tm_year % 100);
  t.month = static_cast<uint8_t>(tm.tm_mon + 1);
  t.day = static_cast<uint8_t>(tm.tm_mday);
  t.hour = static_cast<uint8_t>(tm.tm_hour);
  t.minute = static_cast<uint8_t>(tm.tm_min);
  t.second = static_cast<uint8_t>(tm.tm_sec);
  t.weekday = static_cast<uint8_t>(tm.tm_wday);
  return t;
}

std::string utc_now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  gmtime_r(&now, &tm);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
  return text;
}

uint64_t get_uint(const json& object, const char* key, uint64_t max) {
  const auto it = object.find(key);
  if (it == object.end()) throw BadRequest(std::string("missing field \"") + key + "\"");
  uint64_t value = 0;
  if (it->is_number_unsigned()) {
    value = it->get<uint64_t>();
  } else if (it->is_number_integer() && it->get<int64_t>() >= 0) {
    value = static_cast<uint64_t>(it->get<int64_t>());
  } else {
    throw BadRequest(std::string("field \"") + key + "\" must be an unsigned integer");
  }
  if (value > max) {
    throw BadRequest(std::string("field \"") + key + "\" must be at most " + std::to_string(max));
  }
  return value;
}

uint64_t get_uint(const json& object, const char* key, uint64_t max, uint64_t fallback) {
  return object.contains(key) ? get_uint(object, key, max) : fallback;
}

int64_t get_int(const json& object, const char* key, int64_t min, int64_t max) {
  const auto it = object.find(key);
  if (it == object.end()) throw BadRequest(std::string("missing field \"") + key + "\"");
  if (!it->is_number_integer()) {
    throw BadRequest(std::string("field \"") + key + "\" must be an integer");
  }
  if (it->is_number_unsigned() && it->get<uint64_t>() > static_cast<uint64_t>(max)) {
    throw BadRequest(std::string("field \"") + key + "\" out of range");
  }
  const int64_t value = it->get<int64_t>();
  if (value < min || value > max) {
    throw BadRequest(std::string("field \"") + key + "\" out of range");
  }
  return value;
}

std::string get_text(const json& object, const char* key, std::size_t max_length) {
  const auto it = object.find(key);
  if (it == object.end()) throw BadRequest(std::string("missing field \"") + key + "\"");
  if (!it->is_string()) throw BadRequest(std::string("field \"") + key + "\" must be a string");
  const std::string text = it->get<std::string>();
  if (text.size() > max_length || text.find('\0') != std::string::npos) {
    throw BadRequest(std::string("field \"") + key + "\" holds at most " +
                     std::to_string(max_length) + " characters and no NUL");
  }
  return text;
}

const json& get_array(const json& object, const char* key, std::size_t max_items) {
  const auto it = object.find(key);
  if (it == object.end()) throw BadRequest(std::string("missing field \"") + key + "\"");
  if (!it->is_array()) throw BadRequest(std::string("field \"") + key + "\" must be an array");
  if (it->size() > max_items) {
    throw BadRequest(std::string("field \"") + key + "\" holds at most " +
                     std::to_string(max_items) + " items");
  }
  return *it;
}

// clang-format off
json user_to_json(const nax_user& u) {
  json j = {{"mask", u.mask}};
  if (u.mask & NAX_USER_ID) j["id"] = u.id;
  if (u.mask & NAX_USER_PSW) j["psw"] = u.psw;
  if (u.mask & NAX_USER_ST) j["st"] = u.st;
  if (u.mask & NAX_USER_CTL) j["ctl"] = u.ctl;
  if (u.mask & NAX_USER_PANIC) j["panic"] = u.panic;
  if (u.mask & NAX_USER_BIO_COUNT) j["bio_count"] = u.bio_count;
  if (u.mask & NAX_USER_BIO_LEVEL) j["bio_level"] = u.bio_level;
  if (u.mask & NAX_USER_SEC_LEVEL) j["sec_level"] = u.sec_level;
  if (u.mask & NAX_USER_TEXT1) j["text1"] = bounded(u.text1, sizeof u.text1);
  if (u.mask & NAX_USER_TEXT2) j["text2"] = bounded(u.text2, sizeof u.text2);
  if (u.mask & NAX_USER_SCHEDULE_ID) j["schedule_id"] = u.schedule_id;
  if (u.mask & NAX_USER_ANTI_PASSBACK) j["anti_passback"] = u.anti_passback;
  return j;
}

nax_user user_from_json(const json& o) {
  if (!o.is_object()) throw BadRequest("a user must be an object");
  nax_user u{};
  u.id = static_cast<uint32_t>(get_uint(o, "id", 0xFFFFFFFFu));
  u.mask = NAX_USER_ID;
  auto field = [&](const char* key, uint32_t bit, uint64_t max, auto& out) {
    if (!o.contains(key)) return;
    out = static_cast<std::remove_reference_t<decltype(out)>>(get_uint(o, key, max));
    u.mask |= bit;
  };
  field("psw", NAX_USER_PSW, 0xFFFF, u.psw);
  field("st", NAX_USER_ST, 0xFF, u.st);
  field("ctl", NAX_USER_CTL, 0xFFFF, u.ctl);
  field("panic", NAX_USER_PANIC, 0xFF, u.panic);
  field("bio_count", NAX_USER_BIO_COUNT, 0xFF, u.bio_count);
  field("bio_level", NAX_USER_BIO_LEVEL, 0xFF, u.bio_level);
  field("sec_level", NAX_USER_SEC_LEVEL, 0xFF, u.sec_level);
  field("schedule_id", NAX_USER_SCHEDULE_ID, 0xFFFF, u.schedule_id);
  field("anti_passback", NAX_USER_ANTI_PASSBACK, 0xFF, u.anti_passback);
  if (o.contains("text1")) {
    copy_text(u.text1, sizeof u.text1, get_text(o, "text1", 254));
    u.mask |= NAX_USER_TEXT1;
  }
  if (o.contains("text2")) {
    copy_text(u.text2, sizeof u.text2, get_text(o, "text2", 254));
    u.mask |= NAX_USER_TEXT2;
  }
  if (o.contains("mask")) u.mask = static_cast<uint32_t>(get_uint(o, "mask", 0xFFFF));
  return u;
}

json mark_to_json(const nax_mark& m) {
  return {{"mask", m.mask},
          {"kind", m.kind},
          {"user_id", m.id},
          {"time", iso_time(m.date_time)},
          {"event", m.event},
          {"index", m.index},
          {"direction", m.direction},
          {"value", m.value},
          {"flag", m.flag},
          {"code", bounded(m.code, sizeof m.code)}};
}

json user_event_to_json(const nax_user_event& e) {
  return {{"user_id", e.id}, {"index", e.index}, {"event", e.event}, {"direction", e.direction},
          {"time", iso_time(e.time)}, {"weekday", e.time.weekday}};
}

json aux_event_to_json(const nax_aux_input_event& e) {
  return {{"input", e.aux_input}, {"value", e.aux_value}, {"time", iso_time(e.time)},
          {"weekday", e.time.weekday}};
}

json aux_input_to_json(const nax_aux_input& a) {
  return {{"invert_input", a.invert_input}, {"ev_status", a.ev_status},
          {"time_on", a.time_on},           {"time_off", a.time_off},
          {"ev_host", a.ev_host},           {"ev_historic", a.ev_historic},
          {"ev_in_condition", a.ev_in_condition},
          {"ev_rele_condition", a.ev_rele_condition},
          {"schedule_id", a.schedule_id}};
}

nax_aux_input aux_input_from_json(const json& o) {
  nax_aux_input a{};
  a.invert_input = static_cast<uint8_t>(get_uint(o, "invert_input", 0xFF, 0));
  a.ev_status = static_cast<uint8_t>(get_uint(o, "ev_status", 0xFF, 0));
  a.time_on = static_cast<uint8_t>(get_uint(o, "time_on", 0xFF, 0));
  a.time_off = static_cast<uint8_t>(get_uint(o, "time_off", 0xFF, 0));
  a.ev_host = static_cast<uint8_t>(get_uint(o, "ev_host", 0xFF, 0));
  a.ev_historic = static_cast<uint8_t>(get_uint(o, "ev_historic", 0xFF, 0));
  if (o.contains("ev_in_condition")) {
    a.ev_in_condition = static_cast<int32_t>(get_int(o, "ev_in_condition", INT32_MIN, INT32_MAX));
  }
  if (o.contains("ev_rele_condition")) {
    a.ev_rele_condition = static_cast<int32_t>(get_int(o, "ev_rele_condition", INT32_MIN, INT32_MAX));
  }
  a.schedule_id = static_cast<uint16_t>(get_uint(o, "schedule_id", 0xFFFF, 0));
  return a;
}
// clang-format on

json schd_header_to_json(const nax_schd_header& h) {
  return {{"id", h.id},
          {"name", bounded(h.name, sizeof h.name)},
          {"hours", h.hours},
          {"segments", h.segments},
          {"time", iso_time(h.date_time)}};
}

nax_schd_header schd_header_from_json(const json& o) {
  nax_schd_header h{};
  h.id = static_cast<uint16_t>(get_uint(o, "id", 0xFFFF));
  if (o.contains("name")) copy_text(h.name, sizeof h.name, get_text(o, "name", sizeof h.name - 1));
  h.hours = static_cast<uint32_t>(get_uint(o, "hours", 0xFFFFFFFFu, 0));
  h.segments = static_cast<uint32_t>(get_uint(o, "segments", 0xFFFFFFFFu, 0));
  h.date_time = o.contains("time") ? parse_iso_time(get_text(o, "time", 32)) : local_now();
  return h;
}

json segment_to_json(const nax_schd_segment& s) {
  return {{"hours", s.hours}, {"minutes", s.minutes}, {"enabled", s.enabled}};
}

nax_schd_segment segment_from_json(const json& o) {
  if (!o.is_object()) throw BadRequest("a segment must be an object");
  nax_schd_segment s{};
  s.hours = static_cast<uint8_t>(get_uint(o, "hours", 23));
  s.minutes = static_cast<uint8_t>(get_uint(o, "minutes", 59));
  s.enabled = static_cast<uint8_t>(get_uint(o, "enabled", 0xFF, 1));
  return s;
}

nax_display_message display_message_from_json(const json& o) {
  if (!o.is_object()) throw BadRequest("a message must be an object");
  nax_display_message m{};
  m.line = static_cast<uint16_t>(get_uint(o, "line", 0xFFFF, 0));
  m.pos = static_cast<uint16_t>(get_uint(o, "pos", 0xFFFF, 0));
  m.cmd_line = static_cast<uint8_t>(get_uint(o, "cmd_line", 0xFF, 0));
  m.cmd_pos = static_cast<uint8_t>(get_uint(o, "cmd_pos", 0xFF, 0));
  m.font = static_cast<uint16_t>(get_uint(o, "font", 0xFFFF, 0));
  copy_text(m.data, sizeof m.data, get_text(o, "text", sizeof m.data - 1));
  return m;
}

}  // namespace naxgw
