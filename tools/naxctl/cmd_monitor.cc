// naxctl monitor: print what the node reports by itself, one line an event.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>

#include "commands.h"

namespace naxctl {

namespace {

// The signal that asked the monitor to stop; 0 while it runs.
std::atomic<int> g_stop{0};

extern "C" void stop_on_signal(int signal_number) {
  g_stop.store(signal_number);
}

struct MonitorArgs {
  uint32_t count = 0;
  double seconds = 0;
  int answer_user = -1;
  int answer_aux = -1;
};

const char* conn_state_name(uint32_t state) {
  switch (state) {
    case NAX_CONN_CONNECTED:
      return "connected";
    case NAX_CONN_LOST:
      return "lost";
    case NAX_CONN_NO_KEEPALIVE:
      return "no-keepalive";
    default:
      return "unknown";
  }
}

Json event_json(const Event& e) {
  Json j = Json::object();
  switch (e.kind) {
    case Event::Kind::User:
      j.add("type", Json::string("user")).add("link", Json::number(e.link));
      j.add("node", Json::number(e.node)).add("time", Json::string(format_date_time(e.user.time)));
      j.add("id", Json::number(e.user.id)).add("index", Json::number(e.user.index));
      j.add("event", Json::number(e.user.event)).add("direction", Json::number(e.user.direction));
      break;
    case Event::Kind::Aux:
      j.add("type", Json::string("aux")).add("link", Json::number(e.link));
      j.add("node", Json::number(e.node)).add("time", Json::string(format_date_time(e.aux.time)));
      j.add("input", Json::number(e.aux.aux_input)).add("value", Json::number(e.aux.aux_value));
      break;
    case Event::Kind::Conn:
      j.add("type", Json::string("conn")).add("link", Json::number(e.link));
      j.add("time", Json::string(format_date_time(local_now())));
      j.add("state", Json::string(conn_state_name(e.conn_state)));
      break;
  }
  return j;
}

std::string event_line(const Event& e) {
  char line[256];
  switch (e.kind) {
    case Event::Kind::User:
      std::snprintf(line, sizeof line,
                    "%s  user  node %-5u  id %-10u  index %-5u  event 0x%02x  direction %u\n",
                    format_date_time(e.user.time).c_str(), e.node, e.user.id, e.user.index,
                    e.user.event, e.user.direction);
      break;
    case Event::Kind::Aux:
      std::snprintf(line, sizeof line, "%s  aux   node %-5u  input %-3u  value %u\n",
                    format_date_time(e.aux.time).c_str(), e.node, e.aux.aux_input, e.aux.aux_value);
      break;
    case Event::Kind::Conn:
      std::snprintf(line, sizeof line, "%s  conn  link %-5d  %s\n",
                    format_date_time(local_now()).c_str(), e.link, conn_state_name(e.conn_state));
      break;
  }
  return line;
}

void answer(Session& s, const Event& e, const MonitorArgs& a) {
  if (e.kind == Event::Kind::User && a.answer_user >= 0) {
    nax_user_event_answer reply{};
    reply.date_time = local_now();
    reply.user.mask = NAX_USER_ID | NAX_USER_ST;
    reply.user.id = e.user.id;
    reply.user.st = static_cast<uint8_t>(a.answer_user);
    check(nax_answer_user_event(e.link, static_cast<uint16_t>(e.node), &reply),
          "nax_answer_user_event");
  } else if (e.kind == Event::Kind::Aux && a.answer_aux >= 0) {
    check(nax_answer_aux_input_event(e.link, static_cast<uint16_t>(e.node),
                                     static_cast<uint8_t>(a.answer_aux)),
          "nax_answer_aux_input_event");
  }
  (void)s;
}

void monitor(Session& s, const MonitorArgs& a) {
  // One exchange first: it proves the node answers, and a node that learns its link's
  // protocol from the first frame it receives reports nothing before it.
  nax_date_time t{};
  check(nax_get_time(s.link(), s.node(), &t), "nax_get_time");
  g_stop.store(0);
  // std::signal, not sigaction: the tool runs on Windows too.
  const auto old_int = std::signal(SIGINT, stop_on_signal);
  const auto old_term = std::signal(SIGTERM, stop_on_signal);
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int64_t>(a.seconds * 1000));
  uint64_t seen = 0;
  uint32_t lost = 0;
  while (g_stop.load() == 0 && (a.count == 0 || seen < a.count) &&
         (a.seconds <= 0 || std::chrono::steady_clock::now() < deadline)) {
    Event e;
    if (!s.next_event(e, 100)) continue;
    ++seen;
    const std::string text = s.json() ? event_json(e).dump() + "\n" : event_line(e);
    write_stdout(text);
    if (e.kind == Event::Kind::Conn && e.link == s.link() && e.conn_state != NAX_CONN_CONNECTED) {
      lost = e.conn_state == NAX_CONN_NO_KEEPALIVE ? NAX_ERR_NODE_LOST : NAX_ERR_CONN_CLOSED;
      break;
    }
    answer(s, e, a);
  }
  std::signal(SIGINT, old_int);
  std::signal(SIGTERM, old_term);
  if (lost != 0) throw NaxError("monitor", lost);
  // Shells report a program ended by a signal as 128 + its number; so does naxctl.
  if (g_stop.load() != 0) throw Interrupted(128 + g_stop.load());
}

}  // namespace

void add_monitor_command(CLI::App& parent, Cli& cli) {
  auto a = std::make_shared<MonitorArgs>();
  auto* mon = parent.add_subcommand(
      "monitor",
      "Print user, aux input and connection events as they arrive, until Ctrl-C, --count or "
      "--for");
  add_number(mon, "--count", a->count, "Stop after this many events");
  mon->add_option("--for", a->seconds, "Stop after this many seconds")
      ->check(CLI::NonNegativeNumber);
  mon->add_option("--answer-user", a->answer_user,
                  "Answer each user event with this user state (st)")
      ->check(CLI::Range(0, 255));
  mon->add_option("--answer-aux", a->answer_aux,
                  "Answer each aux input event with this code (protocol 2)")
      ->check(CLI::Range(0, 255));
  on_run(mon, cli, [a](Session& s) { monitor(s, *a); });
}

}  // namespace naxctl
