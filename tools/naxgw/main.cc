// naxgw: keeps configured nodes online and bridges them to an MQTT broker.
#include <mosquitto.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

#include "config.h"
#include "gateway.h"

namespace {

constexpr const char* kUsage =
    "usage: naxgw --config FILE\n"
    "  --config FILE   TOML configuration (broker, database, nodes, listener, marks)\n"
    "  --check         read the configuration, report faults and exit\n";

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
    if (option == "--config" && i + 1 < argc) {
      path = argv[++i];
    } else if (option == "--check") {
      check_only = true;
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
    config = naxgw::load_config(path);
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
    std::printf("naxgw running: %zu nodes, broker %s:%u\n",
                config.nodes.size() + (config.listener ? config.listener->nodes.size() : 0),
                config.mqtt.host.c_str(), unsigned{config.mqtt.port});
    std::fflush(stdout);
    int received = 0;
    sigwait(&stop_signals, &received);
    gateway.stop();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "naxgw: %s\n", e.what());
    code = 1;
  }
  mosquitto_lib_cleanup();
  return code;
}
