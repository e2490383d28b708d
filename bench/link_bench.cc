// Link engine figures against a simulated node in a child process:
//  (a) sequential nax_get_time round trips versus a minimal blocking client
//      exchanging the same frames with the same simulator: time and process
//      CPU per round trip, alternated within one run;
//  (b) aggregate round trips per second with 1, 2, 8 and 64 links, one host
//      thread each;
//  (c) time to open and close 1000 links, and resident memory per idle link;
//  (d) many links (10,000 by default) to one simulator: time to open them,
//      resident memory, descriptors and threads per link, a hot link's round
//      trip with all of them open versus with 10, events per second delivered
//      to callbacks when every node sends at once, and time to close them;
//  (e) as many nodes connecting in to the listener, from one simulator.
// --delay-ms makes the node answer that long after each request, as a real node
// does in milliseconds; (a) is the section that reads well then.
//
// usage: link_bench [--rounds N] [--links N] [--only abcde] [--delay-ms N]
#include <arpa/inet.h>
#include <dirent.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "commands/clock.h"
#include "link/link.h"
#include "naxsim.h"
#include "proto/frame.h"
#include "vedodiroz.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kHostNode = 0x0100;
constexpr uint16_t kNode = 1;
uint32_t g_delay_ms = 0;  // --delay-ms

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

// CPU time of every thread of this process, in seconds.
double process_cpu_s() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

long status_field(const char* name) {
  long value = 0;
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    const std::size_t length = std::strlen(name);
    while (std::fgets(line, sizeof line, f) != nullptr) {
      if (std::strncmp(line, name, length) == 0 && line[length] == ':') {
        value = std::atol(line + length + 1);
        break;
      }
    }
    std::fclose(f);
  }
  return value;
}

long resident_kib() {
  return status_field("VmRSS");
}

long thread_count() {
  return status_field("Threads");
}

long descriptor_count() {
  long n = 0;
  if (DIR* d = opendir("/proc/self/fd")) {
    while (dirent* e = readdir(d)) {
      if (e->d_name[0] != '.') ++n;
    }
    closedir(d);
  }
  return n - 1;  // the directory's own descriptor
}

std::string machine_state() {
  char load[128] = "?";
  if (FILE* f = std::fopen("/proc/loadavg", "r")) {
    if (std::fgets(load, sizeof load, f) == nullptr) std::strcpy(load, "?");
    std::fclose(f);
  }
  load[std::strcspn(load, "\n")] = '\0';
  return std::to_string(std::thread::hardware_concurrency()) + " cores, load " + load;
}

// The simulator runs in a child process so that its CPU and memory are not counted
// against the library.  The parent sends one byte per order: 'e' makes every
// connection send one user event, and the child answers with one byte when it has
// queued them all.
struct SimulatorProcess {
  pid_t pid = 0;
  uint16_t port = 0;
  int orders = -1;
  int replies = -1;

  void start(uint32_t delay_ms) {
    int to_child[2];
    int to_parent[2];
    if (pipe(to_child) != 0 || pipe(to_parent) != 0) std::exit(1);
    std::fflush(stdout);
    pid = fork();
    if (pid == 0) {
      close(to_child[1]);
      close(to_parent[0]);
      naxsim::Config config;
      config.protocol = naxsim::Protocol::P2;  // events go out before any request came in
      naxsim::Simulator sim(config);
      if (!sim.start()) _exit(1);
      naxsim::Faults faults;
      faults.delay_ms = delay_ms;
      sim.set_faults(faults);
      uint16_t bound = sim.port();
      if (write(to_parent[1], &bound, sizeof bound) != sizeof bound) _exit(1);
      char order = 0;
      uint32_t next_id = 0;
      while (read(to_child[0], &order, 1) == 1) {
        if (order == 'e') {
          naxsim::UserEvent event{};
          event.id = ++next_id;
          event.event = 1;
          event.time = sim.node().time();
          sim.send_user_event(event);
        }
        if (write(to_parent[1], &order, 1) != 1) break;
      }
      sim.stop();
      _exit(0);
    }
    close(to_child[0]);
    close(to_parent[1]);
    orders = to_child[1];
    replies = to_parent[0];
    if (read(replies, &port, sizeof port) != sizeof port) std::exit(1);
  }

  void order(char what) {
    char reply = 0;
    if (write(orders, &what, 1) != 1 || read(replies, &reply, 1) != 1) std::exit(1);
  }

  void stop() {
    close(orders);
    close(replies);
    waitpid(pid, nullptr, 0);
  }
};

// The baseline: one blocking socket, the same frame builder and assembler.
struct RawClient {
  int fd = -1;
  uint8_t frame[nax::kFrameBufferSize];
  std::size_t length = 0;
  nax::FrameAssembler a{};
  nax::Packet answer{};

  explicit RawClient(uint16_t port) {
    fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(port);
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::exit(1);
    nax::Packet request{};
    request.cmd = nax::kCmdGetTimeP2;
    length = nax::build_frame_p2(kNode, kHostNode, request, frame, sizeof frame);
  }
  ~RawClient() { close(fd); }

  // Reads frames until the answer; events the simulator sent to every
  // connection in (d) are passed over.
  void exchange() {
    if (send(fd, frame, length, 0) != static_cast<ssize_t>(length)) std::exit(1);
    do {
      nax::assembler_reset(a, 2, 0xFFFFFFFFu);
      for (;;) {
        ssize_t n = recv(fd, a.buffer + a.write_pos, a.need, 0);
        if (n <= 0) std::exit(1);
        a.fresh = static_cast<uint32_t>(n);
        uint32_t state = nax::parse_frame(a, 2);
        if (state == nax::kAsmComplete) break;
        if (state == nax::kAsmIdle) nax::assembler_reset(a, 2, 0xFFFFFFFFu);
        nax::assembler_make_room(a);
      }
      nax::frame_to_packet(a, 2, answer);
    } while (answer.cmd != nax::kCmdGetTimeP2);
  }
};

uint32_t open_link(const std::string& conn, nax_user_callback on_event = nullptr,
                   bool exit_on_failure = true) {
  uint32_t status = 0;
  uint32_t id =
      nax_open(&status, kHostNode, 2, conn.c_str(), 3000, nullptr, on_event, nullptr, nullptr);
  if (status != NAX_OK) {
    std::fprintf(stderr, "nax_open failed: %u\n", status);
    if (exit_on_failure) std::exit(1);
    return 0;
  }
  return id;
}

void get_time(uint32_t link) {
  nax_date_time t{};
  if (nax_get_time(static_cast<int32_t>(link), kNode, &t) != NAX_OK) std::exit(1);
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

// Time is the median of the single round trips, so that the other programs of
// a shared machine, which take the core now and then for milliseconds, do not
// decide it; CPU can only be had for the whole run and is its mean.
struct PerRoundTrip {
  double wall_us;  // median
  double mean_us;
  double cpu_us;  // mean
};

template <class Exchange>
PerRoundTrip measure(int rounds, Exchange&& exchange, std::vector<double>* keep = nullptr) {
  for (int i = 0; i < rounds / 10 + 10; ++i) exchange();  // warm-up
  std::vector<double> each(static_cast<std::size_t>(rounds));
  const double cpu = process_cpu_s();
  const auto start = Clock::now();
  auto before = start;
  for (double& us : each) {
    exchange();
    const auto after = Clock::now();
    us = std::chrono::duration<double, std::micro>(after - before).count();
    before = after;
  }
  const double n = rounds;
  const double mean = seconds_since(start) * 1e6 / n;
  const double cpu_us = (process_cpu_s() - cpu) * 1e6 / n;
  if (keep != nullptr) keep->insert(keep->end(), each.begin(), each.end());
  return {median(std::move(each)), mean, cpu_us};
}

// The library's hot link and the raw client take turns, so that both see the
// same moments of a shared machine.
struct Pair {
  PerRoundTrip lib;
  PerRoundTrip raw;
};

template <class Lib, class Raw>
Pair measure_pair(int rounds, Lib&& lib, Raw&& raw) {
  constexpr int kTurns = 10;
  std::vector<double> lib_all, raw_all;
  Pair p{};
  for (int turn = 0; turn < kTurns; ++turn) {
    const PerRoundTrip l = measure(rounds / kTurns, lib, &lib_all);
    const PerRoundTrip r = measure(rounds / kTurns, raw, &raw_all);
    p.lib.mean_us += l.mean_us / kTurns;
    p.raw.mean_us += r.mean_us / kTurns;
  }
  p.lib.wall_us = median(std::move(lib_all));
  p.raw.wall_us = median(std::move(raw_all));
  return p;
}

// (a): the raw client and the library take turns, so that both see the same machine.
void sequential(uint16_t port, const std::string& conn, int rounds) {
  constexpr int kTurns = 5;
  std::printf("(a) sequential round trips, protocol 2 get time, %d turns of %d rounds each\n",
              kTurns, rounds / kTurns);
  std::printf("    node answers after %u ms\n", g_delay_ms);
  std::printf("    machine: %s\n", machine_state().c_str());
  RawClient raw(port);
  const uint32_t link = open_link(conn);
  std::vector<double> raw_wall, raw_cpu, lib_wall, lib_cpu, wall_ratio, cpu_ratio, raw_mean,
      lib_mean;
  for (int turn = 0; turn < kTurns; ++turn) {
    const PerRoundTrip r = measure(rounds / kTurns, [&] { raw.exchange(); });
    const PerRoundTrip l = measure(rounds / kTurns, [&] { get_time(link); });
    raw_wall.push_back(r.wall_us);
    raw_mean.push_back(r.mean_us);
    raw_cpu.push_back(r.cpu_us);
    lib_wall.push_back(l.wall_us);
    lib_mean.push_back(l.mean_us);
    lib_cpu.push_back(l.cpu_us);
    wall_ratio.push_back(l.wall_us / r.wall_us);
    cpu_ratio.push_back(l.cpu_us / r.cpu_us);
  }
  nax_close(static_cast<int32_t>(link));
  std::printf("    (medians of the turns)   time: median    mean   process CPU: mean\n");
  std::printf("    raw blocking client   %8.1f us %8.1f us %8.1f us per round trip\n",
              median(raw_wall), median(raw_mean), median(raw_cpu));
  std::printf("    nax_get_time          %8.1f us %8.1f us %8.1f us per round trip\n",
              median(lib_wall), median(lib_mean), median(lib_cpu));
  std::printf("    ratio                 %8.2f    %8.2f    %8.2f\n", median(wall_ratio),
              median(lib_mean) / median(raw_mean), median(cpu_ratio));
}

double aggregate_per_second(const std::string& conn, int links, double seconds) {
  std::vector<uint32_t> ids;
  for (int i = 0; i < links; ++i) ids.push_back(open_link(conn));
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> done{0};
  std::vector<std::thread> threads;
  auto start = Clock::now();
  for (uint32_t id : ids) {
    threads.emplace_back([&, id] {
      nax_date_time t{};
      uint64_t n = 0;
      while (!stop.load(std::memory_order_relaxed)) {
        if (nax_get_time(static_cast<int32_t>(id), kNode, &t) == NAX_OK) ++n;
      }
      done += n;
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& t : threads) t.join();
  double rate = done.load() / seconds_since(start);
  for (uint32_t id : ids) nax_close(static_cast<int32_t>(id));
  return rate;
}

void thousand_links(const std::string& conn) {
  std::printf("(c) 1000 links\n");
  long before = resident_kib();
  auto start = Clock::now();
  std::vector<uint32_t> ids;
  for (int i = 0; i < 1000; ++i) ids.push_back(open_link(conn));
  double open_s = seconds_since(start);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  long after = resident_kib();
  start = Clock::now();
  for (uint32_t id : ids) nax_close(static_cast<int32_t>(id));
  double close_s = seconds_since(start);
  std::printf("    open 1000             %8.1f ms\n", open_s * 1e3);
  std::printf("    close 1000            %8.1f ms\n", close_s * 1e3);
  std::printf("    resident per link     %8.1f KiB (%ld KiB for 1000 idle links)\n",
              (after - before) / 1000.0, after - before);
}

std::atomic<uint64_t> g_events{0};

void NAX_CALL count_event(void*, int32_t, uint32_t, nax_user_event*) {
  g_events.fetch_add(1, std::memory_order_relaxed);
}

// Waits until the callbacks have counted `target` events or nothing arrived for 10 s.
bool wait_for_events(uint64_t target) {
  uint64_t seen = g_events.load();
  auto last_progress = Clock::now();
  while (seen < target) {
    std::this_thread::sleep_for(std::chrono::microseconds(200));
    const uint64_t now_seen = g_events.load();
    if (now_seen != seen) {
      seen = now_seen;
      last_progress = Clock::now();
    } else if (seconds_since(last_progress) > 10) {
      return false;
    }
  }
  return true;
}

void many_links(SimulatorProcess& sim, const std::string& conn, int wanted, int rounds) {
  constexpr int kFew = 10;
  std::printf("(d) %d links to one simulator\n", wanted);
  std::printf("    machine: %s\n", machine_state().c_str());
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);

  const long rss0 = resident_kib();
  const long fds0 = descriptor_count();
  const long threads0 = thread_count();
  std::vector<uint32_t> ids;
  auto start = Clock::now();
  for (int i = 0; i < kFew; ++i) ids.push_back(open_link(conn, count_event));
  double open_s = seconds_since(start);
  const double fds_per_link = static_cast<double>(descriptor_count() - fds0) / kFew;

  // Leave room for the process's own descriptors; the rest bounds the links.
  int links = wanted;
  const long room = static_cast<long>(limit.rlim_cur) - descriptor_count() - 32;
  const long fitting = kFew + static_cast<long>(room / std::max(fds_per_link, 1.0));
  if (fitting < links) {
    std::printf("    descriptor limit %ld at %.0f descriptors per link: %ld links fit\n",
                static_cast<long>(limit.rlim_cur), fds_per_link, fitting);
    links = static_cast<int>(fitting);
  }

  RawClient raw(sim.port);
  const Pair few_before = measure_pair(
      rounds, [&] { get_time(ids[0]); }, [&] { raw.exchange(); });

  start = Clock::now();
  while (static_cast<int>(ids.size()) < links) {
    const uint32_t id = open_link(conn, count_event, false);
    if (id == 0) break;
    ids.push_back(id);
  }
  open_s += seconds_since(start);
  links = static_cast<int>(ids.size());
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const double n = links;
  const double rss_per_link = (resident_kib() - rss0) / n;
  const double fds_total = static_cast<double>(descriptor_count() - fds0);
  const double threads_total = static_cast<double>(thread_count() - threads0);

  const Pair many = measure_pair(
      rounds, [&] { get_time(ids[0]); }, [&] { raw.exchange(); });

  // Fan-in: every node sends one user event at once, several times over.
  constexpr int kBursts = 5;
  g_events = 0;
  start = Clock::now();
  bool complete = true;
  for (int burst = 1; burst <= kBursts && complete; ++burst) {
    sim.order('e');
    complete = wait_for_events(static_cast<uint64_t>(burst) * ids.size());
  }
  const double fan_in_s = seconds_since(start);
  const uint64_t events = g_events.load();

  start = Clock::now();
  for (std::size_t i = kFew; i < ids.size(); ++i) nax_close(static_cast<int32_t>(ids[i]));
  double close_s = seconds_since(start);
  ids.resize(kFew);
  const Pair few_after = measure_pair(
      rounds, [&] { get_time(ids[0]); }, [&] { raw.exchange(); });
  start = Clock::now();
  for (uint32_t id : ids) nax_close(static_cast<int32_t>(id));
  close_s += seconds_since(start);

  const double few_us = (few_before.lib.wall_us + few_after.lib.wall_us) / 2;
  std::printf("    links open            %8d\n", links);
  std::printf("    open all              %8.2f s (%.0f us per link)\n", open_s, open_s * 1e6 / n);
  std::printf("    resident per link     %8.1f KiB\n", rss_per_link);
  std::printf("    descriptors per link  %8.2f\n", fds_total / n);
  std::printf("    threads per link      %8.2f\n", threads_total / n);
  std::printf("    (round trips: median of %d in turns with the raw client; mean in brackets)\n",
              rounds);
  std::printf("    hot link, %2d open     %8.1f us (%.1f before, %.1f after; mean %.1f)\n", kFew,
              few_us, few_before.lib.wall_us, few_after.lib.wall_us,
              (few_before.lib.mean_us + few_after.lib.mean_us) / 2);
  std::printf("    hot link, %5d open  %8.1f us (mean %.1f)\n", links, many.lib.wall_us,
              many.lib.mean_us);
  std::printf("    ratio                 %8.2f\n", many.lib.wall_us / few_us);
  const double raw_few_us = (few_before.raw.wall_us + few_after.raw.wall_us) / 2;
  std::printf("    raw client, %2d open   %8.1f us (%.1f before, %.1f after; mean %.1f)\n", kFew,
              raw_few_us, few_before.raw.wall_us, few_after.raw.wall_us,
              (few_before.raw.mean_us + few_after.raw.mean_us) / 2);
  std::printf("    raw client, %5d open %8.1f us (mean %.1f)\n", links, many.raw.wall_us,
              many.raw.mean_us);
  std::printf("    ratio                 %8.2f\n", many.raw.wall_us / raw_few_us);
  std::printf("    fan-in                %8.0f events/s to callbacks (%llu of %llu in %.2f s)%s\n",
              events / fan_in_s, static_cast<unsigned long long>(events),
              static_cast<unsigned long long>(kBursts * static_cast<uint64_t>(links)), fan_in_s,
              complete ? "" : " INCOMPLETE");
  std::printf("    close all             %8.2f s (%.0f us per link)\n", close_s, close_s * 1e6 / n);
}

std::atomic<uint32_t> g_connected{0};
std::vector<int32_t> g_incoming;  // filled on the listen thread, read once it is quiet

void NAX_CALL count_connection(void*, int32_t link_id, uint32_t state) {
  if (state != NAX_CONN_CONNECTED) return;
  g_incoming.push_back(link_id);
  g_connected.fetch_add(1, std::memory_order_release);
}

// (e): a simulator in a child process connects `wanted` times to our listener.
void connecting_in(int wanted) {
  std::printf("(e) %d nodes connect in to the listener\n", wanted);
  std::printf("    machine: %s\n", machine_state().c_str());
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  const long fitting = static_cast<long>(limit.rlim_cur) - descriptor_count() - 64;
  if (fitting < wanted) {
    std::printf("    descriptor limit %ld at 1 descriptor per link: %ld links fit\n",
                static_cast<long>(limit.rlim_cur), fitting);
    wanted = static_cast<int>(fitting);
  }
  nax_set_listen_limits(0, 0);
  uint32_t status = 0;
  if (nax_listen(&status, 0, 1000, nullptr, count_connection) != 1) std::exit(1);
  const uint16_t port = nax::listener_port();
  g_connected = 0;
  g_incoming.reserve(static_cast<std::size_t>(wanted));
  const auto start = Clock::now();
  std::fflush(stdout);  // or the child prints it again
  const pid_t child = fork();
  if (child == 0) {
    naxsim::Config config;
    config.listen = false;
    naxsim::Simulator sim(config);
    if (!sim.start()) _exit(1);
    const bool ok = sim.connect_to("127.0.0.1", port, static_cast<size_t>(wanted));
    std::printf("    simulator: %zu connections made%s\n", sim.connection_count(),
                ok ? "" : " (some failed)");
    std::fflush(stdout);
    pause();
    _exit(0);
  }
  auto last_progress = Clock::now();
  uint32_t seen = 0;
  while (seen < static_cast<uint32_t>(wanted) && seconds_since(last_progress) < 10) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
    if (g_connected.load() != seen) {
      seen = g_connected.load();
      last_progress = Clock::now();
    }
  }
  const double connect_s = seconds_since(start);
  std::printf("    incoming links        %8u in %.2f s (%.0f us per link)\n", seen, connect_s,
              connect_s * 1e6 / std::max(seen, 1u));
  nax_close_listen(1);
  const auto closing = Clock::now();
  for (std::size_t i = 0; i < g_connected.load(std::memory_order_acquire); ++i) {
    nax_close(g_incoming[i]);
  }
  std::printf("    close all             %8.2f s\n", seconds_since(closing));
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
}

}  // namespace

int main(int argc, char** argv) {
  int rounds = 20000;
  int links = 10000;
  std::string only = "abcde";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    if (option == "--rounds") {
      rounds = std::max(10, std::atoi(argv[i + 1]));
    } else if (option == "--links") {
      links = std::max(20, std::atoi(argv[i + 1]));
    } else if (option == "--only") {
      only = argv[i + 1];
    } else if (option == "--delay-ms") {
      g_delay_ms = static_cast<uint32_t>(std::atoi(argv[i + 1]));
    } else {
      std::fprintf(stderr,
                   "usage: link_bench [--rounds N] [--links N] [--only abcde] [--delay-ms N]\n");
      return 2;
    }
  }
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);

  SimulatorProcess sim;
  sim.start(g_delay_ms);
  const std::string conn = "127.0.0.1:" + std::to_string(sim.port);
  if (nax_init(nullptr, 0) != NAX_OK) return 1;

  auto wants = [&](char section) { return only.find(section) != std::string::npos; };
  if (wants('a')) sequential(sim.port, conn, rounds);
  if (wants('b')) {
    std::printf("(b) aggregate round trips per second, one host thread per link\n");
    for (int n : {1, 2, 8, 64}) {
      std::printf("    %3d links             %8.0f /s\n", n, aggregate_per_second(conn, n, 2.0));
    }
  }
  if (wants('c')) thousand_links(conn);
  if (wants('d')) many_links(sim, conn, links, rounds);
  if (wants('e')) connecting_in(links);

  nax_uninit();
  sim.stop();
  return 0;
}
