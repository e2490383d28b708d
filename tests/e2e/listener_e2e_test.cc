// Nodes that connect in: the listener, the incoming links, and claiming them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>

#include "e2e_support.h"
#include "link/link.h"

namespace {

using e2e::kHostNode;
using Clock = std::chrono::steady_clock;

class ListenerE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
    uint32_t status = 0;
    ASSERT_EQ(nax_listen(&status, 0, 1000, &rec_, e2e::Recorder::conn_cb), 1u);
    ASSERT_EQ(status, NAX_OK);
    port_ = nax::listener_port();
    ASSERT_NE(port_, 0);
  }
  void TearDown() override {
    nax_close_listen(1);
    // Every link the listener made, claimed or not, is the host's to close.
    for (int32_t id : connected_links()) nax_close(id);
    for (auto& s : sims_) s->stop();
    nax_uninit();
  }
  naxsim::Simulator& node(uint16_t number, size_t connections = 1) {
    naxsim::Config config;
    config.node = number;
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
};

TEST_F(ListenerE2E, FiftyNodesConnectingAtOnceAreReportedClaimedAndServed) {
  for (uint16_t n = 1; n <= 50; ++n) node(n);
  ASSERT_TRUE(e2e::eventually([&] { return connected_links().size() == 50; }, 10000));
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
}

TEST_F(ListenerE2E, UnclaimedLinksRefuseCommandsAndSettings) {
  node(5);
  ASSERT_TRUE(e2e::eventually([&] { return connected_links().size() == 1; }));
  int32_t id = connected_links()[0];
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(id, 5, &t), NAX_ERR_LINK_STATE);
  EXPECT_EQ(nax_set_rcv_timeout(id, 100), NAX_ERR_LINK_STATE);
  EXPECT_EQ(nax_get_packet_protocol(id), 0);
}

TEST_F(ListenerE2E, WrongNodeNumberIsRefusedAndTheLinkStaysClaimable) {
  node(5);
  ASSERT_TRUE(e2e::eventually([&] { return connected_links().size() == 1; }));
  uint32_t id = static_cast<uint32_t>(connected_links()[0]);
  uint32_t status = 0;
  auto start = Clock::now();
  EXPECT_EQ(accept(id, 7, 0, &status), id);
  EXPECT_EQ(status, NAX_ERR_NODE_NUMBER);
  EXPECT_LT(e2e::elapsed_ms(start), 1500);  // a given id is tried once
  uint16_t reported = 0;
  EXPECT_EQ(accept(id, 5, 0, &status, &reported), id);
  EXPECT_EQ(status, NAX_OK);
  EXPECT_EQ(reported, 5);
  EXPECT_EQ(accept(id, 0, 0, &status), id);  // already claimed
  EXPECT_EQ(status, NAX_ERR_LINK_STATE);
}

TEST_F(ListenerE2E, PortFilter) {
  node(5);
  ASSERT_TRUE(e2e::eventually([&] { return connected_links().size() == 1; }));
  uint32_t id = static_cast<uint32_t>(connected_links()[0]);
  uint32_t status = 0;
  accept(id, 0, static_cast<uint16_t>(port_ + 1), &status);
  EXPECT_EQ(status, NAX_ERR_OTHER_PORT);
  uint16_t p = port_;
  uint16_t n = 0;
  uint32_t any = 0;
  EXPECT_EQ(nax_accept(&any, &n, &p, 2, kHostNode, 500, 1000), NAX_OK);
  EXPECT_EQ(p, port_);
}

TEST_F(ListenerE2E, ScanWithNothingWaitingEndsAfterItsBudget) {
  uint32_t id = 0;
  uint16_t n = 0, p = 0;
  auto start = Clock::now();
  uint32_t status = nax_accept(&id, &n, &p, 2, kHostNode, 1000, 1000);
  EXPECT_NE(status, NAX_OK);
  EXPECT_EQ(id, 0u);
  EXPECT_GE(e2e::elapsed_ms(start), 400);
  EXPECT_LT(e2e::elapsed_ms(start), 3000);
  EXPECT_EQ(nax_accept(&id, &n, &p, 3, kHostNode, 0, 1000), NAX_ERR_BAD_PROTOCOL);
}

TEST_F(ListenerE2E, OneListenerOnlyAndCloseKeepsClaimedLinks) {
  uint32_t status = 0;
  EXPECT_EQ(nax_listen(&status, 0, 0, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_LISTENER_EXISTS);
  EXPECT_EQ(nax_close_listen(2), NAX_ERR_NO_LISTENER);
  node(9);
  ASSERT_TRUE(e2e::eventually([&] { return connected_links().size() == 1; }));
  uint32_t id = accept(0, 9, 0, &status);
  ASSERT_EQ(status, NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_ERR_NO_LISTENER);
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 9, &t), NAX_OK);
}

TEST_F(ListenerE2E, SamePortListensAgainAtOnceOnceItsLinksAndListenerAreClosed) {
  node(9);
  ASSERT_TRUE(e2e::eventually([&] { return connected_links().size() == 1; }));
  uint32_t status = 0;
  uint32_t id = accept(0, 9, 0, &status);
  ASSERT_EQ(status, NAX_OK);
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 9, &t), NAX_OK);
  // The host closes first: its side of the connection lingers on the port.
  EXPECT_EQ(nax_close(static_cast<int32_t>(id)), NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  EXPECT_EQ(nax_listen(&status, port_, 0, &rec_, e2e::Recorder::conn_cb), 1u);
  EXPECT_EQ(status, NAX_OK);
  // And it takes nodes again.
  node(10);
  ASSERT_TRUE(e2e::eventually([&] { return connected_links().size() == 2; }));
}

TEST(Listener, PortHeldByAnotherSocketIsRetriedThenRefused) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  int holder = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(holder, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
  ASSERT_EQ(listen(holder, 1), 0);
  socklen_t len = sizeof addr;
  getsockname(holder, reinterpret_cast<sockaddr*>(&addr), &len);
  uint32_t status = 0;
  auto start = Clock::now();
  EXPECT_EQ(nax_listen(&status, ntohs(addr.sin_port), 500, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_PORT_IN_USE);
  EXPECT_GE(e2e::elapsed_ms(start), 450);  // five retries 100 ms apart
  close(holder);
  EXPECT_EQ(nax_close_listen(1), NAX_ERR_NO_LISTENER);  // nothing was left behind
  nax_uninit();
}

TEST(Listener, NodeWithoutConnectionCallbackStillBecomesAClaimableLink) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, 0, 0, nullptr, nullptr), 1u);
  naxsim::Config config;
  config.node = 3;
  naxsim::Simulator sim(config);
  ASSERT_TRUE(sim.start());
  ASSERT_TRUE(sim.connect_to("127.0.0.1", nax::listener_port()));
  uint32_t id = 0;
  uint16_t n = 0, p = 0;
  EXPECT_EQ(nax_accept(&id, &n, &p, 1, kHostNode, 3000, 1000), NAX_OK);
  EXPECT_EQ(n, 3);
  EXPECT_EQ(nax_close(static_cast<int32_t>(id)), NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  sim.stop();
  nax_uninit();
}

TEST(Listener, UnclaimedQuietLinkIsGivenUpUnderKeepalive) {
  ASSERT_EQ(nax_set_keepalive(200, 2, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  e2e::Recorder rec;
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, 0, 0, &rec, e2e::Recorder::conn_cb), 1u);
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  ASSERT_TRUE(sim.connect_to("127.0.0.1", nax::listener_port()));
  ASSERT_TRUE(e2e::eventually([&] { return rec.conn_count() == 1; }));
  int32_t id = rec.conn[0].first;
  // Its keepalives are refused (not claimed) yet count: the link goes away.
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(id, 1, &t), NAX_ERR_LINK_STATE);
  ASSERT_TRUE(
      e2e::eventually([&] { return nax_get_time(id, 1, &t) == NAX_ERR_LINK_UNAVAILABLE; }, 5000));
  EXPECT_EQ(sim.keepalives_received(), 0u);
  EXPECT_EQ(rec.conn_count(), 1u);  // the listener's callback is not the link's
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  sim.stop();
  nax_uninit();
}

}  // namespace

namespace {

// Peers that connect and hang up at once (port scanners, health checks) must not stall the
// listener: each is reported or not, and the node after them is reported and served.
TEST_F(ListenerE2E, PeersHangingUpAtOnceDoNotStallTheListener) {
  for (int i = 0; i < 20; ++i) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port_);
    ASSERT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    ::close(fd);
  }
  node(42);
  uint32_t status = 0;
  uint16_t reported = 0;
  accept(0, 42, 0, &status, &reported);
  ASSERT_EQ(status, NAX_OK);
  EXPECT_EQ(reported, 42);
}

}  // namespace
