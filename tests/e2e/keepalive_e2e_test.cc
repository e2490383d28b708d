// Keepalives on quiet links: sent, answered, and a silent node given up.
#include "e2e_support.h"

namespace {

using e2e::kHostNode;
using e2e::kSimNode;
using Clock = std::chrono::steady_clock;

class KeepaliveE2E : public ::testing::TestWithParam<uint8_t> {
 protected:
  void SetUp() override {
    // Keepalive settings can only be made before the library starts.
    ASSERT_EQ(nax_set_keepalive(300, 2, 0xFFFF), NAX_OK);
    naxsim::Config config;
    config.node = kSimNode;
    sim_ = std::make_unique<naxsim::Simulator>(config);
    ASSERT_TRUE(sim_->start());
    ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
    uint32_t status = 0;
    link_ = nax_open(&status, kHostNode, GetParam(), sim_->conn_string().c_str(), 1000, &rec_,
                     nullptr, nullptr, e2e::Recorder::conn_cb);
    ASSERT_EQ(status, NAX_OK);
  }
  void TearDown() override {
    if (link_ != 0) nax_close(link_);
    sim_->stop();
    nax_uninit();
  }
  std::unique_ptr<naxsim::Simulator> sim_;
  e2e::Recorder rec_;
  uint32_t link_ = 0;
};

TEST(KeepaliveSettings, OnlyBeforeInitAndNeverWithoutRetries) {
  EXPECT_EQ(nax_set_keepalive(5000, 0, 0xFFFF), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_set_keepalive(0, 0, 0xFFFF), NAX_OK);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  EXPECT_EQ(nax_set_keepalive(1000, 3, 1), NAX_ERR_ALREADY_INIT);
  nax_uninit();
  EXPECT_EQ(nax_set_keepalive(1000, 3, 1), NAX_OK);  // they survive nax_uninit
}

TEST_P(KeepaliveE2E, AnsweredKeepalivesKeepAQuietLinkAlive) {
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  EXPECT_GE(sim_->keepalives_received(), 3u);
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_OK);
  EXPECT_EQ(rec_.conn_count(), 0u);
}

TEST_P(KeepaliveE2E, SilentNodeIsGivenUpAndAWaitingCommandLearnsWhy) {
  naxsim::Faults f;
  f.ignore_keepalives = true;
  f.no_answer = true;
  sim_->set_faults(f);
  ASSERT_EQ(nax_set_rcv_timeout(link_, 10000), NAX_OK);
  auto start = Clock::now();
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_ERR_NODE_LOST);
  // Two quiet periods with a keepalive each, given up at the third: never
  // before three keepalive periods.
  EXPECT_GE(e2e::elapsed_ms(start), 3 * 300);
  EXPECT_LT(e2e::elapsed_ms(start), 5000);
  ASSERT_TRUE(e2e::eventually([&] { return rec_.conn_count() == 1; }));
  EXPECT_EQ(rec_.conn[0].second, static_cast<uint32_t>(NAX_CONN_NO_KEEPALIVE));
  link_ = 0;  // the link closed itself
}

// With retry count 2 a quiet link sends exactly two keepalives, then gives
// the node up at the third quiet period.
TEST_P(KeepaliveE2E, SilentNodeGetsExactlyTheRetryCountOfKeepalives) {
  ASSERT_EQ(nax_close(link_), NAX_OK);
  link_ = 0;
  // Every keepalive of the first link has been counted once the simulator saw it close.
  ASSERT_TRUE(e2e::eventually([&] { return sim_->connection_count() == 0; }));
  naxsim::Faults f;
  f.ignore_keepalives = true;
  sim_->set_faults(f);
  const uint64_t before = sim_->keepalives_received();
  uint32_t status = 0;
  const auto start = Clock::now();
  const uint32_t link = nax_open(&status, kHostNode, GetParam(), sim_->conn_string().c_str(), 1000,
                                 &rec_, nullptr, nullptr, e2e::Recorder::conn_cb);
  ASSERT_EQ(status, NAX_OK);
  ASSERT_TRUE(e2e::eventually([&] { return rec_.conn_count() == 1; }));
  EXPECT_GE(e2e::elapsed_ms(start), 3 * 300);
  EXPECT_EQ(rec_.conn[0], std::make_pair(static_cast<int32_t>(link),
                                         static_cast<uint32_t>(NAX_CONN_NO_KEEPALIVE)));
  ASSERT_TRUE(e2e::eventually([&] { return sim_->connection_count() == 0; }));
  EXPECT_EQ(sim_->keepalives_received() - before, 2u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, KeepaliveE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

}  // namespace
