// Every exported function, from several host threads on several links (TCP
// out, accepted TCP and a serial line), against a node in chaos mode that
// answers at random with valid, mutated, cut, garbled, split or no frames and
// drops connections.  Every call must return within its time-outs and a
// margin, leave the guard bytes around host buffers alone and give a status
// from the documented set; once every link is closed, descriptors and threads
// are back where they started.
//
// NAX_CHAOS_SECONDS sets the duration (default 15), NAX_CHAOS_SEED the seed
// (default: from the clock); the seed is printed so a failure can be run
// again with it (host threads interleave differently from run to run, so a
// replay repeats the node's choices and the host's choices, not the timing).
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "link/link.h"
#include "naxsim.h"
#include "process_counts.h"
#include "vedodiroz.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint16_t kHostNode = 0x0100;
constexpr uint16_t kSimNode = 7;
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

using test_support::open_descriptors;
using test_support::running_threads;

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

// count records of T fenced by guard bytes.
template <typename T>
class Fenced {
 public:
  explicit Fenced(size_t count) : count_(count), bytes_(2 * kGuard + count * sizeof(T), 0) {
    std::memset(bytes_.data(), 0xA5, kGuard);
    std::memset(bytes_.data() + kGuard + count * sizeof(T), 0xA5, kGuard);
  }
  T* get() { return reinterpret_cast<T*>(bytes_.data() + kGuard); }
  T& operator[](size_t i) { return get()[i]; }
  bool intact() const {
    for (size_t i = 0; i < kGuard; ++i) {
      if (bytes_[i] != 0xA5 || bytes_[kGuard + count_ * sizeof(T) + i] != 0xA5) return false;
    }
    return true;
  }

 private:
  static constexpr size_t kGuard = 32;
  size_t count_;
  std::vector<uint8_t> bytes_;
};

enum class Kind { TcpOut, Accepted, Serial };

struct Link {
  int32_t id;
  Kind kind;
};

class ChaosRun {
 public:
  ChaosRun(uint64_t seed, naxsim::Simulator& sim) : seed_(seed), sim_(sim) {}

  // What every worker thread does until the deadline.
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
      for (const Link& l : links_) ids.insert(l.id);
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
      std::erase_if(self->links_, [&](const Link& l) { return l.id == link; });
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
    calls_.fetch_add(1);
    check(took <= bound_ms + kMarginMs, std::string(name) + " took " + std::to_string(took) +
                                            " ms, bound " + std::to_string(bound_ms) +
                                            " ms + margin");
    check(from_node ? command_status(s) : library_status(s),
          std::string(name) + " returned undocumented status " + std::to_string(s));
    return s;
  }

  bool pick(std::mt19937_64& rng, Link& out) {
    std::lock_guard<std::mutex> lock(m_);
    if (links_.empty()) return false;
    out = links_[rng() % links_.size()];
    return true;
  }

  // A new link gets short time-outs before any other thread can pick it.
  void add(int32_t id, Kind kind) {
    nax_set_rcv_timeout(id, kMaxTimeoutMs);
    nax_set_snd_timeout(id, kMaxTimeoutMs);
    std::lock_guard<std::mutex> lock(m_);
    links_.push_back(Link{id, kind});
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
    if (which < 5) {
      uint32_t status = 0;
      timed("nax_open", kConnectTimeoutMs, false, [&] {
        last_open_ = nax_open(&status, kHostNode, protocol, sim_.conn_string().c_str(),
                              kConnectTimeoutMs, this, on_user, on_aux, on_conn);
        return last_open_ != 0 ? uint32_t{NAX_OK} : status;
      });
      if (status == NAX_OK) add(static_cast<int32_t>(last_open_), Kind::TcpOut);
    } else if (which < 8) {
      if (!sim_.connect_to("127.0.0.1", nax::listener_port())) return;
      uint32_t link = 0;
      uint16_t node = 0;
      uint16_t port = 0;
      const uint32_t s = timed("nax_accept", kAcceptTimeoutMs + kCommandBoundMs, true, [&] {
        return nax_accept(&link, &node, &port, protocol, kHostNode, kAcceptTimeoutMs,
                          kMaxTimeoutMs);
      });
      if (s == NAX_OK) {
        const auto id = static_cast<int32_t>(link);
        {
          std::lock_guard<std::mutex> lock(m_);
          incoming_.erase(id);
        }
        nax_set_callback_args(id, this);
        nax_set_user_callback(id, on_user);
        nax_set_aux_input_callback(id, on_aux);
        nax_set_conn_callback(id, on_conn);
        add(id, Kind::Accepted);
      }
    } else {
      std::string slave;
      if (!sim_.open_serial(&slave)) return;
      const std::string conn = slave + ":115200";
      uint32_t status = 0;
      timed("nax_open", kConnectTimeoutMs, false, [&] {
        last_open_ =
            nax_open(&status, kHostNode, protocol, conn.c_str(), 0, this, on_user, on_aux, on_conn);
        return last_open_ != 0 ? uint32_t{NAX_OK} : status;
      });
      if (status == NAX_OK) add(static_cast<int32_t>(last_open_), Kind::Serial);
    }
  }

  void close_link(std::mt19937_64& rng) {
    Link l{};
    if (!pick(rng, l)) return;
    {
      std::lock_guard<std::mutex> lock(m_);
      std::erase_if(links_, [&](const Link& x) { return x.id == l.id; });
    }
    const auto start = Clock::now();
    const uint32_t s = nax_close(l.id);
    check(Clock::now() - start < std::chrono::milliseconds(kMarginMs + kMaxTimeoutMs),
          "nax_close took too long");
    closed(l.id, s, "nax_close");
  }

  // False when no link was there to call it on.
  bool setter(std::mt19937_64& rng, uint32_t kind) {
    Link l{};
    if (!pick(rng, l)) return false;
    const int32_t t = kMinTimeoutMs + static_cast<int32_t>(rng() % (kMaxTimeoutMs - kMinTimeoutMs));
    const int64_t b = kCommandBoundMs;
    switch (kind) {
      case 0:
        timed("nax_set_rcv_timeout", b, false, [&] { return nax_set_rcv_timeout(l.id, t); });
        break;
      case 1:
        timed("nax_set_snd_timeout", b, false, [&] { return nax_set_snd_timeout(l.id, t); });
        break;
      case 2:
        timed("nax_set_interbyte_timeout", b, false,
              [&] { return nax_set_interbyte_timeout(l.id, t); });
        break;
      case 3:
        timed("nax_set_source_node", b, false,
              [&] { return nax_set_source_node(l.id, kHostNode); });
        break;
      case 4: {
        // The link's own protocol again, or a value that is refused.
        const uint8_t now = nax_get_packet_protocol(l.id);
        called("nax_get_packet_protocol");
        check(now <= 2, "nax_get_packet_protocol gave " + std::to_string(now));
        const uint8_t p = rng() % 2 == 0 && now != 0 ? now : 3;
        timed("nax_set_packet_protocol", b, false,
              [&] { return nax_set_packet_protocol(l.id, p); });
        break;
      }
      case 5:
        timed("nax_set_user_callback", b, false,
              [&] { return nax_set_user_callback(l.id, on_user); });
        break;
      case 6:
        timed("nax_set_aux_input_callback", b, false,
              [&] { return nax_set_aux_input_callback(l.id, on_aux); });
        break;
      case 7:
        timed("nax_set_conn_callback", b, false,
              [&] { return nax_set_conn_callback(l.id, on_conn); });
        break;
      case 8:
        timed("nax_set_callback_args", b, false, [&] { return nax_set_callback_args(l.id, this); });
        break;
      default:
        sim_.send_aux_input_event(naxsim::AuxEvent{.aux_input = 1, .aux_value = 1});
        break;
    }
    return true;
  }

  bool command(std::mt19937_64& rng, uint32_t kind);

  uint64_t seed_;
  naxsim::Simulator& sim_;
  std::atomic<bool> failed_{false};
  std::atomic<uint64_t> calls_{0};
  std::mutex m_;
  std::vector<Link> links_;
  std::set<int32_t> incoming_;  // announced by the listener, not yet claimed
  std::set<std::string> called_;
  thread_local static uint32_t last_open_;
};

thread_local uint32_t ChaosRun::last_open_ = 0;

}  // namespace

namespace {

bool ChaosRun::command(std::mt19937_64& rng, uint32_t kind) {
  Link l{};
  if (!pick(rng, l)) return false;
  const int32_t id = l.id;
  const uint16_t node = rng() % 8 == 0 ? static_cast<uint16_t>(rng()) : kSimNode;
  const int64_t b = kCommandBoundMs;
  auto small = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  switch (kind) {
    case 0: {
      Fenced<nax_date_time> dt(1);
      timed("nax_get_time", b, true, [&] { return nax_get_time(id, node, dt.get()); });
      check(dt.intact(), "nax_get_time guard");
      break;
    }
    case 1: {
      const nax_date_time dt{10, 20, 30, 25, 6, 15, 1};
      timed("nax_set_time", b, true, [&] { return nax_set_time(id, node, &dt); });
      break;
    }
    case 2: {
      Fenced<uint32_t> v(1);
      timed("nax_get_num_cfg", b, true,
            [&] { return nax_get_num_cfg(id, node, 1 + small(4), small(8), v.get()); });
      check(v.intact(), "nax_get_num_cfg guard");
      break;
    }
    case 3:
      timed("nax_set_num_cfg", b, true,
            [&] { return nax_set_num_cfg(id, node, 1 + small(4), small(8), 5); });
      break;
    case 4: {
      Fenced<nax_aux_input> aux(1);
      timed("nax_get_aux_input", b, true,
            [&] { return nax_get_aux_input(id, node, small(4), aux.get()); });
      check(aux.intact(), "nax_get_aux_input guard");
      break;
    }
    case 5: {
      const nax_aux_input aux{};
      timed("nax_set_aux_input", b, true,
            [&] { return nax_set_aux_input(id, node, small(4), &aux); });
      break;
    }
    case 6: {
      Fenced<uint32_t> st(1);
      timed("nax_state_aux_input", b, true,
            [&] { return nax_state_aux_input(id, node, st.get()); });
      check(st.intact(), "nax_state_aux_input guard");
      break;
    }
    case 7:
      timed("nax_rele_control", b, true, [&] { return nax_rele_control(id, node, small(3), 1); });
      break;
    case 8:
      timed("nax_answer_aux_input_event", b, true,
            [&] { return nax_answer_aux_input_event(id, node, 1); });
      break;
    case 9: {
      const uint16_t count = static_cast<uint16_t>(1 + small(6));
      Fenced<nax_user> users(count);
      Fenced<uint16_t> stored(1);
      timed("nax_list_users", b, true,
            [&] { return nax_list_users(id, node, small(4), count, users.get(), stored.get()); });
      check(users.intact() && stored.intact(), "nax_list_users guard");
      check(stored[0] <= count, "nax_list_users stored " + std::to_string(stored[0]));
      for (uint16_t i = 0; i < count; ++i) {
        check(std::memchr(users[i].text1, 0, sizeof users[i].text1) != nullptr &&
                  std::memchr(users[i].text2, 0, sizeof users[i].text2) != nullptr,
              "nax_list_users text without its NUL");
      }
      break;
    }
    case 10:
    case 11:
    case 12: {
      const uint16_t count = static_cast<uint16_t>(1 + small(3));
      Fenced<nax_user> users(count);
      for (uint16_t i = 0; i < count; ++i) {
        users[i].mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_TEXT1;
        users[i].id = 1000 + small(50);
        std::snprintf(users[i].text1, sizeof users[i].text1, "user %u", i);
      }
      Fenced<uint16_t> taken(1);
      const uint32_t which = kind - 10;
      const char* name = which == 0   ? "nax_add_user"
                         : which == 1 ? "nax_edit_user"
                                      : "nax_del_user";
      timed(name, b, true, [&] {
        return which == 0   ? nax_add_user(id, node, 0, count, users.get(), taken.get())
               : which == 1 ? nax_edit_user(id, node, 0, count, users.get(), taken.get())
                            : nax_del_user(id, node, 0, count, users.get(), taken.get());
      });
      check(users.intact() && taken.intact(), std::string(name) + " guard");
      break;
    }
    case 13: {
      nax_user user{};
      user.mask = NAX_USER_ID;
      user.id = 77;
      const uint8_t extra[4] = {1, 2, 3, 4};
      timed("nax_add_user_in1", b, true,
            [&] { return nax_add_user_in1(id, node, &user, 0, extra, small(5)); });
      break;
    }
    case 14: {
      const uint16_t count = static_cast<uint16_t>(1 + small(8));
      Fenced<nax_mark> marks(count);
      Fenced<uint16_t> stored(1);
      timed("nax_list_marks", b, true,
            [&] { return nax_list_marks(id, node, small(4), count, marks.get(), stored.get()); });
      check(marks.intact() && stored.intact(), "nax_list_marks guard");
      check(stored[0] <= count, "nax_list_marks stored " + std::to_string(stored[0]));
      break;
    }
    case 15: {
      Fenced<char> text(512);
      timed("nax_get_info", b, true, [&] { return nax_get_info(id, node, "version", text.get()); });
      check(text.intact(), "nax_get_info guard");
      check(std::memchr(text.get(), 0, 512) != nullptr, "nax_get_info text without its NUL");
      break;
    }
    case 16:
      timed("nax_reset_node", b, true, [&] { return nax_reset_node(id, node, 0, 0); });
      break;
    case 17:
      timed("nax_block_node", b, true, [&] { return nax_block_node(id, node, small(2)); });
      break;
    case 18:
      timed("nax_flush_table", b, true, [&] { return nax_flush_table(id, node, small(3)); });
      break;
    case 19: {
      Fenced<uint16_t> deleted(1);
      timed("nax_del_records", b, true,
            [&] { return nax_del_records(id, node, small(3), 2, deleted.get()); });
      check(deleted.intact(), "nax_del_records guard");
      break;
    }
    case 20: {
      Fenced<nax_schd_header> header(1);
      timed("nax_get_schd_header", b, true,
            [&] { return nax_get_schd_header(id, node, 1 + small(3), header.get()); });
      check(header.intact(), "nax_get_schd_header guard");
      break;
    }
    case 21: {
      nax_schd_header header{};
      header.id = static_cast<uint16_t>(1 + small(3));
      std::snprintf(header.name, sizeof header.name, "chaos");
      timed("nax_set_schd_header", b, true, [&] { return nax_set_schd_header(id, node, &header); });
      break;
    }
    case 22: {
      const uint32_t count = 1 + small(40);
      Fenced<nax_schd_segment> segments(count);
      Fenced<uint32_t> received(1);
      timed("nax_get_schd_segments", b, true, [&] {
        return nax_get_schd_segments(id, node, 1, segments.get(), small(4), count, received.get());
      });
      check(segments.intact() && received.intact(), "nax_get_schd_segments guard");
      check(received[0] <= count, "nax_get_schd_segments received " + std::to_string(received[0]));
      break;
    }
    case 23: {
      std::vector<nax_schd_segment> segments(4, nax_schd_segment{8, 30, 1});
      Fenced<uint32_t> count_out(1);
      timed("nax_set_schd_segments", b, true, [&] {
        return nax_set_schd_segments(id, node, 1, segments.data(), 0, 4, count_out.get());
      });
      check(count_out.intact(), "nax_set_schd_segments guard");
      break;
    }
    case 24:
      timed("nax_del_schd", b, true, [&] { return nax_del_schd(id, node, 1 + small(3)); });
      break;
    case 25: {
      const uint32_t capacity = 1 + small(10);
      Fenced<nax_schd_entry> entries(capacity);
      Fenced<uint16_t> start(1);
      Fenced<uint32_t> received(1);
      timed("nax_list_schd", b, true, [&] {
        return nax_list_schd(id, node, entries.get(), start.get(), capacity, received.get());
      });
      check(entries.intact() && start.intact() && received.intact(), "nax_list_schd guard");
      check(received[0] <= capacity, "nax_list_schd received " + std::to_string(received[0]));
      break;
    }
    case 26: {
      const uint32_t capacity = rng() % 2 == 0 ? 384 : small(400);
      Fenced<uint8_t> buffer(capacity);
      timed("nax_read_template", b, true,
            [&] { return nax_read_template(id, node, 1, 4242, small(3), buffer.get(), capacity); });
      check(buffer.intact(), "nax_read_template guard");
      break;
    }
    case 27: {
      const std::vector<uint8_t> data(384, 0x5A);
      timed("nax_write_template", b, true,
            [&] { return nax_write_template(id, node, 1, 4242, small(3), data.data(), 384); });
      break;
    }
    case 28:
      timed("nax_del_template", b, true,
            [&] { return nax_del_template(id, node, 1, 4242, small(3)); });
      break;
    case 29:
      timed("nax_flush_templates", b, true, [&] { return nax_flush_templates(id, node, 1); });
      break;
    case 30: {
      nax_task_group group{};
      group.mask_fields = 0xFFFF;
      group.id = static_cast<uint8_t>(small(4));
      std::snprintf(group.name, sizeof group.name, "group");
      timed("nax_add_task_group", b, true, [&] { return nax_add_task_group(id, node, &group); });
      break;
    }
    case 31: {
      nax_task_item item{};
      item.mask_fields = 0xFFFF;
      item.id = static_cast<uint8_t>(small(4));
      std::snprintf(item.name, sizeof item.name, "item");
      timed("nax_add_task_item", b, true,
            [&] { return nax_add_task_item(id, node, small(4), &item); });
      break;
    }
    case 32: {
      Fenced<uint32_t> fsize(1);
      timed("nax_fopen", b, true,
            [&] { return nax_fopen(id, node, "chaos.txt", small(3), fsize.get()); });
      check(fsize.intact(), "nax_fopen guard");
      break;
    }
    case 33: {
      const uint32_t len = small(600);
      Fenced<uint8_t> buffer(len);
      Fenced<uint32_t> read(1);
      const uint32_t s = timed("nax_fread", b, true,
                               [&] { return nax_fread(id, node, buffer.get(), len, read.get()); });
      check(buffer.intact() && read.intact(), "nax_fread guard");
      check(s != NAX_OK || read[0] <= len, "nax_fread read " + std::to_string(read[0]));
      break;
    }
    case 34: {
      const std::vector<uint8_t> data(small(512), 0x33);
      timed("nax_fwrite", b, true,
            [&] { return nax_fwrite(id, node, data.data(), static_cast<uint32_t>(data.size())); });
      break;
    }
    case 35: {
      Fenced<uint32_t> crc(1);
      timed("nax_fclose", b, true, [&] { return nax_fclose(id, node, crc.get()); });
      check(crc.intact(), "nax_fclose guard");
      break;
    }
    case 36:
      timed("nax_fdel", b, true, [&] { return nax_fdel(id, node, "chaos.txt"); });
      break;
    default: {
      if (kind == 37) {
        nax_user_event_answer answer{};
        answer.user.mask = NAX_USER_ID;
        answer.user.id = 5;
        std::snprintf(answer.aux0, sizeof answer.aux0, "hello");
        timed("nax_answer_user_event", b, true,
              [&] { return nax_answer_user_event(id, node, &answer); });
        break;
      }
      const uint16_t count = static_cast<uint16_t>(1 + small(3));
      std::vector<nax_display_message> messages(count);
      for (auto& m : messages) std::snprintf(m.data, sizeof m.data, "line");
      Fenced<uint16_t> word(1);
      timed("nax_display_msg", b, true,
            [&] { return nax_display_msg(id, node, count, messages.data(), 1, word.get()); });
      check(word.intact(), "nax_display_msg guard");
      break;
    }
  }
  return true;
}

uint64_t chaos_seed() {
  if (const char* text = std::getenv("NAX_CHAOS_SEED")) return std::strtoull(text, nullptr, 0);
  return static_cast<uint64_t>(Clock::now().time_since_epoch().count());
}

int chaos_seconds() {
  const char* text = std::getenv("NAX_CHAOS_SECONDS");
  const int seconds = text != nullptr ? std::atoi(text) : 15;
  return seconds > 0 ? seconds : 15;
}

TEST(Chaos, EveryFunctionAgainstAHostileNode) {
  const uint64_t seed = chaos_seed();
  const int seconds = chaos_seconds();
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
  std::printf(
      "chaos answers: valid %llu, mutated %llu, truncated %llu, garbage %llu, silent %llu, "
      "split %llu, dropped %llu\n",
      (unsigned long long)outcomes[0], (unsigned long long)outcomes[1],
      (unsigned long long)outcomes[2], (unsigned long long)outcomes[3],
      (unsigned long long)outcomes[4], (unsigned long long)outcomes[5],
      (unsigned long long)outcomes[6]);

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
  EXPECT_EQ(names.size(), 59u) << [&] {
    std::string all;
    for (const auto& n : names) all += n + " ";
    return all;
  }();
  uint64_t perturbed = 0;
  for (size_t i = 1; i < outcomes.size(); ++i) perturbed += outcomes[i];
  EXPECT_GT(outcomes[0], 0u);
  EXPECT_GT(perturbed, 0u);
}

}  // namespace
