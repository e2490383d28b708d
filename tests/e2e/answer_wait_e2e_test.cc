// The answer wait with a receive time-out of 0: it looks once, so an answer
// already handed over is taken and a missing one gives 1026.
#include <pthread.h>
#include <sched.h>

#include "e2e_support.h"

namespace {

class AnswerWaitZero : public e2e::NodeFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  // Every thread made from here on (node, reception) shares one core with the caller.
  void SetUp() override {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(sched_getcpu(), &one);
    ASSERT_EQ(sched_getaffinity(0, sizeof saved_, &saved_), 0);
    ASSERT_EQ(sched_setaffinity(0, sizeof one, &one), 0);
    NodeFixture::SetUp();
  }
  void TearDown() override {
    NodeFixture::TearDown();
    sched_setaffinity(0, sizeof saved_, &saved_);
  }
  // nax_get_time on a thread of the idle class: sending the request hands the core to
  // the node and then to the reception thread, which have run to the hand-off by the
  // time the caller looks.
  uint32_t get_time_when_answered(uint32_t link) {
    uint32_t status = 0;
    std::thread caller([&] {
      sched_param none{};
      ASSERT_EQ(pthread_setschedparam(pthread_self(), SCHED_IDLE, &none), 0);
      nax_date_time t{};
      status = nax_get_time(static_cast<int32_t>(link), e2e::kSimNode, &t);
    });
    caller.join();
    return status;
  }
  cpu_set_t saved_;
};

TEST_P(AnswerWaitZero, TakesAnAnswerAlreadyThereAndGivesUpOnNone) {
  const uint32_t link = open(GetParam(), 0);
  // Another process may still take the core between the send and the look: one of a few
  // tries must find its answer there.
  bool taken = false;
  for (int i = 0; i < 20 && !taken; ++i) taken = get_time_when_answered(link) == NAX_OK;
  EXPECT_TRUE(taken);
  naxsim::Faults silent;
  silent.no_answer = true;
  node_.sim().set_faults(silent);
  EXPECT_EQ(get_time_when_answered(link), NAX_ERR_NO_ANSWER);
}

INSTANTIATE_TEST_SUITE_P(Protocols, AnswerWaitZero, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

}  // namespace
