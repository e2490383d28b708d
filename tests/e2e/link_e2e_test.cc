// Links end to end against the simulated node: opening, the clock commands,
// every failure a transaction can meet, events, keepalives, loss and close.

#include "e2e_support.h"
#include "link/registry.h"
#include "process_counts.h"

namespace {

using e2e::kHostNode;
using e2e::kSimNode;
using Clock = std::chrono::steady_clock;

class LinkE2E : public e2e::SimFixture, public ::testing::WithParamInterface<uint8_t> {};

nax_date_time make_time(uint8_t h, uint8_t mi, uint8_t s, uint8_t y, uint8_t mo, uint8_t d,
                        uint8_t wd) {
  return nax_date_time{h, mi, s, y, mo, d, wd};
}

TEST_P(LinkE2E, SetTimeThenGetTimeReadsTheNodeClockBack) {
  uint32_t link = open(GetParam());
  nax_date_time set = make_time(10, 20, 30, 24, 2, 29, 4);
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
  EXPECT_EQ(got.weekday, 4);
  EXPECT_EQ(nax_get_packet_protocol(link), GetParam());
}

TEST_P(LinkE2E, EachTransactionFailureIsReportedWithItsStatus) {
  const bool p1 = GetParam() == 1;
  struct Case {
    const char* name;
    naxsim::Faults faults;
    uint32_t expected;
  };
  auto with = [](auto set) {
    naxsim::Faults f;
    set(f);
    return f;
  };
  const std::vector<Case> cases = {
      {"clean", {}, NAX_OK},
      {"no answer", with([](auto& f) { f.no_answer = true; }), NAX_ERR_NO_ANSWER},
      {"answer from another node", with([](auto& f) { f.answer_from = 99; }), NAX_ERR_OTHER_NODE},
      {"answer to another command", with([](auto& f) { f.answer_cmd = 0x1234; }),
       NAX_ERR_OTHER_COMMAND},
      {"answer addressed elsewhere is dropped", with([](auto& f) { f.answer_to = 0x0999; }),
       NAX_ERR_NO_ANSWER},
      {"bad checksum is dropped", with([](auto& f) { f.bad_crc = true; }), NAX_ERR_NO_ANSWER},
      {"answer split into single bytes", with([](auto& f) { f.split_bytes = true; }), NAX_OK},
      {"slow answer within the time-out", with([](auto& f) { f.delay_ms = 200; }), NAX_OK},
      {"truncated answer", with([](auto& f) { f.truncate_to = 3; }), NAX_ERR_SHORT_ANSWER},
      // Protocol 2 hunts the start byte; protocol 1 finds a frame again only
      // on a 7-byte window boundary.
      {"garbage on a window boundary", with([](auto& f) { f.garbage_before = 14; }), NAX_OK},
      {"garbage off the boundary", with([](auto& f) { f.garbage_before = 3; }),
       p1 ? NAX_ERR_NO_ANSWER : NAX_OK},
      // Last: the late answer lands during the closing call, which takes it as
      // its own (same command) or has cleared it before sending.
      {"answer after the time-out", with([](auto& f) { f.delay_ms = 1500; }), NAX_ERR_NO_ANSWER},
  };
  uint32_t link = open(GetParam(), 1000);
  // A frame left half-assembled (the protocol-1 frame off the window boundary)
  // is dropped 300 ms after its last byte, long before the next case starts.
  ASSERT_EQ(nax_set_interbyte_timeout(link, 300), NAX_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    sim_->set_faults(c.faults);
    nax_date_time got{};
    const auto start = Clock::now();
    EXPECT_EQ(nax_get_time(link, kSimNode, &got), c.expected);
    // No answer is declared only once the whole receive time-out has passed.
    // (5 ms for the two clocks reading apart).
    if (c.expected == NAX_ERR_NO_ANSWER) {
      EXPECT_GE(e2e::elapsed_ms(start), 995);
    }
  }
  sim_->set_faults({});
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);  // the link survived them all
}

TEST_P(LinkE2E, NodeStatusIsPassedThroughUnchanged) {
  if (GetParam() == 1) GTEST_SKIP() << "protocol 1 answers carry no status word";
  uint32_t link = open(GetParam());
  naxsim::Faults f;
  f.refuse_status = 17;
  sim_->set_faults(f);
  nax_date_time got = make_time(1, 2, 3, 4, 5, 6, 0);
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), 17u);
  EXPECT_EQ(got.hour, 1);  // untouched
}

TEST_P(LinkE2E, ConnectionDroppedWhileACommandWaitsEndsItAtOnce) {
  uint32_t link = open(GetParam(), 20000);
  naxsim::Faults f;
  f.drop_mid_frame = true;
  sim_->set_faults(f);
  nax_date_time got{};
  auto start = Clock::now();
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_ERR_CONN_CLOSED);
  EXPECT_LT(e2e::elapsed_ms(start), 10000);  // far from the receive time-out
  ASSERT_TRUE(e2e::eventually([&] { return recorder_.conn_count() == 1; }));
  EXPECT_EQ(recorder_.conn[0], std::make_pair(static_cast<int32_t>(link), 2u));
  // The link frees itself right after the callback returns; then its id is no longer usable.
  EXPECT_TRUE(e2e::eventually(
      [&] { return nax_get_time(link, kSimNode, &got) == NAX_ERR_LINK_UNAVAILABLE; }));
  EXPECT_EQ(nax_close(link), NAX_ERR_LINK_UNAVAILABLE);
  forget(link);
}

TEST_P(LinkE2E, NodeClosingTheConnectionIsReportedAsLost) {
  uint32_t link = open(GetParam());
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  sim_->drop_connections();
  ASSERT_TRUE(e2e::eventually([&] { return recorder_.conn_count() == 1; }));
  EXPECT_EQ(recorder_.conn[0].second, static_cast<uint32_t>(NAX_CONN_LOST));
  forget(link);
}

TEST_P(LinkE2E, HostCloseMakesNoConnectionCallback) {
  uint32_t link = open(GetParam());
  EXPECT_EQ(nax_close(link), NAX_OK);
  forget(link);
  EXPECT_EQ(nax_close(link), NAX_ERR_LINK_UNAVAILABLE);
  sim_->drop_connections();
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  EXPECT_EQ(recorder_.conn_count(), 0u);
}

TEST_P(LinkE2E, CloseFromAnotherThreadEndsAWaitingCommandPromptly) {
  uint32_t link = open(GetParam(), 20000);
  naxsim::Faults f;
  f.no_answer = true;
  sim_->set_faults(f);
  std::atomic<uint32_t> result{0};
  auto start = Clock::now();
  const uint64_t before = sim_->requests_received();
  std::thread command([&] {
    nax_date_time got{};
    result = nax_get_time(link, kSimNode, &got);
  });
  // Close once the command is surely waiting for its answer.
  ASSERT_TRUE(e2e::eventually([&] { return sim_->requests_received() > before; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(nax_close(link), NAX_OK);
  forget(link);
  command.join();
  EXPECT_EQ(result.load(), static_cast<uint32_t>(NAX_ERR_CONN_CLOSED));
  EXPECT_LT(e2e::elapsed_ms(start), 10000);  // far from the receive time-out
  EXPECT_EQ(recorder_.conn_count(), 0u);
}

TEST_P(LinkE2E, CommandOnABusyLinkGivesUpAfterThreePauses) {
  uint32_t link = open(GetParam());
  ASSERT_EQ(nax_set_rcv_timeout(link, 50), NAX_OK);
  ASSERT_EQ(nax_set_snd_timeout(link, 50), NAX_OK);
  nax::Link* held = nullptr;
  ASSERT_EQ(nax::link_get(link, &held), NAX_OK);
  auto start = Clock::now();
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_ERR_LINK_BUSY);
  EXPECT_GE(e2e::elapsed_ms(start), 290);
  EXPECT_EQ(nax_set_source_node(link, 5), NAX_ERR_LINK_BUSY);  // setters wait like commands
  nax::link_release(link);
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
}

TEST_P(LinkE2E, UserEventsReachTheCallbackWithEveryFieldDecoded) {
  const bool p1 = GetParam() == 1;
  uint32_t link = open(GetParam());
  nax_date_time probe{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &probe), NAX_OK);  // the node learns our protocol
  naxsim::UserEvent ev{};
  ev.id = 87654321;
  ev.index = 5;
  ev.event = 0x6B;
  ev.direction = 0x02;
  ev.event_word = 2048;
  ev.direction_word = 0x0102;
  ev.time = make_time(8, 30, p1 ? 0 : 45, 4, 3, 15, p1 ? 0 : 6);
  ASSERT_TRUE(sim_->send_user_event(ev));
  ASSERT_TRUE(e2e::eventually([&] { return recorder_.user_count() == 1; }));
  const nax_user_event& got = recorder_.users[0];
  EXPECT_EQ(got.id, 87654321u);
  EXPECT_EQ(got.index, 5);
  EXPECT_EQ(got.event, 0x6B);
  EXPECT_EQ(got.direction, 0x02);
  EXPECT_EQ(got.time.hour, 8);
  EXPECT_EQ(got.time.minute, 30);
  EXPECT_EQ(got.time.second, ev.time.second);
  EXPECT_EQ(got.time.year, 4);
  EXPECT_EQ(got.time.month, 3);
  EXPECT_EQ(got.time.day, 15);
  EXPECT_EQ(got.time.weekday, ev.time.weekday);
  EXPECT_EQ(recorder_.user_nodes[0], kSimNode);

  // A refused event never reaches the host, and the link keeps answering.
  ev.result = 0;
  ev.status = 0;
  ASSERT_TRUE(sim_->send_user_event(ev));
  nax_date_time got_time{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got_time), NAX_OK);
  EXPECT_EQ(recorder_.user_count(), 1u);
}

TEST_P(LinkE2E, EventWithoutCallbackIsAbsorbed) {
  uint32_t link = open(GetParam());
  ASSERT_EQ(nax_set_user_callback(link, nullptr), NAX_OK);
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  naxsim::UserEvent ev{};
  ev.id = 1;
  ASSERT_TRUE(sim_->send_user_event(ev));
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  EXPECT_EQ(recorder_.user_count(), 0u);
}

TEST_P(LinkE2E, SettersValidateAndRefuseUnknownLinks) {
  uint32_t link = open(GetParam());
  EXPECT_EQ(nax_set_packet_protocol(link, 0), NAX_ERR_BAD_PROTOCOL);
  EXPECT_EQ(nax_set_packet_protocol(link, 3), NAX_ERR_BAD_PROTOCOL);
  EXPECT_EQ(nax_get_packet_protocol(link), GetParam());
  EXPECT_EQ(nax_get_packet_protocol(99), 0);
  EXPECT_EQ(nax_set_interbyte_timeout(99, 10), NAX_ERR_NO_SUCH_LINK);
  EXPECT_EQ(nax_set_callback_args(link, nullptr), NAX_OK);
  // With another source node the node's answers are addressed elsewhere.
  EXPECT_EQ(nax_set_source_node(link, kHostNode + 1), NAX_OK);
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  // A node answers its own number and the broadcast number, nothing else.
  EXPECT_EQ(nax_get_time(link, 0xFFFF, &got), NAX_OK);
  EXPECT_EQ(nax_set_rcv_timeout(link, 200), NAX_OK);
  EXPECT_EQ(nax_get_time(link, kSimNode + 1, &got), NAX_ERR_NO_ANSWER);
}

INSTANTIATE_TEST_SUITE_P(Protocols, LinkE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

TEST(AuxInputEvents, ReachTheCallbackOnProtocolTwo) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  e2e::Recorder rec;
  uint32_t status = 0;
  uint32_t link = nax_open(&status, kHostNode, 2, sim.conn_string().c_str(), 1000, &rec, nullptr,
                           e2e::Recorder::aux_cb, nullptr);
  ASSERT_EQ(status, NAX_OK);
  nax_date_time probe{};
  ASSERT_EQ(nax_get_time(link, 1, &probe), NAX_OK);
  ASSERT_TRUE(sim.send_aux_input_event({3, 0xA5, {23, 59, 58, 24, 12, 31, 2}}));
  ASSERT_TRUE(e2e::eventually([&] {
    std::lock_guard<std::mutex> lock(rec.m);
    return rec.aux.size() == 1;
  }));
  EXPECT_EQ(rec.aux[0].aux_input, 3);
  EXPECT_EQ(rec.aux[0].aux_value, 0xA5);
  EXPECT_EQ(rec.aux[0].time.second, 58);
  EXPECT_EQ(rec.aux[0].time.day, 31);
  EXPECT_EQ(nax_close(link), NAX_OK);
  nax_uninit();
}

TEST(OpenFailures, ConnectionStringsAndProtocols) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  struct Case {
    const char* conn;
    uint8_t protocol;
    uint32_t expected;
  };
  const Case cases[] = {
      {nullptr, 2, NAX_ERR_BAD_CONN_STRING},
      {"127.0.0.1", 2, NAX_ERR_BAD_CONN_STRING},
      {"127.0.0.1:30a1", 2, NAX_ERR_BAD_CONN_STRING},
      {"127.0.0.1:1", 0, NAX_ERR_BAD_PROTOCOL},
      {"127.0.0.1:1", 3, NAX_ERR_BAD_PROTOCOL},
      {"255.255.255.255:3001", 1, NAX_ERR_BAD_ADDRESS},
      {"COM3:115200", 1, NAX_ERR_SERIAL_OPEN},
      {"/nonexistent/port:9600", 1, NAX_ERR_SERIAL_OPEN},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.conn ? c.conn : "null");
    uint32_t status = 0;
    EXPECT_EQ(nax_open(&status, 1, c.protocol, c.conn, 100, nullptr, nullptr, nullptr, nullptr),
              0u);
    EXPECT_EQ(status, c.expected);
  }
  // None of the failures kept a link: the first real link still gets id 1.
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  uint32_t status = 0;
  uint32_t id =
      nax_open(&status, 1, 2, sim.conn_string().c_str(), 1000, nullptr, nullptr, nullptr, nullptr);
  EXPECT_EQ(id, 1u);
  // Blank as separator, and anything after a second separator ignored.
  std::string blank = "127.0.0.1 " + std::to_string(sim.port()) + ":ignored";
  EXPECT_EQ(nax_open(&status, 1, 2, blank.c_str(), 1000, nullptr, nullptr, nullptr, nullptr), 2u);
  EXPECT_EQ(status, NAX_OK);
  EXPECT_EQ(nax_close(1), NAX_OK);
  EXPECT_EQ(nax_close(2), NAX_OK);
  nax_uninit();
}

TEST(OpenFailures, RefusedConnection) {
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  uint16_t port;
  {
    naxsim::Simulator sim;  // take a free port, then leave it closed
    ASSERT_TRUE(sim.start());
    port = sim.port();
  }
  std::string conn = "127.0.0.1:" + std::to_string(port);
  uint32_t status = 0;
  EXPECT_EQ(nax_open(&status, 1, 2, conn.c_str(), 1000, nullptr, nullptr, nullptr, nullptr), 0u);
  EXPECT_TRUE(status == NAX_ERR_CONN_REFUSED || status == NAX_ERR_CONNECT) << status;
  nax_uninit();
}

TEST(OpenClose, ThousandCyclesLeaveNoDescriptorOrThreadBehind) {
  naxsim::Simulator sim;
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const int fds_before = test_support::open_descriptors();
  const int threads_before = test_support::running_threads();
  for (int i = 0; i < 1000; ++i) {
    uint32_t status = 0;
    uint32_t id = nax_open(&status, 1, 2, sim.conn_string().c_str(), 1000, nullptr, nullptr,
                           nullptr, nullptr);
    ASSERT_EQ(status, NAX_OK) << "cycle " << i;
    ASSERT_EQ(id, 1u) << "the freed id is reused";
    ASSERT_EQ(nax_close(id), NAX_OK);
  }
  // The in-process simulator closes its side of each connection a moment later.
  EXPECT_TRUE(e2e::eventually([&] { return sim.connection_count() == 0; }));
  EXPECT_EQ(test_support::open_descriptors(), fds_before);
  EXPECT_EQ(test_support::running_threads(), threads_before);
  nax_uninit();
}

}  // namespace
