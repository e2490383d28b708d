// Record transfer figures against a simulated node in a child process: users
// uploaded and downloaded per second, and marks downloaded per second, in
// both packet protocols.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "handlers_marks.h"
#include "naxsim.h"
#include "vedodiroz.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr uint16_t kHostNode = 0x0100;
constexpr uint16_t kNode = 1;
constexpr int kUsers = 1992;  // a whole number of protocol-2 batches
constexpr int kMarks = 10000;

double seconds_since(Clock::time_point t) {
  return std::chrono::duration<double>(Clock::now() - t).count();
}

uint16_t start_simulator_process(pid_t* child) {
  int fds[2];
  if (pipe(fds) != 0) std::exit(1);
  *child = fork();
  if (*child == 0) {
    close(fds[0]);
    naxsim::Simulator sim;
    if (!sim.start()) _exit(1);
    sim.node().with_state<naxsim::MarkLog>([](naxsim::MarkLog& log) {
      for (int i = 0; i < kMarks; ++i) {
        naxsim::MarkEntry m;
        m.id = 10000000u + static_cast<uint32_t>(i);
        m.time = {8, static_cast<uint8_t>(i % 60), 0, 26, 12, 5, 6};
        m.event = 1;
        m.index = static_cast<uint16_t>(i % 100);
        m.code = "G" + std::to_string(i % 1000);
        log.marks.push_back(m);
      }
      return 0;
    });
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

nax_user make_user(uint32_t id) {
  nax_user u{};
  u.mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_ST | NAX_USER_CTL | NAX_USER_SEC_LEVEL |
           NAX_USER_TEXT1 | NAX_USER_SCHEDULE_ID;
  u.id = id;
  u.psw = static_cast<uint16_t>(id % 10000);
  u.st = 1;
  u.ctl = 0x0101;
  u.sec_level = 2;
  std::snprintf(u.text1, sizeof u.text1, "user %u", id);
  u.schedule_id = 1;
  return u;
}

void run(const std::string& conn, uint8_t protocol) {
  uint32_t status = 0;
  uint32_t link = nax_open(&status, kHostNode, protocol, conn.c_str(), 3000, nullptr, nullptr,
                           nullptr, nullptr);
  if (status != NAX_OK) std::exit(1);
  const uint32_t base = protocol * 1000000u;

  // Upload: protocol 1 takes one user per request; protocol 2 batches.
  const int batch = protocol == 1 ? 1 : 12;  // twelve of these records fit 512 bytes
  std::vector<nax_user> users(batch);
  auto start = Clock::now();
  for (int i = 0; i < kUsers; i += batch) {
    for (int j = 0; j < batch; ++j) users[j] = make_user(base + static_cast<uint32_t>(i + j));
    uint16_t taken = 0;
    if (nax_add_user(link, kNode, static_cast<uint32_t>(i), static_cast<uint32_t>(batch),
                     users.data(), &taken) != NAX_OK) {
      std::fprintf(stderr, "add failed\n");
      std::exit(1);
    }
  }
  double up = kUsers / seconds_since(start);

  // Download: pages until the node has no further users.
  std::vector<nax_user> page(protocol == 1 ? 1 : 20);
  int listed = 0;
  start = Clock::now();
  for (uint32_t first = 0;;) {
    uint16_t stored = 0;
    uint32_t s = nax_list_users(link, kNode, first, static_cast<uint16_t>(page.size()), page.data(),
                                &stored);
    listed += stored;
    first += stored;
    if (s != NAX_OK || stored == 0) break;
  }
  double down = listed / seconds_since(start);

  std::vector<nax_mark> marks(protocol == 1 ? 1 : 12);
  int got = 0;
  start = Clock::now();
  for (uint32_t first = 0;;) {
    uint16_t stored = 0;
    uint32_t s = nax_list_marks(link, kNode, first, static_cast<uint16_t>(marks.size()),
                                marks.data(), &stored);
    got += stored;
    first += stored;
    if (s != NAX_OK || stored == 0) break;
  }
  double marks_rate = got / seconds_since(start);
  std::printf(
      "  protocol %u: users up %8.0f /s, users down %8.0f /s (%d), marks down %8.0f /s (%d)\n",
      protocol, up, down, listed, marks_rate, got);
  nax_close(link);
}

}  // namespace

int main() {
  pid_t child = 0;
  uint16_t port = start_simulator_process(&child);
  const std::string conn = "127.0.0.1:" + std::to_string(port);
  if (nax_init(nullptr, 0) != NAX_OK) return 1;
  std::printf("records over loopback, %d users, %d marks\n", kUsers, kMarks);
  run(conn, 2);
  run(conn, 1);
  nax_uninit();
  kill(child, SIGTERM);
  waitpid(child, nullptr, 0);
  return 0;
}
