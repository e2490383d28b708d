// Nodes that connect in: the listener, the incoming links and claiming them, and
// the bounds on them: the cap on unclaimed links, the time within which one must be
// claimed, and a connection flood.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <set>

#include "core/lifecycle.h"
#include "e2e_support.h"
#include "link/link.h"

namespace {

using e2e::eventually;
using e2e::kHostNode;
using Clock = std::chrono::steady_clock;

int connect_to_port(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// True once the peer has closed the connection.
bool closed_by_peer(int fd) {
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

class ListenerE2E : public ::testing::Test {
 protected:
  void TearDown() override {
    nax_close_listen(1);
    // Every link the listener made, claimed or not, is the host's to close.
    for (int32_t id : connected_links()) nax_close(id);
    for (int fd : clients_) close(fd);
    for (auto& s : sims_) s->stop();
    nax_uninit();
    nax_set_listen_limits(0, 0);
    nax_set_keepalive(0, 0, 0xFFFF);
  }
  void init_and_listen(const char* log_path = nullptr, bool report = true) {
    ASSERT_EQ(nax_init(log_path, log_path != nullptr ? 1 : 0), NAX_OK);
    uint32_t status = 0;
    ASSERT_EQ(nax_listen(&status, 0, 1000, &rec_, report ? e2e::Recorder::conn_cb : nullptr), 1u);
    ASSERT_EQ(status, NAX_OK);
    port_ = nax::listener_port();
    ASSERT_NE(port_, 0);
  }
  naxsim::Simulator& node(uint16_t number, size_t connections = 1) {
    sims_.push_back(
        std::make_unique<naxsim::Simulator>(naxsim::Config{.node = number, .listen = false}));
    EXPECT_TRUE(sims_.back()->start());
    EXPECT_TRUE(sims_.back()->connect_to("127.0.0.1", port_, connections));
    return *sims_.back();
  }
  std::vector<int32_t> connected_links() {
    std::lock_guard<std::mutex> lock(rec_.m);
    std::vector<int32_t> ids;
    for (auto [id, state] : rec_.conn) {
      if (state == NAX_CONN_CONNECTED) ids.push_back(id);
    }
    return ids;
  }
  // The one link a node just made, once it has been reported.
  uint32_t one_connected() {
    EXPECT_TRUE(eventually([&] { return connected_links().size() == 1; }));
    return connected_links().empty() ? 0u : static_cast<uint32_t>(connected_links()[0]);
  }
  uint32_t accept(uint32_t link_id, uint16_t dest, uint16_t port, uint32_t* status_out,
                  uint16_t* node_out = nullptr, uint8_t protocol = 2) {
    uint32_t id = link_id;
    uint16_t node = dest;
    uint16_t p = port;
    // Scanning costs a step per link already claimed: give it room for all 50.
    *status_out = nax_accept(&id, &node, &p, protocol, kHostNode, 10000, 1000);
    if (node_out != nullptr) *node_out = node;
    return id;
  }

  e2e::Recorder rec_;
  uint16_t port_ = 0;
  std::vector<std::unique_ptr<naxsim::Simulator>> sims_;
  std::vector<int> clients_;
};

TEST_F(ListenerE2E, FiftyNodesConnectingAtOnceAreReportedClaimedAndServed) {
  init_and_listen();
  for (uint16_t n = 1; n <= 50; ++n) node(n);
  ASSERT_TRUE(eventually([&] { return connected_links().size() == 50; }));
  // Half are claimed by scanning, half by the id the callback gave.
  std::vector<int32_t> ids = connected_links();
  std::set<uint16_t> nodes;
  for (size_t i = 0; i < ids.size(); ++i) {
    uint32_t status = 0;
    uint16_t reported = 0;
    uint32_t given = i % 2 == 0 ? 0 : static_cast<uint32_t>(ids[i]);
    uint32_t id = accept(given, 0, 0, &status, &reported, i % 3 == 0 ? 1 : 2);
    ASSERT_EQ(status, NAX_OK) << "link " << ids[i];
    if (given != 0) {
      EXPECT_EQ(id, given);
    }
    nodes.insert(reported);
    nax_date_time t{};
    EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), reported, &t), NAX_OK);
  }
  EXPECT_EQ(nodes.size(), 50u);  // every node identified itself by its own number
  EXPECT_EQ(rec_.conn_count(), 50u) << "reported once each, and never as lost";
}

// One listener at a time, and a scan with nothing waiting ends after its budget.
// An unclaimed link refuses commands and settings; a claim for another node or
// port is refused (a given id is tried once) and the link stays claimable.
TEST_F(ListenerE2E, UnclaimedLinkRefusesAllButTheRightClaim) {
  init_and_listen();
  uint32_t status = 0;
  EXPECT_EQ(nax_listen(&status, 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_LISTENER_EXISTS);
  EXPECT_EQ(nax_close_listen(2), NAX_ERR_NO_LISTENER);
  uint32_t none = 0;
  uint16_t n = 0, p = 0;
  auto start = Clock::now();
  EXPECT_NE(nax_accept(&none, &n, &p, 2, kHostNode, 1000, 1000), NAX_OK);
  EXPECT_EQ(none, 0u);
  EXPECT_GE(e2e::elapsed_ms(start), 400);
  EXPECT_LT(e2e::elapsed_ms(start), 3000);
  EXPECT_EQ(nax_accept(&none, &n, &p, 3, kHostNode, 0, 1000), NAX_ERR_BAD_PROTOCOL);

  node(5);
  const uint32_t id = one_connected();
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 5, &t), NAX_ERR_LINK_STATE);
  EXPECT_EQ(nax_set_rcv_timeout(static_cast<int32_t>(id), 100), NAX_ERR_LINK_STATE);
  EXPECT_EQ(nax_get_packet_protocol(static_cast<int32_t>(id)), 0);
  start = Clock::now();
  EXPECT_EQ(accept(id, 7, 0, &status), id);
  EXPECT_EQ(status, NAX_ERR_NODE_NUMBER);
  EXPECT_LT(e2e::elapsed_ms(start), 1500);
  accept(id, 0, static_cast<uint16_t>(port_ + 1), &status);
  EXPECT_EQ(status, NAX_ERR_OTHER_PORT);
  uint16_t reported = 0;
  EXPECT_EQ(accept(id, 5, port_, &status, &reported), id);
  EXPECT_EQ(status, NAX_OK);
  EXPECT_EQ(reported, 5);
  EXPECT_EQ(accept(id, 0, 0, &status), id);  // already claimed
  EXPECT_EQ(status, NAX_ERR_LINK_STATE);
}

TEST_F(ListenerE2E, PortHeldByAnotherSocketIsRetriedThenRefused) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  uint16_t held = 0;
  clients_.push_back(e2e::bound_socket(&held));
  ASSERT_EQ(listen(clients_[0], 1), 0);
  uint32_t status = 0;
  const auto start = Clock::now();
  EXPECT_EQ(nax_listen(&status, held, 500, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_PORT_IN_USE);
  EXPECT_GE(e2e::elapsed_ms(start), 450);  // five retries 100 ms apart
  EXPECT_LT(e2e::elapsed_ms(start), 5000);
  EXPECT_EQ(nax_close_listen(1), NAX_ERR_NO_LISTENER);  // nothing was left behind
}

TEST_F(ListenerE2E, UnclaimedQuietLinkIsGivenUpUnderKeepalive) {
  ASSERT_EQ(nax_set_keepalive(200, 2, 0xFFFF), NAX_OK);
  init_and_listen();
  naxsim::Simulator& sim = node(1);
  const int32_t id = static_cast<int32_t>(one_connected());
  // Its keepalives are refused (not claimed) yet count: the link goes away.
  nax_date_time t{};
  EXPECT_TRUE(eventually([&] { return nax_get_time(id, 1, &t) == NAX_ERR_LINK_UNAVAILABLE; }));
  EXPECT_EQ(sim.keepalives_received(), 0u);
  EXPECT_EQ(rec_.conn_count(), 1u);  // the listener's callback is not the link's
}

// Peers that connect and hang up at once (port scanners, health checks) must not
// stall the listener: the node after them becomes a claimable link, reported or not.
TEST_F(ListenerE2E, PeersHangingUpAtOnceDoNotStallAListenerWithoutCallback) {
  init_and_listen(nullptr, false);
  for (int i = 0; i < 20; ++i) {
    const int fd = connect_to_port(port_);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  node(42);
  uint32_t status = 0;
  uint16_t reported = 0;
  const uint32_t id = accept(0, 0, 0, &status, &reported, 1);
  ASSERT_EQ(status, NAX_OK);
  EXPECT_EQ(reported, 42);
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 42, &t), NAX_OK);
  EXPECT_EQ(nax_close(static_cast<int32_t>(id)), NAX_OK);
}

TEST_F(ListenerE2E, LimitsTakeNonNegativeBoundsAtAnyTimeAndAreLogged) {
  struct Case {
    const char* name;
    int32_t max_unclaimed;
    int32_t claim_timeout;
    uint32_t status;
    uint32_t max_after;
    uint32_t timeout_after;
  };
  // clang-format off
  const Case cases[] = {
      {"both set",               5,        250,       NAX_OK,             5,        250},
      {"zero lifts both",        0,        0,         NAX_OK,             0,        0},
      {"largest values",         INT32_MAX, INT32_MAX, NAX_OK,            INT32_MAX, INT32_MAX},
      {"negative cap refused",   -1,       100,       NAX_ERR_INVALID_ARG, INT32_MAX, INT32_MAX},
      {"negative time refused",  10,       -5,        NAX_ERR_INVALID_ARG, INT32_MAX, INT32_MAX},
      {"back to a small cap",    3,        1000,      NAX_OK,             3,        1000},
  };
  // clang-format on
  // Off until the host sets them: a node that connected in waits to be claimed.
  EXPECT_EQ(nax::listen_limits().max_unclaimed.load(), 0u);
  EXPECT_EQ(nax::listen_limits().claim_timeout_ms.load(), 0u);
  const std::string log = ::testing::TempDir() + "limits" + std::to_string(getpid()) + ".log";
  std::remove(log.c_str());
  for (bool initialised : {false, true}) {
    if (initialised) {
      ASSERT_EQ(nax_init(log.c_str(), 3), NAX_OK);
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (initialised ? ", initialised" : ", before init"));
      EXPECT_EQ(nax_set_listen_limits(c.max_unclaimed, c.claim_timeout), c.status);
      EXPECT_EQ(nax::listen_limits().max_unclaimed.load(), c.max_after);
      EXPECT_EQ(nax::listen_limits().claim_timeout_ms.load(), c.timeout_after);
    }
  }
  nax_uninit();
  EXPECT_EQ(e2e::count_log_lines(
                log, "init: set listen limits - max unclaimed = 5, claim timeout = 250 mS", false),
            1);
  EXPECT_EQ(e2e::count_log_lines(log,
                                 "cmd: set listen limits - max unclaimed = 2147483647, claim "
                                 "timeout = 2147483647 mS, ret_val = 1037",
                                 false),
            2);
  EXPECT_EQ(e2e::count_log_lines(log,
                                 "set listen limits - max unclaimed = 3, claim timeout = 1000 mS, "
                                 "ret_val = 1",
                                 false),
            1);
  std::remove(log.c_str());
}

TEST_F(ListenerE2E, FloodBeyondTheCapStaysBoundedAndARealNodeGetsInOnceItAgesOut) {
  constexpr int kCap = 8;
  constexpr int kFlood = 5 * kCap;
  constexpr int32_t kClaimMs = 3000;
  // Per link: one thread; at most two descriptors (socket and stop event).
  constexpr long kDescriptorsPerLink = 2;
  // A link that aged out has freed its record; its thread may still be ending.
  constexpr long kEndingThreads = 2;
  ASSERT_EQ(nax_set_listen_limits(kCap, kClaimMs), NAX_OK);
  const std::string log = ::testing::TempDir() + "flood" + std::to_string(getpid()) + ".log";
  std::remove(log.c_str());
  init_and_listen(log.c_str());
  // Every log line opens the log file for a moment, and the listen thread may
  // still be writing its first ones: the baseline is the quiet count.
  auto quiet = [](int (*count)()) {
    int least = count();
    for (int i = 0; i < 40; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      least = std::min(least, count());
    }
    return least;
  };
  const long threads_before = quiet(test_support::running_threads);
  const long fds_before = quiet(test_support::open_descriptors);
  using test_support::open_descriptors, test_support::running_threads;

  const auto flood_start = Clock::now();
  for (int i = 0; i < kFlood; ++i) {
    const int fd = connect_to_port(port_);
    ASSERT_GE(fd, 0) << "connect " << i;
    clients_.push_back(fd);
  }
  // Every connection beyond the cap is closed at once; watch threads and
  // descriptors while the listener works through the flood.
  long most_threads = 0;
  long most_fds = 0;
  auto closed_count = [&] {
    most_threads = std::max(most_threads, running_threads() - threads_before);
    most_fds = std::max(most_fds, open_descriptors() - fds_before - kFlood);
    int n = 0;
    for (int fd : clients_) n += closed_by_peer(fd) ? 1 : 0;
    return n;
  };
  ASSERT_TRUE(eventually([&] { return closed_count() >= kFlood - kCap; }, 20000));
  EXPECT_EQ(closed_count(), kFlood - kCap);
  EXPECT_EQ(connected_links().size(), static_cast<size_t>(kCap));
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), static_cast<uint32_t>(kCap));
  EXPECT_LE(most_threads, kCap + kEndingThreads);
  EXPECT_LE(most_fds, kCap * kDescriptorsPerLink + 1);  // + one accepted and being refused

  // The links that were let in age out unclaimed; everything they held is freed.
  ASSERT_TRUE(eventually([&] { return closed_count() == kFlood; }, kClaimMs + 20000));
  EXPECT_GE(e2e::elapsed_ms(flood_start), kClaimMs) << "closed before their claim time";
  for (int fd : clients_) close(fd);
  clients_.clear();
  EXPECT_TRUE(eventually([&] {
    return running_threads() == threads_before && open_descriptors() == fds_before &&
           nax::listen_limits().unclaimed.load() == 0;
  })) << "threads "
      << running_threads() - threads_before << ", descriptors " << open_descriptors() - fds_before
      << ", unclaimed " << nax::listen_limits().unclaimed.load() << " left";
  EXPECT_LE(most_threads, kCap + kEndingThreads);

  // A real node now connects in and is accepted; claimed, it outlives the claim time.
  node(9);
  uint32_t status = 0;
  const uint32_t id = accept(0, 9, 0, &status);
  ASSERT_EQ(status, NAX_OK);
  std::this_thread::sleep_for(std::chrono::milliseconds(kClaimMs + 500));
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 9, &t), NAX_OK);

  nax_close_listen(1);
  EXPECT_EQ(e2e::count_log_lines(log, "refused: 8 links not claimed yet", false), kFlood - kCap);
  EXPECT_EQ(e2e::count_log_lines(log, "not claimed within 3000 mS, closed", false), kCap);
  std::remove(log.c_str());
}

}  // namespace
