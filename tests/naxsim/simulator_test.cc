// The simulator seen from a bare host: its dispatch and protocol modes, the faults it
// injects and many connections.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cctype>
#include <ctime>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

#include "naxsim.h"
#include "raw_client.h"

namespace naxsim {
namespace {

using naxsim_test::kHostNode;
using naxsim_test::make_packet;
using naxsim_test::RawClient;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kQuietMs = 200;  // how long "nothing arrives" is watched for

std::unique_ptr<Simulator> start_simulator(Config config = {}) {
  auto simulator = std::make_unique<Simulator>(config);
  EXPECT_TRUE(simulator->start());
  return simulator;
}

Bytes data_of(const nax::Packet& packet, std::size_t count) {
  return Bytes(packet.data, packet.data + count);
}

nax::Packet get_time_request(int protocol) {
  return make_packet(protocol == 1 ? 0x0002 : 0x8033);
}

nax::Packet keepalive(int protocol) {
  return protocol == 1 ? make_packet(0x3000, {0x00}) : make_packet(0x8200);
}

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
  EXPECT_EQ(data_of(seen, 14), (Bytes{1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NaxsimDispatch, AutoTakesTheProtocolOfTheFirstFrame) {
  auto sim = start_simulator();
  RawClient p1(sim->port(), 1);
  RawClient p2(sim->port(), 2);

  auto a1 = p1.request(get_time_request(1));
  ASSERT_TRUE(a1);
  EXPECT_EQ(a1->data[0], 1);
  auto a2 = p2.request(get_time_request(2));
  ASSERT_TRUE(a2);
  EXPECT_EQ(a2->status, 1);
  EXPECT_EQ(a2->size, 7);

  // Once a connection speaks protocol 1, protocol 2 frames on it are noise.
  ASSERT_TRUE(p1.send_bytes(naxsim_test::build_frame(2, 1, kHostNode, get_time_request(2))));
  EXPECT_TRUE(p1.receive(kQuietMs).bytes.empty());
}

TEST(NaxsimDispatch, FixedProtocolIgnoresTheOther) {
  Config config;
  config.protocol = Protocol::P2;
  auto sim = start_simulator(config);
  RawClient p1(sim->port(), 1);
  ASSERT_TRUE(p1.send(get_time_request(1)));
  EXPECT_TRUE(p1.receive(kQuietMs).bytes.empty());
  EXPECT_EQ(sim->requests_received(), 0u);

  RawClient p2(sim->port(), 2);
  EXPECT_TRUE(p2.request(get_time_request(2)));
}

TEST(NaxsimDispatch, PipelinedAndTrickledRequestsAreAllAnswered) {
  for (int protocol : {1, 2}) {
    SCOPED_TRACE(protocol);
    auto sim = start_simulator();
    RawClient host(sim->port(), protocol);
    ASSERT_TRUE(host.request(get_time_request(protocol)));  // the protocol is known from here
    // Two frames in one write: the second must not be lost with the first.
    Bytes two = naxsim_test::build_frame(protocol, 1, kHostNode, get_time_request(protocol));
    two.insert(two.end(), two.begin(), two.end());
    ASSERT_TRUE(host.send_bytes(two));
    EXPECT_EQ(host.receive(2000, 2).packets.size(), 2u);

    // One byte per write.
    for (uint8_t byte :
         naxsim_test::build_frame(protocol, 1, kHostNode, get_time_request(protocol))) {
      ASSERT_TRUE(host.send_bytes({byte}));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_EQ(host.receive(2000).packets.size(), 1u);
    EXPECT_EQ(sim->requests_received(), 4u);
  }
}

TEST(NaxsimDispatch, NodeHandlersOverrideAndKeepFamilyState) {
  auto sim = start_simulator();
  struct Counter {
    uint8_t calls = 0;
  };
  sim->node().register_handler(
      2, 0x7F40, [](Node& node, const nax::Packet& request, nax::Packet& answer, int) {
        answer.data[0] = node.with_state<Counter>([](Counter& c) { return ++c.calls; });
        answer.data[1] = request.data[0];
        answer.size = 2;
        return request.data[0] != 0xEE;  // 0xEE: stay silent
      });
  RawClient host(sim->port(), 2);

  auto first = host.request(make_packet(0x7F40, {0x42}));
  ASSERT_TRUE(first);
  EXPECT_EQ(first->status, 1);
  EXPECT_EQ(data_of(*first, first->size), (Bytes{1, 0x42}));
  auto second = host.request(make_packet(0x7F40, {0x43}));
  ASSERT_TRUE(second);
  EXPECT_EQ(data_of(*second, second->size), (Bytes{2, 0x43}));

  ASSERT_TRUE(host.send(make_packet(0x7F40, {0xEE})));
  EXPECT_TRUE(host.receive(kQuietMs).bytes.empty());

  sim->node().register_handler(2, 0x7F40, nullptr);
  auto fallback = host.request(make_packet(0x7F40, {0x42}));
  ASSERT_TRUE(fallback);
  EXPECT_EQ(fallback->status, kStatusUnknownCommand);
}

Faults with_faults(void (*set)(Faults&)) {
  Faults faults;
  set(faults);
  return faults;
}

struct FaultCase {
  const char* name;
  int protocol;
  Faults faults;
  uint32_t wait_ms;
  std::function<void(const RawClient::Received&)> check;
};

const nax::Packet& only_packet(const RawClient::Received& r) {
  static const nax::Packet none{};
  EXPECT_EQ(r.packets.size(), 1u);
  return r.packets.empty() ? none : r.packets[0];
}

// Protocol 2 get-time answers are 20-byte frames; protocol 1 ones 25 bytes (class 16).
const FaultCase kFaultCases[] = {
    {"none",
     2,
     {},
     2000,
     [](const RawClient::Received& r) {
       const auto& a = only_packet(r);
       EXPECT_EQ(a.sou_node, 1);
       EXPECT_EQ(a.des_node, kHostNode);
       EXPECT_EQ(a.cmd, 0x8033);
       EXPECT_EQ(a.status, 1);
       EXPECT_EQ(a.size, 7);
       EXPECT_EQ(r.bytes.size(), 20u);
     }},
    {"no answer", 2, with_faults([](Faults& f) { f.no_answer = true; }), kQuietMs,
     [](const RawClient::Received& r) { EXPECT_TRUE(r.bytes.empty()); }},
    {"delay", 2, with_faults([](Faults& f) { f.delay_ms = 150; }), 2000,
     [](const RawClient::Received& r) {
       only_packet(r);
       EXPECT_GE(r.took_ms, 140u);
     }},
    {"answer from", 2, with_faults([](Faults& f) { f.answer_from = 9; }), 2000,
     [](const RawClient::Received& r) { EXPECT_EQ(only_packet(r).sou_node, 9); }},
    {"answer to", 2, with_faults([](Faults& f) { f.answer_to = 0x22; }), 2000,
     [](const RawClient::Received& r) { EXPECT_EQ(only_packet(r).des_node, 0x22); }},
    {"answer cmd", 1, with_faults([](Faults& f) { f.answer_cmd = 0x1234; }), 2000,
     [](const RawClient::Received& r) { EXPECT_EQ(only_packet(r).cmd, 0x1234); }},
    {"refuse status", 2, with_faults([](Faults& f) { f.refuse_status = 5; }), 2000,
     [](const RawClient::Received& r) {
       const auto& a = only_packet(r);
       EXPECT_EQ(a.status, 5);
       EXPECT_EQ(a.size, 0);
     }},
    {"refuse error", 1, with_faults([](Faults& f) { f.refuse_error = 7; }), 2000,
     [](const RawClient::Received& r) {
       const auto& a = only_packet(r);
       EXPECT_EQ(data_of(a, 2), (Bytes{0x00, 0x07}));
       EXPECT_EQ(a.size, 4);  // two data bytes: class 4
     }},
    {"refuse status leaves protocol 1 alone", 1,
     with_faults([](Faults& f) { f.refuse_status = 5; }), 2000,
     [](const RawClient::Received& r) { EXPECT_EQ(only_packet(r).data[0], 1); }},
    {"truncate p2", 2, with_faults([](Faults& f) { f.truncate_to = 3; }), 2000,
     [](const RawClient::Received& r) {
       EXPECT_EQ(only_packet(r).size, 3);
       EXPECT_EQ(r.bytes.size(), 16u);
     }},
    {"truncate p1", 1, with_faults([](Faults& f) { f.truncate_to = 3; }), 2000,
     [](const RawClient::Received& r) {
       const auto& a = only_packet(r);
       EXPECT_EQ(a.size, 5);  // three data bytes: class 5
       EXPECT_EQ(a.data[0], 1);
       EXPECT_EQ(r.bytes.size(), 14u);
     }},
    {"garbage p2", 2, with_faults([](Faults& f) { f.garbage_before = 20; }), 2000,
     [](const RawClient::Received& r) {
       EXPECT_EQ(only_packet(r).size, 7);
       ASSERT_EQ(r.bytes.size(), 40u);
       for (int i = 0; i < 20; ++i) EXPECT_NE(r.bytes[i], 0x55);
     }},
    {"garbage p1", 1, with_faults([](Faults& f) { f.garbage_before = 14; }), 2000,
     [](const RawClient::Received& r) {
       EXPECT_EQ(only_packet(r).data[0], 1);
       EXPECT_EQ(r.bytes.size(), 39u);
     }},
    {"split bytes", 2, with_faults([](Faults& f) { f.split_bytes = true; }), 2000,
     [](const RawClient::Received& r) {
       EXPECT_EQ(only_packet(r).size, 7);
       EXPECT_GE(r.took_ms, 15u);  // 20 bytes, 1 ms apart
       EXPECT_GT(r.reads, 1u);
     }},
    {"bad crc p2", 2, with_faults([](Faults& f) { f.bad_crc = true; }), kQuietMs,
     [](const RawClient::Received& r) {
       EXPECT_EQ(r.bytes.size(), 20u);
       EXPECT_TRUE(r.packets.empty());
     }},
    {"bad crc p1", 1, with_faults([](Faults& f) { f.bad_crc = true; }), kQuietMs,
     [](const RawClient::Received& r) {
       EXPECT_EQ(r.bytes.size(), 25u);
       EXPECT_TRUE(r.packets.empty());
     }},
    {"drop mid frame p2", 2, with_faults([](Faults& f) { f.drop_mid_frame = true; }), 2000,
     [](const RawClient::Received& r) {
       EXPECT_TRUE(r.closed);
       EXPECT_EQ(r.bytes.size(), 10u);
     }},
    {"drop mid frame p1", 1, with_faults([](Faults& f) { f.drop_mid_frame = true; }), 2000,
     [](const RawClient::Received& r) {
       EXPECT_TRUE(r.closed);
       EXPECT_EQ(r.bytes.size(), 12u);
     }},
};

class NaxsimFaults : public ::testing::TestWithParam<FaultCase> {};

TEST_P(NaxsimFaults, ChangeWhatTheHostReceives) {
  const FaultCase& c = GetParam();
  auto sim = start_simulator();
  sim->set_faults(c.faults);
  RawClient host(sim->port(), c.protocol);
  ASSERT_TRUE(host.send(get_time_request(c.protocol)));
  c.check(host.receive(c.wait_ms));
}

INSTANTIATE_TEST_SUITE_P(Table, NaxsimFaults, ::testing::ValuesIn(kFaultCases),
                         [](const ::testing::TestParamInfo<FaultCase>& param) {
                           std::string name = param.param.name;
                           for (char& ch : name) {
                             if (!isalnum(static_cast<unsigned char>(ch))) ch = '_';
                           }
                           return name;
                         });

TEST(NaxsimFaultControl, ChangesApplyToOpenConnections) {
  auto sim = start_simulator();
  RawClient host(sim->port(), 2);
  Faults faults;
  faults.no_answer = true;
  sim->set_faults(faults);
  ASSERT_TRUE(host.send(get_time_request(2)));
  EXPECT_TRUE(host.receive(kQuietMs).bytes.empty());
  EXPECT_TRUE(sim->faults().no_answer);

  sim->set_faults({});
  EXPECT_TRUE(host.request(get_time_request(2)));
}

TEST(NaxsimFaultControl, KeepaliveAnswersStayClean) {
  auto sim = start_simulator();
  Faults faults;
  faults.bad_crc = true;
  faults.garbage_before = 3;
  faults.drop_mid_frame = true;
  faults.no_answer = true;
  sim->set_faults(faults);
  RawClient host(sim->port(), 1);
  ASSERT_TRUE(host.send(keepalive(1), 0xFFFF));
  auto received = host.receive(2000);
  EXPECT_EQ(received.bytes.size(), 12u);
  EXPECT_EQ(received.packets.size(), 1u);
  EXPECT_FALSE(received.closed);
}

TEST(NaxsimFaultControl, TransportFaultsReachEvents) {
  struct Case {
    const char* name;
    Faults faults;
    bool decodes;
    std::size_t bytes;
  };
  const Case cases[] = {
      {"bad crc", with_faults([](Faults& f) { f.bad_crc = true; }), false, 28},
      {"garbage", with_faults([](Faults& f) { f.garbage_before = 5; }), true, 33},
      {"split", with_faults([](Faults& f) { f.split_bytes = true; }), true, 28},
      {"answer faults leave events alone", with_faults([](Faults& f) {
         f.no_answer = true;
         f.drop_mid_frame = true;
       }),
       true, 28},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    config.protocol = Protocol::P2;
    auto sim = start_simulator(config);
    RawClient host(sim->port(), 2);
    ASSERT_TRUE(sim->wait_for_connections(1, 2000));
    sim->set_faults(c.faults);
    UserEvent event{};
    event.id = 1;
    ASSERT_TRUE(sim->send_user_event(event));
    auto received = host.receive(c.decodes ? 2000 : kQuietMs);
    EXPECT_EQ(received.packets.size(), c.decodes ? 1u : 0u);
    EXPECT_EQ(received.bytes.size(), c.bytes);  // 15 data bytes in a 28-byte frame
  }
}

TEST(NaxsimConnections, DropClosesEveryConnection) {
  auto sim = start_simulator();
  RawClient a(sim->port(), 2);
  RawClient b(sim->port(), 1);
  ASSERT_TRUE(sim->wait_for_connections(2, 2000));
  EXPECT_EQ(sim->connection_count(), 2u);
  sim->drop_connections();
  EXPECT_EQ(sim->connection_count(), 0u);
  EXPECT_TRUE(a.receive(2000).closed);
  EXPECT_TRUE(b.receive(2000).closed);

  RawClient c(sim->port(), 2);
  EXPECT_TRUE(c.request(get_time_request(2)));
}

TEST(NaxsimConnections, HandlersMayDropConnectionsAndSendEvents) {
  auto sim = start_simulator();
  Simulator* simulator = sim.get();
  sim->node().register_handler(2, 0x8040,
                               [simulator](Node&, const nax::Packet& request, nax::Packet&, int) {
                                 UserEvent event{};
                                 event.id = 5;
                                 simulator->send_user_event(event);
                                 if (request.data[0] == 1) simulator->drop_connections();
                                 return false;
                               });
  RawClient host(sim->port(), 2);
  ASSERT_TRUE(host.send(make_packet(0x8040, {0})));
  auto event = host.next();
  ASSERT_TRUE(event);
  EXPECT_EQ(event->cmd, 0x8050);

  // Requests behind the one that drops are in the same read; none may touch a closed stream.
  Bytes burst;
  for (uint8_t first : {1, 0, 0}) {
    const Bytes frame = naxsim_test::build_frame(2, 1, kHostNode, make_packet(0x8040, {first}));
    burst.insert(burst.end(), frame.begin(), frame.end());
  }
  ASSERT_TRUE(host.send_bytes(burst));
  EXPECT_TRUE(host.receive(2000, 5).closed);
  EXPECT_EQ(sim->connection_count(), 0u);
}

TEST(NaxsimConnections, StopEndsConnectionsAndCanStartAgain) {
  auto sim = start_simulator();
  RawClient a(sim->port(), 2);
  ASSERT_TRUE(sim->wait_for_connections(1, 2000));
  sim->stop();
  EXPECT_TRUE(a.receive(2000).closed);
  EXPECT_FALSE(sim->send_user_event(UserEvent{}));

  ASSERT_TRUE(sim->start());
  RawClient b(sim->port(), 2);
  EXPECT_TRUE(b.request(get_time_request(2)));
}

TEST(NaxsimConnections, ServesAThousandAtOnce) {
  constexpr std::size_t kCount = 1000;
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  const rlim_t wanted = 2 * kCount + 64;  // both ends live in this process
  if (limit.rlim_cur < wanted) {
    if (limit.rlim_max < wanted) GTEST_SKIP() << "descriptor limit " << limit.rlim_max;
    limit.rlim_cur = wanted;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &limit), 0);
  }

  auto sim = start_simulator();
  std::vector<std::unique_ptr<RawClient>> hosts;
  for (std::size_t i = 0; i < kCount; ++i) {
    hosts.push_back(std::make_unique<RawClient>(sim->port(), 1 + static_cast<int>(i % 2)));
    ASSERT_TRUE(hosts.back()->connected()) << i;
  }
  ASSERT_TRUE(sim->wait_for_connections(kCount, 10000));
  EXPECT_EQ(sim->connection_count(), kCount);

  for (auto& host : hosts) ASSERT_TRUE(host->send(get_time_request(host->protocol())));
  std::size_t answered = 0;
  for (auto& host : hosts) {
    auto answer = host->next(5000);
    if (answer && answer->cmd == get_time_request(host->protocol()).cmd) ++answered;
  }
  EXPECT_EQ(answered, kCount);
  EXPECT_EQ(sim->requests_received(), kCount);
}

}  // namespace
}  // namespace naxsim
