// Nodes that connect in: the listener, the incoming links and claiming them, and
// the bounds on them: the cap on unclaimed links, the time within which one must be
// claimed, and a connection flood.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <climits>
#include <fstream>
#include <set>

#include "core/lifecycle.h"
#include "e2e_support.h"
#include "link/link.h"

namespace {

using e2e::eventually;
using e2e::kHostNode;
using Clock = std::chrono::steady_clock;

int count_lines_with(const std::string& path, const std::string& text) {
  std::ifstream file(path);
  int n = 0;
  for (std::string line; std::getline(file, line);) n += line.find(text) != std::string::npos;
  return n;
}

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
  void init_and_listen(const char* log_path = nullptr) {
    ASSERT_EQ(nax_init(log_path, log_path != nullptr ? 1 : 0), NAX_OK);
    uint32_t status = 0;
    ASSERT_EQ(nax_listen(&status, 0, 1000, &rec_, e2e::Recorder::conn_cb), 1u);
    ASSERT_EQ(status, NAX_OK);
    port_ = nax::listener_port();
    ASSERT_NE(port_, 0);
  }
  naxsim::Simulator& node(uint16_t number, size_t connections = 1) {
    naxsim::Config config;
    config.node = number;
    config.listen = false;
    sims_.push_back(std::make_unique<naxsim::Simulator>(config));
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

// An unclaimed link refuses commands and settings; a claim for another node or
// port is refused (a given id is tried once) and the link stays claimable.
TEST_F(ListenerE2E, UnclaimedLinkRefusesAllButTheRightClaim) {
  init_and_listen();
  node(5);
  const uint32_t id = one_connected();
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 5, &t), NAX_ERR_LINK_STATE);
  EXPECT_EQ(nax_set_rcv_timeout(static_cast<int32_t>(id), 100), NAX_ERR_LINK_STATE);
  EXPECT_EQ(nax_get_packet_protocol(static_cast<int32_t>(id)), 0);
  uint32_t status = 0;
  const auto start = Clock::now();
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

TEST_F(ListenerE2E, ScanWithNothingWaitingEndsAfterItsBudget) {
  init_and_listen();
  uint32_t id = 0;
  uint16_t n = 0, p = 0;
  const auto start = Clock::now();
  EXPECT_NE(nax_accept(&id, &n, &p, 2, kHostNode, 1000, 1000), NAX_OK);
  EXPECT_EQ(id, 0u);
  EXPECT_GE(e2e::elapsed_ms(start), 400);
  EXPECT_LT(e2e::elapsed_ms(start), 3000);
  EXPECT_EQ(nax_accept(&id, &n, &p, 3, kHostNode, 0, 1000), NAX_ERR_BAD_PROTOCOL);
}

// One listener at a time; closing it keeps the claimed links, and once they and it
// are closed the same port listens again at once and takes nodes.
TEST_F(ListenerE2E, OneListenerAtATimeAndItsPortListensAgainAtOnce) {
  init_and_listen();
  uint32_t status = 0;
  EXPECT_EQ(nax_listen(&status, 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_LISTENER_EXISTS);
  EXPECT_EQ(nax_close_listen(2), NAX_ERR_NO_LISTENER);
  node(9);
  one_connected();
  const int32_t id = static_cast<int32_t>(accept(0, 9, 0, &status));
  ASSERT_EQ(status, NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_ERR_NO_LISTENER);
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(id, 9, &t), NAX_OK);
  // The host closes first: its side of the connection lingers on the port.
  EXPECT_EQ(nax_close(id), NAX_OK);
  EXPECT_EQ(nax_listen(&status, port_, 0, &rec_, e2e::Recorder::conn_cb), 1u);
  EXPECT_EQ(status, NAX_OK);
  node(10);
  EXPECT_TRUE(eventually([&] { return connected_links().size() == 2; }));
}

TEST_F(ListenerE2E, PortHeldByAnotherSocketIsRetriedThenRefused) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  clients_.push_back(socket(AF_INET, SOCK_STREAM, 0));
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  ASSERT_EQ(bind(clients_[0], reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(clients_[0], 1), 0);
  socklen_t len = sizeof addr;
  getsockname(clients_[0], reinterpret_cast<sockaddr*>(&addr), &len);
  uint32_t status = 0;
  const auto start = Clock::now();
  EXPECT_EQ(nax_listen(&status, ntohs(addr.sin_port), 500, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_PORT_IN_USE);
  EXPECT_GE(e2e::elapsed_ms(start), 450);  // five retries 100 ms apart
  EXPECT_LT(e2e::elapsed_ms(start), 5000);
  EXPECT_EQ(nax_close_listen(1), NAX_ERR_NO_LISTENER);  // nothing was left behind
}

TEST_F(ListenerE2E, NodeWithoutConnectionCallbackStillBecomesAClaimableLink) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, 0, 0, nullptr, nullptr), 1u);
  port_ = nax::listener_port();
  node(3);
  uint32_t id = 0;
  uint16_t n = 0, p = 0;
  EXPECT_EQ(nax_accept(&id, &n, &p, 1, kHostNode, 3000, 1000), NAX_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(nax_close(static_cast<int32_t>(id)), NAX_OK);
}

TEST_F(ListenerE2E, UnclaimedQuietLinkIsGivenUpUnderKeepalive) {
  ASSERT_EQ(nax_set_keepalive(200, 2, 0xFFFF), NAX_OK);
  init_and_listen();
  naxsim::Simulator& sim = node(1);
  const int32_t id = static_cast<int32_t>(one_connected());
  // Its keepalives are refused (not claimed) yet count: the link goes away.
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(id, 1, &t), NAX_ERR_LINK_STATE);
  EXPECT_TRUE(eventually([&] { return nax_get_time(id, 1, &t) == NAX_ERR_LINK_UNAVAILABLE; }));
  EXPECT_EQ(sim.keepalives_received(), 0u);
  EXPECT_EQ(rec_.conn_count(), 1u);  // the listener's callback is not the link's
}

// Peers that connect and hang up at once (port scanners, health checks) must not
// stall the listener: the node after them is reported and served.
TEST_F(ListenerE2E, PeersHangingUpAtOnceDoNotStallTheListener) {
  init_and_listen();
  for (int i = 0; i < 20; ++i) {
    const int fd = connect_to_port(port_);
    ASSERT_GE(fd, 0);
    close(fd);
  }
  node(42);
  uint32_t status = 0;
  uint16_t reported = 0;
  accept(0, 42, 0, &status, &reported);
  ASSERT_EQ(status, NAX_OK);
  EXPECT_EQ(reported, 42);
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
  EXPECT_EQ(
      count_lines_with(log, "init: set listen limits - max unclaimed = 5, claim timeout = 250 mS"),
      1);
  EXPECT_EQ(count_lines_with(log,
                             "cmd: set listen limits - max unclaimed = 2147483647, claim "
                             "timeout = 2147483647 mS, ret_val = 1037"),
            2);
  EXPECT_EQ(count_lines_with(log,
                             "set listen limits - max unclaimed = 3, claim timeout = 1000 mS, "
                             "ret_val = 1"),
            1);
  std::remove(log.c_str());
}

TEST_F(ListenerE2E, UnclaimedLinkIsClosedAtItsClaimTimeAndAClaimedOneStays) {
  constexpr int32_t kClaimMs = 400;
  ASSERT_EQ(nax_set_listen_limits(10, kClaimMs), NAX_OK);
  init_and_listen();
  // A node nobody claims: the simulator sees its connection closed, no sooner than the claim time.
  const auto start = Clock::now();
  naxsim::Simulator& first = node(4);
  uint32_t id = one_connected();
  ASSERT_TRUE(eventually([&] { return first.connection_count() == 0; }));
  EXPECT_GE(e2e::elapsed_ms(start), kClaimMs);
  EXPECT_TRUE(eventually([] { return nax::listen_limits().unclaimed.load() == 0; }));
  uint16_t node_number = 0, port = 0;
  EXPECT_EQ(nax_accept(&id, &node_number, &port, 2, kHostNode, 0, 500), NAX_ERR_LINK_UNAVAILABLE);

  // A node claimed in time outlives the claim time.
  naxsim::Simulator& second = node(6);
  ASSERT_TRUE(eventually([&] { return connected_links().size() == 2; }));
  uint32_t claimed = static_cast<uint32_t>(connected_links()[1]);
  ASSERT_EQ(nax_accept(&claimed, &node_number, &port, 2, kHostNode, 1000, 1000), NAX_OK);
  EXPECT_EQ(node_number, 6);
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * kClaimMs));
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(claimed), 6, &t), NAX_OK);
  EXPECT_EQ(second.connection_count(), 1u);
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
  const auto threads_now = [] { return long{test_support::running_threads()}; };
  const auto descriptors_now = [] { return long{test_support::open_descriptors()}; };

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
    most_threads = std::max(most_threads, threads_now() - threads_before);
    most_fds = std::max(most_fds, descriptors_now() - fds_before - kFlood);
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
  for (int fd : clients_) close(fd);
  clients_.clear();
  EXPECT_TRUE(eventually([&] {
    return threads_now() == threads_before && descriptors_now() == fds_before &&
           nax::listen_limits().unclaimed.load() == 0;
  })) << "threads "
      << threads_now() - threads_before << ", descriptors " << descriptors_now() - fds_before
      << ", unclaimed " << nax::listen_limits().unclaimed.load() << " left";
  EXPECT_LE(most_threads, kCap + kEndingThreads);

  // A real node now connects in and is accepted.
  node(9);
  ASSERT_TRUE(
      eventually([&] { return connected_links().size() == static_cast<size_t>(kCap + 1); }));
  uint32_t id = static_cast<uint32_t>(connected_links().back());
  uint16_t node_number = 0, port = 0;
  ASSERT_EQ(nax_accept(&id, &node_number, &port, 2, kHostNode, 1000, 1000), NAX_OK);
  EXPECT_EQ(node_number, 9);
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 9, &t), NAX_OK);

  nax_close_listen(1);
  EXPECT_EQ(count_lines_with(log, "refused: 8 links not claimed yet"), kFlood - kCap);
  EXPECT_EQ(count_lines_with(log, "not claimed within 3000 mS, closed"), kCap);
  std::remove(log.c_str());
}

TEST_F(ListenerE2E, CapZeroLetsEveryNodeIn) {
  ASSERT_EQ(nax_set_listen_limits(0, 0), NAX_OK);
  init_and_listen();
  for (int i = 0; i < 20; ++i) {
    clients_.push_back(connect_to_port(port_));
    ASSERT_GE(clients_.back(), 0);
  }
  ASSERT_TRUE(eventually([&] { return connected_links().size() == 20; }));
  EXPECT_EQ(std::count_if(clients_.begin(), clients_.end(), closed_by_peer), 0);
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), 20u);
  for (int32_t id : connected_links()) EXPECT_EQ(nax_close(id), NAX_OK);
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), 0u);
}

}  // namespace
