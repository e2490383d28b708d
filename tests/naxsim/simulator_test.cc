// The simulator seen from a bare host: clock commands, addressing, keepalives, events,
// injected faults and many connections.
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

Bytes data_of(const nax::nax_packet& packet, std::size_t count) {
  return Bytes(packet.data, packet.data + count);
}

// Seconds of a date-time record on a plain calendar, for comparing clocks.
int64_t calendar_seconds(int year, int month, int day, int hour, int minute, int second) {
  struct tm t {};
  t.tm_year = 2000 + year - 1900;
  t.tm_mon = month - 1;
  t.tm_mday = day;
  t.tm_hour = hour;
  t.tm_min = minute;
  t.tm_sec = second;
  return static_cast<int64_t>(timegm(&t));
}

int bcd(uint8_t byte) {
  return (byte >> 4) * 10 + (byte & 0x0F);
}

nax::nax_packet get_time_request(int protocol) {
  return make_packet(protocol == 1 ? 0x0002 : 0x8033);
}

nax::nax_packet keepalive(int protocol) {
  return protocol == 1 ? make_packet(0x3000, {0x00}) : make_packet(0x8200);
}

const Bytes kLeapDayP1 = {0x01, 0x23, 0x59, 0x58, 0x29, 0x02, 0x24, 0x04, 0x00};
const Bytes kLeapDayP2 = {0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04};
const int64_t kLeapDaySeconds = calendar_seconds(24, 2, 29, 23, 59, 58);

TEST(NaxsimClock, Protocol1SetThenGet) {
  auto sim = start_simulator();
  RawClient host(sim->port(), 1);
  ASSERT_TRUE(host.connected());

  auto set = host.request(make_packet(0x0002, kLeapDayP1));
  ASSERT_TRUE(set);
  EXPECT_EQ(set->cmd, 0x0002);
  EXPECT_EQ(set->sou_node, 1);
  EXPECT_EQ(set->des_node, kHostNode);
  EXPECT_EQ(set->data[0], 1);
  EXPECT_EQ(set->size, 3);  // one data byte: class 3

  auto get = host.request(make_packet(0x0002));
  ASSERT_TRUE(get);
  EXPECT_EQ(get->size, 16);  // result and seven fields: class 16
  const uint8_t* d = get->data;
  EXPECT_EQ(d[0], 1);
  const int64_t clock =
      calendar_seconds(bcd(d[6]), bcd(d[5]), bcd(d[4]), bcd(d[1]), bcd(d[2]), bcd(d[3]));
  EXPECT_GE(clock, kLeapDaySeconds);
  EXPECT_LE(clock, kLeapDaySeconds + 3);
  EXPECT_EQ(bcd(d[7]), bcd(d[4]) == 29 ? 4 : 5);  // Thursday, or Friday after midnight
}

TEST(NaxsimClock, Protocol2SetThenGetAdvances) {
  auto sim = start_simulator();
  RawClient host(sim->port(), 2);

  auto set = host.request(make_packet(0x8034, kLeapDayP2));
  ASSERT_TRUE(set);
  EXPECT_EQ(set->cmd, 0x8034);
  EXPECT_EQ(set->status, 1);
  EXPECT_EQ(set->size, 0);

  std::this_thread::sleep_for(std::chrono::milliseconds(1100));
  auto get = host.request(make_packet(0x8033));
  ASSERT_TRUE(get);
  EXPECT_EQ(get->status, 1);
  ASSERT_EQ(get->size, 7);
  const uint8_t* d = get->data;  // h m s D M Y wd
  const int64_t clock = calendar_seconds(d[5], d[4], d[3], d[0], d[1], d[2]);
  EXPECT_GE(clock, kLeapDaySeconds + 1);
  EXPECT_LE(clock, kLeapDaySeconds + 4);
  EXPECT_EQ(d[6], d[3] == 29 ? 4 : 5);
}

TEST(NaxsimClock, ConfiguredOffsetShowsInTheClock) {
  constexpr int32_t kOffset = -3 * 86400 + 125;
  Config config;
  config.clock_offset_s = kOffset;
  auto sim = start_simulator(config);
  RawClient host(sim->port(), 2);

  const time_t expected = time(nullptr) + kOffset;
  auto get = host.request(make_packet(0x8033));
  ASSERT_TRUE(get);
  ASSERT_EQ(get->size, 7);
  struct tm local {};
  localtime_r(&expected, &local);
  const int64_t want = calendar_seconds(local.tm_year % 100, local.tm_mon + 1, local.tm_mday,
                                        local.tm_hour, local.tm_min, local.tm_sec);
  const uint8_t* d = get->data;
  const int64_t clock = calendar_seconds(d[5], d[4], d[3], d[0], d[1], d[2]);
  EXPECT_GE(clock, want);
  EXPECT_LE(clock, want + 2);
  EXPECT_EQ(d[6], local.tm_wday);
}

TEST(NaxsimClock, OutOfRangeSetIsRefusedAndLeavesTheClock) {
  struct Case {
    const char* name;
    int protocol;
    Bytes data;
  };
  const Case cases[] = {
      {"p2 month 13", 2, {12, 0, 0, 1, 13, 24, 1}},
      {"p2 30 February", 2, {12, 0, 0, 30, 2, 24, 1}},
      {"p2 29 February 2023", 2, {12, 0, 0, 29, 2, 23, 1}},
      {"p2 hour 24", 2, {24, 0, 0, 1, 1, 24, 1}},
      {"p2 six bytes", 2, {12, 0, 0, 1, 1, 24}},
      {"p1 minute 60", 1, {0x01, 0x12, 0x60, 0x00, 0x01, 0x01, 0x24, 0x01, 0x00}},
      {"p1 day 0", 1, {0x01, 0x12, 0x00, 0x00, 0x00, 0x01, 0x24, 0x01, 0x00}},
      {"p1 flag only", 1, {0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Config config;
    config.clock_offset_s = 777;
    auto sim = start_simulator(config);
    RawClient host(sim->port(), c.protocol);
    auto answer = host.request(make_packet(c.protocol == 1 ? 0x0002 : 0x8034, c.data));
    ASSERT_TRUE(answer);
    if (c.protocol == 1) {
      EXPECT_EQ(data_of(*answer, 2), (Bytes{kResultRefused, kErrorBadRequest}));
    } else {
      EXPECT_EQ(answer->status, kStatusBadRequest);
    }
    EXPECT_EQ(sim->node().clock_offset_s(), 777);
  }
}

TEST(NaxsimDispatch, UnknownCommandIsRefused) {
  auto sim = start_simulator();
  RawClient p1(sim->port(), 1);
  RawClient p2(sim->port(), 2);

  auto a1 = p1.request(make_packet(0x0999, {1, 2}));
  ASSERT_TRUE(a1);
  EXPECT_EQ(a1->cmd, 0x0999);
  EXPECT_EQ(data_of(*a1, 2), (Bytes{0x00, 0xFF}));

  auto a2 = p2.request(make_packet(0x8999, {1, 2}));
  ASSERT_TRUE(a2);
  EXPECT_EQ(a2->cmd, 0x8999);
  EXPECT_EQ(a2->status, 2);
  EXPECT_EQ(a2->size, 0);
}

TEST(NaxsimDispatch, HostAnswersToEventsGetNoAnswer) {
  struct Case {
    int protocol;
    uint16_t cmd;
  };
  for (const Case& c : {Case{1, 0x0012}, Case{2, 0x8050}, Case{2, 0x8051}}) {
    SCOPED_TRACE(c.cmd);
    auto sim = start_simulator();
    RawClient host(sim->port(), c.protocol);
    ASSERT_TRUE(host.send(make_packet(c.cmd, {}, 1)));
    EXPECT_TRUE(host.receive(kQuietMs).bytes.empty());
    EXPECT_EQ(sim->requests_received(), 1u);
    EXPECT_EQ(sim->last_request().cmd, c.cmd);
  }
}

TEST(NaxsimDispatch, Protocol1RequestsReachHandlersWithoutTheirCrc) {
  auto sim = start_simulator();
  RawClient host(sim->port(), 1);
  // Seven data bytes travel in class 16: a data area of 14 bytes, zero-filled.
  ASSERT_TRUE(host.request(make_packet(0x0999, {1, 2, 3, 4, 5, 6, 7})));
  const nax::nax_packet seen = sim->last_request();
  EXPECT_EQ(seen.cmd, 0x0999);
  EXPECT_EQ(seen.sou_node, kHostNode);
  EXPECT_EQ(seen.des_node, 1);
  ASSERT_EQ(seen.size, 14);
  EXPECT_EQ(data_of(seen, 14), (Bytes{1, 2, 3, 4, 5, 6, 7, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(NaxsimDispatch, AnswersOnlyItsOwnNumberAndBroadcast) {
  struct Case {
    int protocol;
    uint16_t des;
    bool answered;
  };
  const Case cases[] = {
      {2, 5, true}, {2, 0xFFFF, true}, {2, 6, false}, {2, 0, false},
      {1, 5, true}, {1, 0xFFFF, true}, {1, 4, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(::testing::Message() << "p" << c.protocol << " des " << c.des);
    Config config;
    config.node = 5;
    auto sim = start_simulator(config);
    RawClient host(sim->port(), c.protocol);
    ASSERT_TRUE(host.send(get_time_request(c.protocol), c.des));
    auto received = host.receive(c.answered ? 2000 : kQuietMs);
    EXPECT_EQ(sim->requests_received(), 1u);
    if (!c.answered) {
      EXPECT_TRUE(received.bytes.empty());
      continue;
    }
    ASSERT_EQ(received.packets.size(), 1u);
    EXPECT_EQ(received.packets[0].sou_node, c.des);
    EXPECT_EQ(received.packets[0].des_node, kHostNode);
  }
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
      2, 0x7F40, [](Node& node, const nax::nax_packet& request, nax::nax_packet& answer, int) {
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

TEST(NaxsimKeepalive, AnsweredAddressedBackOrIgnored) {
  struct Case {
    int protocol;
    bool ignore;
  };
  for (const Case& c : {Case{1, false}, Case{2, false}, Case{1, true}, Case{2, true}}) {
    SCOPED_TRACE(::testing::Message() << "p" << c.protocol << " ignore " << c.ignore);
    auto sim = start_simulator();
    Faults faults;
    faults.ignore_keepalives = c.ignore;
    sim->set_faults(faults);
    RawClient host(sim->port(), c.protocol);
    ASSERT_TRUE(host.send(keepalive(c.protocol), 0xFFFF));
    auto received = host.receive(c.ignore ? kQuietMs : 2000);
    EXPECT_EQ(sim->requests_received(), 0u);
    if (c.ignore) {
      EXPECT_TRUE(received.bytes.empty());
      EXPECT_EQ(sim->keepalives_received(), 1u) << "counted, not answered";
      continue;
    }
    EXPECT_EQ(sim->keepalives_received(), 1u);
    ASSERT_EQ(received.packets.size(), 1u);
    const nax::nax_packet& answer = received.packets[0];
    EXPECT_EQ(answer.cmd, c.protocol == 1 ? 0x3000 : 0x8200);
    EXPECT_EQ(answer.sou_node, 0xFFFF);
    EXPECT_EQ(answer.des_node, kHostNode);
    // Protocol 1: one byte 0 in class 3, a 12-byte frame; protocol 2: no data, 13 bytes.
    EXPECT_EQ(received.bytes.size(), c.protocol == 1 ? 12u : 13u);
  }
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

const nax::nax_packet& only_packet(const RawClient::Received& r) {
  static const nax::nax_packet none{};
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

nax_date_time leap_day() {
  nax_date_time t{};
  t.hour = 23;
  t.minute = 59;
  t.second = 58;
  t.day = 29;
  t.month = 2;
  t.year = 24;
  t.weekday = 4;
  return t;
}

TEST(NaxsimEvents, UserEventReachesEachConnectionInItsProtocol) {
  auto sim = start_simulator();
  RawClient p1(sim->port(), 1);
  RawClient p2(sim->port(), 2);
  ASSERT_TRUE(sim->wait_for_connections(2, 2000));
  UserEvent event{};
  event.id = 12345678;
  event.index = 4;
  event.event = 0x6B;
  event.direction = 2;
  event.time = leap_day();
  event.event_word = 2048;
  event.direction_word = 0x0002;
  event.status = 1;
  // Nobody has spoken yet, so neither protocol is known.
  EXPECT_FALSE(sim->send_user_event(event));

  ASSERT_TRUE(p1.send(keepalive(1), 0xFFFF, 0x0031));
  ASSERT_TRUE(p1.next());
  ASSERT_TRUE(p2.send(keepalive(2), 0xFFFF, 0x0032));
  ASSERT_TRUE(p2.next());
  ASSERT_TRUE(sim->send_user_event(event));

  auto e1 = p1.next();
  ASSERT_TRUE(e1);
  EXPECT_EQ(e1->cmd, 0x0012);
  EXPECT_EQ(e1->sou_node, 1);
  EXPECT_EQ(e1->des_node, 0x0031);
  EXPECT_EQ(e1->size, 20);  // 16 data bytes: class 20
  EXPECT_EQ(data_of(*e1, 16), (Bytes{0x01, 0x00, 0x12, 0x34, 0x56, 0x78, 0x02, 0x00, 0x00, 0x08,
                                     0x05, 0x00, 0x23, 0xD9, 0x29, 0x82}));

  auto e2 = p2.next();
  ASSERT_TRUE(e2);
  EXPECT_EQ(e2->cmd, 0x8050);
  EXPECT_EQ(e2->sou_node, 1);
  EXPECT_EQ(e2->des_node, 0x0032);
  EXPECT_EQ(e2->status, 1);
  ASSERT_EQ(e2->size, 15);
  EXPECT_EQ(data_of(*e2, 15), (Bytes{0x4E, 0x61, 0xBC, 0x00, 0x04, 0x00, 0x6B, 0x02, 0x17, 0x3B,
                                     0x3A, 0x1D, 0x02, 0x18, 0x04}));
}

TEST(NaxsimEvents, AuxInputEventGoesToProtocol2Only) {
  Config config;
  config.protocol = Protocol::P1;
  auto p1_sim = start_simulator(config);
  RawClient p1(p1_sim->port(), 1);
  ASSERT_TRUE(p1_sim->wait_for_connections(1, 2000));
  const AuxEvent event{3, 1, leap_day()};
  EXPECT_FALSE(p1_sim->send_aux_input_event(event));
  EXPECT_TRUE(p1.receive(kQuietMs).bytes.empty());

  config.protocol = Protocol::P2;
  auto p2_sim = start_simulator(config);
  RawClient p2(p2_sim->port(), 2);
  ASSERT_TRUE(p2_sim->wait_for_connections(1, 2000));
  // A fixed protocol needs no first frame; with none seen the host node is 0.
  ASSERT_TRUE(p2_sim->send_aux_input_event(event));
  auto e = p2.next();
  ASSERT_TRUE(e);
  EXPECT_EQ(e->cmd, 0x8051);
  EXPECT_EQ(e->des_node, 0);
  EXPECT_EQ(e->sou_node, 1);
  EXPECT_EQ(data_of(*e, e->size), (Bytes{0x03, 0x01, 0x17, 0x3B, 0x3A, 0x1D, 0x02, 0x18, 0x04}));
}

TEST(NaxsimEvents, SpontaneousUserEventsUntilSwitchedOff) {
  auto sim = start_simulator();
  RawClient host(sim->port(), 2);
  ASSERT_TRUE(host.request(get_time_request(2)));
  Faults faults;
  faults.event_every_ms = 20;
  sim->set_faults(faults);

  auto received = host.receive(2000, 3);
  ASSERT_GE(received.packets.size(), 3u);
  for (std::size_t i = 0; i < 3; ++i) {
    const nax::nax_packet& e = received.packets[i];
    EXPECT_EQ(e.cmd, 0x8050);
    EXPECT_EQ(e.des_node, kHostNode);
    EXPECT_EQ(e.status, 1);
    EXPECT_EQ(e.data[0], i + 1);  // ids count up from 1
  }

  sim->set_faults({});
  host.receive(50);  // whatever was already on its way
  EXPECT_TRUE(host.receive(kQuietMs).bytes.empty());
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
  sim->node().register_handler(
      2, 0x8040, [simulator](Node&, const nax::nax_packet& request, nax::nax_packet&, int) {
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
