// The simulator seen from a bare host: dispatch, protocol modes, injected faults, and each
// transport (connections to it, pseudo-terminal lines, connections it dials to a listener).
#include <fcntl.h>
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "naxsim.h"
#include "raw_client.h"

namespace naxsim {
namespace {

using namespace naxsim_test;
using test_support::eventually;

constexpr uint32_t kQuietMs = 200;  // how long "nothing arrives" is watched for

TEST(NaxsimDispatch, Protocol1RequestsReachHandlersWithoutTheirCrc) {
  auto sim = start_simulator();
  RawClient host(sim->port(), 1);
  // Seven data bytes travel in class 16: a data area of 14 bytes, zero-filled.
  ASSERT_TRUE(host.request(make_packet(0x0999, {1, 2, 3, 4, 5, 6, 7})));
  const nax::Packet seen = sim->last_request();
  EXPECT_EQ(seen.cmd, 0x0999);
  EXPECT_EQ(seen.sou_node, kHostNode);
  EXPECT_EQ(seen.des_node, 1);
  ASSERT_EQ(seen.size, 14);
  EXPECT_EQ(Bytes(seen.data, seen.data + 14), (Bytes{1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NaxsimDispatch, AutoTakesTheProtocolOfTheFirstFrameFixedIgnoresTheOther) {
  auto sim = start_simulator();
  RawClient p1(sim->port(), 1);
  RawClient p2(sim->port(), 2);
  EXPECT_TRUE(p1.request(get_time_request(1)));
  // Addressed to everyone the answer comes from that address; another node's are not ours.
  auto answer = p2.request(get_time_request(2), kBroadcastNode);
  ASSERT_TRUE(answer);
  EXPECT_EQ(answer->sou_node, kBroadcastNode);
  EXPECT_FALSE(p2.request(get_time_request(2), 8, kQuietMs));
  // Once a connection speaks protocol 1, protocol 2 frames on it are noise.
  ASSERT_TRUE(p1.send_bytes(build_frame(2, 1, kHostNode, get_time_request(2))));
  EXPECT_TRUE(p1.receive(kQuietMs).bytes.empty());

  Config config;
  config.protocol = Protocol::P2;
  auto fixed = start_simulator(config);
  RawClient other(fixed->port(), 1);
  ASSERT_TRUE(other.send(get_time_request(1)));
  EXPECT_TRUE(other.receive(kQuietMs).bytes.empty());
  EXPECT_EQ(fixed->requests_received(), 0u);
}

TEST(NaxsimDispatch, PipelinedAndTrickledRequestsAreAllAnswered) {
  for (int protocol : {1, 2}) {
    SCOPED_TRACE(protocol);
    auto sim = start_simulator();
    RawClient host(sim->port(), protocol);
    ASSERT_TRUE(host.request(get_time_request(protocol)));  // the protocol is known from here
    // Two frames in one write: the second must not be lost with the first.
    Bytes two = build_frame(protocol, 1, kHostNode, get_time_request(protocol));
    two.insert(two.end(), two.begin(), two.end());
    ASSERT_TRUE(host.send_bytes(two));
    EXPECT_EQ(host.receive(2000, 2).packets.size(), 2u);

    // One byte per write.
    for (uint8_t byte : build_frame(protocol, 1, kHostNode, get_time_request(protocol))) {
      ASSERT_TRUE(host.send_bytes({byte}));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(host.receive(2000).packets.size(), 1u);
    EXPECT_EQ(sim->requests_received(), 4u);
  }
}

// A handler of the test's own answers in place of the default one, may stay silent, and
// once removed gives the default back.
TEST(NaxsimDispatch, NodeHandlersOverrideAndCanBeRemoved) {
  auto sim = start_simulator();
  sim->node().register_handler(2, 0x8033,
                               [](Node&, const nax::Packet& request, nax::Packet& answer, int) {
                                 answer.data[0] = request.data[0];
                                 answer.size = 1;
                                 return request.data[0] != 0xEE;  // 0xEE: stay silent
                               });
  RawClient host(sim->port(), 2);
  auto answer = host.request(make_packet(0x8033, {0x42}));
  ASSERT_TRUE(answer);
  EXPECT_EQ(Bytes(answer->data, answer->data + answer->size), Bytes{0x42});
  EXPECT_FALSE(host.request(make_packet(0x8033, {0xEE}), 1, kQuietMs));

  sim->node().register_handler(2, 0x8033, nullptr);
  EXPECT_EQ(host.request(make_packet(0x8033, {0x42})).value_or(nax::Packet{}).size, 7);
}

// What a row sends the node, or has it send on its own.
enum class Trigger { Request, Keepalive, Event };

// Fields of the frame a row compares; -1 leaves one alone.
struct Want {
  int sou = -1, des = -1, cmd = -1, status = -1, size = -1, data0 = -1, data1 = -1;
};

struct FaultCase {
  const char* name;
  int protocol;
  void (*set)(Faults&);
  std::size_t wire_bytes;  // all that arrived, frame or not
  int frames;              // checked frames among them; -1: the node then closed
  Want want;
  int64_t min_ms = 0;
  Trigger trigger = Trigger::Request;
};

void all_faults(Faults& f) {
  f.bad_crc = f.drop_mid_frame = f.no_answer = true;
  f.garbage_before = 3;
}

// Get-time answers: protocol 2 frames of 20 bytes, protocol 1 ones of 25 (class 16); user
// events of 28 bytes (15 data bytes).
// clang-format off
const FaultCase kFaultCases[] = {
    {"NoneP2", 2, [](Faults&) {}, 20, 1, {.sou = 1, .des = kHostNode, .cmd = 0x8033, .status = 1, .size = 7}},
    {"NoneP1", 1, [](Faults&) {}, 25, 1, {.sou = 1, .des = kHostNode, .cmd = 0x0002, .size = 16, .data0 = 1}},
    {"NoAnswer", 2, [](Faults& f) { f.no_answer = true; }, 0, 0, {}},
    {"Delay", 2, [](Faults& f) { f.delay_ms = 150; }, 20, 1, {.size = 7}, 140},
    {"AnswerFrom", 2, [](Faults& f) { f.answer_from = 9; }, 20, 1, {.sou = 9}},
    {"AnswerTo", 2, [](Faults& f) { f.answer_to = 0x22; }, 20, 1, {.des = 0x22}},
    {"AnswerCmd", 1, [](Faults& f) { f.answer_cmd = 0x1234; }, 25, 1, {.cmd = 0x1234}},
    {"RefuseStatus", 2, [](Faults& f) { f.refuse_status = 5; }, 13, 1, {.status = 5, .size = 0}},
    // Two data bytes: class 4.
    {"RefuseError", 1, [](Faults& f) { f.refuse_error = 7; }, 13, 1, {.size = 4, .data0 = 0, .data1 = 7}},
    {"RefuseStatusLeavesP1Alone", 1, [](Faults& f) { f.refuse_status = 5; }, 25, 1, {.data0 = 1}},
    {"TruncateP2", 2, [](Faults& f) { f.truncate_to = 3; }, 16, 1, {.size = 3}},
    {"TruncateP1", 1, [](Faults& f) { f.truncate_to = 3; }, 14, 1, {.size = 5, .data0 = 1}},
    {"GarbageP2", 2, [](Faults& f) { f.garbage_before = 20; }, 40, 1, {.size = 7}},
    {"GarbageP1", 1, [](Faults& f) { f.garbage_before = 14; }, 39, 1, {.data0 = 1}},
    {"SplitBytes", 2, [](Faults& f) { f.split_bytes = true; }, 20, 1, {.size = 7}, 15},
    {"BadCrcP2", 2, [](Faults& f) { f.bad_crc = true; }, 20, 0, {}},
    {"BadCrcP1", 1, [](Faults& f) { f.bad_crc = true; }, 25, 0, {}},
    {"DropMidFrameP2", 2, [](Faults& f) { f.drop_mid_frame = true; }, 10, -1, {}},
    {"DropMidFrameP1", 1, [](Faults& f) { f.drop_mid_frame = true; }, 12, -1, {}},
    {"KeepaliveAnswersStayClean", 1, all_faults, 12, 1, {}, 0, Trigger::Keepalive},
    {"BadCrcEvent", 2, [](Faults& f) { f.bad_crc = true; }, 28, 0, {}, 0, Trigger::Event},
    {"GarbageEvent", 2, [](Faults& f) { f.garbage_before = 5; }, 33, 1, {.cmd = kCmdUserEventP2}, 0, Trigger::Event},
    {"SplitEvent", 2, [](Faults& f) { f.split_bytes = true; }, 28, 1, {}, 20, Trigger::Event},
    {"AnswerFaultsLeaveEventsAlone", 2, [](Faults& f) { f.no_answer = f.drop_mid_frame = true; }, 28, 1, {}, 0, Trigger::Event},
};
// clang-format on

class NaxsimFaults : public ::testing::TestWithParam<FaultCase> {};

// Faults are set on a connection already in use: they apply to it from then on.
TEST_P(NaxsimFaults, ChangeWhatTheHostReceives) {
  const FaultCase& c = GetParam();
  auto sim = start_simulator();
  RawClient host(sim->port(), c.protocol);
  ASSERT_TRUE(host.request(get_time_request(c.protocol)));
  Faults faults;
  c.set(faults);
  sim->set_faults(faults);
  switch (c.trigger) {
    case Trigger::Request:
      ASSERT_TRUE(host.send(get_time_request(c.protocol)));
      break;
    case Trigger::Keepalive:
      ASSERT_TRUE(host.send(c.protocol == 1 ? make_packet(0x3000, {0x00}) : make_packet(0x8200),
                            kBroadcastNode));
      break;
    case Trigger::Event:
      ASSERT_TRUE(sim->send_user_event(UserEvent{.id = 1}));
      break;
  }
  const auto r = host.receive(c.frames == 0 ? kQuietMs : 2000);
  EXPECT_EQ(r.bytes.size(), c.wire_bytes);
  EXPECT_EQ(r.closed, c.frames < 0);
  ASSERT_EQ(r.packets.size(), c.frames > 0 ? 1u : 0u);
  EXPECT_GE(r.took_ms, c.min_ms);
  if (r.packets.empty()) return;
  const nax::Packet& a = r.packets[0];
  const Want& w = c.want;
  const int want[] = {w.sou, w.des, w.cmd, w.status, w.size, w.data0, w.data1};
  const int got[] = {a.sou_node, a.des_node, a.cmd, a.status, a.size, a.data[0], a.data[1]};
  for (int i = 0; i < 7; ++i) {
    EXPECT_TRUE(want[i] < 0 || got[i] == want[i]) << "field " << i << " is " << got[i];
  }
}

INSTANTIATE_TEST_SUITE_P(Table, NaxsimFaults, ::testing::ValuesIn(kFaultCases),
                         [](const auto& param) { return std::string(param.param.name); });

TEST(NaxsimConnections, HandlersMayDropConnectionsAndSendEvents) {
  auto sim = start_simulator();
  sim->node().register_handler(
      2, 0x8040, [simulator = sim.get()](Node&, const nax::Packet& request, nax::Packet&, int) {
        simulator->send_user_event(UserEvent{.id = 5});
        if (request.data[0] == 1) simulator->drop_connections();
        return false;
      });
  RawClient host(sim->port(), 2);
  EXPECT_EQ(host.request(make_packet(0x8040, {0})).value_or(nax::Packet{}).cmd, kCmdUserEventP2);

  // Requests behind the one that drops are in the same read; none may touch a closed stream.
  Bytes burst;
  for (uint8_t first : {1, 0, 0}) {
    const Bytes frame = build_frame(2, 1, kHostNode, make_packet(0x8040, {first}));
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(host.send_bytes(burst));
  EXPECT_TRUE(host.receive(2000, 5).closed);
  EXPECT_EQ(sim->connection_count(), 0u);
}

// Answers with the request's data, byte for byte.
bool echo(Node&, const nax::Packet& request, nax::Packet& answer, int) {
  answer.size = request.size;
  std::memcpy(answer.data, request.data, request.size);
  return true;
}

// The slave side opened as a host opens a serial port, with its settings left alone.
std::unique_ptr<RawClient> open_slave(const std::string& path, int protocol) {
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  return std::make_unique<RawClient>(RawClient::Adopt{fd}, protocol);
}

// A host's listener for the simulator to dial.
struct Listener {
  Listener() : fd(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        ::listen(fd, 512) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length) == 0) {
      port = ntohs(address.sin_port);
    }
  }
  ~Listener() { ::close(fd); }
  // The next connection within timeout_ms, as a host end speaking protocol.
  std::unique_ptr<RawClient> accept(int protocol, int timeout_ms = 2000) {
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, timeout_ms) != 1) return nullptr;
    const int accepted = ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
    return accepted < 0 ? nullptr
                        : std::make_unique<RawClient>(RawClient::Adopt{accepted}, protocol);
  }

  int fd;
  uint16_t port = 0;
};

TEST(NaxsimSerial, EachLineKeepsItsProtocolIsRawBothWaysAndOutlivesItsHost) {
  auto sim = start_simulator();
  sim->node().register_handler(1, 0x2F00, echo);
  sim->node().register_handler(2, 0x8F00, echo);
  std::string paths[2];
  for (std::string& path : paths) {
    ASSERT_TRUE(sim->open_serial(&path));
    EXPECT_EQ(path.rfind("/dev/pts/", 0), 0u) << path;
  }
  EXPECT_NE(paths[0], paths[1]);
  EXPECT_EQ(sim->connection_count(), 2u);
  std::unique_ptr<RawClient> hosts[2] = {open_slave(paths[0], 1), open_slave(paths[1], 2)};

  // Bytes a cooked terminal would translate, swallow, act on or echo.
  const Bytes tricky = {0x0D, 0x0A, 0x03, 0x04, 0x11, 0x13, 0x1A, 0x1C, 0x7F, 0x0D, 0xFF, 0x00};
  for (auto& host : hosts) {
    auto answer = host->request(make_packet(host->protocol() == 1 ? 0x2F00 : 0x8F00, tricky));
    ASSERT_TRUE(answer);
    EXPECT_EQ(Bytes(answer->data, answer->data + tricky.size()), tricky);
  }
  // Events follow each line's protocol, addressed to the host.
  ASSERT_TRUE(sim->send_user_event(UserEvent{.id = 31}));
  for (auto& host : hosts) {
    auto got = host->receive(2000);
    ASSERT_EQ(got.packets.size(), 1u);
    EXPECT_EQ(got.packets[0].cmd, host->protocol() == 1 ? kCmdUserEventP1 : kCmdUserEventP2);
    EXPECT_EQ(got.packets[0].des_node, kHostNode);
  }
  // Nothing came back to the simulator as an echo of its own frames.
  EXPECT_EQ(sim->requests_received(), 2u);

  // No host holds a slave for a while: the line must survive it.
  hosts[0].reset();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(sim->connection_count(), 2u);
  EXPECT_TRUE(open_slave(paths[0], 1)->request(get_time_request(1)));
}

// Drop and stop end connections made to the node, dialled by it and on its lines alike;
// a dropped node serves again, a stopped one once started.
TEST(NaxsimTransports, DropAndStopEndEveryKindOfConnection) {
  for (bool stop : {false, true}) {
    SCOPED_TRACE(stop ? "stop" : "drop");
    auto sim = start_simulator();
    Listener listener;
    RawClient in(sim->port(), 2);
    ASSERT_TRUE(sim->connect_to("127.0.0.1", listener.port));
    auto out = listener.accept(1);
    std::string path;
    ASSERT_TRUE(sim->open_serial(&path));
    auto line = open_slave(path, 2);
    ASSERT_TRUE(out && line->request(get_time_request(2)));
    ASSERT_TRUE(sim->wait_for_connections(3, 2000));

    stop ? sim->stop() : sim->drop_connections();
    EXPECT_EQ(sim->connection_count(), 0u);
    EXPECT_TRUE(in.receive(2000).closed);
    EXPECT_TRUE(out->receive(2000).closed);
    EXPECT_TRUE(line->receive(2000).closed);                            // the terminal hung up
    EXPECT_LT(::open(path.c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC), 0);  // gone for good
    EXPECT_FALSE(sim->send_user_event(UserEvent{}));
    EXPECT_EQ(sim->open_serial(&path), !stop);  // a stopped node has no lines and dials nobody
    EXPECT_EQ(sim->connect_to("127.0.0.1", listener.port), !stop);

    ASSERT_TRUE(!stop || sim->start());
    EXPECT_TRUE(RawClient(sim->port(), 2).request(get_time_request(2)));
  }
}

TEST(NaxsimDial, RefusedOrUnresolvableIsFalse) {
  const uint16_t closed_port = Listener().port;
  auto sim = start_simulator();
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(sim->connect_to("127.0.0.1", closed_port, 2));
  EXPECT_LT(test_support::elapsed_ms(start), 2000);  // a refusal is not waited out
  EXPECT_FALSE(sim->connect_to("no-such-host.invalid", 1));
  EXPECT_EQ(sim->connection_count(), 0u);
}

// A node without a listener of its own dials two hundred connections by name: each is served
// until its host closes it.
TEST(NaxsimDial, ManyConnectionsOfOneNodeAreEachServed) {
  constexpr std::size_t kCrowd = 200;
  Listener listener;
  Config config;
  config.listen = false;
  auto sim = start_simulator(config);
  EXPECT_EQ(sim->port(), 0);
  ASSERT_TRUE(sim->connect_to("localhost", listener.port, kCrowd));
  for (std::size_t i = 0; i < kCrowd; ++i) {
    auto host = listener.accept(1 + i % 2);
    ASSERT_TRUE(host) << i;
    EXPECT_TRUE(host->request(get_time_request(host->protocol()), kBroadcastNode)) << i;
  }
  EXPECT_FALSE(listener.accept(1, 100));  // as many as asked
  EXPECT_EQ(sim->requests_received(), kCrowd);
  EXPECT_TRUE(eventually([&] { return sim->connection_count() == 0; }, 2000));
}

}  // namespace
}  // namespace naxsim
