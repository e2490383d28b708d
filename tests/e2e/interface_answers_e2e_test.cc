// The answers a host written to the node interface expects, where the library's
// own protections meet them: calls made from inside callbacks, one link closed from
// two threads, nax_uninit with links still open, and 16-bit arguments passed in
// 32-bit slots.
#include <atomic>

#include "e2e_support.h"
#include "link/link.h"

namespace {

using e2e::kHostNode;
using e2e::kSimNode;

// Runs one call from inside whichever callback fires and keeps what it returned.
struct CallbackProbe {
  std::function<uint32_t(int32_t link)> call;
  std::mutex m;
  std::vector<uint32_t> got;

  void run(int32_t link) {
    const uint32_t status = call(link);
    std::lock_guard<std::mutex> lock(m);
    got.push_back(status);
  }
  size_t count() {
    std::lock_guard<std::mutex> lock(m);
    return got.size();
  }
  static void NAX_CALL on_user(void* p, int32_t link, uint32_t, nax_user_event*) {
    static_cast<CallbackProbe*>(p)->run(link);
  }
  static void NAX_CALL on_aux(void* p, int32_t link, uint32_t, nax_aux_input_event*) {
    static_cast<CallbackProbe*>(p)->run(link);
  }
  static void NAX_CALL on_conn(void* p, int32_t link, uint32_t) {
    static_cast<CallbackProbe*>(p)->run(link);
  }
};

using InterfaceAnswers = e2e::NodeFixture;

enum class Trigger { UserEvent, AuxEvent, LinkLost, NodeConnectsIn };

// A call that would wait for the thread it runs on is refused with 1065 and
// changes nothing; a close of a link its own thread is closing already is
// answered as any close of a closing link (1056); closing another link is allowed.
TEST_F(InterfaceAnswers, CallsFromInsideCallbacksGetTheAnswerOfTheirCase) {
  using Call = uint32_t (*)(int32_t link, int32_t another);
  struct Case {
    const char* name;
    uint8_t protocol;
    Trigger trigger;
    Call call;
    uint32_t expected;
  };
  const Call close = [](int32_t link, int32_t) { return nax_close(link); };
  const Call close_another = [](int32_t, int32_t another) { return nax_close(another); };
  const Call close_listener = [](int32_t, int32_t) { return nax_close_listen(1); };
  const Call uninit = [](int32_t, int32_t) { return nax_uninit(); };
  // clang-format off
  const Case cases[] = {
      {"close from the lost link's callback",     1, Trigger::LinkLost,       close,  NAX_ERR_LINK_STATE},
      {"close from the aux input callback",       2, Trigger::AuxEvent,       close,  NAX_ERR_OWN_THREAD},
      {"close from the user event callback",      2, Trigger::UserEvent,      close,  NAX_ERR_OWN_THREAD},
      {"close another link from a callback",      1, Trigger::UserEvent,      close_another, NAX_OK},
      {"close the listener from its callback",    2, Trigger::NodeConnectsIn, close_listener, NAX_ERR_OWN_THREAD},
      {"uninit from a user event callback",       1, Trigger::UserEvent,      uninit, NAX_ERR_OWN_THREAD},
      {"uninit from the lost link's callback",    2, Trigger::LinkLost,       uninit, NAX_ERR_OWN_THREAD},
      {"uninit from the listener's callback",     2, Trigger::NodeConnectsIn, uninit, NAX_ERR_OWN_THREAD},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CallbackProbe probe;
    const int32_t another = c.call == close_another ? open(2) : 0;
    forget(another);
    probe.call = [&c, another](int32_t link) { return c.call(link, another); };
    int32_t link = 0;
    uint32_t status = 0;
    nax_date_time got{};
    if (c.trigger == Trigger::NodeConnectsIn) {
      ASSERT_EQ(nax_listen(&status, 0, 1000, &probe, CallbackProbe::on_conn), 1u);
      ASSERT_TRUE(node_.sim().connect_to("127.0.0.1", nax::listener_port()));
    } else {
      link = static_cast<int32_t>(nax_open(&status, kHostNode, c.protocol, node_.tcp().c_str(),
                                           1000, &probe, CallbackProbe::on_user,
                                           CallbackProbe::on_aux, CallbackProbe::on_conn));
      ASSERT_NE(link, 0);
      ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);  // the node learns the protocol
      if (c.trigger == Trigger::UserEvent) {
        ASSERT_TRUE(node_.sim().send_user_event({.id = 5}));
      } else if (c.trigger == Trigger::AuxEvent) {
        ASSERT_TRUE(node_.sim().send_aux_input_event({.aux_input = 1}));
      } else {
        node_.sim().drop_connections();
      }
    }
    ASSERT_TRUE(e2e::eventually([&] { return probe.count() == 1; }));
    EXPECT_EQ(probe.got[0], c.expected);
    // Still initialised either way.
    EXPECT_EQ(nax_init(nullptr, 0), NAX_ERR_ALREADY_INIT);
    if (c.trigger == Trigger::LinkLost) {
      EXPECT_TRUE(e2e::eventually([&] { return nax_close(link) == NAX_ERR_LINK_UNAVAILABLE; }));
    } else if (c.trigger == Trigger::NodeConnectsIn) {
      EXPECT_EQ(nax_close_listen(1), NAX_OK);
    } else {
      EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
      EXPECT_EQ(nax_close(link), NAX_OK);
    }
    node_.sim().drop_connections();
  }
}

// Two threads close one link at the same moment: one closes it, the other is
// told it is closing (1056) or gone (1036).
TEST_F(InterfaceAnswers, OneLinkClosedFromTwoThreadsIsClosedOnce) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const int32_t link = open(round % 2 == 0 ? 2 : 1);
    forget(link);
    std::atomic<int> ready{0};
    uint32_t results[2] = {0, 0};
    auto closer = [&](int i) {
      ready.fetch_add(1);
      while (ready.load() < 2) std::this_thread::yield();
      results[i] = nax_close(link);
    };
    std::thread a(closer, 0), b(closer, 1);
    a.join();
    b.join();
    EXPECT_EQ((results[0] == NAX_OK) + (results[1] == NAX_OK), 1);
    const uint32_t other = results[0] == NAX_OK ? results[1] : results[0];
    EXPECT_TRUE(other == NAX_ERR_LINK_STATE || other == NAX_ERR_LINK_UNAVAILABLE) << other;
  }
}

// nax_uninit closes what the host left open, as nax_close and nax_close_listen
// would, waits for a link lost a moment earlier whose thread is still reporting
// it, and leaves no thread or descriptor behind; nax_init then starts afresh.
TEST_F(InterfaceAnswers, UninitClosesWhatIsStillOpenAndLeavesNothingBehind) {
  naxsim::Simulator lost_node;
  ASSERT_TRUE(lost_node.start());
  const int threads_before = test_support::running_threads();
  const int fds_before = test_support::open_descriptors();

  forget(open(1));
  forget(open(2));
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, 0, 1000, &rec_, e2e::Recorder::conn_cb), 1u);
  ASSERT_TRUE(node_.sim().connect_to("127.0.0.1", nax::listener_port(), 2));
  ASSERT_TRUE(e2e::eventually([&] { return rec_.conn_count() == 2; }));
  uint32_t claimed = 0;
  uint16_t node = 0, port = 0;
  ASSERT_EQ(nax_accept(&claimed, &node, &port, 2, kHostNode, 1000, 500), NAX_OK);

  // A lost link whose connection callback is still running when nax_uninit comes.
  struct Reporting {
    std::atomic<bool> started{false}, finished{false};
  } reporting;
  const uint32_t lost = nax_open(&status, kHostNode, 2, lost_node.conn_string().c_str(), 1000,
                                 &reporting, nullptr, nullptr, [](void* p, int32_t, uint32_t) {
                                   auto* r = static_cast<Reporting*>(p);
                                   r->started = true;
                                   std::this_thread::sleep_for(std::chrono::milliseconds(300));
                                   r->finished = true;
                                 });
  ASSERT_NE(lost, 0u);
  ASSERT_TRUE(lost_node.wait_for_connections(1, 5000));
  lost_node.drop_connections();
  ASSERT_TRUE(e2e::eventually([&] { return reporting.started.load(); }));

  EXPECT_EQ(nax_uninit(), NAX_OK);
  EXPECT_TRUE(reporting.finished.load());
  EXPECT_EQ(rec_.conn_count(), 2u);  // only the two connections: closing reports nothing
  EXPECT_TRUE(e2e::eventually([&] {
    return node_.sim().connection_count() == 0 &&
           test_support::running_threads() == threads_before &&
           test_support::open_descriptors() == fds_before;
  })) << test_support::running_threads() - threads_before
      << " threads, " << test_support::open_descriptors() - fds_before << " descriptors left";

  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  EXPECT_EQ(open(2), 1u);  // a fresh registry
}

class SixteenBitArguments : public e2e::NodeFixture,
                            public ::testing::WithParamInterface<uint8_t> {};

// First index and count travel in 16 bits: a 32-bit argument gives its low 16
// bits to the node rather than a refusal.
TEST_P(SixteenBitArguments, TakeTheirLow16Bits) {
  const int32_t link = open(GetParam());
  nax_user user{};
  user.mask = NAX_USER_ID | NAX_USER_PSW;
  uint16_t taken = 0;
  for (uint32_t id : {11u, 22u, 33u}) {
    user.id = id;
    user.psw = static_cast<uint16_t>(id);
    ASSERT_EQ(nax_add_user(link, kSimNode, 0x10000 + id, 0x10001, &user, &taken), NAX_OK);
    EXPECT_EQ(taken, 1);
  }
  // The same walk through the table, once with the indexes and once with 65536 added.
  auto walk = [&](uint32_t base) {
    std::vector<uint32_t> seen;
    for (uint32_t first = 0; first < 3; ++first) {
      nax_user page[3]{};
      uint16_t stored = 0;
      seen.push_back(nax_list_users(link, kSimNode, base + first, 3, page, &stored));
      for (uint16_t i = 0; i < stored; ++i) seen.push_back(page[i].id);
    }
    return seen;
  };
  const std::vector<uint32_t> plain = walk(0);
  EXPECT_EQ(plain.size(), GetParam() == 1 ? 6u : 9u);  // 1 + 3, 1 + 2, 1 + 1 on protocol 2
  EXPECT_EQ(walk(0x10000), plain);
}

INSTANTIATE_TEST_SUITE_P(BothProtocols, SixteenBitArguments, ::testing::Values(1, 2));

}  // namespace
