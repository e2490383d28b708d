// A small host program: starts a simulated node in-process, opens a link to it
// in each packet protocol, reads and sets its clock, and prints a user event
// that the node reports through the callback.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <mutex>

#include "naxsim.h"
#include "vedodiroz.h"

namespace {

constexpr uint16_t kHostNode = 0x0100;
constexpr uint16_t kNode = 1;

struct Inbox {
  std::mutex m;
  std::condition_variable cv;
  bool got = false;
  nax_user_event event{};
};

void NAX_CALL on_user_event(void* args, int32_t link_id, uint32_t node, nax_user_event* ev) {
  auto* inbox = static_cast<Inbox*>(args);
  std::printf("  link %d: node %u reports user %u, event 0x%02X, direction %u at %02u:%02u\n",
              link_id, node, ev->id, ev->event, ev->direction, ev->time.hour, ev->time.minute);
  std::lock_guard<std::mutex> lock(inbox->m);
  inbox->event = *ev;
  inbox->got = true;
  inbox->cv.notify_all();
}

void print_time(const char* what, const nax_date_time& t) {
  std::printf("  %s 20%02u-%02u-%02u %02u:%02u:%02u (weekday %u)\n", what, t.year, t.month, t.day,
              t.hour, t.minute, t.second, t.weekday);
}

bool check(const char* what, uint32_t status) {
  std::printf("  %-28s -> %u (%s)\n", what, status, nax_status_text(status));
  return status == NAX_OK;
}

bool session(naxsim::Simulator& sim, uint8_t protocol) {
  std::printf("protocol %u\n", protocol);
  Inbox inbox;
  uint32_t status = 0;
  uint32_t link = nax_open(&status, kHostNode, protocol, sim.conn_string().c_str(), 2000, &inbox,
                           on_user_event, nullptr, nullptr);
  std::printf("  nax_open(\"%s\")%*s -> link %u, status %u\n", sim.conn_string().c_str(), 3, "",
              link, status);
  if (link == 0) return false;
  bool ok = true;
  nax_date_time now{};
  ok &= check("nax_get_time", nax_get_time(link, kNode, &now));
  print_time("node clock:", now);
  nax_date_time set{7, 45, 0, 26, 12, 24, 4};
  ok &= check("nax_set_time", nax_set_time(link, kNode, &set));
  ok &= check("nax_get_time", nax_get_time(link, kNode, &now));
  print_time("node clock:", now);

  naxsim::UserEvent ev{};
  ev.id = 12345678;
  ev.index = 2;
  ev.event = 0x01;  // protocol 2 sends the byte; protocol 1 the event word 0
  ev.direction = 1;
  ev.direction_word = 1;
  ev.time = now;
  sim.send_user_event(ev);
  std::unique_lock<std::mutex> lock(inbox.m);
  if (!inbox.cv.wait_for(lock, std::chrono::seconds(2), [&] { return inbox.got; })) {
    std::printf("  no user event arrived\n");
    ok = false;
  }
  lock.unlock();
  ok &= check("nax_close", nax_close(link));
  return ok;
}

}  // namespace

int main() {
  naxsim::Simulator sim;
  if (!sim.start()) {
    std::fprintf(stderr, "could not start the simulated node\n");
    return 1;
  }
  char version[8];
  std::printf("vedodiroz %s, simulated node %u on %s\n", nax_lib_version(version), kNode,
              sim.conn_string().c_str());
  if (nax_init(nullptr, 0) != NAX_OK) return 1;
  bool ok = session(sim, 1) && session(sim, 2);
  nax_uninit();
  sim.stop();
  std::printf(ok ? "done\n" : "FAILED\n");
  return ok ? 0 : 1;
}
