// Every exported function, from several host threads on TCP, accepted and serial links,
// against a node in chaos mode (valid, mutated, cut, garbled, split or no answers, dropped
// connections): every call returns within its time-outs and a margin, leaves the guard
// bytes around host buffers alone and gives a documented status; once every link is
// closed, descriptors and threads are back where they started.
// NAX_CHAOS_SECONDS sets the duration (default 15), NAX_CHAOS_SEED the seed (default: from
// the clock, printed); a replay repeats the node's and the host's choices, not the timing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "link/link.h"
#include "naxsim.h"
#include "support/support.h"
#include "vedodiroz.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kThreads = 4;
constexpr size_t kMaxLinks = 10;
constexpr uint32_t kCommandKinds = 39;
constexpr uint32_t kSetterKinds = 10;
// Receive and send time-outs stay within these; a command's bound follows from them.
constexpr int32_t kMinTimeoutMs = 100;
constexpr int32_t kMaxTimeoutMs = 250;
// A command may wait three pauses for a busy link, then send and wait for its answer.
constexpr int64_t kCommandBoundMs = 3 * kMaxTimeoutMs + 2 * kMaxTimeoutMs;
constexpr int64_t kConnectTimeoutMs = 1000;
constexpr int64_t kAcceptTimeoutMs = 600;
// Scheduling slack on a loaded machine under the sanitizers.
constexpr int64_t kMarginMs = 3000;

using test_support::kHostNode;
using test_support::kSimNode;
using test_support::open_descriptors;
using test_support::running_threads;

// A call of a library function under its own name, within a command's bound.
#define NAX_TIMED(from_node, function, ...) \
  timed(#function, kCommandBoundMs, from_node, [&] { return function(__VA_ARGS__); })

bool library_status(uint32_t s) {
#define NAX_CHAOS_STATUS_CASE_(name, code, text) \
  case code:                                     \
    return true;
  switch (s) { NAX_STATUS_LIST(NAX_CHAOS_STATUS_CASE_) }
#undef NAX_CHAOS_STATUS_CASE_
  return false;
}
// A node's verdict travels as a 16-bit status word or a mapped error byte.
bool command_status(uint32_t s) {
  return library_status(s) || s <= 0xFFFF;
}

// The call this thread made last, and whether a buffer given to it was overrun.
thread_local const char* last_call = "";
thread_local bool guard_broken = false;

// count records of T fenced by guard bytes, looked at when the buffer goes.
template <typename T>
class Fenced {
 public:
  explicit Fenced(size_t count) : bytes_(2 * kGuard + count * sizeof(T), 0) {
    std::memset(bytes_.data(), 0xA5, kGuard);
    std::memset(bytes_.data() + bytes_.size() - kGuard, 0xA5, kGuard);
  }
  ~Fenced() {
    for (size_t i = 0; i < kGuard; ++i)
      guard_broken |= bytes_[i] != 0xA5 || bytes_.rbegin()[i] != 0xA5;
  }
  T* get() { return reinterpret_cast<T*>(bytes_.data() + kGuard); }
  T& operator[](size_t i) { return get()[i]; }

 private:
  static constexpr size_t kGuard = 32;
  std::vector<uint8_t> bytes_;
};

class ChaosRun {
 public:
  ChaosRun(uint64_t seed, naxsim::Simulator& sim) : seed_(seed), sim_(sim) {}

  // Opens one link of each kind, so that every kind serves from the start.
  void first_links() {
    std::mt19937_64 rng(seed_);
    for (uint32_t which : {0u, 0u, 5u, 5u, 8u, 8u}) open_link(rng, which);
  }

  // What every worker thread does until the deadline.  Each thread first
  // goes through every command and setter once, then picks at random.
  void worker(int index, Clock::time_point deadline) {
    std::mt19937_64 rng(seed_ + static_cast<uint64_t>(index) * 0x9E3779B97F4A7C15ull);
    uint32_t next_command = 0;
    uint32_t next_setter = 0;
    while (Clock::now() < deadline && !failed_.load()) {
      const uint32_t roll = rng() % 100;
      if (roll < 6) {
        open_link(rng, static_cast<uint32_t>(rng() % 10));
      } else if (roll < 9) {
        close_link(rng);
      } else if (roll < 16 || (next_setter < kSetterKinds && roll % 2 == 0)) {
        const uint32_t kind = next_setter < kSetterKinds ? next_setter : rng() % kSetterKinds;
        if (setter(rng, kind)) ++next_setter;
      } else {
        const uint32_t kind = next_command < kCommandKinds ? next_command : rng() % kCommandKinds;
        if (command(rng, kind)) ++next_command;
      }
    }
  }

  // Closes every link the run made or the listener announced.
  void close_all() {
    std::set<int32_t> ids;
    {
      std::lock_guard<std::mutex> lock(m_);
      ids.insert(links_.begin(), links_.end());
      ids.insert(incoming_.begin(), incoming_.end());
      links_.clear();
      incoming_.clear();
    }
    for (int32_t id : ids) closed(id, nax_close(id), "nax_close");
  }

  void check(bool ok, const std::string& what) {
    if (ok) return;
    failed_ = true;
    ADD_FAILURE() << what << " (seed " << seed_ << ")";
  }
  void called(const char* name) {
    std::lock_guard<std::mutex> lock(m_);
    called_.insert(name);
  }
  uint64_t calls() const { return calls_.load(); }
  std::set<std::string> called_names() {
    std::lock_guard<std::mutex> lock(m_);
    return called_;
  }

  static void NAX_CALL on_user(void* args, int32_t link, uint32_t node, nax_user_event* event) {
    auto* self = static_cast<ChaosRun*>(args);
    nax_user_event_answer answer{};
    answer.user.mask = NAX_USER_ID | NAX_USER_ST;
    answer.user.id = event->id;
    const uint32_t s = nax_answer_user_event(link, static_cast<uint16_t>(node), &answer);
    self->called("nax_answer_user_event");
    self->check(command_status(s), "nax_answer_user_event status " + std::to_string(s));
  }
  static void NAX_CALL on_aux(void* args, int32_t link, uint32_t node, nax_aux_input_event*) {
    auto* self = static_cast<ChaosRun*>(args);
    const uint32_t s = nax_answer_aux_input_event(link, static_cast<uint16_t>(node), 1);
    self->called("nax_answer_aux_input_event");
    self->check(command_status(s), "nax_answer_aux_input_event status " + std::to_string(s));
  }
  static void NAX_CALL on_conn(void* args, int32_t link, uint32_t state) {
    auto* self = static_cast<ChaosRun*>(args);
    std::lock_guard<std::mutex> lock(self->m_);
    if (state == NAX_CONN_CONNECTED) {
      self->incoming_.insert(link);
    } else {
      // The link closed itself and its id may be reused: forget it.
      std::erase(self->links_, link);
      self->incoming_.erase(link);
    }
  }

 private:
  // Runs one timed call and checks its bound and status.
  template <typename Call>
  uint32_t timed(const char* name, int64_t bound_ms, bool from_node, Call call) {
    const auto start = Clock::now();
    const uint32_t s = call();
    const int64_t took =
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    called(name);
    last_call = name;
    calls_.fetch_add(1);
    check(took <= bound_ms + kMarginMs, std::string(name) + " took " + std::to_string(took) +
                                            " ms, bound " + std::to_string(bound_ms) +
                                            " ms + margin");
    check(from_node ? command_status(s) : library_status(s),
          std::string(name) + " returned undocumented status " + std::to_string(s));
    return s;
  }

  // A link to call on, or 0 when there is none.
  int32_t pick(std::mt19937_64& rng) {
    std::lock_guard<std::mutex> lock(m_);
    return links_.empty() ? 0 : links_[rng() % links_.size()];
  }

  // A new link gets short time-outs before any other thread can pick it.
  void add(int32_t id) {
    nax_set_rcv_timeout(id, kMaxTimeoutMs);
    nax_set_snd_timeout(id, kMaxTimeoutMs);
    std::lock_guard<std::mutex> lock(m_);
    links_.push_back(id);
  }

  void closed(int32_t id, uint32_t s, const char* name) {
    called(name);
    // Closed now, or already closing or gone (lost, or closed by another thread).
    check(s == NAX_OK || s == NAX_ERR_LINK_STATE || s == NAX_ERR_LINK_UNAVAILABLE ||
              s == NAX_ERR_NO_SUCH_LINK || s == NAX_ERR_SOCKET_NOT_OPEN ||
              s == NAX_ERR_SERIAL_NOT_OPEN,
          std::string(name) + " of " + std::to_string(id) + " gave " + std::to_string(s));
  }

  // which: below 5 TCP out, below 8 accepted, else serial.
  void open_link(std::mt19937_64& rng, uint32_t which) {
    {
      std::lock_guard<std::mutex> lock(m_);
      if (links_.size() + incoming_.size() >= kMaxLinks) return;
    }
    const uint8_t protocol = static_cast<uint8_t>(1 + rng() % 2);
    uint32_t link = 0;
    if (which < 5 || which >= 8) {
      std::string conn = sim_.conn_string();
      if (which >= 8 && !sim_.open_serial(&conn)) return;
      if (which >= 8) conn += ":115200";
      uint32_t status = 0;
      timed("nax_open", kConnectTimeoutMs, false, [&] {
        link = nax_open(&status, kHostNode, protocol, conn.c_str(),
                        which < 5 ? kConnectTimeoutMs : 0, this, on_user, on_aux, on_conn);
        return link != 0 ? uint32_t{NAX_OK} : status;
      });
      if (link != 0) add(static_cast<int32_t>(link));
      return;
    }
    if (!sim_.connect_to("127.0.0.1", nax::listener_port())) return;
    uint16_t node = 0;
    uint16_t port = 0;
    const uint32_t s = timed("nax_accept", kAcceptTimeoutMs + kCommandBoundMs, true, [&] {
      return nax_accept(&link, &node, &port, protocol, kHostNode, kAcceptTimeoutMs, kMaxTimeoutMs);
    });
    if (s != NAX_OK) return;
    const auto id = static_cast<int32_t>(link);
    {
      std::lock_guard<std::mutex> lock(m_);
      incoming_.erase(id);
    }
    nax_set_callback_args(id, this);
    nax_set_user_callback(id, on_user);
    nax_set_aux_input_callback(id, on_aux);
    nax_set_conn_callback(id, on_conn);
    add(id);
  }

  void close_link(std::mt19937_64& rng) {
    const int32_t id = pick(rng);
    if (id == 0) return;
    {
      std::lock_guard<std::mutex> lock(m_);
      std::erase(links_, id);
    }
    closed(id, timed("nax_close", kMaxTimeoutMs, false, [&] { return nax_close(id); }),
           "nax_close");
  }

  // False when no link was there to call it on.
  bool setter(std::mt19937_64& rng, uint32_t kind) {
    const int32_t id = pick(rng);
    if (id == 0) return false;
    const int32_t t = kMinTimeoutMs + static_cast<int32_t>(rng() % (kMaxTimeoutMs - kMinTimeoutMs));
    const std::function<void()> setters[] = {
        [&] { NAX_TIMED(false, nax_set_rcv_timeout, id, t); },
        [&] { NAX_TIMED(false, nax_set_snd_timeout, id, t); },
        [&] { NAX_TIMED(false, nax_set_interbyte_timeout, id, t); },
        [&] { NAX_TIMED(false, nax_set_source_node, id, kHostNode); },
        [&] {
          // The link's own protocol again, or a value that is refused.
          const uint8_t now = nax_get_packet_protocol(id);
          called("nax_get_packet_protocol");
          check(now <= 2, "nax_get_packet_protocol gave " + std::to_string(now));
          const uint8_t p = rng() % 2 == 0 && now != 0 ? now : 3;
          NAX_TIMED(false, nax_set_packet_protocol, id, p);
        },
        [&] { NAX_TIMED(false, nax_set_user_callback, id, on_user); },
        [&] { NAX_TIMED(false, nax_set_aux_input_callback, id, on_aux); },
        [&] { NAX_TIMED(false, nax_set_conn_callback, id, on_conn); },
        [&] { NAX_TIMED(false, nax_set_callback_args, id, this); },
        [&] { sim_.send_aux_input_event(naxsim::AuxEvent{.aux_input = 1, .aux_value = 1}); },
    };
    static_assert(sizeof setters / sizeof setters[0] == kSetterKinds);
    setters[kind]();
    return true;
  }

  bool command(std::mt19937_64& rng, uint32_t kind);

  uint64_t seed_;
  naxsim::Simulator& sim_;
  std::atomic<bool> failed_{false};
  std::atomic<uint64_t> calls_{0};
  std::mutex m_;
  std::vector<int32_t> links_;
  std::set<int32_t> incoming_;  // announced by the listener, not yet claimed
  std::set<std::string> called_;
};

bool ChaosRun::command(std::mt19937_64& rng, uint32_t kind) {
  const int32_t id = pick(rng);
  if (id == 0) return false;
  const uint16_t node = rng() % 8 == 0 ? static_cast<uint16_t>(rng()) : kSimNode;
  auto small = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  // A batch of users added, edited or deleted.
  auto batch = [&](auto function, const char* name) {
    const uint16_t count = static_cast<uint16_t>(1 + small(3));
    Fenced<nax_user> users(count);
    for (uint16_t i = 0; i < count; ++i) {
      users[i].mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_TEXT1;
      users[i].id = 1000 + small(50);
      std::snprintf(users[i].text1, sizeof users[i].text1, "user %u", i);
    }
    timed(name, kCommandBoundMs, true,
          [&] { return function(id, node, 0, count, users.get(), Fenced<uint16_t>(1).get()); });
  };
  // Out-parameters are fenced temporaries, looked at when the call's expression ends.
  const std::function<void()> calls[] = {
      [&] { NAX_TIMED(true, nax_get_time, id, node, Fenced<nax_date_time>(1).get()); },
      [&] {
        const nax_date_time dt{10, 20, 30, 25, 6, 15, 1};
        NAX_TIMED(true, nax_set_time, id, node, &dt);
      },
      [&] {
        NAX_TIMED(true, nax_get_num_cfg, id, node, 1 + small(4), small(8),
                  Fenced<uint32_t>(1).get());
      },
      [&] {
        // Parameter 0 is the node's number: another would leave every later call unanswered.
        const uint32_t num = small(8);
        NAX_TIMED(true, nax_set_num_cfg, id, node, 1 + small(4), num, num == 0 ? kSimNode : 5);
      },
      [&] {
        NAX_TIMED(true, nax_get_aux_input, id, node, small(4), Fenced<nax_aux_input>(1).get());
      },
      [&] {
        const nax_aux_input aux{};
        NAX_TIMED(true, nax_set_aux_input, id, node, small(4), &aux);
      },
      [&] { NAX_TIMED(true, nax_state_aux_input, id, node, Fenced<uint32_t>(1).get()); },
      [&] { NAX_TIMED(true, nax_rele_control, id, node, small(3), 1); },
      [&] { NAX_TIMED(true, nax_answer_aux_input_event, id, node, 1); },
      [&] {
        const uint16_t count = static_cast<uint16_t>(1 + small(6));
        Fenced<nax_user> users(count);
        Fenced<uint16_t> stored(1);
        NAX_TIMED(true, nax_list_users, id, node, small(4), count, users.get(), stored.get());
        check(stored[0] <= count, "nax_list_users stored " + std::to_string(stored[0]));
        for (uint16_t i = 0; i < count; ++i) {
          check(std::memchr(users[i].text1, 0, sizeof users[i].text1) != nullptr &&
                    std::memchr(users[i].text2, 0, sizeof users[i].text2) != nullptr,
                "nax_list_users text without its NUL");
        }
      },
      [&] { batch(nax_add_user, "nax_add_user"); },
      [&] { batch(nax_edit_user, "nax_edit_user"); },
      [&] { batch(nax_del_user, "nax_del_user"); },
      [&] {
        nax_user user{};
        user.mask = NAX_USER_ID;
        user.id = 77;
        const uint8_t extra[4] = {1, 2, 3, 4};
        NAX_TIMED(true, nax_add_user_in1, id, node, &user, 0, extra, small(5));
      },
      [&] {
        const uint16_t count = static_cast<uint16_t>(1 + small(8));
        Fenced<nax_mark> marks(count);
        Fenced<uint16_t> stored(1);
        NAX_TIMED(true, nax_list_marks, id, node, small(4), count, marks.get(), stored.get());
        check(stored[0] <= count, "nax_list_marks stored " + std::to_string(stored[0]));
      },
      [&] {
        Fenced<char> text(512);
        NAX_TIMED(true, nax_get_info, id, node, "version", text.get());
        check(std::memchr(text.get(), 0, 512) != nullptr, "nax_get_info text without its NUL");
      },
      [&] { NAX_TIMED(true, nax_reset_node, id, node, 0, 0); },
      [&] { NAX_TIMED(true, nax_block_node, id, node, small(2)); },
      [&] { NAX_TIMED(true, nax_flush_table, id, node, small(3)); },
      [&] { NAX_TIMED(true, nax_del_records, id, node, small(3), 2, Fenced<uint16_t>(1).get()); },
      [&] {
        NAX_TIMED(true, nax_get_schd_header, id, node, 1 + small(3),
                  Fenced<nax_schd_header>(1).get());
      },
      [&] {
        nax_schd_header header{};
        header.id = static_cast<uint16_t>(1 + small(3));
        std::snprintf(header.name, sizeof header.name, "chaos");
        NAX_TIMED(true, nax_set_schd_header, id, node, &header);
      },
      [&] {
        const uint32_t count = 1 + small(40);
        Fenced<nax_schd_segment> segments(count);
        Fenced<uint32_t> received(1);
        NAX_TIMED(true, nax_get_schd_segments, id, node, 1, segments.get(), small(4), count,
                  received.get());
        check(received[0] <= count,
              "nax_get_schd_segments received " + std::to_string(received[0]));
      },
      [&] {
        std::vector<nax_schd_segment> segments(4, nax_schd_segment{8, 30, 1});
        NAX_TIMED(true, nax_set_schd_segments, id, node, 1, segments.data(), 0, 4,
                  Fenced<uint32_t>(1).get());
      },
      [&] { NAX_TIMED(true, nax_del_schd, id, node, 1 + small(3)); },
      [&] {
        const uint32_t capacity = 1 + small(10);
        Fenced<nax_schd_entry> entries(capacity);
        Fenced<uint16_t> start(1);
        Fenced<uint32_t> received(1);
        NAX_TIMED(true, nax_list_schd, id, node, entries.get(), start.get(), capacity,
                  received.get());
        check(received[0] <= capacity, "nax_list_schd received " + std::to_string(received[0]));
      },
      [&] {
        const uint32_t capacity = rng() % 2 == 0 ? 384 : small(400);
        NAX_TIMED(true, nax_read_template, id, node, 1, 4242, small(3),
                  Fenced<uint8_t>(capacity).get(), capacity);
      },
      [&] {
        const std::vector<uint8_t> data(384, 0x5A);
        NAX_TIMED(true, nax_write_template, id, node, 1, 4242, small(3), data.data(), 384);
      },
      [&] { NAX_TIMED(true, nax_del_template, id, node, 1, 4242, small(3)); },
      [&] { NAX_TIMED(true, nax_flush_templates, id, node, 1); },
      [&] {
        nax_task_group group{};
        group.mask_fields = 0xFFFF;
        group.id = static_cast<uint8_t>(small(4));
        std::snprintf(group.name, sizeof group.name, "group");
        NAX_TIMED(true, nax_add_task_group, id, node, &group);
      },
      [&] {
        nax_task_item item{};
        item.mask_fields = 0xFFFF;
        item.id = static_cast<uint8_t>(small(4));
        std::snprintf(item.name, sizeof item.name, "item");
        NAX_TIMED(true, nax_add_task_item, id, node, small(4), &item);
      },
      [&] {
        NAX_TIMED(true, nax_fopen, id, node, "chaos.txt", small(3), Fenced<uint32_t>(1).get());
      },
      [&] {
        const uint32_t len = small(600);
        Fenced<uint8_t> buffer(len);
        Fenced<uint32_t> read(1);
        const uint32_t s = NAX_TIMED(true, nax_fread, id, node, buffer.get(), len, read.get());
        check(s != NAX_OK || read[0] <= len, "nax_fread read " + std::to_string(read[0]));
      },
      [&] {
        const std::vector<uint8_t> data(small(512), 0x33);
        NAX_TIMED(true, nax_fwrite, id, node, data.data(), static_cast<uint32_t>(data.size()));
      },
      [&] { NAX_TIMED(true, nax_fclose, id, node, Fenced<uint32_t>(1).get()); },
      [&] { NAX_TIMED(true, nax_fdel, id, node, "chaos.txt"); },
      [&] {
        nax_user_event_answer answer{};
        answer.user.mask = NAX_USER_ID;
        answer.user.id = 5;
        std::snprintf(answer.aux0, sizeof answer.aux0, "hello");
        NAX_TIMED(true, nax_answer_user_event, id, node, &answer);
      },
      [&] {
        const uint16_t count = static_cast<uint16_t>(1 + small(3));
        std::vector<nax_display_message> messages(count);
        for (auto& m : messages) std::snprintf(m.data, sizeof m.data, "line");
        NAX_TIMED(true, nax_display_msg, id, node, count, messages.data(), 1,
                  Fenced<uint16_t>(1).get());
      },
  };
  static_assert(sizeof calls / sizeof calls[0] == kCommandKinds);
  calls[kind]();
  check(!std::exchange(guard_broken, false), std::string(last_call) + " wrote past its buffer");
  return true;
}

uint64_t from_environment(const char* name, uint64_t otherwise) {
  const char* text = std::getenv(name);
  const uint64_t value = text != nullptr ? std::strtoull(text, nullptr, 0) : 0;
  return value > 0 ? value : otherwise;
}

TEST(Chaos, EveryFunctionAgainstAHostileNode) {
  const uint64_t seed = from_environment(
      "NAX_CHAOS_SEED", static_cast<uint64_t>(Clock::now().time_since_epoch().count()));
  const int seconds = static_cast<int>(from_environment("NAX_CHAOS_SECONDS", 15));
  std::printf("chaos seed = %llu, %d s (NAX_CHAOS_SEED=%llu replays it)\n",
              static_cast<unsigned long long>(seed), seconds,
              static_cast<unsigned long long>(seed));
  std::fflush(stdout);
  RecordProperty("chaos_seed", std::to_string(seed));

  char version[16];
  ASSERT_NE(nax_lib_version(version), nullptr);
  ASSERT_NE(nax_status_text(NAX_ERR_NODE_LOST), nullptr);
  ASSERT_EQ(nax_set_keepalive(500, 2, 0xFFFF), NAX_OK);

  naxsim::Config config;
  config.node = kSimNode;
  naxsim::Simulator sim(config);
  ASSERT_TRUE(sim.start());
  naxsim::Faults faults;
  faults.chaos_seed = seed;
  faults.event_every_ms = 150;
  sim.set_faults(faults);

  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const int descriptors_before = open_descriptors();
  const int threads_before = running_threads();

  ChaosRun run(seed, sim);
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, 0, 1000, &run, ChaosRun::on_conn), 1u);
  ASSERT_EQ(status, NAX_OK);
  run.first_links();

  const auto deadline = Clock::now() + std::chrono::seconds(seconds);
  std::vector<std::thread> workers;
  for (int i = 0; i < kThreads; ++i)
    workers.emplace_back([&run, i, deadline] { run.worker(i, deadline); });
  for (std::thread& t : workers) t.join();

  run.close_all();
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  // Links the listener announced while it was closing.
  run.close_all();
  sim.drop_connections();
  const std::vector<uint64_t> outcomes = sim.chaos_outcomes();
  std::printf("chaos: %llu timed calls\n", static_cast<unsigned long long>(run.calls()));
  std::printf("chaos answers (valid, mutated, truncated, garbage, silent, split, dropped): %s\n",
              testing::PrintToString(outcomes).c_str());

  // The simulator closes its side, the library's threads end: then the counts match.
  auto settled = [&] {
    return sim.connection_count() == 0 && open_descriptors() == descriptors_before &&
           running_threads() == threads_before;
  };
  for (int i = 0; i < 1000 && !settled(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(open_descriptors(), descriptors_before);
  EXPECT_EQ(running_threads(), threads_before);

  EXPECT_EQ(nax_uninit(), NAX_OK);
  sim.stop();
  EXPECT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);

  // All 58 functions and nax_status_text ran (besides nax_init, nax_uninit, nax_lib_version,
  // nax_status_text, nax_set_keepalive, nax_listen and nax_close_listen above).
  std::set<std::string> names = run.called_names();
  names.insert({"nax_init", "nax_uninit", "nax_lib_version", "nax_status_text", "nax_set_keepalive",
                "nax_listen", "nax_close_listen"});
  EXPECT_EQ(names.size(), 59u) << testing::PrintToString(names);
  // The node answered, both validly and otherwise, and a fair share of the calls reached it
  // (a node that no longer knows itself by the number called stays silent to every call).
  uint64_t perturbed = 0;
  for (size_t i = 1; i < outcomes.size(); ++i) perturbed += outcomes[i];
  EXPECT_GT(outcomes[0], 0u);
  EXPECT_GT(perturbed, 0u);
  EXPECT_GE((outcomes[0] + perturbed) * 8, run.calls()) << "few calls reached the node";
}

}  // namespace
