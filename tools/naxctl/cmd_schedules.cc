// naxctl schedule: schedule headers, their segments, and the list of schedules.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <vector>

#include "commands.h"

namespace naxctl {

namespace {

constexpr uint32_t kLastListPage = 31;  // the page that reaches the end of the table
constexpr uint32_t kSegmentsPerRead = 128;
constexpr size_t kSegmentsPerWrite = 160;  // 14 + 3 x 160 bytes stay within 512
constexpr size_t kMaxNameLength = 20;
constexpr uint32_t kMaxSegments = 1u << 20;  // bounds a node that never runs out

struct ScheduleArgs {
  uint16_t id = 0;
  std::optional<std::string> name;
  std::optional<uint32_t> hours;
  std::optional<uint32_t> segments;
  std::optional<std::string> date;
  uint32_t first = 0;
  uint32_t count = 0;
  std::vector<std::string> segment_texts;
  uint32_t page = 16;
  std::string format;  // list output: table, csv or json
};

std::string name_of(const char* name, size_t size) {
  return std::string(name, strnlen(name, size));
}

Json header_json(const nax_schd_header& h) {
  Json j = Json::object();
  j.add("id", Json::number(h.id)).add("name", Json::string(name_of(h.name, sizeof h.name)));
  j.add("hours", Json::number(h.hours)).add("segments", Json::number(h.segments));
  j.add("time", Json::string(format_date_time(h.date_time)));
  return j;
}

std::string header_text(const nax_schd_header& h) {
  return format_fields({{"id", std::to_string(h.id)},
                        {"name", name_of(h.name, sizeof h.name)},
                        {"hours", std::to_string(h.hours)},
                        {"segments", std::to_string(h.segments)},
                        {"time", format_date_time(h.date_time)}});
}

CLI::Validator date_check() {
  return CLI::Validator(check_date_time, "DATE-TIME");
}

void add_header_commands(CLI::App* schedule, Cli& cli) {
  auto get_args = std::make_shared<ScheduleArgs>();
  auto* get = schedule->add_subcommand("get", "Print the header of schedule ID");
  add_number(get, "id", get_args->id, "Schedule number")->required();
  on_run(get, cli, [a = get_args](Session& s) {
    nax_schd_header h{};
    check(nax_get_schd_header(s.link(), s.node(), a->id, &h), "nax_get_schd_header");
    emit(s.json(), header_text(h), header_json(h));
  });

  auto set_args = std::make_shared<ScheduleArgs>();
  auto* set = schedule->add_subcommand(
      "set", "Write the header of schedule ID; fields not given keep the node's values");
  add_number(set, "id", set_args->id, "Schedule number")->required();
  set->add_option("--name", set_args->name, "Name, at most 20 characters")
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return text.size() <= kMaxNameLength ? "" : "a name holds at most 20 characters";
          },
          "NAME"));
  set->add_option("--hours", set_args->hours, "Hours field, passed to the node")
      ->transform(number_for<uint32_t>());
  set->add_option("--segments", set_args->segments, "Segment count field, passed to the node")
      ->transform(number_for<uint32_t>());
  set->add_option("--date", set_args->date, "Date-time field, \"YYYY-MM-DD hh:mm:ss\"")
      ->check(date_check());
  on_run(set, cli, [a = set_args](Session& s) {
    nax_schd_header h{};
    // A schedule that is not there yet starts from zeros.
    if (nax_get_schd_header(s.link(), s.node(), a->id, &h) != NAX_OK) h = nax_schd_header{};
    h.id = a->id;
    if (a->name) {
      std::memset(h.name, 0, sizeof h.name);
      std::memcpy(h.name, a->name->data(), a->name->size());
    }
    if (a->hours) h.hours = *a->hours;
    if (a->segments) h.segments = *a->segments;
    if (a->date) h.date_time = *parse_date_time(*a->date);
    check(nax_set_schd_header(s.link(), s.node(), &h), "nax_set_schd_header");
    emit(s.json(), "schedule " + std::to_string(a->id) + " written\n" + header_text(h),
         header_json(h));
  });

  auto del_args = std::make_shared<ScheduleArgs>();
  auto* del = schedule->add_subcommand("delete", "Delete schedule ID");
  add_number(del, "id", del_args->id, "Schedule number")->required();
  on_run(del, cli, [a = del_args](Session& s) {
    check(nax_del_schd(s.link(), s.node(), a->id), "nax_del_schd");
    Json j = Json::object();
    j.add("id", Json::number(a->id)).add("deleted", Json::boolean(true));
    emit(s.json(), "schedule " + std::to_string(a->id) + " deleted\n", j);
  });
}

void add_segment_commands(CLI::App* schedule, Cli& cli) {
  auto* segments = schedule->add_subcommand("segments", "Read or write a schedule's segments");
  segments->require_subcommand(1);

  auto get_args = std::make_shared<ScheduleArgs>();
  auto* get = segments->add_subcommand("get", "Print segments of schedule ID");
  add_number(get, "id", get_args->id, "Schedule number")->required();
  add_number(get, "--first", get_args->first, "Index of the first segment");
  add_number(get, "--count", get_args->count, "Segments to read (default: all from --first on)");
  add_format_option(get, get_args->format);
  on_run(get, cli, [a = get_args](Session& s) {
    // Without --count: every segment, until the node has no more from that index on.
    const uint32_t limit = a->count != 0 ? a->count : kMaxSegments;
    std::vector<nax_schd_segment> all;
    Progress progress("segments", a->count);
    while (all.size() < limit) {
      const uint32_t want =
          std::min<uint32_t>(kSegmentsPerRead, limit - static_cast<uint32_t>(all.size()));
      std::vector<nax_schd_segment> chunk(want);
      uint32_t received = 0;
      check(nax_get_schd_segments(s.link(), s.node(), a->id, chunk.data(),
                                  a->first + static_cast<uint32_t>(all.size()), want, &received),
            "nax_get_schd_segments");
      received = std::min(received, want);
      if (received == 0) break;
      all.insert(all.end(), chunk.begin(), chunk.begin() + received);
      progress.update(all.size());
    }
    progress.finish();
    Json j = Json::array();
    std::vector<std::vector<std::string>> rows;
    for (size_t i = 0; i < all.size(); ++i) {
      Json seg = Json::object();
      seg.add("index", Json::number(static_cast<uint64_t>(a->first + i)));
      seg.add("hours", Json::number(all[i].hours)).add("minutes", Json::number(all[i].minutes));
      seg.add("enabled", Json::number(all[i].enabled));
      j.push(seg);
      char time[8];
      std::snprintf(time, sizeof time, "%02d:%02d", all[i].hours, all[i].minutes);
      rows.push_back({std::to_string(a->first + i), time, all[i].enabled ? "yes" : "no"});
    }
    write_stdout(
        render_list(list_format(a->format, s.json()), {"index", "time", "enabled"}, rows, j, ""));
  });

  auto set_args = std::make_shared<ScheduleArgs>();
  auto* set = segments->add_subcommand("set", "Write segments of schedule ID");
  add_number(set, "id", set_args->id, "Schedule number")->required();
  set->add_option("segments", set_args->segment_texts,
                  "Segments as HH:MM (enabled) or HH:MM/0 (disabled), HH:MM/1")
      ->required()
      ->check(CLI::Validator(
          [](std::string& text) -> std::string {
            return parse_segment(text) ? "" : "'" + text + "' is not HH:MM, HH:MM/0 or HH:MM/1";
          },
          "SEGMENT"));
  add_number(set, "--first", set_args->first, "Index of the first segment written");
  on_run(set, cli, [a = set_args](Session& s) {
    std::vector<nax_schd_segment> all;
    for (const auto& text : a->segment_texts) all.push_back(*parse_segment(text));
    for (size_t done = 0; done < all.size();) {
      const size_t n = std::min(kSegmentsPerWrite, all.size() - done);
      uint32_t count_out = 0;
      check(nax_set_schd_segments(s.link(), s.node(), a->id, all.data() + done,
                                  a->first + static_cast<uint32_t>(done), static_cast<uint32_t>(n),
                                  &count_out),
            "nax_set_schd_segments");
      done += n;
    }
    Json j = Json::object();
    j.add("id", Json::number(a->id)).add("first", Json::number(a->first));
    j.add("written", Json::number(static_cast<uint64_t>(all.size())));
    emit(s.json(),
         count_of(all.size(), "segment") + " written to schedule " + std::to_string(a->id) + "\n",
         j);
  });
}

void add_list_command(CLI::App* schedule, Cli& cli) {
  auto args = std::make_shared<ScheduleArgs>();
  auto* list = schedule->add_subcommand("list", "Print every schedule's id and name");
  add_number(list, "--page", args->page, "Entries asked for in one request")
      ->check(CLI::Range(1, 512));
  add_format_option(list, args->format);
  on_run(list, cli, [a = args](Session& s) {
    std::vector<nax_schd_entry> all;
    std::vector<nax_schd_entry> page(a->page);
    uint16_t start = 0;
    // Status 1: more pages follow from the start id the node returned; 31: this page was
    // the last.  A page that brings nothing, or a start id that does not move, ends it too.
    for (uint32_t pages = 0; pages <= 0xFFFF; ++pages) {
      uint32_t received = 0;
      const uint16_t asked = start;
      const uint32_t st =
          nax_list_schd(s.link(), s.node(), page.data(), &start, a->page, &received);
      if (st != NAX_OK && st != kLastListPage) {
        throw NaxError("nax_list_schd", st, "after " + std::to_string(all.size()) + " schedules");
      }
      received = std::min(received, a->page);
      all.insert(all.end(), page.begin(), page.begin() + received);
      if (st == kLastListPage || received == 0 || start == asked) break;
    }
    Json j = Json::array();
    std::vector<std::vector<std::string>> rows;
    for (const auto& e : all) {
      const std::string name = name_of(e.name, sizeof e.name);
      Json entry = Json::object();
      entry.add("id", Json::number(e.id)).add("name", Json::string(name));
      j.push(entry);
      rows.push_back({std::to_string(e.id), name});
    }
    write_stdout(render_list(list_format(a->format, s.json()), {"id", "name"}, rows, j,
                             count_of(all.size(), "schedule") + "\n"));
  });
}

}  // namespace

void add_schedule_commands(CLI::App& parent, Cli& cli) {
  auto* schedule = parent.add_subcommand("schedule", "Schedules: headers, segments, list");
  schedule->require_subcommand(1);
  add_header_commands(schedule, cli);
  add_segment_commands(schedule, cli);
  add_list_command(schedule, cli);
}

}  // namespace naxctl
