// Host misuse is refused with a status, never left undefined: a close from
// inside the link's own callback, a listener closed from its own callback,
// one link closed from two threads.
#include <algorithm>
#include <set>

#include "e2e_support.h"
#include "link/link.h"

namespace {

using e2e::kHostNode;
using e2e::kSimNode;

class Misuse : public e2e::SimFixture {
 protected:
  // The node sends events only on links whose protocol it has learnt from a request.
  void introduce(uint32_t link) {
    nax_date_time got{};
    ASSERT_EQ(nax_get_time(static_cast<int32_t>(link), kSimNode, &got), NAX_OK);
  }
};

// What a callback got back from the call it made.
struct CallbackCall {
  std::mutex m;
  std::vector<uint32_t> statuses;
  void add(uint32_t s) {
    std::lock_guard<std::mutex> lock(m);
    statuses.push_back(s);
  }
  size_t size() {
    std::lock_guard<std::mutex> lock(m);
    return statuses.size();
  }
};

TEST_F(Misuse, CloseFromTheLinksOwnUserCallbackIsRefused) {
  const uint32_t link = open(2);
  introduce(link);
  CallbackCall call;
  recorder_.on_user = [&](int32_t id, const nax_user_event&) { call.add(nax_close(id)); };
  ASSERT_TRUE(sim_->send_user_event(naxsim::UserEvent{.id = 7}));
  ASSERT_TRUE(e2e::eventually([&] { return call.size() == 1; }));
  EXPECT_EQ(call.statuses[0], static_cast<uint32_t>(NAX_ERR_OWN_THREAD));
  // Nothing changed: the link still works and the host closes it normally.
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(link), kSimNode, &got), NAX_OK);
  forget(link);
  EXPECT_EQ(nax_close(static_cast<int32_t>(link)), NAX_OK);
}

TEST_F(Misuse, CloseOfAnotherLinkFromACallbackIsAllowed) {
  const uint32_t first = open(2);
  const uint32_t second = open(1);
  introduce(first);
  introduce(second);
  CallbackCall call;
  recorder_.on_user = [&](int32_t id, const nax_user_event&) {
    if (id == static_cast<int32_t>(first)) call.add(nax_close(static_cast<int32_t>(second)));
  };
  // Both links hear the event; the first one's callback closes the second.
  ASSERT_TRUE(sim_->send_user_event(naxsim::UserEvent{.id = 8}));
  ASSERT_TRUE(e2e::eventually([&] { return call.size() == 1; }));
  EXPECT_EQ(call.statuses[0], static_cast<uint32_t>(NAX_OK));
  forget(second);
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(second), kSimNode, &got), NAX_ERR_LINK_UNAVAILABLE);
}

TEST_F(Misuse, ListenerClosedFromItsOwnCallbackIsRefused) {
  CallbackCall call;
  struct Args {
    CallbackCall* call;
    std::mutex m;
    std::vector<int32_t> links;
  } args{&call, {}, {}};
  uint32_t status = 0;
  ASSERT_EQ(nax_listen(&status, 0, 1000, &args,
                       [](void* a, int32_t id, uint32_t) {
                         auto* self = static_cast<Args*>(a);
                         {
                           std::lock_guard<std::mutex> lock(self->m);
                           self->links.push_back(id);
                         }
                         self->call->add(nax_close_listen(1));
                       }),
            1u);
  ASSERT_EQ(status, NAX_OK);
  ASSERT_TRUE(sim_->connect_to("127.0.0.1", nax::listener_port()));
  ASSERT_TRUE(e2e::eventually([&] { return call.size() == 1; }));
  EXPECT_EQ(call.statuses[0], static_cast<uint32_t>(NAX_ERR_OWN_THREAD));
  EXPECT_EQ(nax_close_listen(1), NAX_OK);
  std::lock_guard<std::mutex> lock(args.m);
  for (int32_t id : args.links) EXPECT_EQ(nax_close(id), NAX_OK);
}

// Two threads close one link at the same moment: one closes it, the other is
// told it is closing (1056) or gone (1036).
TEST_F(Misuse, OneLinkClosedFromTwoThreadsIsClosedOnce) {
  for (int round = 0; round < 20; ++round) {
    SCOPED_TRACE(round);
    const uint32_t link = open(round % 2 == 0 ? 2 : 1);
    forget(link);
    std::atomic<int> ready{0};
    uint32_t results[2] = {0, 0};
    auto closer = [&](int i) {
      ready.fetch_add(1);
      while (ready.load() < 2) std::this_thread::yield();
      results[i] = nax_close(static_cast<int32_t>(link));
    };
    std::thread a(closer, 0), b(closer, 1);
    a.join();
    b.join();
    std::multiset<uint32_t> got(results, results + 2);
    EXPECT_EQ(got.count(NAX_OK), 1u);
    const uint32_t other = results[0] == NAX_OK ? results[1] : results[0];
    EXPECT_TRUE(other == NAX_ERR_LINK_STATE || other == NAX_ERR_LINK_UNAVAILABLE) << other;
  }
}

}  // namespace
