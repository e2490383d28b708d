// naxgw: keeps configured nodes online and bridges them to an MQTT broker.
#include <mosquitto.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "commands.h"
#include "config.h"
#include "gateway.h"
#include "log.h"

namespace {

constexpr const char* kUsage =
    "usage: naxgw --config FILE [--check] [--log-level LEVEL]\n"
    "  --config FILE      TOML configuration (broker, database, nodes, listener, marks)\n"
    "  --check            check the configuration and the files it names, and exit\n"
    "  --log-level LEVEL  error, warning, info (default) or debug\n"
    "  --version          print the version and exit\n";

// Every link costs a descriptor; take all the system allows.
void raise_descriptor_limit() {
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
    limit.rlim_cur = limit.rlim_max;
    setrlimit(RLIMIT_NOFILE, &limit);
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string path;
  bool check_only = false;
  for (int i = 1; i < argc; ++i) {
    const std::string option = argv[i];
    naxgw::Level level{};
    if (option == "--config" && i + 1 < argc) {
      path = argv[++i];
    } else if (option == "--check") {
      check_only = true;
    } else if (option == "--log-level" && i + 1 < argc && naxgw::parse_level(argv[i + 1], level)) {
      naxgw::set_log_level(level);
      ++i;
    } else if (option == "--version") {
      char version[16] = {};
      std::printf("naxgw %s\n", nax_lib_version(version));
      return 0;
    } else if (option == "--help" || option == "-h") {
      std::fputs(kUsage, stdout);
      return 0;
    } else {
      std::fprintf(stderr, "naxgw: unknown option %s\n%s", option.c_str(), kUsage);
      return 2;
    }
  }
  if (path.empty()) {
    std::fprintf(stderr, "naxgw: --config FILE is required\n%s", kUsage);
    return 2;
  }

  naxgw::Config config;
  try {
    const std::vector<std::string> commands = naxgw::command_names();
    config = naxgw::load_config(path, &commands);
    for (const std::string& warning : naxgw::check_environment(config)) {
      naxgw::log_warning(warning);
    }
  } catch (const naxgw::ConfigError& e) {
    std::fprintf(stderr, "naxgw: %s\n", e.what());
    return 2;
  }
  if (check_only) return 0;

  // Blocked before any thread exists, so that only sigwait below sees them.
  sigset_t stop_signals;
  sigemptyset(&stop_signals);
  sigaddset(&stop_signals, SIGINT);
  sigaddset(&stop_signals, SIGTERM);
  pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);
  std::signal(SIGPIPE, SIG_IGN);

  raise_descriptor_limit();
  mosquitto_lib_init();
  int code = 0;
  try {
    naxgw::Gateway gateway(config);
    gateway.start();
    naxgw::log_info("running: " +
                    std::to_string(config.nodes.size() +
                                   (config.listener ? config.listener->nodes.size() : 0)) +
                    " nodes, broker " + config.mqtt.host + ":" + std::to_string(config.mqtt.port));
    int received = 0;
    sigwait(&stop_signals, &received);
    naxgw::log_info(std::string("stopping on ") + strsignal(received));
    gateway.stop();
  } catch (const std::exception& e) {
    naxgw::log_error(e.what());
    code = 1;
  }
  mosquitto_lib_cleanup();
  return code;
}
