// The DLL end to end under Wine: links out over TCP, nodes connecting in,
// a serial line through a mapped COM port, and every fault the simulator
// injects, through the exported functions only.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "remote_sim.h"

namespace {

using wine::kHostNode;
using wine::kSimNode;

class WineE2E : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(wine::control("faults"), "ok") << "is the simulator's control channel up?";
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  }
  void TearDown() override {
    for (uint32_t id : links_) nax_close(static_cast<int32_t>(id));
    wine::control("faults");
    nax_uninit();
    nax_set_keepalive(0, 0, 0xFFFF);
  }
  uint32_t open(const std::string& conn, uint8_t protocol, int32_t rcv_timeout_ms = 500) {
    uint32_t status = 0;
    uint32_t id =
        nax_open(&status, kHostNode, protocol, conn.c_str(), 1000, &rec_, wine::Recorder::user_cb,
                 wine::Recorder::aux_cb, wine::Recorder::conn_cb);
    EXPECT_EQ(status, NAX_OK) << conn;
    if (id != 0) {
      links_.push_back(id);
      EXPECT_EQ(nax_set_rcv_timeout(static_cast<int32_t>(id), rcv_timeout_ms), NAX_OK);
    }
    return id;
  }
  void forget(uint32_t id) { std::erase(links_, id); }

  wine::Recorder rec_;
  std::vector<uint32_t> links_;
};

// Every transport in both protocols.
struct Route {
  const char* name;
  bool serial;
  uint8_t protocol;
};

class WineLinks : public WineE2E, public ::testing::WithParamInterface<Route> {
 protected:
  void SetUp() override {
    WineE2E::SetUp();
    if (GetParam().serial) {
      ASSERT_TRUE(wine::fresh_serial_line());
    }
  }
  std::string conn() const {
    return GetParam().serial ? wine::sim_com() + ":115200" : wine::sim_conn();
  }
};

TEST_P(WineLinks, SetTimeThenGetTimeReadsTheNodeClockBack) {
  int32_t link = static_cast<int32_t>(open(conn(), GetParam().protocol));
  ASSERT_NE(link, 0);
  nax_date_time set{10, 20, 30, 24, 2, 29, 4};
  ASSERT_EQ(nax_set_time(link, kSimNode, &set), NAX_OK);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  EXPECT_EQ(got.year, 24);
  EXPECT_EQ(got.month, 2);
  EXPECT_EQ(got.day, 29);
  EXPECT_EQ(got.hour, 10);
  EXPECT_EQ(got.minute, 20);
  EXPECT_GE(got.second, 30);
  EXPECT_LE(got.second, 33);
  EXPECT_EQ(nax_get_packet_protocol(link), GetParam().protocol);
}

TEST_P(WineLinks, EachTransactionFailureIsReportedWithItsStatus) {
  const bool p1 = GetParam().protocol == 1;
  struct Case {
    const char* faults;
    uint32_t expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"", NAX_OK},
      {"no-answer", NAX_ERR_NO_ANSWER},
      {"answer-from=99", NAX_ERR_OTHER_NODE},
      {"answer-cmd=0x1234", NAX_ERR_OTHER_COMMAND},
      {"answer-to=0x0999", NAX_ERR_NO_ANSWER},
      {"bad-crc", NAX_ERR_NO_ANSWER},
      {"split-bytes", NAX_OK},
      {"delay=200", NAX_OK},
      {"delay=1500", NAX_ERR_NO_ANSWER},
      {"truncate=3", NAX_ERR_SHORT_ANSWER},
      {"garbage=14", NAX_OK},
      {"garbage=3", p1 ? NAX_ERR_NO_ANSWER : NAX_OK},
      {p1 ? "" : "refuse-status=17", p1 ? uint32_t{NAX_OK} : 17u},  // the node's own status
  };
  // clang-format on
  int32_t link = static_cast<int32_t>(open(conn(), GetParam().protocol, 1000));
  ASSERT_NE(link, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    ASSERT_EQ(wine::control(std::string("faults ") + c.faults), "ok");
    nax_date_time got{};
    EXPECT_EQ(nax_get_time(link, kSimNode, &got), c.expected);
    // A late answer lands before the next case clears the mailbox.
    if (std::string(c.faults) == "delay=1500") Sleep(700);
  }
  ASSERT_EQ(wine::control("faults"), "ok");
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);  // the link survived them all
}

TEST_P(WineLinks, EventsReachTheCallbacks) {
  const bool p2 = GetParam().protocol == 2;
  int32_t link = static_cast<int32_t>(open(conn(), GetParam().protocol));
  ASSERT_NE(link, 0);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);  // the simulator learns the protocol
  ASSERT_EQ(wine::control("user 12345678 3 1 1"), "ok");
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.users) == 1; }));
  EXPECT_EQ(rec_.users[0].id, 12345678u);
  EXPECT_EQ(rec_.users[0].index, 3);
  if (p2) {
    ASSERT_EQ(wine::control("aux 2 1"), "ok");
    ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.aux) == 1; }));
    EXPECT_EQ(rec_.aux[0].aux_input, 2);
    EXPECT_EQ(rec_.aux[0].aux_value, 1);
  }
  // Events sent on their own schedule keep coming while commands run.
  ASSERT_EQ(wine::control("faults events-every=50"), "ok");
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.users) >= 4; }));
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
}

TEST_P(WineLinks, CloseEndsAnIdleLinkAndIsRefusedTheSecondTime) {
  int32_t link = static_cast<int32_t>(open(conn(), GetParam().protocol));
  ASSERT_NE(link, 0);
  EXPECT_EQ(nax_close(link), NAX_OK);
  forget(static_cast<uint32_t>(link));
  EXPECT_EQ(nax_close(link), NAX_ERR_LINK_UNAVAILABLE);
  EXPECT_EQ(rec_.size_of(rec_.conn), 0u);  // the host's own close is not reported back
}

// A connection whose other end hangs up is a lost link, reported once, and a
// command waiting on it ends at once instead of running into its time-out.  A
// serial line's failing reads are retried: its keepalive finds the node gone.
TEST_P(WineLinks, HangUpOfTheOtherEndIsALostLink) {
  const bool serial = GetParam().serial;
  if (serial) {
    ASSERT_EQ(nax_uninit(), NAX_OK);
    ASSERT_EQ(nax_set_keepalive(300, 1, 0xFFFF), NAX_OK);
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  }
  int32_t link = static_cast<int32_t>(open(conn(), GetParam().protocol, 20000));
  ASSERT_NE(link, 0);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  ASSERT_EQ(wine::control("faults no-answer"), "ok");
  ASSERT_EQ(wine::control("drop"), "ok");
  const uint32_t waited = nax_get_time(link, kSimNode, &got);
  if (serial) {  // the request cannot be written (1020), or the keepalive gives up first
    EXPECT_TRUE(waited == NAX_ERR_IO || waited == NAX_ERR_NODE_LOST) << waited;
  } else {
    EXPECT_TRUE(waited == NAX_ERR_CONN_CLOSED || waited == NAX_ERR_LINK_UNAVAILABLE) << waited;
  }
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.conn) >= 1; }));
  EXPECT_EQ(rec_.conn[0], std::make_pair(link, static_cast<uint32_t>(serial ? NAX_CONN_NO_KEEPALIVE
                                                                            : NAX_CONN_LOST)));
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_ERR_LINK_UNAVAILABLE);
  forget(static_cast<uint32_t>(link));
  Sleep(300);
  EXPECT_EQ(rec_.size_of(rec_.conn), 1u);  // reported once, not once per failed read
}

std::string route_name(const ::testing::TestParamInfo<Route>& route) {
  return route.param.name;
}

INSTANTIATE_TEST_SUITE_P(Routes, WineLinks,
                         ::testing::Values(Route{"tcp_p1", false, 1}, Route{"tcp_p2", false, 2},
                                           Route{"com_p1", true, 1}, Route{"com_p2", true, 2}),
                         route_name);

TEST_F(WineE2E, DroppedConnectionEndsTheWaitingCommandAndIsReported) {
  int32_t link = static_cast<int32_t>(open(wine::sim_conn(), 2, 20000));
  ASSERT_NE(link, 0);
  ASSERT_EQ(wine::control("faults drop-mid-frame"), "ok");
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_ERR_CONN_CLOSED);
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.conn) == 1; }));
  EXPECT_EQ(rec_.conn[0], std::make_pair(link, static_cast<uint32_t>(NAX_CONN_LOST)));
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_ERR_LINK_UNAVAILABLE);
  forget(static_cast<uint32_t>(link));
}

TEST_F(WineE2E, NodeThatIgnoresKeepalivesIsGivenUp) {
  ASSERT_EQ(nax_uninit(), NAX_OK);
  ASSERT_EQ(nax_set_keepalive(300, 2, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  int32_t link = static_cast<int32_t>(open(wine::sim_conn(), 2));
  ASSERT_NE(link, 0);
  const unsigned long before = wine::counts().keepalives;
  ASSERT_TRUE(wine::eventually([&] { return wine::counts().keepalives >= before + 1; }));
  ASSERT_EQ(wine::control("faults ignore-keepalives"), "ok");
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.conn) == 1; }));
  EXPECT_EQ(rec_.conn[0], std::make_pair(link, static_cast<uint32_t>(NAX_CONN_NO_KEEPALIVE)));
  forget(static_cast<uint32_t>(link));
  ASSERT_EQ(nax_uninit(), NAX_OK);
  ASSERT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
}

TEST_F(WineE2E, ConnectionStringsAreCheckedAsOnEveryPlatform) {
  struct Case {
    std::string conn;
    uint8_t protocol;
    uint32_t expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"127.0.0.1", 2, NAX_ERR_BAD_CONN_STRING},
      {"127.0.0.1:30a1", 2, NAX_ERR_BAD_CONN_STRING},
      {"127.0.0.1:1", 3, NAX_ERR_BAD_PROTOCOL},
      {"255.255.255.255:3001", 1, NAX_ERR_BAD_ADDRESS},
      {"ttyS0:9600", 1, NAX_ERR_SERIAL_OPEN},         // tty names are not ports on Windows
      {"COM0:9600", 1, NAX_ERR_SERIAL_OPEN},
      {"COM257:9600", 1, NAX_ERR_SERIAL_OPEN},
      {"COM255:9600", 1, NAX_ERR_SERIAL_OPEN},        // a name that is no port here
      {wine::sim_com() + ":4800", 1, NAX_ERR_BAD_BAUD_RATE},
  };
  // clang-format on
  ASSERT_TRUE(wine::fresh_serial_line());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conn);
    uint32_t status = 0;
    EXPECT_EQ(
        nax_open(&status, 1, c.protocol, c.conn.c_str(), 200, nullptr, nullptr, nullptr, nullptr),
        0u);
    EXPECT_EQ(status, c.expected);
  }
  // Host names resolve; the port is in any letter case of "com" too.
  uint32_t by_name = open("localhost:" + wine::env("NAXSIM_PORT"), 2);
  EXPECT_NE(by_name, 0u);
  std::string lower = wine::sim_com();
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  uint32_t serial = open(lower + ":57600", 1);
  ASSERT_NE(serial, 0u);
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(serial), kSimNode, &got), NAX_OK);
}

TEST_F(WineE2E, PortWithoutListenerIsRefused) {
  uint32_t status = 0;
  const std::string conn = "127.0.0.1:" + wine::env("NAXSIM_FREE_PORT");
  EXPECT_EQ(nax_open(&status, 1, 2, conn.c_str(), 1000, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_TRUE(status == NAX_ERR_CONN_REFUSED || status == NAX_ERR_CONNECT) << status;
}

class WineListener : public WineE2E {
 protected:
  uint16_t port() const {
    return static_cast<uint16_t>(std::atoi(wine::env("NAXSIM_LISTEN_PORT").c_str()));
  }
};

TEST_F(WineListener, NodesConnectInAndAreClaimedWithAccept) {
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, port(), 1000, &rec_, wine::Recorder::conn_cb), 1u);
  ASSERT_EQ(status, NAX_OK);
  ASSERT_EQ(wine::control("connect 127.0.0.1 " + std::to_string(port()) + " 2"), "ok");
  ASSERT_TRUE(wine::eventually([&] { return rec_.size_of(rec_.conn) == 2; }));
  for (const auto& c : rec_.conn) EXPECT_EQ(c.second, static_cast<uint32_t>(NAX_CONN_CONNECTED));
  nax_date_time got{};
  // Unclaimed links take no commands.
  EXPECT_EQ(nax_get_time(rec_.conn[0].first, kSimNode, &got), NAX_ERR_LINK_STATE);
  for (int i = 0; i < 2; ++i) {
    uint32_t id = 0;
    uint16_t node = 0;
    uint16_t p = 0;
    ASSERT_EQ(nax_accept(&id, &node, &p, 2, kHostNode, 5000, 1000), NAX_OK);
    links_.push_back(id);
    EXPECT_EQ(node, kSimNode);
    EXPECT_EQ(p, port());
    EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), kSimNode, &got), NAX_OK);
  }
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  // Links made by the listener outlive it.
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(links_[0]), kSimNode, &got), NAX_OK);
}

TEST_F(WineListener, PortIsFreeAgainAtOnceButNotWhileAnotherListenerHoldsIt) {
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, port(), 1000, nullptr, nullptr), 1u);
  ASSERT_EQ(wine::control("connect 127.0.0.1 " + std::to_string(port()) + " 1"), "ok");
  uint32_t id = 0;
  uint16_t node = 0;
  uint16_t p = 0;
  ASSERT_EQ(nax_accept(&id, &node, &p, 2, kHostNode, 5000, 1000), NAX_OK);
  EXPECT_EQ(nax_close(static_cast<int32_t>(id)), NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  // Listening again on the same port at once.
  EXPECT_EQ(nax_listen(&status, port(), 0, nullptr, nullptr), 1u);
  EXPECT_EQ(status, NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_OK);

  // A live listener of somebody else keeps the port.
  SOCKET other = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  ASSERT_NE(other, INVALID_SOCKET);
  sockaddr_in local{};
  local.sin_family = AF_INET;
  local.sin_port = htons(port());
  local.sin_addr.s_addr = htonl(INADDR_ANY);
  ASSERT_EQ(bind(other, reinterpret_cast<sockaddr*>(&local), sizeof local), 0);
  ASSERT_EQ(listen(other, 4), 0);
  EXPECT_EQ(nax_listen(&status, port(), 300, nullptr, nullptr), 0u);
  EXPECT_EQ(status, NAX_ERR_PORT_IN_USE);
  closesocket(other);
}

}  // namespace
