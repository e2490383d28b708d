// naxsim: serve a simulated node until interrupted: on a TCP port, on a pseudo-terminal,
// or over connections it makes to a host's listener.
#include <arpa/inet.h>
#include <sys/resource.h>

#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "control.h"
#include "handlers_marks.h"
#include "naxsim.h"
#include "vedodiroz.h"

namespace {

constexpr const char* kUsage =
    "usage: naxsim [options]\n"
    "  --port N             TCP port to listen on (default 0: any free port)\n"
    "  --bind ADDRESS       IPv4 address to listen on (default 127.0.0.1; 0.0.0.0: every\n"
    "                       interface, so that other machines reach the node)\n"
    "  --serial             serve a pseudo-terminal; the host opens the slave path printed\n"
    "  --connect HOST:PORT  connect to a host's listener instead of waiting for hosts\n"
    "  --count N            with --connect: make N connections (default 1)\n"
    "                       with --serial or --connect there is no TCP listener unless\n"
    "                       --port is given\n"
    "  --node N             node number (default 1)\n"
    "  --protocol P         auto, 1 or 2 (default auto: per connection, from its first frame)\n"
    "  --clock-offset S     node clock = host local time + S seconds\n"
    "  --marks N            start with N attendance marks in the log (users 1..N, one a\n"
    "                       minute); each event of --events-every appends one more\n"
    "  --control N          serve the line-based control channel on 127.0.0.1:N\n"
    "faults:\n"
    "  --no-answer          carry out requests but never answer them\n"
    "  --delay MS           answer MS milliseconds late\n"
    "  --answer-from N      answers come from node N\n"
    "  --answer-to N        answers are addressed to node N\n"
    "  --answer-cmd N       answers carry command code N\n"
    "  --refuse-status N    protocol 2: answer every request with status N and no data\n"
    "  --refuse-error N     protocol 1: answer every request with result 0 and error byte N\n"
    "  --truncate N         keep at most N data bytes of each answer\n"
    "  --garbage N          write N random bytes before each frame\n"
    "  --split-bytes        write frames one byte at a time\n"
    "  --bad-crc            send frames with a wrong CRC-16\n"
    "  --drop-mid-frame     send half of each answer, then close the connection\n"
    "  --cut-events         send only the first half of each event\n"
    "  --ignore-keepalives  count keepalives but do not answer them\n"
    "  --events-every MS    send a user event to every connection each MS milliseconds\n"
    "  --chaos SEED         answer at random: valid, mutated, cut short, garbage, silent,\n"
    "                       split or with a dropped connection (SEED makes it repeatable)\n"
    "  --version            print the version and exit\n"
    "numbers may be decimal or 0x-prefixed hexadecimal\n";

bool parse_number(const char* text, unsigned long max, unsigned long& out) {
  if (text == nullptr || *text == '\0' || *text == '-') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtoul(text, &end, 0);
  return errno == 0 && *end == '\0' && out <= max;
}

bool parse_signed(const char* text, long& out) {
  if (text == nullptr || *text == '\0') return false;
  char* end = nullptr;
  errno = 0;
  out = std::strtol(text, &end, 0);
  return errno == 0 && *end == '\0' && out >= INT32_MIN && out <= INT32_MAX;
}

int usage_error(const std::string& message) {
  std::fprintf(stderr, "naxsim: %s\n%s", message.c_str(), kUsage);
  return 2;
}

// Every connection costs a descriptor; take all the system allows.
void raise_descriptor_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  // Blocked before the loop thread exists, so that only sigwait below sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

  naxsim::Config config;
  naxsim::Faults faults;
  bool port_given = false;
  bool serial = false;
  std::string connect_host;
  uint16_t connect_port = 0;
  unsigned long connect_count = 0;  // 0: no --count
  unsigned long preload = 0;
  unsigned long control_port = 0;  // 0: no control channel

  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    unsigned long number = 0;
    auto take_number = [&](unsigned long max) {
      if (!parse_number(value, max, number)) return false;
      ++i;
      return true;
    };
    auto bad_value = [&] {
      return usage_error(
          option + " needs " +
          (value ? "a valid number, not " + std::string(value) : std::string("a value")));
    };

    if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else if (option == "--version") {
      char version[16];
      std::printf("naxsim %s\n", nax_lib_version(version));
      return 0;
    } else if (option == "--port") {
      if (!take_number(0xFFFF)) return bad_value();
      config.port = static_cast<uint16_t>(number);
      port_given = true;
    } else if (option == "--bind") {
      in_addr address{};
      if (value == nullptr || ::inet_pton(AF_INET, value, &address) != 1) {
        return usage_error("--bind needs a dotted IPv4 address" +
                           (value ? ", not " + std::string(value) : std::string()));
      }
      config.bind = value;
      ++i;
    } else if (option == "--serial") {
      serial = true;
    } else if (option == "--connect") {
      const std::string target = value ? value : "";
      const std::size_t colon = target.rfind(':');
      if (colon == std::string::npos || colon == 0 ||
          !parse_number(target.c_str() + colon + 1, 0xFFFF, number) || number == 0) {
        return usage_error("--connect takes HOST:PORT");
      }
      connect_host = target.substr(0, colon);
      connect_port = static_cast<uint16_t>(number);
      ++i;
    } else if (option == "--count") {
      if (!take_number(100000) || number == 0) return bad_value();
      connect_count = number;
    } else if (option == "--node") {
      if (!take_number(0xFFFF)) return bad_value();
      config.node = static_cast<uint16_t>(number);
    } else if (option == "--protocol") {
      const std::string p = value ? value : "";
      if (p == "auto") {
        config.protocol = naxsim::Protocol::Auto;
      } else if (p == "1") {
        config.protocol = naxsim::Protocol::P1;
      } else if (p == "2") {
        config.protocol = naxsim::Protocol::P2;
      } else {
        return usage_error("--protocol takes auto, 1 or 2");
      }
      ++i;
    } else if (option == "--clock-offset") {
      long offset = 0;
      if (!parse_signed(value, offset)) return bad_value();
      ++i;
      config.clock_offset_s = static_cast<int32_t>(offset);
    } else if (option == "--marks") {
      if (!take_number(1000000)) return bad_value();
      preload = number;
    } else if (option == "--control") {
      if (!take_number(0xFFFF) || number == 0) return bad_value();
      control_port = number;
    } else if (option == "--no-answer") {
      faults.no_answer = true;
    } else if (option == "--delay") {
      if (!take_number(UINT32_MAX)) return bad_value();
      faults.delay_ms = static_cast<uint32_t>(number);
    } else if (option == "--answer-from") {
      if (!take_number(0xFFFF)) return bad_value();
      faults.answer_from = static_cast<uint16_t>(number);
    } else if (option == "--answer-to") {
      if (!take_number(0xFFFF)) return bad_value();
      faults.answer_to = static_cast<uint16_t>(number);
    } else if (option == "--answer-cmd") {
      if (!take_number(0xFFFF)) return bad_value();
      faults.answer_cmd = static_cast<uint16_t>(number);
    } else if (option == "--refuse-status") {
      if (!take_number(0xFFFF)) return bad_value();
      faults.refuse_status = static_cast<uint16_t>(number);
    } else if (option == "--refuse-error") {
      if (!take_number(0xFF)) return bad_value();
      faults.refuse_error = static_cast<uint8_t>(number);
    } else if (option == "--truncate") {
      if (!take_number(0xFFFF)) return bad_value();
      faults.truncate_to = static_cast<uint16_t>(number);
    } else if (option == "--garbage") {
      if (!take_number(4096)) return bad_value();
      faults.garbage_before = static_cast<uint32_t>(number);
    } else if (option == "--split-bytes") {
      faults.split_bytes = true;
    } else if (option == "--bad-crc") {
      faults.bad_crc = true;
    } else if (option == "--drop-mid-frame") {
      faults.drop_mid_frame = true;
    } else if (option == "--cut-events") {
      faults.cut_events = true;
    } else if (option == "--ignore-keepalives") {
      faults.ignore_keepalives = true;
    } else if (option == "--events-every") {
      if (!take_number(UINT32_MAX)) return bad_value();
      faults.event_every_ms = static_cast<uint32_t>(number);
    } else if (option == "--chaos") {
      if (!take_number(ULONG_MAX)) return bad_value();
      faults.chaos_seed = number;
    } else {
      return usage_error("unknown option " + option);
    }
  }

  if (connect_count != 0 && connect_host.empty()) return usage_error("--count needs --connect");
  const bool connecting = !connect_host.empty();
  config.listen = port_given || !(serial || connecting);

  raise_descriptor_limit();

  naxsim::Simulator simulator(config);
  naxsim::preload_marks(simulator.node(), preload);
  simulator.set_faults(faults);
  if (!simulator.start()) {
    std::fprintf(stderr, "naxsim: cannot listen on %s:%u: %s\n", config.bind.c_str(),
                 static_cast<unsigned>(config.port), std::strerror(errno));
    return 1;
  }
  const unsigned node = config.node;
  if (faults.chaos_seed) {
    std::printf("naxsim chaos seed = %llu\n", static_cast<unsigned long long>(*faults.chaos_seed));
  }
  if (config.listen) {
    std::printf("naxsim listening on %s node %u\n", simulator.conn_string().c_str(), node);
  }
  if (serial) {
    std::string slave;
    if (!simulator.open_serial(&slave)) {
      std::fprintf(stderr, "naxsim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
      return 1;
    }
    std::printf("naxsim serial on %s node %u\n", slave.c_str(), node);
  }
  if (connecting) {
    const std::string target = connect_host + ":" + std::to_string(connect_port);
    if (!simulator.connect_to(connect_host, connect_port, connect_count == 0 ? 1 : connect_count)) {
      std::fprintf(stderr, "naxsim: cannot connect to %s\n", target.c_str());
      return 1;
    }
    std::printf("naxsim connected to %s node %u\n", target.c_str(), node);
  }
  if (control_port != 0) {
    if (!naxsim::control_serve(simulator, static_cast<uint16_t>(control_port))) {
      std::fprintf(stderr, "naxsim: cannot serve control on port %lu: %s\n", control_port,
                   std::strerror(errno));
      return 1;
    }
    std::printf("naxsim control on 127.0.0.1:%lu\n", control_port);
  }
  std::fflush(stdout);

  int received = 0;
  sigwait(&stop_signals, &received);
  simulator.stop();
  return 0;
}
