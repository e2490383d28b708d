// The simulator's server: one epoll loop that serves hosts as the node, whether they
// connected to us, we connected to them, or they opened our pseudo-terminal.  A pass
// costs what its ready descriptors and pending output cost, not what the idle
// connections number, so that one process can serve ten thousand of them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <list>
#include <map>
#include <random>
#include <thread>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "chaos.h"
#include "endpoint.h"
#include "handlers_marks.h"
#include "naxsim.h"
#include "proto/crc.h"
#include "proto/frame.h"
#include "wire.h"

namespace naxsim {
namespace {

uint64_t now_ms() {
  using namespace std::chrono;
  return static_cast<uint64_t>(
      duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
}

constexpr uint32_t kSplitGapMs = 1;
constexpr uint64_t kAcceptPauseMs = 100;  // after running out of descriptors
constexpr uint64_t kDialTimeoutMs = 5000;
constexpr uint64_t kLingerCheckMs = 10;
constexpr int kEventsPerWait = 256;

// epoll tags of the two descriptors that are not endpoints.
char wake_tag;
char listen_tag;

void set_no_delay(int fd) {
  const int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}

bool make_raw(int fd) {
  termios t{};
  if (::tcgetattr(fd, &t) != 0) return false;
  ::cfmakeraw(&t);
  ::cfsetspeed(&t, B115200);
  return ::tcsetattr(fd, TCSANOW, &t) == 0;
}

// A pseudo-terminal pair, the master non-blocking, the line raw (a master's terminal
// settings are its slave's); false when none can be had.
bool open_pty(int& master, int& slave, std::string& slave_path) {
  master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  slave = -1;
  if (master < 0) return false;
  char name[128];
  if (::grantpt(master) == 0 && ::unlockpt(master) == 0 &&
      ::ptsname_r(master, name, sizeof name) == 0) {
    slave = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
  }
  const int flags = ::fcntl(master, F_GETFL);
  if (slave < 0 || flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0 ||
      !make_raw(slave)) {
    if (slave >= 0) ::close(slave);
    ::close(master);
    return false;
  }
  slave_path = name;
  return true;
}

// Which faults a frame is exposed to.
enum class FrameKind { Answer, KeepaliveAnswer, Event };

// Set on a simulator's loop thread, so that work it asks for itself is not queued to itself.
thread_local const void* loop_owner = nullptr;

}  // namespace

struct Simulator::Impl {
  explicit Impl(Config c) : config(std::move(c)), node(config.node, config.clock_offset_s) {}

  Config config;
  Node node;

  mutable std::mutex faults_mutex;
  Faults faults;

  std::atomic<uint64_t> requests{0};
  std::atomic<uint64_t> keepalives{0};
  mutable std::mutex last_request_mutex;
  nax::Packet last_request{};

  std::mutex connections_mutex;
  std::condition_variable connections_changed;
  std::atomic<size_t> connections{0};

  // The connections one connect_to() call asked for; guarded by connections_mutex.
  struct DialBatch {
    size_t pending = 0;
    size_t failed = 0;
  };

  int listen_fd = -1;
  std::atomic<int> wake_fd{-1};
  uint16_t bound_port = 0;
  std::atomic<bool> running{false};
  std::thread thread;

  // Work handed to the loop by other threads.
  std::mutex tasks_mutex;
  bool taking_tasks = false;
  std::vector<std::packaged_task<void()>> tasks;

  int epoll_fd = -1;

  // Loop thread only.
  std::list<std::unique_ptr<Endpoint>> endpoints;
  // Every endpoint in `endpoints` that epoll watches, with what it watches for.
  struct Watch {
    std::list<std::unique_ptr<Endpoint>>::iterator at;
    uint32_t events;
  };
  std::unordered_map<const Endpoint*, Watch> watched;
  // Endpoints with queued output, flushed each pass until their queue is empty.
  std::unordered_set<Endpoint*> outgoing;
  // Pseudo-terminals waiting for their host to read the last bytes; not watched.
  std::unordered_set<Endpoint*> lingering;
  bool listen_watched = true;
  // Closed at the top of the next pass, as the current one may still hold them.
  std::list<std::unique_ptr<Endpoint>> dropped;
  std::mt19937 random{0x6e6178};
  std::unique_ptr<Chaos> chaos;
  uint64_t next_spontaneous_ms = 0;
  uint32_t spontaneous_id = 0;
  uint64_t accept_paused_until = 0;
  struct Dial {
    std::shared_ptr<DialBatch> batch;
    uint64_t deadline_ms;
  };
  std::map<const Endpoint*, Dial> dialing;
  bool dials_resolved = false;  // connect_to() callers are to be woken

  Faults current_faults() const {
    std::lock_guard<std::mutex> lock(faults_mutex);
    return faults;
  }

  void wake() const {
    const int fd = wake_fd.load();
    if (fd < 0) return;
    const uint64_t one = 1;
    [[maybe_unused]] ssize_t n = ::write(fd, &one, sizeof one);
  }

  bool run_on_loop(std::function<void()> fn);
  void loop();
  void add_endpoint(std::unique_ptr<Endpoint> endpoint, bool dialing_now = false);
  void finish(Endpoint& endpoint);
  void watch(Endpoint& endpoint, uint64_t now);
  void serve_pending(uint64_t now, int& timeout);
  void serve_ready(Endpoint& endpoint, uint32_t revents, uint64_t now);
  void accept_all(uint64_t now);
  void on_packet(Endpoint& endpoint, nax::Packet& packet, int protocol);
  void queue_frame(Endpoint& endpoint, const nax::Packet& packet, uint16_t des, uint16_t sou,
                   int protocol, const Faults& f, FrameKind kind);
  std::vector<uint8_t> garbage(uint32_t count);
  size_t send_event(const std::function<bool(int protocol, nax::Packet&)>& encode);
  void send_spontaneous(uint64_t now, const Faults& f);
  void set_connection_count(size_t n);
  size_t established() const;
  bool dial(const sockaddr_in& address, size_t count, const std::shared_ptr<DialBatch>& batch);
  void resolve_dial(const Endpoint* endpoint, bool ok);
  void resolve_batch(DialBatch& batch, size_t count, bool ok);
  void fail_all_dials();
  bool serve_dialing(Endpoint& endpoint, uint32_t revents, uint64_t now);
  void drop_all();
};

bool Simulator::Impl::run_on_loop(std::function<void()> fn) {
  if (loop_owner == this) {
    fn();
    return true;
  }
  std::packaged_task<void()> task(std::move(fn));
  std::future<void> done = task.get_future();
  {
    std::lock_guard<std::mutex> lock(tasks_mutex);
    if (!taking_tasks) return false;
    tasks.push_back(std::move(task));
  }
  wake();
  done.wait();
  return true;
}

void Simulator::Impl::set_connection_count(size_t n) {
  {
    std::lock_guard<std::mutex> lock(connections_mutex);
    if (connections == n && !dials_resolved) return;
    connections = n;
    dials_resolved = false;
  }
  connections_changed.notify_all();
}

// Every connecting endpoint has a dial entry until it is established or given up.
size_t Simulator::Impl::established() const {
  return endpoints.size() - dialing.size();
}

void Simulator::Impl::add_endpoint(std::unique_ptr<Endpoint> endpoint, bool dialing_now) {
  Endpoint* e = endpoint.get();
  endpoints.push_back(std::move(endpoint));
  const uint32_t events = dialing_now ? EPOLLOUT : EPOLLIN;
  epoll_event ev{};
  ev.events = events;
  ev.data.ptr = e;
  if (::epoll_ctl(epoll_fd, EPOLL_CTL_ADD, e->fd(), &ev) != 0) {
    // Not servable: closed at the next pass like any finished endpoint.
    dropped.splice(dropped.end(), endpoints, std::prev(endpoints.end()));
    return;
  }
  watched[e] = Watch{std::prev(endpoints.end()), events};
}

// Stops serving an endpoint; it is closed at the top of the next pass, as events of the
// current one may still name it.
void Simulator::Impl::finish(Endpoint& endpoint) {
  lingering.erase(&endpoint);
  outgoing.erase(&endpoint);
  auto found = watched.find(&endpoint);
  if (found == watched.end()) return;  // finished already
  if (found->second.events != 0) ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, endpoint.fd(), nullptr);
  dropped.splice(dropped.end(), endpoints, found->second.at);
  watched.erase(found);
}

// Brings what epoll watches, and the pending and lingering sets, in line with the
// endpoint's state after it was served.
void Simulator::Impl::watch(Endpoint& endpoint, uint64_t now) {
  auto found = watched.find(&endpoint);
  if (found == watched.end()) return;
  if (endpoint.lingering()) {
    ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, endpoint.fd(), nullptr);
    found->second.events = 0;
    outgoing.erase(&endpoint);
    lingering.insert(&endpoint);
    return;
  }
  uint32_t events = EPOLLOUT;
  if (!endpoint.connecting()) events = EPOLLIN | (endpoint.wants_write(now) ? EPOLLOUT : 0u);
  if (events != found->second.events) {
    epoll_event ev{};
    ev.events = events;
    ev.data.ptr = &endpoint;
    ::epoll_ctl(epoll_fd, EPOLL_CTL_MOD, endpoint.fd(), &ev);
    found->second.events = events;
  }
  if (endpoint.next_due()) {
    outgoing.insert(&endpoint);
  } else {
    outgoing.erase(&endpoint);
  }
}

void Simulator::Impl::resolve_batch(DialBatch& batch, size_t count, bool ok) {
  std::lock_guard<std::mutex> lock(connections_mutex);
  batch.pending -= count;
  if (!ok) batch.failed += count;
  // A connection made is counted with its batch, so that a connect_to() that returns
  // (woken, or finding its dial made at once) already counts it; waiters are told
  // with the next connection count.
  if (ok) connections = established();
  dials_resolved = true;
}

void Simulator::Impl::resolve_dial(const Endpoint* endpoint, bool ok) {
  auto found = dialing.find(endpoint);
  if (found == dialing.end()) return;
  const std::shared_ptr<DialBatch> batch = found->second.batch;
  dialing.erase(found);  // made: established from now on; failed: the caller finishes it
  resolve_batch(*batch, 1, ok);
}

void Simulator::Impl::fail_all_dials() {
  for (auto& [endpoint, dial] : dialing) resolve_batch(*dial.batch, 1, false);
  dialing.clear();
}

void Simulator::Impl::drop_all() {
  fail_all_dials();
  for (const auto& [endpoint, watch] : watched) {
    if (watch.events != 0) ::epoll_ctl(epoll_fd, EPOLL_CTL_DEL, endpoint->fd(), nullptr);
  }
  watched.clear();
  outgoing.clear();
  lingering.clear();
  dropped.splice(dropped.end(), endpoints);
  set_connection_count(0);
}

bool Simulator::Impl::dial(const sockaddr_in& address, size_t count,
                           const std::shared_ptr<DialBatch>& batch) {
  const uint64_t deadline = now_ms() + kDialTimeoutMs;
  for (size_t i = 0; i < count; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) {
      resolve_batch(*batch, count - i, false);
      return false;
    }
    set_no_delay(fd);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0) {
      add_endpoint(std::make_unique<Endpoint>(fd, EndpointKind::TcpDialed, config.protocol));
      resolve_batch(*batch, 1, true);
    } else if (errno == EINPROGRESS) {
      add_endpoint(std::make_unique<Endpoint>(fd, EndpointKind::TcpDialed, config.protocol, true),
                   true);
      dialing[endpoints.back().get()] = Dial{batch, deadline};
    } else {
      ::close(fd);
      resolve_batch(*batch, 1, false);
    }
  }
  return true;
}

// A dialed connection still being made; false when it failed or took too long.
bool Simulator::Impl::serve_dialing(Endpoint& endpoint, uint32_t revents, uint64_t now) {
  bool alive = true;
  if (revents & (EPOLLOUT | EPOLLERR | EPOLLHUP)) {
    alive = endpoint.finish_connect();
  } else {
    auto found = dialing.find(&endpoint);
    alive = found != dialing.end() && now < found->second.deadline_ms;
  }
  if (!alive || !endpoint.connecting()) resolve_dial(&endpoint, alive);
  return alive;
}

std::vector<uint8_t> Simulator::Impl::garbage(uint32_t count) {
  std::vector<uint8_t> bytes(count);
  std::uniform_int_distribution<int> byte(0, 255);
  for (uint32_t i = 0; i < count; ++i) {
    // Never a protocol 2 start byte: a receiver hunting for one skips the lot.
    do bytes[i] = static_cast<uint8_t>(byte(random));
    while (bytes[i] == nax::kP2StartByte);
    // Nor a protocol 1 header that checks, counting windows from the first byte.
    if ((i + 1) % nax::kP1HeaderLength == 0) {
      const uint8_t* window = bytes.data() + i + 1 - nax::kP1HeaderLength;
      while (nax::crc8(window, nax::kP1HeaderLength) == nax::kP1HeaderCheck ||
             bytes[i] == nax::kP2StartByte) {
        ++bytes[i];
      }
    }
  }
  return bytes;
}

void Simulator::Impl::queue_frame(Endpoint& endpoint, const nax::Packet& packet, uint16_t des,
                                  uint16_t sou, int protocol, const Faults& f, FrameKind kind) {
  uint8_t frame[nax::kFrameBufferSize];
  const std::size_t length = protocol == 1
                                 ? nax::build_frame_p1(des, sou, packet, frame, sizeof frame)
                                 : nax::build_frame_p2(des, sou, packet, frame, sizeof frame);
  if (length == 0) return;
  // Keepalive answers stay clean: whether keepalives work is ignore_keepalives' business
  // alone, so that a link under any other fault is not also given up for silence.
  if (kind == FrameKind::KeepaliveAnswer) {
    endpoint.queue(OutChunk{std::vector<uint8_t>(frame, frame + length), now_ms(), false});
    return;
  }
  if (f.bad_crc) frame[length - 1] ^= 0xFF;

  std::vector<uint8_t> bytes = garbage(f.garbage_before);
  std::size_t keep = length;
  const bool drop = kind == FrameKind::Answer && f.drop_mid_frame;
  if (drop || (kind == FrameKind::Event && f.cut_events)) keep = length / 2;
  bytes.insert(bytes.end(), frame, frame + keep);

  const uint64_t due = now_ms() + (kind == FrameKind::Answer ? f.delay_ms : 0);
  if (!f.split_bytes) {
    endpoint.queue(OutChunk{std::move(bytes), due, drop});
    return;
  }
  for (std::size_t i = 0; i < bytes.size(); ++i) {
    endpoint.queue(OutChunk{{bytes[i]}, due + i * kSplitGapMs, drop && i + 1 == bytes.size()});
  }
}

void Simulator::Impl::on_packet(Endpoint& endpoint, nax::Packet& packet, int protocol) {
  if (endpoint.closing()) return;
  const Faults f = current_faults();
  const uint16_t own = node.number();
  const bool addressed = packet.des_node == own || packet.des_node == kBroadcastNode;

  const uint16_t keepalive_cmd = protocol == 1 ? kCmdKeepaliveP1 : kCmdKeepaliveP2;
  if (packet.cmd == keepalive_cmd) {
    keepalives.fetch_add(1);
    if (f.ignore_keepalives) return;
    endpoint.set_host_node(packet.sou_node);
    if (!addressed) return;
    nax::Packet answer{};
    answer.cmd = keepalive_cmd;
    answer.status = kStatusDone;
    if (protocol == 1) answer.size = 1;  // one byte 0, as the host sends it
    queue_frame(endpoint, answer, packet.sou_node, packet.des_node, protocol, f,
                FrameKind::KeepaliveAnswer);
    return;
  }

  // A protocol 1 packet ends with the frame's CRC; handlers see the data area only.
  if (protocol == 1) packet.size = packet.size >= 2 ? packet.size - 2 : 0;
  requests.fetch_add(1);
  {
    std::lock_guard<std::mutex> lock(last_request_mutex);
    last_request = packet;
  }
  endpoint.set_host_node(packet.sou_node);
  if (!addressed) return;

  nax::Packet answer{};
  if (!node.handle(packet, answer, protocol) || f.no_answer) return;
  if (f.chaos_seed) {
    if (!chaos || chaos->seed() != *f.chaos_seed) chaos = std::make_unique<Chaos>(*f.chaos_seed);
    for (OutChunk& chunk :
         chaos->answer(answer, packet.sou_node, packet.des_node, protocol, now_ms())) {
      endpoint.queue(std::move(chunk));
    }
    return;
  }
  if (protocol == 2 && f.refuse_status) refuse(answer, protocol, *f.refuse_status, 0);
  if (protocol == 1 && f.refuse_error) refuse(answer, protocol, 0, *f.refuse_error);
  if (f.answer_cmd) answer.cmd = *f.answer_cmd;
  if (f.truncate_to && answer.size > *f.truncate_to) answer.size = *f.truncate_to;
  queue_frame(endpoint, answer, f.answer_to.value_or(packet.sou_node),
              f.answer_from.value_or(packet.des_node), protocol, f, FrameKind::Answer);
}

size_t Simulator::Impl::send_event(const std::function<bool(int protocol, nax::Packet&)>& encode) {
  const Faults f = current_faults();
  const uint16_t own = node.number();
  size_t sent = 0;
  nax::Packet packet{};
  for (auto& endpoint : endpoints) {
    const int protocol = endpoint->protocol();
    if (protocol == 0 || endpoint->closing() || !encode(protocol, packet)) continue;
    queue_frame(*endpoint, packet, endpoint->host_node(), own, protocol, f, FrameKind::Event);
    outgoing.insert(endpoint.get());
    ++sent;
  }
  return sent;
}

void Simulator::Impl::send_spontaneous(uint64_t now, const Faults& f) {
  if (f.event_every_ms == 0) {
    next_spontaneous_ms = 0;
    return;
  }
  if (next_spontaneous_ms == 0) next_spontaneous_ms = now + f.event_every_ms;
  if (now < next_spontaneous_ms) return;
  next_spontaneous_ms = now + f.event_every_ms;
  UserEvent event{};
  event.id = ++spontaneous_id;
  event.event = 0x01;  // what event word 0 stands for
  event.time = node.time();
  record_mark(node, event.id, event.time);  // the terminal logs what it reports
  send_event([&](int protocol, nax::Packet& packet) {
    protocol == 1 ? encode_user_event_p1(event, packet) : encode_user_event_p2(event, packet);
    return true;
  });
}

void Simulator::Impl::accept_all(uint64_t now) {
  for (;;) {
    const int fd = ::accept4(listen_fd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
        accept_paused_until = now + kAcceptPauseMs;
      }
      return;
    }
    set_no_delay(fd);
    add_endpoint(std::make_unique<Endpoint>(fd, EndpointKind::TcpAccepted, config.protocol));
  }
}

// Output that is due goes out; output that is not shortens the wait, as do dials that
// may time out and pseudo-terminals that linger.
void Simulator::Impl::serve_pending(uint64_t now, int& timeout) {
  auto shorten = [&](uint64_t due) {
    if (due > now) timeout = std::min<int>(timeout, static_cast<int>(due - now));
  };
  std::vector<Endpoint*> finished;
  for (Endpoint* endpoint : std::vector<Endpoint*>(outgoing.begin(), outgoing.end())) {
    if (!endpoint->flush(now)) {
      finished.push_back(endpoint);
      continue;
    }
    watch(*endpoint, now);
    if (auto due = endpoint->next_due()) shorten(*due);
  }
  for (auto& [endpoint, dial] : dialing) {
    if (now >= dial.deadline_ms) {
      finished.push_back(const_cast<Endpoint*>(endpoint));
    } else {
      shorten(dial.deadline_ms);
    }
  }
  for (Endpoint* endpoint : lingering) {
    if (endpoint->linger_over(now)) {
      finished.push_back(endpoint);
    } else {
      shorten(now + kLingerCheckMs);
    }
  }
  for (Endpoint* endpoint : finished) {
    resolve_dial(endpoint, false);
    finish(*endpoint);
  }
}

void Simulator::Impl::serve_ready(Endpoint& endpoint, uint32_t revents, uint64_t now) {
  if (endpoint.connecting()) {
    if (serve_dialing(endpoint, revents, now)) {
      watch(endpoint, now);
    } else {
      finish(endpoint);
    }
    return;
  }
  bool alive = true;
  if (revents & (EPOLLIN | EPOLLHUP | EPOLLERR)) {
    alive = endpoint.read_available(
        [&](nax::Packet& packet, int protocol) { on_packet(endpoint, packet, protocol); });
  }
  if (alive) alive = endpoint.flush(now);
  if (alive) {
    watch(endpoint, now);
  } else {
    finish(endpoint);
  }
}

void Simulator::Impl::loop() {
  loop_owner = this;
  std::vector<epoll_event> ready(kEventsPerWait);
  while (running.load()) {
    dropped.clear();
    uint64_t now = now_ms();
    const Faults f = current_faults();
    send_spontaneous(now, f);

    int timeout = 1000;
    if (next_spontaneous_ms > now) {
      timeout = std::min<int>(timeout, static_cast<int>(next_spontaneous_ms - now));
    }
    if (listen_fd >= 0 && listen_watched != (accept_paused_until <= now)) {
      listen_watched = !listen_watched;
      epoll_event ev{};
      ev.events = listen_watched ? EPOLLIN : 0u;
      ev.data.ptr = &listen_tag;
      ::epoll_ctl(epoll_fd, EPOLL_CTL_MOD, listen_fd, &ev);
    }
    if (accept_paused_until > now) {
      timeout = std::min<int>(timeout, static_cast<int>(accept_paused_until - now));
    }
    serve_pending(now, timeout);

    const int n = ::epoll_wait(epoll_fd, ready.data(), static_cast<int>(ready.size()), timeout);
    if (n < 0 && errno != EINTR) break;
    now = now_ms();

    bool woken = false;
    bool connecting_in = false;
    for (int i = 0; i < n; ++i) {
      void* tag = ready[i].data.ptr;
      if (tag == &wake_tag) {
        woken = true;
      } else if (tag == &listen_tag) {
        connecting_in = true;
      } else if (watched.count(static_cast<Endpoint*>(tag)) != 0) {
        // Endpoints finished earlier in this batch are no longer watched.
        serve_ready(*static_cast<Endpoint*>(tag), ready[i].events, now);
      }
    }

    if (woken) {
      uint64_t count;
      [[maybe_unused]] ssize_t r = ::read(wake_fd, &count, sizeof count);
      std::vector<std::packaged_task<void()>> work;
      {
        std::lock_guard<std::mutex> lock(tasks_mutex);
        work.swap(tasks);
      }
      for (auto& task : work) task();
    }
    if (connecting_in) accept_all(now);
    // Nothing of this pass names them any more: a connection counted gone is closed.
    dropped.clear();
    set_connection_count(established());
  }

  std::vector<std::packaged_task<void()>> work;
  {
    std::lock_guard<std::mutex> lock(tasks_mutex);
    taking_tasks = false;
    work.swap(tasks);
  }
  for (auto& task : work) task();
  fail_all_dials();
  watched.clear();
  outgoing.clear();
  lingering.clear();
  dropped.clear();
  endpoints.clear();
  set_connection_count(0);
}

Simulator::Simulator(Config config) : impl_(std::make_unique<Impl>(std::move(config))) {}

Simulator::~Simulator() {
  stop();
}

bool Simulator::start() {
  Impl& s = *impl_;
  if (s.thread.joinable()) return false;
  auto close_listener = [&s] {
    if (s.listen_fd >= 0) ::close(s.listen_fd);
    s.listen_fd = -1;
    s.bound_port = 0;
  };
  if (s.config.listen) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(s.config.port);
    if (::inet_pton(AF_INET, s.config.bind.c_str(), &address.sin_addr) != 1) return false;

    s.listen_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (s.listen_fd < 0) return false;
    const int one = 1;
    ::setsockopt(s.listen_fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    socklen_t length = sizeof address;
    if (::bind(s.listen_fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(s.listen_fd, 4096) != 0 ||
        ::getsockname(s.listen_fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      close_listener();
      return false;
    }
    s.bound_port = ntohs(address.sin_port);
  }
  s.wake_fd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
  s.epoll_fd = ::epoll_create1(EPOLL_CLOEXEC);
  auto add = [&s](int fd, void* tag) {
    epoll_event ev{};
    ev.events = EPOLLIN;
    ev.data.ptr = tag;
    return ::epoll_ctl(s.epoll_fd, EPOLL_CTL_ADD, fd, &ev) == 0;
  };
  if (s.wake_fd < 0 || s.epoll_fd < 0 || !add(s.wake_fd, &wake_tag) ||
      (s.listen_fd >= 0 && !add(s.listen_fd, &listen_tag))) {
    if (s.wake_fd >= 0) ::close(s.wake_fd.exchange(-1));
    if (s.epoll_fd >= 0) ::close(s.epoll_fd);
    s.epoll_fd = -1;
    close_listener();
    return false;
  }
  s.listen_watched = true;
  s.accept_paused_until = 0;
  {
    std::lock_guard<std::mutex> lock(s.tasks_mutex);
    s.taking_tasks = true;
  }
  s.running = true;
  s.thread = std::thread([&s] { s.loop(); });
  return true;
}

void Simulator::stop() {
  Impl& s = *impl_;
  if (!s.thread.joinable()) return;
  s.running = false;
  s.wake();
  s.thread.join();
  if (s.listen_fd >= 0) ::close(s.listen_fd);
  ::close(s.wake_fd.exchange(-1));
  ::close(s.epoll_fd);
  s.epoll_fd = -1;
  s.listen_fd = -1;
}

uint16_t Simulator::port() const {
  return impl_->bound_port;
}

std::string Simulator::conn_string() const {
  const std::string& bind = impl_->config.bind;
  return (bind == "0.0.0.0" ? std::string("127.0.0.1") : bind) + ":" +
         std::to_string(impl_->bound_port);
}

Node& Simulator::node() {
  return impl_->node;
}

void Simulator::set_faults(const Faults& faults) {
  {
    std::lock_guard<std::mutex> lock(impl_->faults_mutex);
    impl_->faults = faults;
  }
  // The loop may be asleep on the old event period.
  impl_->wake();
}

Faults Simulator::faults() const {
  return impl_->current_faults();
}

bool Simulator::open_serial(std::string* slave_path) {
  Impl& s = *impl_;
  int master = -1;
  int slave = -1;
  std::string path;
  if (!open_pty(master, slave, path)) return false;
  auto endpoint = std::make_unique<Endpoint>(master, EndpointKind::PtyMaster, s.config.protocol);
  // Without a slave descriptor of our own the master would read EIO and poll hang-up
  // whenever no host has the slave open: before the first open and after every close.
  endpoint->keep_open(slave);
  const bool added = s.run_on_loop([&] {
    s.add_endpoint(std::move(endpoint));
    s.set_connection_count(s.established());
  });
  if (!added) return false;
  if (slave_path != nullptr) *slave_path = path;
  return true;
}

bool Simulator::connect_to(const std::string& host, uint16_t port, size_t count) {
  Impl& s = *impl_;
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  if (::getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) return false;
  sockaddr_in address{};
  std::memcpy(&address, found->ai_addr, sizeof address);
  ::freeaddrinfo(found);
  address.sin_port = htons(port);

  auto batch = std::make_shared<Impl::DialBatch>();
  batch->pending = count;
  bool started = false;
  if (!s.run_on_loop([&] { started = s.dial(address, count, batch); })) return false;
  if (loop_owner == impl_.get()) return started;
  std::unique_lock<std::mutex> lock(s.connections_mutex);
  // The loop gives up on each connection at its deadline; the margin covers a loop pass.
  const bool resolved = s.connections_changed.wait_for(
      lock, std::chrono::milliseconds(kDialTimeoutMs + 1000), [&] { return batch->pending == 0; });
  return resolved && batch->failed == 0;
}

size_t Simulator::connection_count() const {
  return impl_->connections.load();
}

uint64_t Simulator::requests_received() const {
  return impl_->requests.load();
}

uint64_t Simulator::keepalives_received() const {
  return impl_->keepalives.load();
}

nax::Packet Simulator::last_request() const {
  std::lock_guard<std::mutex> lock(impl_->last_request_mutex);
  return impl_->last_request;
}

bool Simulator::send_user_event(const UserEvent& event) {
  size_t sent = 0;
  impl_->run_on_loop([&] {
    sent = impl_->send_event([&](int protocol, nax::Packet& packet) {
      protocol == 1 ? encode_user_event_p1(event, packet) : encode_user_event_p2(event, packet);
      return true;
    });
  });
  return sent > 0;
}

std::vector<uint64_t> Simulator::chaos_outcomes() {
  std::vector<uint64_t> counts(static_cast<int>(ChaosOutcome::Count), 0);
  impl_->run_on_loop([&] {
    if (!impl_->chaos) return;
    for (int i = 0; i < static_cast<int>(ChaosOutcome::Count); ++i) {
      counts[i] = impl_->chaos->count(static_cast<ChaosOutcome>(i));
    }
  });
  return counts;
}

bool Simulator::send_aux_input_event(const AuxEvent& event) {
  size_t sent = 0;
  impl_->run_on_loop([&] {
    sent = impl_->send_event([&](int protocol, nax::Packet& packet) {
      if (protocol != 2) return false;
      encode_aux_event_p2(event, packet);
      return true;
    });
  });
  return sent > 0;
}

void Simulator::drop_connections() {
  impl_->run_on_loop([&] { impl_->drop_all(); });
}

bool Simulator::wait_for_connections(size_t n, uint32_t timeout_ms) {
  std::unique_lock<std::mutex> lock(impl_->connections_mutex);
  return impl_->connections_changed.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                             [&] { return impl_->connections.load() >= n; });
}

}  // namespace naxsim
