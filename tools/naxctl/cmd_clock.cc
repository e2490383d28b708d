// naxctl clock get | set | sync
#include <cstdio>

#include "commands.h"

namespace naxctl {

namespace {

Json time_json(const nax_date_time& t) {
  Json j = Json::object();
  j.add("time", Json::string(format_date_time(t)));
  j.add("weekday", Json::number(t.weekday));
  return j;
}

std::string time_text(const nax_date_time& t) {
  return format_date_time(t) + "  weekday " + std::to_string(t.weekday) + "\n";
}

void set_clock(Session& s, const nax_date_time& t) {
  check(nax_set_time(s.link(), s.node(), &t), "nax_set_time");
  Json j = time_json(t);
  j.add("set", Json::boolean(true));
  emit(s.json(), "clock set to " + time_text(t), j);
}

struct SetArgs {
  std::string when;
  int weekday = -1;
};

}  // namespace

void add_clock_commands(CLI::App& parent, Cli& cli) {
  auto* clock = parent.add_subcommand("clock", "Read or set the node's clock");
  clock->require_subcommand(1);

  auto* get = clock->add_subcommand("get", "Print the node's date, time and weekday");
  on_run(get, cli, [](Session& s) {
    nax_date_time t{};
    check(nax_get_time(s.link(), s.node(), &t), "nax_get_time");
    emit(s.json(), time_text(t), time_json(t));
  });

  auto args = std::make_shared<SetArgs>();
  auto* set = clock->add_subcommand("set", "Set the node's clock to a given date and time");
  set->add_option("when", args->when, "\"YYYY-MM-DD hh:mm:ss\", year 2000-2099")
      ->required()
      ->check(CLI::Validator(check_date_time, "DATE-TIME"));
  set->add_option("--weekday", args->weekday,
                  "Weekday to send, as the node counts (default: from the date, 0 = Sunday)")
      ->check(CLI::Range(0, 255));
  on_run(set, cli, [args](Session& s) {
    nax_date_time t = *parse_date_time(args->when);
    if (args->weekday >= 0) t.weekday = static_cast<uint8_t>(args->weekday);
    set_clock(s, t);
  });

  auto* sync = clock->add_subcommand("sync", "Set the node's clock to this computer's local time");
  on_run(sync, cli, [](Session& s) { set_clock(s, local_now()); });
}

}  // namespace naxctl
