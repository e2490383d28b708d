// A command that reads its own answer because the reception thread lent it
// the reading: every outcome a transaction can meet on that course, events
// that arrive meanwhile, loss and close while it reads, and the reception
// thread reading again once the lend is over.

#include "core/registry.h"
#include "e2e_support.h"
#include "link/link.h"

namespace {

using e2e::kHostNode;
using e2e::kSimNode;
using Clock = std::chrono::steady_clock;

uint32_t reader_of(uint32_t link_id) {
  nax::nax_link* link = nullptr;
  if (nax::link_get(link_id, &link) != NAX_OK) return 0xFFFFFFFFu;
  const uint32_t reader = link->reader.load();
  nax::link_release(link_id);
  return reader;
}

// The reception thread lends for 10 s here, so that once it has lent, the
// next command reads for certain.
class LentReading : public e2e::SimFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  void SetUp() override {
    e2e::SimFixture::SetUp();
    saved_lend_ms_ = nax::reading_lend_ms();
    nax::set_reading_lend_ms(10000);
  }
  void TearDown() override {
    e2e::SimFixture::TearDown();
    nax::set_reading_lend_ms(saved_lend_ms_);
  }

  // A clean round trip, after which the reception thread lends the reading.
  void lend(uint32_t link) {
    sim_->set_faults({});
    nax_date_time got{};
    ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
    ASSERT_TRUE(e2e::eventually([&] { return reader_of(link) == nax::kReaderLent; }));
  }

  uint32_t saved_lend_ms_ = 0;
};

TEST_P(LentReading, EveryOutcomeOfACommandThatReadsItsOwnAnswer) {
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
      {"answer split into single bytes", with([](auto& f) { f.split_bytes = true; }), NAX_OK},
      {"slow answer within the time-out", with([](auto& f) { f.delay_ms = 150; }), NAX_OK},
      {"garbage on a window boundary", with([](auto& f) { f.garbage_before = 14; }), NAX_OK},
      {"answer from another node", with([](auto& f) { f.answer_from = 99; }), NAX_ERR_OTHER_NODE},
      {"answer to another command", with([](auto& f) { f.answer_cmd = 0x1234; }),
       NAX_ERR_OTHER_COMMAND},
      {"answer addressed elsewhere is dropped", with([](auto& f) { f.answer_to = 0x0999; }),
       NAX_ERR_NO_ANSWER},
      {"bad checksum is dropped", with([](auto& f) { f.bad_crc = true; }), NAX_ERR_NO_ANSWER},
      {"truncated answer", with([](auto& f) { f.truncate_to = 3; }), NAX_ERR_SHORT_ANSWER},
      {"no answer", with([](auto& f) { f.no_answer = true; }), NAX_ERR_NO_ANSWER},
      {"garbage off the boundary", with([](auto& f) { f.garbage_before = 3; }),
       p1 ? NAX_ERR_NO_ANSWER : NAX_OK},
  };
  const uint32_t link = open(GetParam(), 600);
  ASSERT_EQ(nax_set_interbyte_timeout(link, 200), NAX_OK);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    lend(link);
    sim_->set_faults(c.faults);
    nax_date_time got{};
    const auto start = Clock::now();
    EXPECT_EQ(nax_get_time(link, kSimNode, &got), c.expected);
    EXPECT_LT(e2e::elapsed_ms(start), 1500);
    // Whatever the outcome, the link still serves the next command.
    sim_->set_faults({});
    std::this_thread::sleep_for(std::chrono::milliseconds(250));  // a cut frame is dropped
    EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  }
}

// The event comes in while the reading is lent and nobody reads, so the
// command meets it before its answer.
TEST_P(LentReading, AnEventMetBeforeTheAnswerIsDeliveredByTheReceptionThread) {
  const uint32_t link = open(GetParam(), 2000);
  std::mutex m;
  std::vector<std::thread::id> callback_threads;
  recorder_.on_user = [&](int32_t, const nax_user_event&) {
    std::lock_guard<std::mutex> lock(m);
    callback_threads.push_back(std::this_thread::get_id());
  };
  for (uint32_t round = 1; round <= 3; ++round) {
    SCOPED_TRACE(round);
    lend(link);
    naxsim::UserEvent event{};
    event.id = 1000 + round;
    event.event = 1;
    event.time = sim_->node().time();
    sim_->send_user_event(event);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_EQ(recorder_.user_count(), round - 1);  // nobody reads while the reading is lent
    nax_date_time got{};
    EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
    ASSERT_TRUE(e2e::eventually([&] { return recorder_.user_count() == round; }, 2000));
    std::lock_guard<std::mutex> lock(m);
    ASSERT_EQ(callback_threads.size(), round);
    EXPECT_NE(callback_threads.back(), std::this_thread::get_id());
    std::lock_guard<std::mutex> seen(recorder_.m);
    EXPECT_EQ(recorder_.users.back().id, 1000 + round);
  }
}

TEST_P(LentReading, NodeDroppingTheConnectionEndsTheReadingCommandAndIsReported) {
  const uint32_t link = open(GetParam(), 20000);
  lend(link);
  naxsim::Faults f;
  f.drop_mid_frame = true;
  sim_->set_faults(f);
  nax_date_time got{};
  const auto start = Clock::now();
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_ERR_CONN_CLOSED);
  EXPECT_LT(e2e::elapsed_ms(start), 10000);  // far from the receive time-out
  ASSERT_TRUE(e2e::eventually([&] { return recorder_.conn_count() == 1; }));
  EXPECT_EQ(recorder_.conn[0], std::make_pair(static_cast<int32_t>(link), 2u));
  EXPECT_TRUE(e2e::eventually(
      [&] { return nax_get_time(link, kSimNode, &got) == NAX_ERR_LINK_UNAVAILABLE; }));
  forget(link);
}

TEST_P(LentReading, CloseFromAnotherThreadEndsTheReadingCommandPromptly) {
  const uint32_t link = open(GetParam(), 20000);
  lend(link);
  naxsim::Faults f;
  f.no_answer = true;
  sim_->set_faults(f);
  const uint64_t requests = sim_->requests_received();
  std::atomic<uint32_t> result{0};
  const auto start = Clock::now();
  std::thread command([&] {
    nax_date_time got{};
    result = nax_get_time(link, kSimNode, &got);
  });
  ASSERT_TRUE(e2e::eventually([&] { return sim_->requests_received() > requests; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(nax_close(link), NAX_OK);
  forget(link);
  command.join();
  EXPECT_EQ(result.load(), static_cast<uint32_t>(NAX_ERR_CONN_CLOSED));
  EXPECT_LT(e2e::elapsed_ms(start), 10000);
  EXPECT_EQ(recorder_.conn_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, LentReading, ::testing::Values(uint8_t{1}, uint8_t{2}));

// With the usual short lend, the reception thread reads again on its own:
// events that follow a command and the node's hang-up are not left unread.
TEST(LentReadingEnds, EventsAndLossAfterACommandAreStillSeen) {
  ASSERT_EQ(nax::reading_lend_ms(), 2u);
  naxsim::Config config;
  config.node = kSimNode;
  naxsim::Simulator sim(config);
  ASSERT_TRUE(sim.start());
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  e2e::Recorder recorder;
  uint32_t status = 0;
  const uint32_t link =
      nax_open(&status, kHostNode, 2, sim.conn_string().c_str(), 1000, &recorder,
               e2e::Recorder::user_cb, e2e::Recorder::aux_cb, e2e::Recorder::conn_cb);
  ASSERT_EQ(status, NAX_OK);
  for (uint32_t i = 1; i <= 20; ++i) {
    nax_date_time got{};
    ASSERT_EQ(nax_get_time(static_cast<int32_t>(link), kSimNode, &got), NAX_OK);
    naxsim::UserEvent event{};
    event.id = i;
    event.event = 1;
    event.time = sim.node().time();
    sim.send_user_event(event);
    EXPECT_TRUE(e2e::eventually([&] { return recorder.user_count() == i; }, 2000)) << i;
  }
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(static_cast<int32_t>(link), kSimNode, &got), NAX_OK);
  sim.drop_connections();
  EXPECT_TRUE(e2e::eventually([&] { return recorder.conn_count() == 1; }, 2000));
  sim.stop();
  nax_uninit();
}

}  // namespace
