// Links end to end on every platform, over TCP and a serial line in both
// protocols: the clock, every failure a transaction can meet, line noise,
// events, keepalives, loss, close and nodes that connect in.
#include <cctype>
#include <cstdio>
#include <thread>
#include <tuple>

#include "e2e_support.h"

namespace {

using e2e::elapsed_ms;
using e2e::eventually;
using e2e::kHostNode;
using e2e::kSimNode;
using Clock = std::chrono::steady_clock;

void pause_ms(int ms) {
  std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

class LinkE2E : public e2e::RouteFixture {};

TEST_P(LinkE2E, SetTimeThenGetTimeReadsTheNodeClockBack) {
  const int32_t link = open_route();
  nax_date_time set{10, 20, 30, 24, 2, 29, 4};
  ASSERT_EQ(nax_set_time(link, kSimNode, &set), NAX_OK);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  EXPECT_EQ(std::tuple(got.year, got.month, got.day, got.hour, got.minute, got.weekday),
            std::tuple(24, 2, 29, 10, 20, 4));
  EXPECT_TRUE(got.second >= 30 && got.second <= 33) << int{got.second};
}

TEST_P(LinkE2E, EachTransactionFailureIsReportedWithItsStatus) {
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
      {"answer-to=0x0999", NAX_ERR_NO_ANSWER},   // addressed elsewhere: dropped
      {"bad-crc", NAX_ERR_NO_ANSWER},
      {"split-bytes", NAX_OK},
      {"delay=200", NAX_OK},
      {"truncate=3", NAX_ERR_SHORT_ANSWER},
      // Protocol 2 hunts the start byte; protocol 1 finds a frame again only
      // on a 7-byte window boundary.
      {"garbage=14", NAX_OK},
      {"garbage=3", p1() ? uint32_t{NAX_ERR_NO_ANSWER} : uint32_t{NAX_OK}},
      {p1() ? "" : "refuse-status=17", p1() ? uint32_t{NAX_OK} : 17u},  // the node's own status
      {"delay=1500", NAX_ERR_NO_ANSWER},
  };
  // clang-format on
  const int32_t link = open_route(1000);
  // A frame left half-assembled (the protocol-1 frame off the window boundary)
  // is dropped 300 ms after its last byte, long before the next case starts.
  ASSERT_EQ(nax_set_interbyte_timeout(link, 300), NAX_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.faults);
    ASSERT_EQ(node_.control(std::string("faults ") + c.faults), "ok");
    nax_date_time got{};
    const auto start = Clock::now();
    EXPECT_EQ(nax_get_time(link, kSimNode, &got), c.expected);
    // No answer is declared once the whole receive time-out has passed, not
    // before (5 ms for the two clocks reading apart) and not much later.
    if (c.expected == NAX_ERR_NO_ANSWER) {
      EXPECT_GE(elapsed_ms(start), 995);
      EXPECT_LT(elapsed_ms(start), 2500);
    }
  }
  pause_ms(700);  // the late answer lands before the mailbox is cleared again
  ASSERT_EQ(node_.control("faults"), "ok");
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);  // the link survived them all
}

// Half a frame of line noise is given up once the line has been quiet for the
// inter-byte time-out, so the node's next answer does not land glued onto it.
TEST_P(LinkE2E, HalfAFrameOfNoiseIsDroppedAfterTheInterbyteTimeout) {
  const int32_t link = open_route(3000);
  ASSERT_EQ(nax_set_interbyte_timeout(link, 100), NAX_OK);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);  // the node learns our protocol
  ASSERT_EQ(node_.control("faults cut-events"), "ok");
  ASSERT_EQ(node_.control("user 1 0 1 1"), "ok");
  ASSERT_EQ(node_.control("faults"), "ok");
  pause_ms(500);
  const auto start = Clock::now();
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  EXPECT_LT(elapsed_ms(start), 2500);
  EXPECT_EQ(rec_.user_count(), 0u);
}

TEST_P(LinkE2E, EventsReachTheCallbacksWithTheirFields) {
  const int32_t link = open_route();
  nax_date_time set{8, 30, 0, 4, 3, 15, 6};
  ASSERT_EQ(nax_set_time(link, kSimNode, &set), NAX_OK);  // the node learns our protocol
  ASSERT_EQ(node_.control("user 87654321 5 106 2"), "ok");
  ASSERT_TRUE(eventually([&] { return rec_.user_count() == 1; }));
  const nax_user_event& got = rec_.users[0];
  // Protocol 1 maps its event word 106 to the same event.
  EXPECT_EQ(std::tuple(got.id, got.index, got.event, got.direction, rec_.user_nodes[0]),
            std::tuple(87654321u, 5, 106, 2, uint32_t{kSimNode}));
  EXPECT_EQ(std::tuple(got.time.year, got.time.month, got.time.day, got.time.hour, got.time.minute),
            std::tuple(4, 3, 15, 8, 30));
  EXPECT_LE(got.time.second, 3);
  if (!p1()) {
    ASSERT_EQ(node_.control("aux 2 165"), "ok");
    ASSERT_TRUE(eventually([&] { return rec_.size_of(rec_.aux) == 1; }));
    EXPECT_EQ(std::tuple(rec_.aux[0].aux_input, rec_.aux[0].aux_value, rec_.aux[0].time.day),
              std::tuple(2, 165, 15));
  }
  // Events sent on their own schedule keep coming while commands run.
  ASSERT_EQ(node_.control("faults events-every=50"), "ok");
  ASSERT_TRUE(eventually([&] { return rec_.user_count() >= 4; }));
  nax_date_time now{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &now), NAX_OK);
  // Without a callback an event is absorbed and the link keeps answering.
  ASSERT_EQ(nax_set_user_callback(link, nullptr), NAX_OK);
  const size_t seen = rec_.user_count();
  pause_ms(200);
  EXPECT_EQ(nax_get_time(link, kSimNode, &now), NAX_OK);
  EXPECT_EQ(rec_.user_count(), seen);
}

// A command waiting on a link that its node drops, or that another thread
// closes, ends at once instead of running into its time-out; only the loss is
// reported back, once, and the host's own close not at all.
TEST_P(LinkE2E, DropOrCloseEndsAWaitingCommandAtOnce) {
  const struct {
    const char* how;
    size_t reports;
  } cases[] = {{"drop-mid-frame", 1}, {"drop", 1}, {"close", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.how);
#ifdef _WIN32
    // A Windows serial port whose other end hangs up fails its reads, which are
    // retried; the keepalive finds the node gone (a test of its own).
    if (GetParam().serial && std::string(c.how) != "close") continue;
#endif
    rec_.conn.clear();
    if (GetParam().serial) conn_ = node_.serial() + ":115200";
    const int32_t link = open_route(20000);
    const std::string how = c.how;
    ASSERT_EQ(node_.control(how == "drop-mid-frame" ? "faults drop-mid-frame" : "faults no-answer"),
              "ok");
    const unsigned long before = node_.counts().requests;
    std::atomic<uint32_t> result{0};
    const auto start = Clock::now();
    std::thread command([&] {
      nax_date_time got{};
      result = nax_get_time(link, kSimNode, &got);
    });
    if (how != "drop-mid-frame") {
      // Once the command is surely waiting for its answer.
      EXPECT_TRUE(eventually([&] { return node_.counts().requests > before; }));
      pause_ms(50);
      if (how == "drop") {
        EXPECT_EQ(node_.control("drop"), "ok");
      } else {
        EXPECT_EQ(nax_close(link), NAX_OK);
      }
    }
    command.join();
    forget(link);
    EXPECT_EQ(result.load(), NAX_ERR_CONN_CLOSED);
    EXPECT_LT(elapsed_ms(start), 10000);  // far from the receive time-out
    ASSERT_TRUE(eventually([&] { return rec_.conn_count() == c.reports; }));
    pause_ms(300);
    EXPECT_EQ(rec_.conn_count(), c.reports);  // reported once, not once per failed read
    if (c.reports != 0) {
      EXPECT_EQ(rec_.conn[0], std::make_pair(link, uint32_t{NAX_CONN_LOST}));
    }
    // The link frees itself after the callback: its id is no longer usable.
    nax_date_time got{};
    EXPECT_TRUE(
        eventually([&] { return nax_get_time(link, kSimNode, &got) == NAX_ERR_LINK_UNAVAILABLE; }));
    ASSERT_EQ(node_.control("faults"), "ok");
  }
}

INSTANTIATE_TEST_SUITE_P(Routes, LinkE2E, e2e::routes(), e2e::route_name);

// Keepalives: exactly the retry count sent to a silent node, then the node is
// given up and a waiting command learns why.
class KeepaliveE2E : public e2e::NodeFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  void SetUp() override {
    // Keepalive settings can only be made before the library starts.
    ASSERT_EQ(nax_set_keepalive(300, 2, 0xFFFF), NAX_OK);
    NodeFixture::SetUp();
  }
  void TearDown() override {
    NodeFixture::TearDown();
    ASSERT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
  }
};

TEST_P(KeepaliveE2E, AnsweredKeepalivesKeepAQuietLinkAlive) {
  const int32_t link = open(node_.tcp(), GetParam());
  const unsigned long before = node_.counts().keepalives;
  pause_ms(1500);
  EXPECT_GE(node_.counts().keepalives - before, 3u);
  EXPECT_LE(node_.counts().keepalives - before, 6u) << "one a quiet period of 300 ms";
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  EXPECT_EQ(rec_.conn_count(), 0u);
}

TEST_P(KeepaliveE2E, SilentNodeGetsExactlyTheRetryCountThenIsGivenUp) {
  ASSERT_EQ(node_.control("faults ignore-keepalives"), "ok");
  const e2e::Node::Counts before = node_.counts();
  auto start = Clock::now();
  const int32_t quiet = open(node_.tcp(), GetParam());
  // Two quiet periods with a keepalive each, given up at the third.
  ASSERT_TRUE(eventually([&] { return rec_.conn_count() == 1; }));
  EXPECT_GE(elapsed_ms(start), 3 * 300);
  EXPECT_LT(elapsed_ms(start), 5000);
  EXPECT_EQ(rec_.conn[0], std::make_pair(quiet, uint32_t{NAX_CONN_NO_KEEPALIVE}));
  forget(quiet);
  // Every keepalive has been counted once the node saw the link close.
  ASSERT_TRUE(eventually([&] { return node_.counts().connections <= before.connections; }));
  EXPECT_EQ(node_.counts().keepalives - before.keepalives, 2u);

  // A command waiting meanwhile learns why its link ended.
  ASSERT_EQ(node_.control("faults ignore-keepalives no-answer"), "ok");
  const int32_t waiting = open(node_.tcp(), GetParam(), 10000);
  start = Clock::now();
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(waiting, kSimNode, &got), NAX_ERR_NODE_LOST);
  EXPECT_GE(elapsed_ms(start), 2 * 300);
  EXPECT_LT(elapsed_ms(start), 5000);
  // The link frees itself after its callback; the library stops cleanly after that.
  EXPECT_TRUE(eventually(
      [&] { return nax_get_time(waiting, kSimNode, &got) == NAX_ERR_LINK_UNAVAILABLE; }));
  forget(waiting);
}

INSTANTIATE_TEST_SUITE_P(Protocols, KeepaliveE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

TEST(KeepaliveSettings, OnlyBeforeInitAndNeverWithoutRetries) {
  EXPECT_EQ(nax_set_keepalive(5000, 0, 0xFFFF), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  EXPECT_EQ(nax_set_keepalive(1000, 3, 1), NAX_ERR_ALREADY_INIT);
  nax_uninit();
  EXPECT_EQ(nax_set_keepalive(1000, 3, 1), NAX_OK);  // they survive nax_uninit
  EXPECT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
}

class OpenE2E : public e2e::NodeFixture {};

TEST_F(OpenE2E, ConnectionStringsAndProtocolsAreChecked) {
  const std::string serial = node_.serial();
  struct Case {
    std::string conn;
    uint8_t protocol;
    uint32_t expected;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"127.0.0.1", 2, NAX_ERR_BAD_CONN_STRING},
      {"127.0.0.1:30a1", 2, NAX_ERR_BAD_CONN_STRING},
      {"127.0.0.1:1", 0, NAX_ERR_BAD_PROTOCOL},
      {"127.0.0.1:1", 3, NAX_ERR_BAD_PROTOCOL},
      {"255.255.255.255:3001", 1, NAX_ERR_BAD_ADDRESS},
      {serial + ":4800", 1, NAX_ERR_BAD_BAUD_RATE},
#ifdef _WIN32
      {"ttyS0:9600", 1, NAX_ERR_SERIAL_OPEN},         // tty names are not ports on Windows
      {"COM0:9600", 1, NAX_ERR_SERIAL_OPEN},
      {"COM257:9600", 1, NAX_ERR_SERIAL_OPEN},
      {"COM255:9600", 1, NAX_ERR_SERIAL_OPEN},        // a name that is no port here
#else
      {"COM3:115200", 1, NAX_ERR_SERIAL_OPEN},
      {"com3:9600", 1, NAX_ERR_SERIAL_OPEN},
      {"ttyNAXNOSUCH0:19200", 1, NAX_ERR_SERIAL_OPEN},  // mapped to /dev/ttyNAXNOSUCH0
      {"/nonexistent/port:9600", 1, NAX_ERR_SERIAL_OPEN},
      {"/dev/null:9600", 1, NAX_ERR_SERIAL_CONFIG},     // opens, but is no terminal
#endif
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conn);
    uint32_t status = 0;
    EXPECT_EQ(
        nax_open(&status, 1, c.protocol, c.conn.c_str(), 200, nullptr, nullptr, nullptr, nullptr),
        0u);
    EXPECT_EQ(status, c.expected);
  }
  // None of the failures kept a link: the first real link gets id 1.  Host
  // names resolve, a blank separates too, and anything after a second
  // separator is ignored.
  const std::string tcp = node_.tcp();
  const std::string port = tcp.substr(tcp.find(':') + 1);
  EXPECT_EQ(open("localhost:" + port, 2), 1);
  EXPECT_EQ(open("127.0.0.1 " + port + ":ignored", 2), 2);
#ifdef _WIN32
  // The port in any letter case of "com" too.
  std::string lower = serial;
  for (char& ch : lower) ch = static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
  const int32_t by_com = open(lower + ":57600", 1);
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(by_com, kSimNode, &got), NAX_OK);
#endif
  // A port nobody listens on.
  uint32_t status = 0;
  const std::string refused = "127.0.0.1:" + std::to_string(node_.free_port());
  EXPECT_EQ(nax_open(&status, 1, 2, refused.c_str(), 1000, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_TRUE(status == NAX_ERR_CONN_REFUSED || status == NAX_ERR_CONNECT) << status;
}

// Nodes that connect in are reported, refuse commands until claimed, and
// outlive the listener; the port is free again at once.
TEST_F(OpenE2E, NodesConnectInAndAreClaimedWithAccept) {
  const uint16_t port = node_.free_port();
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, port, 1000, &rec_, e2e::Recorder::conn_cb), 1u);
  ASSERT_EQ(status, NAX_OK);
  ASSERT_EQ(node_.control("connect 127.0.0.1 " + std::to_string(port) + " 2"), "ok");
  ASSERT_TRUE(eventually([&] { return rec_.conn_count() == 2; }));
  for (const auto& c : rec_.conn) EXPECT_EQ(c.second, uint32_t{NAX_CONN_CONNECTED});
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(rec_.conn[0].first, kSimNode, &got), NAX_ERR_LINK_STATE);
  for (int i = 0; i < 2; ++i) {
    uint32_t id = 0;
    uint16_t node = 0;
    uint16_t p = 0;
    ASSERT_EQ(nax_accept(&id, &node, &p, 2, kHostNode, 5000, 1000), NAX_OK);
    links_.push_back(id);
    EXPECT_EQ(node, kSimNode);
    EXPECT_EQ(p, port);
    EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), kSimNode, &got), NAX_OK);
  }
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(links_[0]), kSimNode, &got), NAX_OK);
  EXPECT_EQ(nax_listen(&status, port, 0, nullptr, nullptr), 1u);
  EXPECT_EQ(status, NAX_OK);
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
}

}  // namespace
