// The node's records as operators read and write them.
#include "records.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <limits>
#include <type_traits>

#include "numbers.h"
#include "output.h"

namespace naxctl {

// ---- date and time ----

int weekday_of(int year, int month, int day) {
  static const int offsets[] = {0, 3, 2, 5, 0, 3, 5, 1, 4, 6, 2, 4};
  if (month < 3) year -= 1;
  return (year + year / 4 - year / 100 + year / 400 + offsets[month - 1] + day) % 7;
}

namespace {

int days_in_month(int year, int month) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

std::string date_time_problem(std::string_view text) {
  // Exactly "YYYY-MM-DD hh:mm:ss": digits where digits belong, nothing before or after.
  static constexpr std::string_view kShape = "dddd-dd-dd dd:dd:dd";
  bool shaped = text.size() == kShape.size();
  for (size_t i = 0; shaped && i < kShape.size(); ++i) {
    const bool digit = std::isdigit(static_cast<unsigned char>(text[i])) != 0;
    shaped = kShape[i] == 'd' ? digit
                              : (i == 10 ? text[i] == ' ' || text[i] == 'T' : text[i] == kShape[i]);
  }
  if (!shaped) return "is not in the form \"YYYY-MM-DD hh:mm:ss\"";
  const auto number = [&](size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  const int year = number(0) * 100 + number(2), month = number(5), day = number(8);
  static const char* const kMonths[] = {"January",   "February", "March",    "April",
                                        "May",       "June",     "July",     "August",
                                        "September", "October",  "November", "December"};
  if (year < 2000 || year > 2099)
    return "has a year outside 2000 to 2099 (the node keeps two digits)";
  if (month < 1 || month > 12) return "has no month " + std::to_string(month);
  if (day < 1 || day > days_in_month(year, month)) {
    return "has no day " + std::to_string(day) + ": " + kMonths[month - 1] + " " +
           std::to_string(year) + " has " + std::to_string(days_in_month(year, month)) + " days";
  }
  if (number(11) > 23 || number(14) > 59 || number(17) > 59) {
    return "has no time " + std::string(text.substr(11)) + " (00:00:00 to 23:59:59)";
  }
  return {};
}

std::string check_date_time(std::string& text) {
  const std::string problem = date_time_problem(text);
  return problem.empty() ? problem : "'" + text + "' " + problem;
}

std::optional<nax_date_time> parse_date_time(std::string_view text) {
  if (!date_time_problem(text).empty()) return std::nullopt;
  const auto number = [&](size_t at) { return (text[at] - '0') * 10 + (text[at + 1] - '0'); };
  const int year = 2000 + number(2), month = number(5), day = number(8);
  nax_date_time t{};
  t.hour = static_cast<uint8_t>(number(11));
  t.minute = static_cast<uint8_t>(number(14));
  t.second = static_cast<uint8_t>(number(17));
  t.year = static_cast<uint8_t>(year - 2000);
  t.month = static_cast<uint8_t>(month);
  t.day = static_cast<uint8_t>(day);
  t.weekday = static_cast<uint8_t>(weekday_of(year, month, day));
  return t;
}

std::string format_date_time(const nax_date_time& t) {
  char text[48];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", 2000 + t.year, t.month, t.day,
                t.hour, t.minute, t.second);
  return text;
}

nax_date_time local_now() {
  const std::time_t now = std::time(nullptr);
  std::tm tm{};
  localtime_r(&now, &tm);
  nax_date_time t{};
  t.hour = static_cast<uint8_t>(tm.tm_hour);
  t.minute = static_cast<uint8_t>(tm.tm_min);
  t.second = static_cast<uint8_t>(tm.tm_sec > 59 ? 59 : tm.tm_sec);
  t.year = static_cast<uint8_t>(tm.tm_year % 100);
  t.month = static_cast<uint8_t>(tm.tm_mon + 1);
  t.day = static_cast<uint8_t>(tm.tm_mday);
  t.weekday = static_cast<uint8_t>(tm.tm_wday);
  return t;
}

// ---- fields of records, described once ----

namespace {

// One field of record R: a number within [min, max], or a text of at most max bytes.
template <class R>
struct Field {
  const char* name;
  uint32_t bit;  // mask bit; 0 for records without a mask
  int64_t min;
  int64_t max;
  int64_t (*get)(const R&);
  void (*set)(R&, int64_t);
  const char* (*text)(const R&);
  char* (*text_buffer)(R&);
};

template <class R, auto M>
Field<R> numeric(const char* name, uint32_t bit) {
  using T = std::remove_cvref_t<decltype(std::declval<R&>().*M)>;
  return {name,
          bit,
          static_cast<int64_t>(std::numeric_limits<T>::min()),
          static_cast<int64_t>(std::numeric_limits<T>::max()),
          [](const R& r) -> int64_t { return r.*M; },
          [](R& r, int64_t v) { r.*M = static_cast<T>(v); },
          nullptr,
          nullptr};
}

template <class R, auto M>
Field<R> text(const char* name, uint32_t bit, int64_t max) {
  return {name,
          bit,
          0,
          max,
          nullptr,
          nullptr,
          [](const R& r) -> const char* { return r.*M; },
          [](R& r) -> char* { return r.*M; }};
}

// Texts of up to 254 characters travel whole (one length byte counts the NUL as well).
const std::vector<Field<nax_user>>& user_table() {
  static const std::vector<Field<nax_user>> fields = {
      numeric<nax_user, &nax_user::id>("id", NAX_USER_ID),
      numeric<nax_user, &nax_user::psw>("psw", NAX_USER_PSW),
      numeric<nax_user, &nax_user::st>("st", NAX_USER_ST),
      numeric<nax_user, &nax_user::ctl>("ctl", NAX_USER_CTL),
      numeric<nax_user, &nax_user::panic>("panic", NAX_USER_PANIC),
      numeric<nax_user, &nax_user::bio_count>("bio_count", NAX_USER_BIO_COUNT),
      numeric<nax_user, &nax_user::bio_level>("bio_level", NAX_USER_BIO_LEVEL),
      numeric<nax_user, &nax_user::sec_level>("sec_level", NAX_USER_SEC_LEVEL),
      text<nax_user, &nax_user::text1>("text1", NAX_USER_TEXT1, 254),
      text<nax_user, &nax_user::text2>("text2", NAX_USER_TEXT2, 254),
      numeric<nax_user, &nax_user::schedule_id>("schedule_id", NAX_USER_SCHEDULE_ID),
      numeric<nax_user, &nax_user::anti_passback>("anti_passback", NAX_USER_ANTI_PASSBACK),
  };
  return fields;
}

const std::vector<Field<nax_aux_input>>& aux_table() {
  using A = nax_aux_input;
  static const std::vector<Field<A>> fields = {
      numeric<A, &A::invert_input>("invert_input", 0),
      numeric<A, &A::ev_status>("ev_status", 0),
      numeric<A, &A::time_on>("time_on", 0),
      numeric<A, &A::time_off>("time_off", 0),
      numeric<A, &A::ev_host>("ev_host", 0),
      numeric<A, &A::ev_historic>("ev_historic", 0),
      numeric<A, &A::ev_in_condition>("ev_in_condition", 0),
      numeric<A, &A::ev_rele_condition>("ev_rele_condition", 0),
      numeric<A, &A::schedule_id>("schedule_id", 0),
  };
  return fields;
}

// Flags are spelled with dashes, files with underscores; both name the same field.
std::string field_key(std::string_view name) {
  std::string key(name);
  for (char& c : key)
    c = c == '-' ? '_' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return key;
}

template <class R>
const Field<R>* find_field(const std::vector<Field<R>>& table, std::string_view name) {
  const std::string key = field_key(name);
  for (const auto& f : table) {
    if (key == f.name) return &f;
  }
  return nullptr;
}

template <class R>
void set_field(const Field<R>& f, R& record, std::string_view value) {
  if (f.text_buffer) {
    if (value.size() > static_cast<size_t>(f.max)) {
      throw InputError(std::string(f.name) + ": longer than " + std::to_string(f.max) +
                       " characters");
    }
    if (value.find('\0') != std::string_view::npos) {
      throw InputError(std::string(f.name) + ": holds a NUL character");
    }
    char* buffer = f.text_buffer(record);
    std::memcpy(buffer, value.data(), value.size());
    buffer[value.size()] = '\0';
    return;
  }
  const auto number = parse_number(value, f.min, f.max);
  if (!number) {
    throw InputError(std::string(f.name) + ": '" + std::string(value) + "' is not a number in " +
                     std::to_string(f.min) + ".." + std::to_string(f.max));
  }
  f.set(record, *number);
}

template <class R>
std::string field_text(const Field<R>& f, const R& record) {
  return f.text ? std::string(f.text(record)) : std::to_string(f.get(record));
}

template <class R>
Json field_json(const Field<R>& f, const R& record) {
  return f.text ? Json::string(f.text(record)) : Json::number(f.get(record));
}

}  // namespace

// ---- users ----

const std::vector<std::string>& user_field_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const auto& f : user_table()) out.emplace_back(f.name);
    return out;
  }();
  return names;
}

void set_user_field(nax_user& user, std::string_view name, std::string_view value) {
  const auto* f = find_field(user_table(), name);
  if (!f) throw InputError("unknown user field '" + std::string(name) + "'");
  set_field(*f, user, value);
  user.mask |= f->bit;
}

std::vector<std::pair<std::string, std::string>> user_fields(const nax_user& user) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& f : user_table()) {
    if (user.mask & f.bit) out.emplace_back(f.name, field_text(f, user));
  }
  return out;
}

Json user_to_json(const nax_user& user) {
  Json out = Json::object();
  for (const auto& f : user_table()) {
    if (user.mask & f.bit) out.add(f.name, field_json(f, user));
  }
  return out;
}

nax_user user_from_json(const Json& object) {
  if (!object.is_object()) throw InputError("a user must be a JSON object");
  nax_user user{};
  for (const auto& [key, value] : object.fields()) {
    if (value.type() == Json::Type::Null) continue;
    if (value.type() != Json::Type::Number && value.type() != Json::Type::String) {
      throw InputError(key + ": must be a number or a text");
    }
    set_user_field(user, key, value.text());
  }
  if (!(user.mask & NAX_USER_ID)) throw InputError("a user without \"id\"");
  return user;
}

std::string users_to_csv(const std::vector<nax_user>& users) {
  std::string out = csv_line(user_field_names()) + "\n";
  for (const auto& user : users) {
    CsvRow row;
    for (const auto& f : user_table()) row.push_back(user.mask & f.bit ? field_text(f, user) : "");
    out += csv_line(row) + "\n";
  }
  return out;
}

std::vector<nax_user> users_from_csv(std::string_view document) {
  const auto rows = csv_parse(document);
  if (rows.empty()) return {};
  const CsvRow& header = rows.front();
  bool has_id = false;
  for (const auto& name : header) {
    if (!find_field(user_table(), name)) {
      throw InputError("CSV header: unknown user field '" + name + "'");
    }
    has_id = has_id || field_key(name) == "id";
  }
  if (!has_id) throw InputError("CSV header: no \"id\" column");
  std::vector<nax_user> users;
  for (size_t r = 1; r < rows.size(); ++r) {
    const CsvRow& row = rows[r];
    if (row.size() > header.size()) {
      throw InputError("CSV row " + std::to_string(r + 1) + ": more cells than the header");
    }
    nax_user user{};
    try {
      for (size_t c = 0; c < row.size(); ++c) {
        if (!row[c].empty()) set_user_field(user, header[c], row[c]);
      }
    } catch (const InputError& e) {
      throw InputError("CSV row " + std::to_string(r + 1) + ": " + e.what());
    }
    if (!(user.mask & NAX_USER_ID)) {
      throw InputError("CSV row " + std::to_string(r + 1) + ": no id");
    }
    users.push_back(user);
  }
  return users;
}

std::vector<nax_user> users_from_document(std::string_view document) {
  const size_t first = document.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos) return {};
  if (document[first] != '[' && document[first] != '{') return users_from_csv(document);
  Json root;
  try {
    root = Json::parse(document);
  } catch (const JsonError& e) {
    throw InputError(e.what());
  }
  if (root.is_object()) {
    const Json* list = root.find("users");
    if (!list) throw InputError("JSON: expected an array of users or {\"users\": [...]}");
    root = *list;
  }
  if (!root.is_array()) throw InputError("JSON: expected an array of users");
  std::vector<nax_user> users;
  for (size_t i = 0; i < root.items().size(); ++i) {
    try {
      users.push_back(user_from_json(root.items()[i]));
    } catch (const InputError& e) {
      throw InputError("JSON user " + std::to_string(i + 1) + ": " + e.what());
    }
  }
  return users;
}

std::string users_table(const std::vector<nax_user>& users) {
  // Columns that no user has are left out.
  uint32_t shown = 0;
  for (const auto& user : users) shown |= user.mask;
  if (shown == 0) shown = ~0u;
  std::vector<std::string> header;
  for (const auto& f : user_table()) {
    if (shown & f.bit) header.emplace_back(f.name);
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& user : users) {
    std::vector<std::string> row;
    for (const auto& f : user_table()) {
      if (!(shown & f.bit)) continue;
      if (!(user.mask & f.bit)) {
        row.emplace_back("-");
      } else if (f.bit == NAX_USER_CTL) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%04x", static_cast<unsigned>(user.ctl));
        row.emplace_back(hex);
      } else {
        row.push_back(field_text(f, user));
      }
    }
    rows.push_back(std::move(row));
  }
  return format_table(header, rows);
}

// ---- marks ----

namespace {

// Mark columns in display order, with the mask bit that makes each present.
struct MarkColumn {
  const char* name;
  uint32_t bit;
};
const MarkColumn kMarkColumns[] = {
    {"time", NAX_MARK_DATE_TIME},      {"id", NAX_MARK_ID},       {"event", NAX_MARK_EVENT},
    {"direction", NAX_MARK_DIRECTION}, {"index", NAX_MARK_INDEX}, {"kind", NAX_MARK_KIND},
    {"value", NAX_MARK_VALUE},         {"flag", NAX_MARK_FLAG},   {"code", NAX_MARK_CODE},
};

Json mark_cell_json(const nax_mark& m, uint32_t bit) {
  switch (bit) {
    case NAX_MARK_DATE_TIME:
      return Json::string(format_date_time(m.date_time));
    case NAX_MARK_ID:
      return Json::number(m.id);
    case NAX_MARK_EVENT:
      return Json::number(m.event);
    case NAX_MARK_DIRECTION:
      return Json::number(m.direction);
    case NAX_MARK_INDEX:
      return Json::number(m.index);
    case NAX_MARK_KIND:
      return Json::number(m.kind);
    case NAX_MARK_VALUE:
      return Json::number(m.value);
    case NAX_MARK_FLAG:
      return Json::number(m.flag);
    default:
      return Json::string(std::string(m.code, strnlen(m.code, sizeof m.code)));
  }
}

std::string mark_cell(const nax_mark& m, uint32_t bit) {
  const Json j = mark_cell_json(m, bit);
  return j.text();
}

}  // namespace

Json mark_to_json(const nax_mark& mark) {
  Json out = Json::object();
  for (const auto& c : kMarkColumns) {
    if (mark.mask & c.bit) out.add(c.name, mark_cell_json(mark, c.bit));
  }
  return out;
}

std::string marks_to_csv(const std::vector<nax_mark>& marks) {
  CsvRow header;
  for (const auto& c : kMarkColumns) header.emplace_back(c.name);
  std::string out = csv_line(header) + "\n";
  for (const auto& m : marks) {
    CsvRow row;
    for (const auto& c : kMarkColumns) row.push_back(m.mask & c.bit ? mark_cell(m, c.bit) : "");
    out += csv_line(row) + "\n";
  }
  return out;
}

std::string marks_table(const std::vector<nax_mark>& marks) {
  // Columns that no mark has are left out.
  uint32_t shown = 0;
  for (const auto& m : marks) shown |= m.mask;
  if (shown == 0) shown = ~0u;
  std::vector<std::string> header;
  for (const auto& c : kMarkColumns) {
    if (shown & c.bit) header.emplace_back(c.name);
  }
  std::vector<std::vector<std::string>> rows;
  for (const auto& m : marks) {
    std::vector<std::string> row;
    for (const auto& c : kMarkColumns) {
      if (shown & c.bit) row.push_back(m.mask & c.bit ? mark_cell(m, c.bit) : "-");
    }
    rows.push_back(std::move(row));
  }
  return format_table(header, rows);
}

// ---- aux inputs ----

const std::vector<std::string>& aux_field_names() {
  static const std::vector<std::string> names = [] {
    std::vector<std::string> out;
    for (const auto& f : aux_table()) out.emplace_back(f.name);
    out.emplace_back("extra");
    return out;
  }();
  return names;
}

void set_aux_field(nax_aux_input& input, std::string_view name, std::string_view value) {
  if (field_key(name) == "extra") {
    const auto bytes = parse_hex(value);
    if (!bytes || bytes->size() != sizeof input.extra) {
      throw InputError("extra: expected " + std::to_string(2 * sizeof input.extra) +
                       " hexadecimal digits");
    }
    std::memcpy(input.extra, bytes->data(), sizeof input.extra);
    return;
  }
  const auto* f = find_field(aux_table(), name);
  if (!f) throw InputError("unknown aux input field '" + std::string(name) + "'");
  set_field(*f, input, value);
}

std::vector<std::pair<std::string, std::string>> aux_fields(const nax_aux_input& input) {
  std::vector<std::pair<std::string, std::string>> out;
  for (const auto& f : aux_table()) out.emplace_back(f.name, field_text(f, input));
  out.emplace_back("extra", hex_bytes(input.extra, sizeof input.extra));
  return out;
}

Json aux_to_json(uint16_t id, const nax_aux_input& input) {
  Json out = Json::object();
  out.add("input", Json::number(id));
  for (const auto& f : aux_table()) out.add(f.name, field_json(f, input));
  out.add("extra", Json::string(hex_bytes(input.extra, sizeof input.extra)));
  return out;
}

// ---- schedule segments ----

std::optional<nax_schd_segment> parse_segment(std::string_view text) {
  uint8_t enabled = 1;
  if (text.size() == 7 && text[5] == '/' && (text[6] == '0' || text[6] == '1')) {
    enabled = static_cast<uint8_t>(text[6] - '0');
    text = text.substr(0, 5);
  }
  if (text.size() != 5 || text[2] != ':') return std::nullopt;
  for (size_t i : {0, 1, 3, 4}) {
    if (!std::isdigit(static_cast<unsigned char>(text[i]))) return std::nullopt;
  }
  const int hours = (text[0] - '0') * 10 + (text[1] - '0');
  const int minutes = (text[3] - '0') * 10 + (text[4] - '0');
  if (hours > 23 || minutes > 59) return std::nullopt;
  return nax_schd_segment{static_cast<uint8_t>(hours), static_cast<uint8_t>(minutes), enabled};
}

std::string format_segment(const nax_schd_segment& s) {
  char text[24];
  std::snprintf(text, sizeof text, "%02d:%02d/%d", s.hours, s.minutes, s.enabled);
  return text;
}

// ---- bytes ----

std::string hex_bytes(const uint8_t* data, size_t size) {
  static const char digits[] = "0123456789abcdef";
  std::string out;
  out.reserve(size * 2);
  for (size_t i = 0; i < size; ++i) {
    out += digits[data[i] >> 4];
    out += digits[data[i] & 0x0F];
  }
  return out;
}

std::optional<std::vector<uint8_t>> parse_hex(std::string_view text) {
  std::vector<uint8_t> out;
  int high = -1;
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) continue;
    if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
    const int v = std::isdigit(static_cast<unsigned char>(c))
                      ? c - '0'
                      : std::tolower(static_cast<unsigned char>(c)) - 'a' + 10;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<uint8_t>(high << 4 | v));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

uint32_t crc32_of(const uint8_t* data, size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace naxctl
