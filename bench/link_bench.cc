// Link engine figures against a simulated node in a child process:
//  (a) sequential nax_get_time round trips versus a minimal blocking client
//      exchanging the same frames with the same simulator;
//  (b) aggregate round trips per second with 1, 2, 8 and 64 links, one host
//      thread each;
//  (c) time to open and close 1000 links, and resident memory per idle link.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "naxsim.h"
#include "proto/frame.h"
#include "vedodiroz.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kHostNode = 0x0100;
constexpr uint16_t kNode = 1;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

long resident_kib() {
  long pages = 0, resident = 0;
  if (FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%ld %ld", &pages, &resident) != 2) resident = 0;
    std::fclose(f);
  }
  return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// Runs the simulator in a child process so that its CPU and memory are not
// counted against the library; returns the port.
uint16_t start_simulator_process(pid_t* child) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  *child = fork();
  if (*child == 0) {
    close(fds[0]);
    naxsim::Simulator sim;
    if (!sim.start()) _exit(1);
    uint16_t port = sim.port();
    if (write(fds[1], &port, sizeof port) != sizeof port) _exit(1);
    pause();
    _exit(0);
  }
  close(fds[1]);
  uint16_t port = 0;
  if (read(fds[0], &port, sizeof port) != sizeof port) std::exit(1);
  close(fds[0]);
  return port;
}

// The baseline: one blocking socket, the same frame builder and assembler.
double raw_round_trip_us(uint16_t port, int rounds) {
  int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) std::exit(1);
  nax::nax_packet request{};
  request.cmd = 0x8033;
  uint8_t frame[nax::kFrameBufferSize];
  std::size_t length = nax::build_frame_p2(kNode, kHostNode, request, frame, sizeof frame);
  nax::frame_assembler a{};
  nax::nax_packet answer{};
  auto exchange = [&] {
    if (send(fd, frame, length, 0) != static_cast<ssize_t>(length)) std::exit(1);
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
  };
  for (int i = 0; i < 200; ++i) exchange();  // warm-up
  auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) exchange();
  double us = seconds_since(start) * 1e6 / rounds;
  close(fd);
  return us;
}

uint32_t open_link(const std::string& conn) {
  uint32_t status = 0;
  uint32_t id =
      nax_open(&status, kHostNode, 2, conn.c_str(), 3000, nullptr, nullptr, nullptr, nullptr);
  if (status != NAX_OK) {
    std::fprintf(stderr, "nax_open failed: %u\n", status);
    std::exit(1);
  }
  return id;
}

double library_round_trip_us(const std::string& conn, int rounds) {
  uint32_t link = open_link(conn);
  nax_date_time t{};
  for (int i = 0; i < 200; ++i) nax_get_time(link, kNode, &t);
  auto start = Clock::now();
  for (int i = 0; i < rounds; ++i) {
    if (nax_get_time(link, kNode, &t) != NAX_OK) std::exit(1);
  }
  double us = seconds_since(start) * 1e6 / rounds;
  nax_close(link);
  return us;
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
        if (nax_get_time(id, kNode, &t) == NAX_OK) ++n;
      }
      done += n;
    });
  }
  std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
  stop = true;
  for (auto& t : threads) t.join();
  double rate = done.load() / seconds_since(start);
  for (uint32_t id : ids) nax_close(id);
  return rate;
}

}  // namespace

int main(int argc, char** argv) {
  const int rounds = argc > 1 ? std::atoi(argv[1]) : 20000;
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  limit.rlim_cur = limit.rlim_max;
  setrlimit(RLIMIT_NOFILE, &limit);

  pid_t child = 0;
  uint16_t port = start_simulator_process(&child);
  const std::string conn = "127.0.0.1:" + std::to_string(port);
  if (nax_init(nullptr, 0) != NAX_OK) return 1;

  std::printf("(a) sequential round trips, protocol 2 get time, %d rounds\n", rounds);
  double raw = raw_round_trip_us(port, rounds);
  double lib = library_round_trip_us(conn, rounds);
  std::printf("    raw blocking client   %8.1f us/round trip\n", raw);
  std::printf("    nax_get_time          %8.1f us/round trip\n", lib);
  std::printf("    ratio                 %8.2f\n", lib / raw);

  std::printf("(b) aggregate round trips per second, one host thread per link\n");
  for (int links : {1, 2, 8, 64}) {
    std::printf("    %3d links             %8.0f /s\n", links,
                aggregate_per_second(conn, links, 2.0));
  }

  std::printf("(c) 1000 links\n");
  long before = resident_kib();
  auto start = Clock::now();
  std::vector<uint32_t> ids;
  for (int i = 0; i < 1000; ++i) ids.push_back(open_link(conn));
  double open_s = seconds_since(start);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  long after = resident_kib();
  start = Clock::now();
  for (uint32_t id : ids) nax_close(id);
  double close_s = seconds_since(start);
  std::printf("    open 1000             %8.1f ms\n", open_s * 1e3);
  std::printf("    close 1000            %8.1f ms\n", close_s * 1e3);
  std::printf("    resident per link     %8.1f KiB (%ld KiB for 1000 idle links)\n",
              (after - before) / 1000.0, after - before);

  nax_uninit();
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  return 0;
}
