// naxctl demo: a narrated session against a simulated node that runs inside naxctl.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "handlers_answers.h"
#include "handlers_marks.h"
#include "naxsim.h"

namespace naxctl {

namespace {

constexpr uint16_t kDemoNode = 7;
constexpr uint32_t kTimeoutMs = 3000;

void say(const char* format, ...) __attribute__((format(printf, 1, 2)));
void say(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::vprintf(format, args);
  va_end(args);
  std::fflush(stdout);
}

void step(int n, const char* title) {
  say("\n[%d] %s\n", n, title);
}

nax_user demo_user(uint32_t id, uint16_t psw, const char* name, const char* department) {
  nax_user u{};
  u.mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_SEC_LEVEL | NAX_USER_TEXT1 | NAX_USER_TEXT2;
  u.id = id;
  u.psw = psw;
  u.sec_level = 1;
  std::snprintf(u.text1, sizeof u.text1, "%s", name);
  std::snprintf(u.text2, sizeof u.text2, "%s", department);
  return u;
}

// What the user-event callback saw and did, handed to the main thread.
struct CallbackReport {
  std::mutex mutex;
  std::condition_variable done;
  bool answered = false;
  nax_user_event event{};
  uint32_t status = 0;
};

std::vector<nax_user> list_all_users(Session& s) {
  std::vector<nax_user> all;
  std::vector<nax_user> page(16);
  for (uint32_t first = 0;;) {
    uint16_t stored = 0;
    const uint32_t st = nax_list_users(s.link(), s.node(), first, 16, page.data(), &stored);
    if (st != NAX_OK && st != 8) throw NaxError("nax_list_users", st);
    all.insert(all.end(), page.begin(), page.begin() + stored);
    if (st == 8 || stored == 0) return all;
    first += stored;
  }
}

std::vector<nax_mark> list_all_marks(Session& s) {
  std::vector<nax_mark> all;
  std::vector<nax_mark> page(16);
  for (uint32_t first = 0;;) {
    uint16_t stored = 0;
    const uint32_t st = nax_list_marks(s.link(), s.node(), first, 16, page.data(), &stored);
    if (st != NAX_OK && st != 8) throw NaxError("nax_list_marks", st);
    all.insert(all.end(), page.begin(), page.begin() + stored);
    if (st == 8 || stored == 0) return all;
    first += stored;
  }
}

std::string indent(const std::string& text) {
  std::string out = "    ";
  for (size_t i = 0; i < text.size(); ++i) {
    out += text[i];
    if (text[i] == '\n' && i + 1 < text.size()) out += "    ";
  }
  return out;
}

void run_steps(naxsim::Simulator& sim) {
  Options options;
  options.conn = sim.conn_string();
  options.node = kDemoNode;
  options.protocol = 2;
  options.timeout_ms = kTimeoutMs;

  step(1, "Opening a link");
  Session s(options);
  s.open();
  say("    nax_open(\"%s\", protocol 2) gave link id %d; we talk to node %u as node 0x%04x.\n",
      options.conn.c_str(), s.link(), s.node(), options.source);

  step(2, "Reading the node's clock");
  nax_date_time t{};
  check(nax_get_time(s.link(), s.node(), &t), "nax_get_time");
  say("    The node says it is %s; this computer says %s.\n", format_date_time(t).c_str(),
      format_date_time(local_now()).c_str());
  const nax_date_time now = local_now();
  check(nax_set_time(s.link(), s.node(), &now), "nax_set_time");
  check(nax_get_time(s.link(), s.node(), &t), "nax_get_time");
  say("    After nax_set_time with our local time the node reads %s.\n",
      format_date_time(t).c_str());

  char model[512] = {};
  char version[512] = {};
  check(nax_get_info(s.link(), s.node(), "model", model), "nax_get_info");
  check(nax_get_info(s.link(), s.node(), "version", version), "nax_get_info");
  say("    nax_get_info: model \"%s\", firmware \"%s\".\n", model, version);

  step(3, "Enrolling users");
  std::vector<nax_user> users = {demo_user(1001, 4321, "Maria Quintero", "Warehouse"),
                                 demo_user(1002, 1234, "Tomas Berg", "Front desk"),
                                 demo_user(1003, 8080, "Lena Okafor", "Laboratory")};
  uint16_t taken = 0;
  check(nax_add_user(s.link(), s.node(), 0, static_cast<uint32_t>(users.size()), users.data(),
                     &taken),
        "nax_add_user");
  say("    nax_add_user sent %zu users in one request; the node took %u.\n", users.size(), taken);
  const auto listed = list_all_users(s);
  say("    nax_list_users, page by page until the node says there are no more:\n%s",
      indent(users_table(listed)).c_str());

  step(4, "A user presents a card at the node");
  CallbackReport report;
  s.set_user_hook([&report](int32_t link, uint32_t node, const nax_user_event& event) {
    // On the link's reception thread: answer at once; nax_answer_user_event only sends.
    nax_user_event_answer answer{};
    answer.date_time = local_now();
    answer.user.mask = NAX_USER_ID | NAX_USER_ST;
    answer.user.id = event.id;
    answer.user.st = 1;
    answer.print_enable = 0;
    std::snprintf(answer.aux0, sizeof answer.aux0, "Welcome, user %u", event.id);
    const uint32_t st = nax_answer_user_event(link, static_cast<uint16_t>(node), &answer);
    std::lock_guard<std::mutex> lock(report.mutex);
    report.event = event;
    report.status = st;
    report.answered = true;
    report.done.notify_all();
  });
  naxsim::UserEvent card{};
  card.id = 1001;
  card.index = 0;
  card.event = 0x01;
  card.direction = 1;
  card.time = sim.node().time();
  const size_t marks_before =
      sim.node().with_state<naxsim::MarkLog>([](naxsim::MarkLog& log) { return log.marks.size(); });
  sim.send_user_event(card);
  {
    std::unique_lock<std::mutex> lock(report.mutex);
    if (!report.done.wait_for(lock, std::chrono::milliseconds(kTimeoutMs),
                              [&] { return report.answered; })) {
      throw NaxError("user event", NAX_ERR_NO_ANSWER, "the callback was not called");
    }
  }
  s.set_user_hook(nullptr);
  check(report.status, "nax_answer_user_event");
  say("    The user callback got: user %u, event 0x%02x, direction %u, at %s.\n", report.event.id,
      report.event.event, report.event.direction, format_date_time(report.event.time).c_str());
  say("    Inside the callback we answered with nax_answer_user_event: state 1 and the text "
      "\"Welcome, user %u\".\n",
      report.event.id);
  std::string shown;
  for (int i = 0; i < 100 && shown.empty(); ++i) {
    shown = sim.node().with_state<naxsim::EventAnswers>([](naxsim::EventAnswers& a) {
      return a.received.empty() || !a.received.back().aux[0] ? std::string()
                                                             : *a.received.back().aux[0];
    });
    if (shown.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  say("    The node received it and shows \"%s\".\n", shown.c_str());

  step(5, "Reading attendance marks");
  sim.node().with_state<naxsim::MarkLog>([&](naxsim::MarkLog& log) {
    if (log.marks.size() > marks_before) return 0;
    // The node keeps a mark for each passage it let through.
    naxsim::MarkEntry mark;
    mark.id = card.id;
    mark.time = card.time;
    mark.event = card.event;
    mark.direction_word = card.direction;
    mark.kind = 1;
    log.marks.push_back(mark);
    return 0;
  });
  const auto marks = list_all_marks(s);
  say("    nax_list_marks, page by page until status 8 (no further marks):\n%s",
      indent(marks_table(marks)).c_str());

  step(6, "Moving a file");
  std::string content;
  for (int i = 1; content.size() < 1300; ++i) {
    content += "line " + std::to_string(i) + ": the quick brown fox jumps over the lazy dog\n";
  }
  const auto* bytes = reinterpret_cast<const uint8_t*>(content.data());
  uint32_t size = 0;
  check(nax_fopen(s.link(), s.node(), "notes.txt", 1, &size), "nax_fopen");
  size_t chunks = 0;
  for (size_t done = 0; done < content.size(); ++chunks) {
    const uint32_t n = static_cast<uint32_t>(std::min<size_t>(512, content.size() - done));
    check(nax_fwrite(s.link(), s.node(), bytes + done, n), "nax_fwrite");
    done += n;
  }
  uint32_t put_crc = 0;
  check(nax_fclose(s.link(), s.node(), &put_crc), "nax_fclose");
  say("    Put notes.txt: %zu bytes in %zu chunks of at most 512; the node's CRC-32 is 0x%08x.\n",
      content.size(), chunks, put_crc);
  check(nax_fopen(s.link(), s.node(), "notes.txt", 0, &size), "nax_fopen");
  std::string back;
  std::vector<uint8_t> chunk(512);
  while (back.size() < size) {
    uint32_t got = 0;
    check(nax_fread(s.link(), s.node(), chunk.data(), 512, &got), "nax_fread");
    if (got == 0) break;
    back.append(reinterpret_cast<const char*>(chunk.data()), got);
  }
  uint32_t get_crc = 0;
  check(nax_fclose(s.link(), s.node(), &get_crc), "nax_fclose");
  const uint32_t local_crc = crc32_of(bytes, content.size());
  say("    Got it back: %zu bytes, CRC-32 0x%08x; ours is 0x%08x: %s.\n", back.size(), get_crc,
      local_crc, back == content && get_crc == local_crc ? "identical" : "DIFFERENT");
  if (back != content || get_crc != local_crc) {
    throw InputError("the file read back differs from the one sent");
  }

  step(7, "Closing");
  s.close();
  say("    nax_close and nax_uninit: the link is closed and the library shut down.\n");
}

}  // namespace

int run_demo() {
  say("naxctl demo: a session with a simulated node that runs inside this program.\n");
  naxsim::Config config;
  config.node = kDemoNode;
  config.clock_offset_s = -3725;  // the node's clock has drifted an hour behind
  naxsim::Simulator sim(config);
  if (!sim.start()) {
    std::fprintf(stderr, "naxctl: demo: the simulated node could not listen on a local port\n");
    return 1;
  }
  say("The simulated node %u listens on %s.\n", kDemoNode, sim.conn_string().c_str());
  try {
    run_steps(sim);
  } catch (const std::exception& e) {
    sim.stop();
    std::fprintf(stderr, "naxctl: demo: %s\n", e.what());
    return 1;
  }
  sim.stop();
  say("\nThat was the whole round: clock, users, an event answered from its callback, marks and "
      "a file.\nTry the same against a real node: naxctl --conn HOST:PORT --node N clock get\n");
  return 0;
}

}  // namespace naxctl
