// Bounds on nodes that connect in: the cap on unclaimed incoming links, the
// time within which one must be claimed, and a connection flood.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <climits>
#include <fstream>

#include "core/lifecycle.h"
#include "e2e_support.h"
#include "link/link.h"
#include "process_counts.h"

namespace {

using e2e::kHostNode;
using Clock = std::chrono::steady_clock;

long threads_now() {
  return test_support::running_threads();
}
long descriptors_now() {
  return test_support::open_descriptors();
}

int count_lines_with(const std::string& path, const std::string& text) {
  std::ifstream file(path);
  std::string line;
  int n = 0;
  while (std::getline(file, line)) {
    if (line.find(text) != std::string::npos) ++n;
  }
  return n;
}

int connect_to_port(uint16_t port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_port = htons(port);
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// True once the peer has closed the connection.
bool closed_by_peer(int fd) {
  char byte;
  return recv(fd, &byte, 1, MSG_DONTWAIT) == 0;
}

class ListenLimits : public ::testing::Test {
 protected:
  void TearDown() override {
    nax_close_listen(1);
    for (int32_t id : links_) nax_close(id);
    for (int fd : clients_) close(fd);
    if (sim_) sim_->stop();
    nax_uninit();
    nax_set_listen_limits(static_cast<int32_t>(nax::kDefaultMaxUnclaimed),
                          static_cast<int32_t>(nax::kDefaultClaimTimeoutMs));
  }

  void init_and_listen(const char* log_path = nullptr) {
    ASSERT_EQ(nax_init(log_path, log_path != nullptr ? 1 : 0), NAX_OK);
    uint32_t status = 0;
    ASSERT_EQ(nax_listen(&status, 0, 1000, &rec_, e2e::Recorder::conn_cb), 1u);
    ASSERT_EQ(status, NAX_OK);
    port_ = nax::listener_port();
    ASSERT_NE(port_, 0);
  }

  naxsim::Simulator& real_node(uint16_t number) {
    naxsim::Config config;
    config.node = number;
    config.listen = false;
    sim_ = std::make_unique<naxsim::Simulator>(config);
    EXPECT_TRUE(sim_->start());
    EXPECT_TRUE(sim_->connect_to("127.0.0.1", port_));
    return *sim_;
  }

  std::vector<int32_t> connected() {
    std::lock_guard<std::mutex> lock(rec_.m);
    std::vector<int32_t> ids;
    for (auto [id, state] : rec_.conn) {
      if (state == NAX_CONN_CONNECTED) ids.push_back(id);
    }
    return ids;
  }

  e2e::Recorder rec_;
  uint16_t port_ = 0;
  std::vector<int32_t> links_;
  std::vector<int> clients_;
  std::unique_ptr<naxsim::Simulator> sim_;
};

TEST_F(ListenLimits, SetterTakesNonNegativeBoundsAtAnyTimeAndLogsThem) {
  struct Case {
    const char* name;
    int32_t max_unclaimed;
    int32_t claim_timeout;
    uint32_t status;
    uint32_t max_after;
    uint32_t timeout_after;
  };
  // clang-format off
  const Case cases[] = {
      {"both set",               5,        250,       NAX_OK,             5,        250},
      {"zero lifts both",        0,        0,         NAX_OK,             0,        0},
      {"largest values",         INT32_MAX, INT32_MAX, NAX_OK,            INT32_MAX, INT32_MAX},
      {"negative cap refused",   -1,       100,       NAX_ERR_INVALID_ARG, INT32_MAX, INT32_MAX},
      {"negative time refused",  10,       -5,        NAX_ERR_INVALID_ARG, INT32_MAX, INT32_MAX},
      {"back to a small cap",    3,        1000,      NAX_OK,             3,        1000},
  };
  // clang-format on
  // Off until the host sets them: a node that connected in waits to be claimed.
  EXPECT_EQ(nax::listen_limits().max_unclaimed.load(), 0u);
  EXPECT_EQ(nax::listen_limits().claim_timeout_ms.load(), 0u);
  const std::string log = ::testing::TempDir() + "limits" + std::to_string(getpid()) + ".log";
  std::remove(log.c_str());
  for (bool initialised : {false, true}) {
    if (initialised) {
      ASSERT_EQ(nax_init(log.c_str(), 3), NAX_OK);
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + (initialised ? ", initialised" : ", before init"));
      EXPECT_EQ(nax_set_listen_limits(c.max_unclaimed, c.claim_timeout), c.status);
      EXPECT_EQ(nax::listen_limits().max_unclaimed.load(), c.max_after);
      EXPECT_EQ(nax::listen_limits().claim_timeout_ms.load(), c.timeout_after);
    }
  }
  nax_uninit();
  EXPECT_EQ(
      count_lines_with(log, "init: set listen limits - max unclaimed = 5, claim timeout = 250 mS"),
      1);
  EXPECT_EQ(count_lines_with(log,
                             "cmd: set listen limits - max unclaimed = 2147483647, claim "
                             "timeout = 2147483647 mS, ret_val = 1037"),
            2);
  EXPECT_EQ(count_lines_with(log,
                             "set listen limits - max unclaimed = 3, claim timeout = 1000 mS, "
                             "ret_val = 1"),
            1);
}

TEST_F(ListenLimits, UnclaimedLinkIsClosedAtItsClaimTimeAndAClaimedOneStays) {
  constexpr int32_t kClaimMs = 400;
  ASSERT_EQ(nax_set_listen_limits(10, kClaimMs), NAX_OK);
  init_and_listen();

  // A node nobody claims: the simulator sees its connection closed, no sooner than the claim time.
  const auto start = Clock::now();
  naxsim::Simulator& first = real_node(4);
  ASSERT_TRUE(e2e::eventually([&] { return connected().size() == 1; }));
  ASSERT_TRUE(e2e::eventually([&] { return first.connection_count() == 0; }));
  EXPECT_GE(e2e::elapsed_ms(start), kClaimMs);
  EXPECT_TRUE(e2e::eventually([] { return nax::listen_limits().unclaimed.load() == 0; }));
  uint32_t id = static_cast<uint32_t>(connected()[0]);
  uint16_t node = 0, port = 0;
  EXPECT_EQ(nax_accept(&id, &node, &port, 2, kHostNode, 0, 500), NAX_ERR_LINK_UNAVAILABLE);
  sim_->stop();

  // A node claimed in time outlives the claim time.
  naxsim::Simulator& second = real_node(6);
  ASSERT_TRUE(e2e::eventually([&] { return connected().size() == 2; }));
  uint32_t claimed = static_cast<uint32_t>(connected()[1]);
  ASSERT_EQ(nax_accept(&claimed, &node, &port, 2, kHostNode, 1000, 1000), NAX_OK);
  links_.push_back(static_cast<int32_t>(claimed));
  EXPECT_EQ(node, 6);
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(2 * kClaimMs));
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(claimed), 6, &t), NAX_OK);
  EXPECT_EQ(second.connection_count(), 1u);
}

TEST_F(ListenLimits, FloodBeyondTheCapStaysBoundedAndARealNodeGetsInOnceItAgesOut) {
  constexpr int kCap = 8;
  constexpr int kFlood = 5 * kCap;
  constexpr int32_t kClaimMs = 3000;
  // Per link: one thread; at most two descriptors (socket and stop event).
  constexpr long kDescriptorsPerLink = 2;
  // A link that aged out has freed its record; its thread may still be ending.
  constexpr long kEndingThreads = 2;
  ASSERT_EQ(nax_set_listen_limits(kCap, kClaimMs), NAX_OK);
  const std::string log = ::testing::TempDir() + "flood" + std::to_string(getpid()) + ".log";
  std::remove(log.c_str());
  init_and_listen(log.c_str());
  // Every log line opens the log file for a moment, and the listen thread may
  // still be writing its first ones: the baseline is the quiet count.
  auto quiet = [](long (*count)()) {
    long least = count();
    for (int i = 0; i < 40; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      least = std::min(least, count());
    }
    return least;
  };
  const long threads_before = quiet(threads_now);
  const long fds_before = quiet(descriptors_now);

  for (int i = 0; i < kFlood; ++i) {
    const int fd = connect_to_port(port_);
    ASSERT_GE(fd, 0) << "connect " << i;
    clients_.push_back(fd);
  }
  const long fds_of_clients = kFlood;

  // Every connection beyond the cap is closed at once; watch threads and
  // descriptors while the listener works through the flood.
  long most_threads = 0;
  long most_fds = 0;
  auto closed_count = [&] {
    most_threads = std::max(most_threads, threads_now() - threads_before);
    most_fds = std::max(most_fds, descriptors_now() - fds_before - fds_of_clients);
    int n = 0;
    for (int fd : clients_) n += closed_by_peer(fd) ? 1 : 0;
    return n;
  };
  ASSERT_TRUE(e2e::eventually([&] { return closed_count() >= kFlood - kCap; }, 20000));
  EXPECT_EQ(closed_count(), kFlood - kCap);
  EXPECT_EQ(connected().size(), static_cast<size_t>(kCap));
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), static_cast<uint32_t>(kCap));
  EXPECT_LE(most_threads, kCap + kEndingThreads);
  EXPECT_LE(most_fds, kCap * kDescriptorsPerLink + 1);  // + one accepted and being refused

  // The links that were let in age out unclaimed; everything they held is freed.
  ASSERT_TRUE(e2e::eventually([&] { return closed_count() == kFlood; }, kClaimMs + 20000));
  for (int fd : clients_) close(fd);
  clients_.clear();
  EXPECT_TRUE(e2e::eventually([&] {
    return threads_now() == threads_before && descriptors_now() == fds_before &&
           nax::listen_limits().unclaimed.load() == 0;
  })) << "threads "
      << threads_now() - threads_before << ", descriptors " << descriptors_now() - fds_before
      << ", unclaimed " << nax::listen_limits().unclaimed.load() << " left";
  EXPECT_LE(most_threads, kCap + kEndingThreads);

  // A real node now connects in and is accepted.
  real_node(9);
  ASSERT_TRUE(e2e::eventually([&] { return connected().size() == static_cast<size_t>(kCap + 1); }));
  uint32_t id = static_cast<uint32_t>(connected().back());
  uint16_t node = 0, port = 0;
  ASSERT_EQ(nax_accept(&id, &node, &port, 2, kHostNode, 1000, 1000), NAX_OK);
  links_.push_back(static_cast<int32_t>(id));
  EXPECT_EQ(node, 9);
  nax_date_time t{};
  EXPECT_EQ(nax_get_time(static_cast<int32_t>(id), 9, &t), NAX_OK);

  nax_close_listen(1);
  EXPECT_EQ(count_lines_with(log, "refused: 8 links not claimed yet"), kFlood - kCap);
  EXPECT_EQ(count_lines_with(log, "not claimed within 3000 mS, closed"), kCap);
}

TEST_F(ListenLimits, CapZeroLetsEveryNodeIn) {
  ASSERT_EQ(nax_set_listen_limits(0, 0), NAX_OK);
  init_and_listen();
  for (int i = 0; i < 20; ++i) {
    const int fd = connect_to_port(port_);
    ASSERT_GE(fd, 0);
    clients_.push_back(fd);
  }
  ASSERT_TRUE(e2e::eventually([&] { return connected().size() == 20; }));
  int closed = 0;
  for (int fd : clients_) closed += closed_by_peer(fd) ? 1 : 0;
  EXPECT_EQ(closed, 0);
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), 20u);
  for (int32_t id : connected()) EXPECT_EQ(nax_close(id), NAX_OK);
  EXPECT_EQ(nax::listen_limits().unclaimed.load(), 0u);
}

}  // namespace
