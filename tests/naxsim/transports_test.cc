// The simulator's other transports: a pseudo-terminal a host opens as a serial port, and
// connections the node makes to a host's listener.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "naxsim.h"
#include "raw_client.h"

namespace naxsim {
namespace {

using naxsim_test::decode_frames;
using naxsim_test::elapsed_ms;
using naxsim_test::kHostNode;
using naxsim_test::make_packet;
using Bytes = std::vector<uint8_t>;

constexpr uint16_t kEchoP1 = 0x2F00;
constexpr uint16_t kEchoP2 = 0x8F00;
constexpr uint16_t kWhoP2 = 0x8F01;

nax::Packet get_time_request(int protocol) {
  return make_packet(protocol == 1 ? 0x0002 : 0x8033);
}

// Answers with the request's data, byte for byte.
bool echo(Node&, const nax::Packet& request, nax::Packet& answer, int) {
  answer.size = request.size;
  std::memcpy(answer.data, request.data, request.size);
  return true;
}

// Answers with the node's number, low byte first.
bool who(Node& node, const nax::Packet&, nax::Packet& answer, int) {
  answer.size = 2;
  answer.data[0] = static_cast<uint8_t>(node.number());
  answer.data[1] = static_cast<uint8_t>(node.number() >> 8);
  return true;
}

// A host end on any descriptor: the slave side of a pseudo-terminal or a socket.
class Host {
 public:
  Host(int fd, int protocol) : fd_(fd), protocol_(protocol) {}
  ~Host() {
    if (fd_ >= 0) ::close(fd_);
  }
  Host(const Host&) = delete;
  Host& operator=(const Host&) = delete;

  bool valid() const { return fd_ >= 0; }
  int fd() const { return fd_; }

  bool send(const nax::Packet& packet, uint16_t des = 1) {
    const Bytes frame = naxsim_test::build_frame(protocol_, des, kHostNode, packet);
    std::size_t sent = 0;
    while (sent < frame.size()) {
      const ssize_t n = send_or_write(fd_, frame.data() + sent, frame.size() - sent);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  struct Received {
    Bytes bytes;
    std::vector<nax::Packet> packets;
    bool ended = false;  // end of file, or an error such as EIO from a hung-up terminal
    int error = 0;
  };
  Received receive(uint32_t timeout_ms, std::size_t count = 1) {
    Received r;
    const auto start = std::chrono::steady_clock::now();
    while (r.packets.size() < count) {
      const uint64_t spent = elapsed_ms(start);
      if (spent >= timeout_ms) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(timeout_ms - spent)) <= 0) continue;
      uint8_t buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) {
        r.ended = true;
        r.error = n < 0 ? errno : 0;
        break;
      }
      r.bytes.insert(r.bytes.end(), buffer, buffer + n);
      r.packets = decode_frames(protocol_, r.bytes);
    }
    return r;
  }

  std::optional<nax::Packet> request(const nax::Packet& packet, uint16_t des = 1) {
    if (!send(packet, des)) return std::nullopt;
    Received r = receive(2000);
    if (r.packets.empty()) return std::nullopt;
    return r.packets.front();
  }

 private:
  // Sockets must not raise SIGPIPE; terminals are no sockets.
  static ssize_t send_or_write(int fd, const uint8_t* data, std::size_t size) {
    const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
    return n < 0 && errno == ENOTSOCK ? ::write(fd, data, size) : n;
  }

  int fd_;
  int protocol_;
};

// The slave side opened as a host opens a serial port, with its settings left alone.
std::unique_ptr<Host> open_slave(const std::string& path, int protocol) {
  return std::make_unique<Host>(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), protocol);
}

// A terminal whose master went away polls hung up (along with readable), reads end of
// file and refuses writes with EIO.
void expect_hung_up(Host& host) {
  pollfd p{host.fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&p, 1, 2000), 1);
  EXPECT_NE(p.revents & POLLHUP, 0) << p.revents;
  uint8_t byte = 0;
  EXPECT_EQ(::read(host.fd(), &byte, 1), 0);
  errno = 0;
  EXPECT_EQ(::write(host.fd(), &byte, 1), -1);
  EXPECT_EQ(errno, EIO);
}

bool eventually(const std::function<bool()>& condition, uint32_t timeout_ms = 2000) {
  const auto start = std::chrono::steady_clock::now();
  while (!condition()) {
    if (elapsed_ms(start) >= timeout_ms) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::unique_ptr<Simulator> start_simulator(Config config = {}) {
  auto simulator = std::make_unique<Simulator>(config);
  EXPECT_TRUE(simulator->start());
  return simulator;
}

class NaxsimSerial : public ::testing::TestWithParam<int> {};

TEST_P(NaxsimSerial, HostOnTheSlaveGetsTheTime) {
  const int protocol = GetParam();
  auto sim = start_simulator();
  std::string path;
  ASSERT_TRUE(sim->open_serial(&path));
  EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  EXPECT_EQ(sim->connection_count(), 1u);

  auto host = open_slave(path, protocol);
  ASSERT_TRUE(host->valid());
  auto answer = host->request(get_time_request(protocol));
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->cmd, get_time_request(protocol).cmd);
  EXPECT_EQ(answer->sou_node, 1);
  EXPECT_EQ(answer->des_node, kHostNode);
  if (protocol == 2) {
    EXPECT_EQ(answer->status, kStatusDone);
  } else {
    EXPECT_EQ(answer->data[0], kResultDone);
  }

  // Events follow the line's protocol, addressed to the host.
  UserEvent event{};
  event.id = 31;
  ASSERT_TRUE(sim->send_user_event(event));
  auto got = host->receive(2000);
  ASSERT_EQ(got.packets.size(), 1u);
  EXPECT_EQ(got.packets[0].cmd, protocol == 1 ? kCmdUserEventP1 : kCmdUserEventP2);
  EXPECT_EQ(got.packets[0].des_node, kHostNode);
}

TEST_P(NaxsimSerial, LineIsRawBothWays) {
  const int protocol = GetParam();
  auto sim = start_simulator();
  const uint16_t cmd = protocol == 1 ? kEchoP1 : kEchoP2;
  sim->node().register_handler(protocol, cmd, echo);
  std::string path;
  ASSERT_TRUE(sim->open_serial(&path));
  auto host = open_slave(path, protocol);
  ASSERT_TRUE(host->valid());

  // Bytes a cooked terminal would translate, swallow, act on or echo.
  const Bytes tricky = {0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x1C, 0x7F, 0x0D, 0xFF, 0x00};
  auto answer = host->request(make_packet(cmd, tricky));
  ASSERT_TRUE(answer);
  EXPECT_EQ(Bytes(answer->data, answer->data + tricky.size()), tricky);
  // Nothing came back to the simulator as an echo of its own answer.
  host->receive(100);
  EXPECT_EQ(sim->requests_received(), 1u);
}

TEST_P(NaxsimSerial, HostMayCloseAndReopenTheLine) {
  const int protocol = GetParam();
  auto sim = start_simulator();
  std::string path;
  ASSERT_TRUE(sim->open_serial(&path));
  {
    auto first = open_slave(path, protocol);
    ASSERT_TRUE(first->valid());
    ASSERT_TRUE(first->request(get_time_request(protocol)));
  }
  // No host holds the slave for a while: the line must survive it.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sim->connection_count(), 1u);
  auto second = open_slave(path, protocol);
  ASSERT_TRUE(second->valid());
  EXPECT_TRUE(second->request(get_time_request(protocol)));
  EXPECT_EQ(sim->requests_received(), 2u);
}

TEST_P(NaxsimSerial, DropHangsUpTheHostsSide) {
  const int protocol = GetParam();
  auto sim = start_simulator();
  std::string path;
  ASSERT_TRUE(sim->open_serial(&path));
  auto host = open_slave(path, protocol);
  ASSERT_TRUE(host->valid());
  ASSERT_TRUE(host->request(get_time_request(protocol)));

  sim->drop_connections();
  EXPECT_EQ(sim->connection_count(), 0u);
  expect_hung_up(*host);
  // The pair is gone for good.
  EXPECT_LT(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), 0);
}

TEST_P(NaxsimSerial, StopHangsUpTheHostsSide) {
  const int protocol = GetParam();
  auto sim = start_simulator();
  std::string path;
  ASSERT_TRUE(sim->open_serial(&path));
  auto host = open_slave(path, protocol);
  ASSERT_TRUE(host->valid());
  sim->stop();
  expect_hung_up(*host);
}

TEST_P(NaxsimSerial, FaultsApplyOnTheLine) {
  const int protocol = GetParam();
  auto sim = start_simulator();
  std::string path;
  ASSERT_TRUE(sim->open_serial(&path));
  auto host = open_slave(path, protocol);
  ASSERT_TRUE(host->valid());
  Faults faults;
  faults.drop_mid_frame = true;
  sim->set_faults(faults);

  ASSERT_TRUE(host->send(get_time_request(protocol)));
  auto r = host->receive(2000);
  EXPECT_TRUE(r.packets.empty());
  EXPECT_FALSE(r.bytes.empty());  // the first half
  EXPECT_TRUE(r.ended);
  EXPECT_TRUE(eventually([&] { return sim->connection_count() == 0; }));
}

INSTANTIATE_TEST_SUITE_P(Protocols, NaxsimSerial, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

TEST(NaxsimSerial, EachLineKeepsItsOwnProtocol) {
  auto sim = start_simulator();
  std::string path1, path2;
  ASSERT_TRUE(sim->open_serial(&path1));
  ASSERT_TRUE(sim->open_serial(&path2));
  EXPECT_NE(path1, path2);
  EXPECT_EQ(sim->connection_count(), 2u);
  auto host1 = open_slave(path1, 1);
  auto host2 = open_slave(path2, 2);
  ASSERT_TRUE(host1->valid() && host2->valid());
  EXPECT_TRUE(host1->request(get_time_request(1)));
  EXPECT_TRUE(host2->request(get_time_request(2)));
}

TEST(NaxsimSerial, NeedsARunningSimulator) {
  Simulator sim;
  std::string path = "untouched";
  EXPECT_FALSE(sim.open_serial(&path));
  EXPECT_EQ(path, "untouched");
}

// A host's listener for the simulator to dial.
class Listener {
 public:
  Listener() {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_, 512) != 0 ||
        ::getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
    port_ = ntohs(address.sin_port);
  }
  ~Listener() {
    if (fd_ >= 0) ::close(fd_);
  }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  uint16_t port() const { return port_; }
  // The next connection within timeout_ms, as a host end speaking protocol.
  std::unique_ptr<Host> accept(int protocol, int timeout_ms = 2000) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return nullptr;
    const int fd = ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) return nullptr;
    return std::make_unique<Host>(fd, protocol);
  }

 private:
  int fd_ = -1;
  uint16_t port_ = 0;
};

TEST(NaxsimDial, ConnectionsToAListenerAreServed) {
  Listener listener;
  ASSERT_NE(listener.port(), 0);
  Config config;
  config.node = 9;
  auto sim = start_simulator(config);
  ASSERT_TRUE(sim->connect_to("127.0.0.1", listener.port(), 3));
  EXPECT_EQ(sim->connection_count(), 3u);

  std::vector<std::unique_ptr<Host>> hosts;
  for (int i = 0; i < 3; ++i) {
    hosts.push_back(listener.accept(1 + i % 2));
    ASSERT_TRUE(hosts.back()) << i;
  }
  EXPECT_FALSE(listener.accept(1, 100));  // three asked, three made
  for (int i = 0; i < 3; ++i) {
    const int protocol = 1 + i % 2;
    // Addressed to the node and to everyone: the answer comes from the address used.
    for (uint16_t des : {uint16_t{9}, kBroadcastNode}) {
      auto answer = hosts[i]->request(get_time_request(protocol), des);
      ASSERT_TRUE(answer) << i << " " << des;
      EXPECT_EQ(answer->cmd, get_time_request(protocol).cmd);
      EXPECT_EQ(answer->sou_node, des);
      EXPECT_EQ(answer->des_node, kHostNode);
    }
    // Another node's requests are not ours.
    ASSERT_TRUE(hosts[i]->send(get_time_request(protocol), 8));
    EXPECT_TRUE(hosts[i]->receive(100).packets.empty());
  }
}

TEST(NaxsimDial, HostNamesAreResolved) {
  Listener listener;
  auto sim = start_simulator();
  ASSERT_TRUE(sim->connect_to("localhost", listener.port()));
  auto host = listener.accept(2);
  ASSERT_TRUE(host);
  EXPECT_TRUE(host->request(get_time_request(2)));
}

TEST(NaxsimDial, RefusedOrUnresolvableIsFalse) {
  uint16_t closed_port = 0;
  {
    Listener gone;
    closed_port = gone.port();
  }
  auto sim = start_simulator();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sim->connect_to("127.0.0.1", closed_port, 2));
  EXPECT_LT(elapsed_ms(start), 2000u);  // a refusal is not waited out
  EXPECT_FALSE(sim->connect_to("no-such-host.invalid", 1));
  EXPECT_EQ(sim->connection_count(), 0u);

  Simulator stopped;
  Listener listener;
  EXPECT_FALSE(stopped.connect_to("127.0.0.1", listener.port()));
}

TEST(NaxsimDial, EndsWhenEitherSideCloses) {
  Listener listener;
  auto sim = start_simulator();
  ASSERT_TRUE(sim->connect_to("127.0.0.1", listener.port(), 2));
  auto a = listener.accept(2);
  auto b = listener.accept(2);
  ASSERT_TRUE(a && b);

  a.reset();  // the host closes one
  EXPECT_TRUE(eventually([&] { return sim->connection_count() == 1; }));

  sim->drop_connections();  // the node closes the other
  EXPECT_EQ(sim->connection_count(), 0u);
  EXPECT_TRUE(b->receive(2000).ended);
}

TEST(NaxsimDial, ManyNodesConnectInAtOnce) {
  constexpr uint16_t kNodes = 50;
  constexpr uint16_t kCrowdNode = 777;
  constexpr std::size_t kCrowd = 50;
  Listener listener;

  // Fifty nodes of one connection each, without listeners of their own, and one node
  // with fifty connections.
  std::vector<std::unique_ptr<Simulator>> sims;
  for (uint16_t n = 1; n <= kNodes; ++n) {
    Config config;
    config.node = n;
    config.listen = false;
    sims.push_back(start_simulator(config));
    EXPECT_EQ(sims.back()->port(), 0);
    sims.back()->node().register_handler(2, kWhoP2, who);
    ASSERT_TRUE(sims.back()->connect_to("127.0.0.1", listener.port()));
  }
  Config config;
  config.node = kCrowdNode;
  sims.push_back(start_simulator(config));
  sims.back()->node().register_handler(2, kWhoP2, who);
  ASSERT_TRUE(sims.back()->connect_to("127.0.0.1", listener.port(), kCrowd));
  EXPECT_EQ(sims.back()->connection_count(), kCrowd);

  std::vector<std::unique_ptr<Host>> hosts;
  for (std::size_t i = 0; i < kNodes + kCrowd; ++i) {
    hosts.push_back(listener.accept(2));
    ASSERT_TRUE(hosts.back()) << i;
  }
  for (auto& host : hosts) ASSERT_TRUE(host->send(make_packet(kWhoP2), kBroadcastNode));
  std::map<uint16_t, std::size_t> seen;
  for (auto& host : hosts) {
    auto r = host->receive(5000);
    ASSERT_EQ(r.packets.size(), 1u);
    EXPECT_EQ(r.packets[0].sou_node, kBroadcastNode);
    ++seen[static_cast<uint16_t>(r.packets[0].data[0] | r.packets[0].data[1] << 8)];
  }
  EXPECT_EQ(seen.size(), kNodes + 1u);
  for (uint16_t n = 1; n <= kNodes; ++n) EXPECT_EQ(seen[n], 1u) << n;
  EXPECT_EQ(seen[kCrowdNode], kCrowd);
}

}  // namespace
}  // namespace naxsim
