// Line-based control channel of the simulator program.
#include "control.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <sstream>
#include <thread>
#include <vector>

#include "handlers_marks.h"

namespace naxsim {
namespace {

bool to_number(const std::string& text, unsigned long max, unsigned long& out) {
  if (text.empty() || text[0] == '-') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoul(text.c_str(), &end, 0);
  return errno == 0 && *end == '\0' && out <= max;
}

// "name" or "name=value"; false on an unknown name or a bad value.
bool apply_fault(const std::string& item, Faults& f) {
  const std::size_t eq = item.find('=');
  std::string name = item.substr(0, eq);
  for (char& c : name) {
    if (c == '_') c = '-';
  }
  const std::string value = eq == std::string::npos ? "" : item.substr(eq + 1);
  unsigned long n = 0;
  auto number = [&](unsigned long max) { return to_number(value, max, n); };
  if (name == "no-answer") {
    f.no_answer = true;
  } else if (name == "split-bytes") {
    f.split_bytes = true;
  } else if (name == "bad-crc") {
    f.bad_crc = true;
  } else if (name == "drop-mid-frame") {
    f.drop_mid_frame = true;
  } else if (name == "cut-events") {
    f.cut_events = true;
  } else if (name == "ignore-keepalives") {
    f.ignore_keepalives = true;
  } else if (name == "delay" && number(UINT32_MAX)) {
    f.delay_ms = static_cast<uint32_t>(n);
  } else if (name == "answer-from" && number(0xFFFF)) {
    f.answer_from = static_cast<uint16_t>(n);
  } else if (name == "answer-to" && number(0xFFFF)) {
    f.answer_to = static_cast<uint16_t>(n);
  } else if (name == "answer-cmd" && number(0xFFFF)) {
    f.answer_cmd = static_cast<uint16_t>(n);
  } else if (name == "refuse-status" && number(0xFFFF)) {
    f.refuse_status = static_cast<uint16_t>(n);
  } else if (name == "refuse-error" && number(0xFF)) {
    f.refuse_error = static_cast<uint8_t>(n);
  } else if (name == "truncate" && number(0xFFFF)) {
    f.truncate_to = static_cast<uint16_t>(n);
  } else if (name == "garbage" && number(4096)) {
    f.garbage_before = static_cast<uint32_t>(n);
  } else if (name == "events-every" && number(UINT32_MAX)) {
    f.event_every_ms = static_cast<uint32_t>(n);
  } else {
    return false;
  }
  return true;
}

void serve_client(Simulator& sim, int fd) {
  std::string pending;
  char chunk[512];
  for (;;) {
    ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) break;
    pending.append(chunk, static_cast<std::size_t>(got));
    if (pending.size() > 4096 && pending.find('\n') == std::string::npos) break;  // not a command
    std::size_t end;
    while ((end = pending.find('\n')) != std::string::npos) {
      std::string line = pending.substr(0, end);
      pending.erase(0, end + 1);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      const std::string answer = control_command(sim, line) + "\n";
      if (::send(fd, answer.data(), answer.size(), MSG_NOSIGNAL) < 0) return;
    }
  }
}

}  // namespace

std::string control_command(Simulator& sim, const std::string& line) {
  std::istringstream in(line);
  std::string verb;
  in >> verb;
  std::vector<std::string> args;
  for (std::string a; in >> a;) args.push_back(a);
  unsigned long a0 = 0, a1 = 0, a2 = 0, a3 = 0;
  auto numbers = [&](std::size_t count, unsigned long max) {
    unsigned long* out[4] = {&a0, &a1, &a2, &a3};
    if (args.size() < count) return false;
    for (std::size_t i = 0; i < count; ++i) {
      if (!to_number(args[i], max, *out[i])) return false;
    }
    return true;
  };
  if (verb == "faults") {
    Faults f;
    for (const std::string& item : args) {
      if (!apply_fault(item, f)) return "error unknown fault " + item;
    }
    sim.set_faults(f);
    return "ok";
  }
  if (verb == "connect") {
    unsigned long port = 0, count = 1;
    if (args.size() < 2 || !to_number(args[1], 0xFFFF, port) ||
        (args.size() > 2 && !to_number(args[2], 1000, count))) {
      return "error connect HOST PORT [COUNT]";
    }
    return sim.connect_to(args[0], static_cast<uint16_t>(port), count) ? "ok" : "error dial";
  }
  if (verb == "wait") {
    if (!numbers(2, UINT32_MAX)) return "error wait N MS";
    return sim.wait_for_connections(a0, static_cast<uint32_t>(a1)) ? "ok" : "error time-out";
  }
  if (verb == "serial") {
    // A fresh pseudo-terminal, so that the line starts clean; LINK (say a
    // Wine prefix's dosdevices/com5) is pointed at it.
    std::string slave;
    if (!sim.open_serial(&slave)) return "error no pseudo-terminal";
    if (!args.empty()) {
      (void)::unlink(args[0].c_str());
      if (::symlink(slave.c_str(), args[0].c_str()) != 0) return "error cannot link " + args[0];
    }
    return "ok " + slave;
  }
  if (verb == "drop") {
    sim.drop_connections();
    return "ok";
  }
  if (verb == "count") {
    return "ok " + std::to_string(sim.connection_count()) + " " +
           std::to_string(sim.requests_received()) + " " +
           std::to_string(sim.keepalives_received());
  }
  if (verb == "user") {
    if (!numbers(4, UINT32_MAX) || a1 > 0xFFFF || a2 > 0xFF || a3 > 0xFF) {
      return "error user ID INDEX EVENT DIRECTION";
    }
    UserEvent e{};
    e.id = static_cast<uint32_t>(a0);
    e.index = static_cast<uint16_t>(a1);
    e.event = static_cast<uint8_t>(a2);
    e.direction = static_cast<uint8_t>(a3);
    e.event_word = static_cast<uint16_t>(a2);
    e.direction_word = static_cast<uint16_t>(a3);
    e.time = sim.node().time();
    return sim.send_user_event(e) ? "ok" : "error no connection";
  }
  if (verb == "mark") {
    if (!numbers(1, UINT32_MAX)) return "error mark ID";
    record_mark(sim.node(), static_cast<uint32_t>(a0), sim.node().time());
    return "ok";
  }
  if (verb == "aux") {
    if (!numbers(2, 0xFF)) return "error aux INPUT VALUE";
    AuxEvent e{};
    e.aux_input = static_cast<uint8_t>(a0);
    e.aux_value = static_cast<uint8_t>(a1);
    e.time = sim.node().time();
    return sim.send_aux_input_event(e) ? "ok" : "error no connection";
  }
  return "error unknown command";
}

bool control_serve(Simulator& sim, uint16_t port) {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int on = 1;
  (void)setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port);
  local.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0 || ::listen(fd, 4) != 0) {
    ::close(fd);
    return false;
  }
  std::thread([&sim, fd] {
    for (;;) {
      int client = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
      if (client < 0) {
        if (errno == EINTR || errno == ECONNABORTED) continue;
        return;
      }
      serve_client(sim, client);
      ::close(client);
    }
  }).detach();
  return true;
}

}  // namespace naxsim
