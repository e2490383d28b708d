// One function per command: read the arguments, call the library, shape the result.
#include "commands.h"

#include <map>
#include <vector>

namespace naxgw {
namespace {

using Command = uint32_t (*)(const Target&, const json&, json&);

constexpr std::size_t kMaxRecords = 64;

uint32_t get_time(const Target& t, const json&, json& result) {
  nax_date_time time{};
  const uint32_t status = nax_get_time(t.link, t.node, &time);
  if (status == NAX_OK) result = {{"time", iso_time(time)}, {"weekday", time.weekday}};
  return status;
}

// Without "time" the node gets the host's clock.
uint32_t set_time(const Target& t, const json& args, json& result) {
  nax_date_time time =
      args.contains("time") ? parse_iso_time(get_text(args, "time", 32)) : local_now();
  if (args.contains("weekday")) time.weekday = static_cast<uint8_t>(get_uint(args, "weekday", 6));
  const uint32_t status = nax_set_time(t.link, t.node, &time);
  if (status == NAX_OK) result = {{"time", iso_time(time)}, {"weekday", time.weekday}};
  return status;
}

uint32_t get_info(const Target& t, const json& args, json& result) {
  const std::string query = get_text(args, "query", 500);
  char answer[512] = {};
  const uint32_t status = nax_get_info(t.link, t.node, query.c_str(), answer);
  if (status == NAX_OK) result = {{"answer", std::string(answer, strnlen(answer, sizeof answer))}};
  return status;
}

uint32_t reset_node(const Target& t, const json& args, json&) {
  return nax_reset_node(t.link, t.node,
                        static_cast<int32_t>(get_int(args, "device_id", INT32_MIN, INT32_MAX)),
                        static_cast<int32_t>(get_int(args, "sub_id", INT32_MIN, INT32_MAX)));
}

uint32_t block_node(const Target& t, const json& args, json&) {
  return nax_block_node(t.link, t.node, static_cast<uint8_t>(get_uint(args, "value", 0xFF)));
}

uint32_t list_users(const Target& t, const json& args, json& result) {
  const auto first = static_cast<uint32_t>(get_uint(args, "first", 0xFFFF, 0));
  const auto count = static_cast<uint16_t>(get_uint(args, "count", kMaxRecords, 16));
  if (count == 0) throw BadRequest("field \"count\" must be at least 1");
  std::vector<nax_user> users(count);
  uint16_t stored = 0;
  const uint32_t status = nax_list_users(t.link, t.node, first, count, users.data(), &stored);
  json list = json::array();
  for (uint16_t i = 0; i < stored && i < count; ++i) list.push_back(user_to_json(users[i]));
  result = {{"users", list}, {"stored", stored}};
  return status;
}

std::vector<nax_user> users_of(const json& args) {
  const json& list = get_array(args, "users", kMaxRecords);
  if (list.empty()) throw BadRequest("field \"users\" must hold at least one user");
  std::vector<nax_user> users;
  for (const json& item : list) users.push_back(user_from_json(item));
  return users;
}

template <uint32_t (*Fn)(int32_t, uint16_t, uint32_t, uint16_t, nax_user*, uint16_t*)>
uint32_t change_users(const Target& t, const json& args, json& result) {
  std::vector<nax_user> users = users_of(args);
  const auto first = static_cast<uint32_t>(get_uint(args, "first", 0xFFFF, 0));
  uint16_t taken = 0;
  const uint32_t status =
      Fn(t.link, t.node, first, static_cast<uint16_t>(users.size()), users.data(), &taken);
  result = {{"taken", taken}};
  return status;
}

// nax_add_user counts in 32 bits; the other two in 16.
uint32_t add_user(const Target& t, const json& args, json& result) {
  std::vector<nax_user> users = users_of(args);
  const auto first = static_cast<uint32_t>(get_uint(args, "first", 0xFFFF, 0));
  uint16_t taken = 0;
  const uint32_t status = nax_add_user(t.link, t.node, first, static_cast<uint32_t>(users.size()),
                                       users.data(), &taken);
  result = {{"taken", taken}};
  return status;
}

uint32_t list_marks(const Target& t, const json& args, json& result) {
  const auto first = static_cast<uint32_t>(get_uint(args, "first", 0xFFFF, 0));
  const auto count = static_cast<uint16_t>(get_uint(args, "count", kMaxRecords, 16));
  if (count == 0) throw BadRequest("field \"count\" must be at least 1");
  std::vector<nax_mark> marks(count);
  uint16_t stored = 0;
  const uint32_t status = nax_list_marks(t.link, t.node, first, count, marks.data(), &stored);
  json list = json::array();
  for (uint16_t i = 0; i < stored && i < count; ++i) list.push_back(mark_to_json(marks[i]));
  result = {{"marks", list}, {"stored", stored}};
  return status;
}

// A node reads back parameters of one or two bytes; it stores four-byte ones too.
uint32_t width_of(const json& args, bool writing) {
  const auto size = static_cast<uint32_t>(get_uint(args, "size", 4, 2));
  if (size != 1 && size != 2 && (size != 4 || !writing)) {
    throw BadRequest(writing ? "field \"size\" must be 1, 2 or 4"
                             : "field \"size\" must be 1 or 2");
  }
  return size;
}

uint32_t get_num_cfg(const Target& t, const json& args, json& result) {
  uint32_t value = 0;
  const uint32_t status =
      nax_get_num_cfg(t.link, t.node, width_of(args, false),
                      static_cast<uint16_t>(get_uint(args, "id", 0xFFFF)), &value);
  if (status == NAX_OK) result = {{"value", value}};
  return status;
}

uint32_t set_num_cfg(const Target& t, const json& args, json&) {
  return nax_set_num_cfg(t.link, t.node, width_of(args, true),
                         static_cast<uint16_t>(get_uint(args, "id", 0xFFFF)),
                         static_cast<int32_t>(get_int(args, "value", INT32_MIN, INT32_MAX)));
}

uint32_t get_aux_input(const Target& t, const json& args, json& result) {
  nax_aux_input input{};
  const uint32_t status = nax_get_aux_input(
      t.link, t.node, static_cast<uint16_t>(get_uint(args, "input", 0xFFFF)), &input);
  if (status == NAX_OK) result = aux_input_to_json(input);
  return status;
}

uint32_t set_aux_input(const Target& t, const json& args, json&) {
  const nax_aux_input input = aux_input_from_json(args);
  return nax_set_aux_input(t.link, t.node, static_cast<uint16_t>(get_uint(args, "input", 0xFFFF)),
                           &input);
}

uint32_t state_aux_input(const Target& t, const json&, json& result) {
  uint32_t state = 0;
  const uint32_t status = nax_state_aux_input(t.link, t.node, &state);
  if (status == NAX_OK) result = {{"state", state}};
  return status;
}

uint32_t rele_control(const Target& t, const json& args, json&) {
  return nax_rele_control(t.link, t.node,
                          static_cast<uint32_t>(get_uint(args, "relay", 0xFFFFFFFFu)),
                          static_cast<uint8_t>(get_uint(args, "mode", 0xFF)));
}

uint32_t display_msg(const Target& t, const json& args, json& result) {
  const json& list = get_array(args, "messages", 8);
  if (list.empty()) throw BadRequest("field \"messages\" must hold at least one message");
  std::vector<nax_display_message> messages;
  for (const json& item : list) messages.push_back(display_message_from_json(item));
  const auto timer = static_cast<int32_t>(
      args.contains("timer") ? get_int(args, "timer", INT32_MIN, INT32_MAX) : 0);
  uint16_t answer = 0;
  const uint32_t status = nax_display_msg(t.link, t.node, static_cast<uint16_t>(messages.size()),
                                          messages.data(), timer, &answer);
  if (status == NAX_OK) result = {{"answer", answer}};
  return status;
}

uint32_t get_schd_header(const Target& t, const json& args, json& result) {
  nax_schd_header header{};
  const uint32_t status = nax_get_schd_header(
      t.link, t.node, static_cast<uint16_t>(get_uint(args, "id", 0xFFFF)), &header);
  if (status == NAX_OK) result = schd_header_to_json(header);
  return status;
}

uint32_t set_schd_header(const Target& t, const json& args, json&) {
  nax_schd_header header = schd_header_from_json(args);
  return nax_set_schd_header(t.link, t.node, &header);
}

uint32_t get_schd_segments(const Target& t, const json& args, json& result) {
  const auto count = static_cast<uint32_t>(get_uint(args, "count", 170, 16));
  if (count == 0) throw BadRequest("field \"count\" must be at least 1");
  std::vector<nax_schd_segment> segments(count);
  uint32_t received = 0;
  const uint32_t status = nax_get_schd_segments(
      t.link, t.node, static_cast<uint16_t>(get_uint(args, "id", 0xFFFF)), segments.data(),
      static_cast<uint32_t>(get_uint(args, "first", 0xFFFF, 0)), count, &received);
  json list = json::array();
  for (uint32_t i = 0; i < received && i < count; ++i) list.push_back(segment_to_json(segments[i]));
  result = {{"segments", list}, {"received", received}};
  return status;
}

uint32_t set_schd_segments(const Target& t, const json& args, json& result) {
  const json& list = get_array(args, "segments", 166);
  if (list.empty()) throw BadRequest("field \"segments\" must hold at least one segment");
  std::vector<nax_schd_segment> segments;
  for (const json& item : list) segments.push_back(segment_from_json(item));
  uint32_t written = 0;
  const uint32_t status = nax_set_schd_segments(
      t.link, t.node, static_cast<uint16_t>(get_uint(args, "id", 0xFFFF)), segments.data(),
      static_cast<uint32_t>(get_uint(args, "first", 0xFFFF, 0)),
      static_cast<uint32_t>(segments.size()), &written);
  result = {{"count", written}};
  return status;
}

uint32_t del_schd(const Target& t, const json& args, json&) {
  return nax_del_schd(t.link, t.node, static_cast<uint16_t>(get_uint(args, "id", 0xFFFF)));
}

uint32_t list_schd(const Target& t, const json& args, json& result) {
  const auto count = static_cast<uint32_t>(get_uint(args, "count", kMaxRecords, 16));
  if (count == 0) throw BadRequest("field \"count\" must be at least 1");
  std::vector<nax_schd_entry> entries(count);
  auto start = static_cast<uint16_t>(get_uint(args, "start", 0xFFFF, 0));
  uint32_t received = 0;
  const uint32_t status = nax_list_schd(t.link, t.node, entries.data(), &start, count, &received);
  json list = json::array();
  for (uint32_t i = 0; i < received && i < count; ++i) {
    list.push_back(
        {{"id", entries[i].id},
         {"name", std::string(entries[i].name, strnlen(entries[i].name, sizeof entries[i].name))}});
  }
  result = {{"schedules", list}, {"received", received}, {"next", start}};
  return status;
}

// clang-format off
const std::map<std::string, Command>& table() {
  static const std::map<std::string, Command> commands = {
      {"get_time", get_time},           {"set_time", set_time},
      {"get_info", get_info},           {"reset_node", reset_node},
      {"block_node", block_node},
      {"list_users", list_users},       {"add_user", add_user},
      {"edit_user", change_users<nax_edit_user>},
      {"del_user", change_users<nax_del_user>},
      {"list_marks", list_marks},
      {"get_num_cfg", get_num_cfg},     {"set_num_cfg", set_num_cfg},
      {"get_aux_input", get_aux_input}, {"set_aux_input", set_aux_input},
      {"state_aux_input", state_aux_input},
      {"rele_control", rele_control},
      {"display_msg", display_msg},
      {"get_schd_header", get_schd_header}, {"set_schd_header", set_schd_header},
      {"get_schd_segments", get_schd_segments}, {"set_schd_segments", set_schd_segments},
      {"del_schd", del_schd},           {"list_schd", list_schd},
  };
  return commands;
}
// clang-format on

}  // namespace

uint32_t run_command(const Target& target, const std::string& command, const json& args,
                     json& result) {
  const auto& commands = table();
  const auto it = commands.find(command);
  if (it == commands.end()) throw BadRequest("unknown command \"" + command + "\"");
  if (!args.is_object()) throw BadRequest("the request must be a JSON object");
  result = nullptr;
  return it->second(target, args, result);
}

std::vector<std::string> command_names() {
  std::vector<std::string> names;
  for (const auto& [name, fn] : table()) names.push_back(name);
  return names;
}

}  // namespace naxgw
