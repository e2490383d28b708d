// Links end to end where the test needs more than the node's control lines: a
// link held busy from inside, a node that stops reading, an event the node refuses.
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "e2e_support.h"
#include "link/registry.h"

namespace {

using e2e::elapsed_ms;
using e2e::kHostNode;
using e2e::kSimNode;
using Clock = std::chrono::steady_clock;

class LinkPosixE2E : public e2e::NodeFixture, public ::testing::WithParamInterface<uint8_t> {};

// Three looks at the link, each followed by a pause of the longer of its two
// time-outs, and no fourth.
TEST_P(LinkPosixE2E, CommandOnABusyLinkGivesUpAfterThreePauses) {
  uint32_t link = open(GetParam(), 500);
  ASSERT_EQ(nax_set_snd_timeout(link, 200), NAX_OK);
  nax::Link* held = nullptr;
  ASSERT_EQ(nax::link_get(link, &held), NAX_OK);
  auto start = Clock::now();
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_ERR_LINK_BUSY);
  EXPECT_GE(elapsed_ms(start), 3 * 500 - 10);
  EXPECT_LT(elapsed_ms(start), 4 * 500 - 100);
  EXPECT_EQ(nax_set_source_node(link, 5), NAX_ERR_LINK_BUSY);  // setters wait like commands
  nax::link_release(link);
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
}

TEST_P(LinkPosixE2E, RefusedEventNeverReachesTheHost) {
  uint32_t link = open(GetParam());
  nax_date_time got{};
  ASSERT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);  // the node learns our protocol
  ASSERT_TRUE(node_.sim().send_user_event({.id = 1, .result = 0, .status = 0}));
  EXPECT_EQ(nax_get_time(link, kSimNode, &got), NAX_OK);
  EXPECT_EQ(rec_.user_count(), 0u);
}

INSTANTIATE_TEST_SUITE_P(Protocols, LinkPosixE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

// A node that stops reading: once the line is full, a send gives up after the
// send time-out, however long the receive time-out is.
TEST(SendTimeout, NodeThatStopsReadingFailsASendAfterTheSendTimeout) {
  uint16_t port = 0;
  const int server = e2e::bound_socket(&port);
  const int small = 4096;
  ASSERT_EQ(::setsockopt(server, SOL_SOCKET, SO_RCVBUF, &small, sizeof small), 0);
  ASSERT_EQ(::listen(server, 1), 0);
  ASSERT_EQ(nax_init(nullptr, 0), NAX_OK);
  const std::string conn = "127.0.0.1:" + std::to_string(port);
  uint32_t status = 0;
  const int32_t link = static_cast<int32_t>(
      nax_open(&status, kHostNode, 2, conn.c_str(), 1000, nullptr, nullptr, nullptr, nullptr));
  ASSERT_EQ(status, NAX_OK);
  const int peer = ::accept(server, nullptr, nullptr);  // and never reads
  ASSERT_GE(peer, 0);
  ASSERT_EQ(nax_set_snd_timeout(link, 100), NAX_OK);
  ASSERT_EQ(nax_set_rcv_timeout(link, 20000), NAX_OK);
  nax_user_event_answer answer{};
  std::memset(answer.aux0, 'x', sizeof answer.aux0 - 1);
  // The first failure may be a frame half sent; the ones after it find the line full.
  int failures = 0;
  int64_t longest = 0;
  for (int i = 0; i < 100000 && failures < 3; ++i) {
    const auto start = Clock::now();
    if (nax_answer_user_event(link, kSimNode, &answer) != NAX_OK) ++failures;
    longest = std::max(longest, elapsed_ms(start));
  }
  EXPECT_EQ(failures, 3);
  EXPECT_LT(longest, 5000);
  EXPECT_EQ(nax_close(link), NAX_OK);
  nax_uninit();
  ::close(peer);
  ::close(server);
}
}  // namespace
