// Soak: many open/close cycles over every kind of link (TCP out, accepted
// from the listener, serial), with a link lost to the node every few cycles.
// Descriptors and threads must end where they started and resident memory
// must not grow past a small allowance; the program prints all three and
// exits non-zero when one of them moved.
//
// NAX_SOAK_CYCLES sets the number of cycles (default 10000).
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "naxsim.h"
#include "support/support.h"
#include "vedodiroz.h"

namespace {

using Clock = std::chrono::steady_clock;

using test_support::eventually;
using test_support::kHostNode;
using test_support::kSimNode;
constexpr int kLossEvery = 10;
constexpr int kWarmUpCycles = 300;
// Allocator caches may keep a little after warm-up; a leaked link record
// (over a kilobyte each) over thousands of cycles is far beyond this.
constexpr long kRssAllowanceKib = 1024;

struct Counts {
  int descriptors;
  int threads;
  long rss_kib;
};

Counts counts() {
  long pages = 0;
  long resident = 0;
  std::ifstream("/proc/self/statm") >> pages >> resident;
  return Counts{test_support::open_descriptors(), test_support::running_threads(),
                resident * (sysconf(_SC_PAGESIZE) / 1024)};
}

// Connection callback: which links the listener announced and which were lost.
struct Events {
  std::mutex m;
  std::vector<int32_t> incoming;
  std::atomic<int> lost{0};
  static void NAX_CALL on_conn(void* args, int32_t link, uint32_t state) {
    auto* self = static_cast<Events*>(args);
    std::lock_guard<std::mutex> lock(self->m);
    if (state == NAX_CONN_CONNECTED) self->incoming.push_back(link);
    if (state != NAX_CONN_CONNECTED) ++self->lost;
  }
  // The oldest link announced and not yet claimed, or 0 when none comes.
  uint32_t next_incoming() {
    uint32_t link = 0;
    eventually([&] {
      std::lock_guard<std::mutex> lock(m);
      if (incoming.empty()) return false;
      link = static_cast<uint32_t>(incoming.front());
      incoming.erase(incoming.begin());
      return true;
    });
    return link;
  }
};

// Counts once no link is left and a lost link's thread, which ends on its
// own after freeing its link, has had its moment: two reads 20 ms apart agree.
Counts settled(naxsim::Simulator& sim) {
  eventually([&] { return sim.connection_count() == 1 && nax::registry_live_links() == 0; });
  Counts last = counts();
  for (int i = 0; i < 500; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    const Counts now = counts();
    if (now.descriptors == last.descriptors && now.threads == last.threads) return now;
    last = now;
  }
  return last;
}

int fail(const char* what, int cycle, uint32_t status) {
  std::fprintf(stderr, "soak: %s failed at cycle %d with %u\n", what, cycle, status);
  return 1;
}

}  // namespace

int main() {
  const char* text = std::getenv("NAX_SOAK_CYCLES");
  const int cycles = text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : 10000;

  naxsim::Config config;
  config.node = kSimNode;
  naxsim::Simulator sim(config);
  if (!sim.start()) return fail("simulator start", 0, 0);
  std::string slave;
  if (!sim.open_serial(&slave)) return fail("pseudo-terminal", 0, 0);
  if (nax_init(nullptr, 0) != NAX_OK) return fail("nax_init", 0, 0);
  Events events;
  uint32_t status = 0;
  if (nax_listen(&status, 0, 1000, &events, Events::on_conn) != 1)
    return fail("nax_listen", 0, status);

  Counts start{};
  const auto began = Clock::now();
  int losses = 0;
  for (int cycle = 0; cycle < cycles; ++cycle) {
    if (cycle == kWarmUpCycles) start = settled(sim);
    const int kind = cycle % 3;
    const bool lose = cycle % kLossEvery == kLossEvery - 1;
    uint32_t link = 0;
    if (kind == 1) {
      if (!sim.connect_to("127.0.0.1", nax::listener_port())) return fail("connect_to", cycle, 0);
      link = events.next_incoming();  // claimed by its id
      if (link == 0) return fail("incoming link", cycle, 0);
      uint16_t node = 0;
      uint16_t port = 0;
      status = nax_accept(&link, &node, &port, static_cast<uint8_t>(1 + cycle % 2), kHostNode, 2000,
                          1000);
      if (status != NAX_OK) return fail("nax_accept", cycle, status);
    } else {
      const std::string conn = kind == 0 ? sim.conn_string() : slave + ":115200";
      link = nax_open(&status, kHostNode, 1 + cycle % 2, conn.c_str(), kind == 0 ? 1000 : 0,
                      &events, nullptr, nullptr, Events::on_conn);
      if (link == 0) return fail(kind == 0 ? "nax_open tcp" : "nax_open serial", cycle, status);
    }
    const auto id = static_cast<int32_t>(link);
    if (!lose) {
      status = nax_close(id);
      if (status != NAX_OK) return fail("nax_close", cycle, status);
      continue;
    }
    // The node goes away: the link closes itself (an accepted link, whose connection
    // callback was copied before it was claimed, says nothing).  The node must have
    // taken the connection before it can drop it: one exchange proves it (an accepted
    // link had one in nax_accept, the pseudo-terminal is the node's own).
    const int before = events.lost.load();
    nax_date_time now{};
    if (kind == 0 && (status = nax_get_time(id, kSimNode, &now)) != NAX_OK)
      return fail("nax_get_time", cycle, status);
    sim.drop_connections();
    if (!eventually([&] { return nax_get_packet_protocol(id) == 0; }))
      return fail("loss", cycle, 0);
    if (kind != 1 && !eventually([&] { return events.lost.load() > before; }))
      return fail("loss report", cycle, 0);
    ++losses;
    // The drop took the pseudo-terminal too.
    if (!sim.open_serial(&slave)) return fail("pseudo-terminal", cycle, 0);
    // The thread frees its link after the callback: the close finds it closing or gone.
    eventually([&] { return nax_close(id) != NAX_ERR_LINK_STATE; });
  }
  const double seconds =
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - began).count() / 1000.0;

  {
    std::lock_guard<std::mutex> lock(events.m);
    for (int32_t id : events.incoming) nax_close(id);
  }
  // Every connection but the pseudo-terminal closed, every thread gone.
  eventually([&] {
    const Counts now = counts();
    return sim.connection_count() == 1 && now.descriptors == start.descriptors &&
           now.threads == start.threads;
  });
  const Counts end = counts();
  std::printf("soak: %d cycles (%d link losses) in %.1f s\n", cycles, losses, seconds);
  std::printf("soak: descriptors %d -> %d, threads %d -> %d, resident %ld KiB -> %ld KiB\n",
              start.descriptors, end.descriptors, start.threads, end.threads, start.rss_kib,
              end.rss_kib);
  nax_close_listen(1);
  nax_uninit();
  sim.stop();
  const bool same = end.descriptors == start.descriptors && end.threads == start.threads &&
                    end.rss_kib - start.rss_kib <= kRssAllowanceKib;
  if (!same) std::fprintf(stderr, "soak: counts moved\n");
  return same ? 0 : 1;
}
