// The frame assembler fed the way the reception loop feeds it: any split of
// the byte stream must yield the same packets, and garbage must be skipped.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "proto/frame.h"

namespace nax {
namespace {

using Bytes = std::vector<uint8_t>;

struct Received {
  uint16_t sou, des, cmd, status;
  Bytes data;
  bool operator==(const Received&) const = default;
};

struct Outcome {
  std::vector<Received> packets;
  int drops = 0;  // parses that returned 0
};

using Chunker = std::function<std::size_t()>;

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

Bytes pattern(std::size_t count) {
  Bytes out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(i * 7 + 1);
  return out;
}

bool waiting(uint32_t state) {
  return state == kAsmHunting || state == kAsmHeader || state == kAsmBody;
}

// The reception loop: read at most need bytes, parse, convert and reset on a
// complete frame, reset on a drop, make room while waiting for more.
Outcome receive(uint8_t protocol, const Bytes& stream, const Chunker& chunk) {
  Outcome out;
  auto a = std::make_unique<FrameAssembler>();
  auto packet = std::make_unique<Packet>();
  packet->status = 0x7777;  // must be overwritten, also by protocol 1
  assembler_reset(*a, protocol, 0xFFFFFFFF);
  std::size_t pos = 0;
  while (pos < stream.size()) {
    if (waiting(a->state)) assembler_make_room(*a);
    EXPECT_LE(a->frame_start, a->write_pos);
    EXPECT_LE(a->write_pos + a->need, kFrameBufferSize);
    if (a->frame_start > a->write_pos || a->write_pos + a->need > kFrameBufferSize) break;
    const std::size_t n = std::min({std::size_t{a->need}, chunk(), stream.size() - pos});
    std::memcpy(a->buffer + a->write_pos, stream.data() + pos, n);
    a->fresh = static_cast<uint32_t>(n);
    pos += n;
    const uint32_t state = parse_frame(*a, protocol);
    if (state == kAsmComplete) {
      frame_to_packet(*a, protocol, *packet);
      out.packets.push_back({packet->sou_node, packet->des_node, packet->cmd, packet->status,
                             Bytes(packet->data, packet->data + packet->size)});
      assembler_reset(*a, protocol, 0xFFFFFFFF);
    } else if (state == kAsmIdle) {
      ++out.drops;
      assembler_reset(*a, protocol, 0xFFFFFFFF);
    } else {
      EXPECT_TRUE(waiting(state)) << state;
      EXPECT_EQ(state, a->state);
      EXPECT_EQ(a->fresh, 0u);
    }
  }
  return out;
}

Chunker whole() {
  return [] { return kFrameBufferSize; };
}
Chunker one_byte() {
  return [] { return std::size_t{1}; };
}
Chunker random_chunks(unsigned seed, std::size_t largest) {
  auto rng = std::make_shared<std::mt19937>(seed);
  return [rng, largest] { return std::uniform_int_distribution<std::size_t>(1, largest)(*rng); };
}

// Golden frames and the packets they carry; a p1 packet's size is its class
// value, so its data ends with the frame's CRC-16.
const Bytes kP1Empty = {0x34, 0x12, 0x01, 0x00, 0x00, 0x22, 0x21, 0x02, 0x01, 0x7F, 0x67};
const Received kP1EmptyPacket = {0x0001, 0x1234, 0x0102, 0, {0x7F, 0x67}};
const Bytes kP1Keepalive = {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x23, 0x2E, 0x00, 0x30, 0x00, 0x34, 0x31};
const Received kP1KeepalivePacket = {0x0001, 0xFFFF, 0x3000, 0, {0x00, 0x34, 0x31}};
// Any sequence number, and a high nibble in the size byte.
const Bytes kP1AnySeq = {0x01, 0x00, 0x09, 0x00, 0xC3, 0xF4, 0xAF,
                         0x05, 0x01, 0xAA, 0xBB, 0xFD, 0xD7};
const Received kP1AnySeqPacket = {0x0009, 0x0001, 0x0105, 0, {0xAA, 0xBB, 0xFD, 0xD7}};
// Index 15 (class 48, 57 bytes) is never sent by the library but is honoured.
const Bytes kP1Index15 =
    join({{0x01, 0x00, 0x07, 0x00, 0x7E, 0xAF, 0xCA, 0x20, 0x01}, pattern(46), {0xAE, 0x69}});
const Received kP1Index15Packet = {0x0007, 0x0001, 0x0120, 0, join({pattern(46), {0xAE, 0x69}})};
const Bytes kP1Largest =
    join({{0x07, 0x00, 0x01, 0x00, 0x00, 0x2E, 0xC9, 0x20, 0x01}, pattern(526), {0x07, 0x21}});
const Received kP1LargestPacket = {0x0001, 0x0007, 0x0120, 0, join({pattern(526), {0x07, 0x21}})};

const Bytes kP2Keepalive = {0x55, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x82,
                            0x00, 0x00, 0x00, 0x00, 0x50, 0x8C};
const Received kP2KeepalivePacket = {0x0001, 0xFFFF, 0x8200, 0, {}};
const Bytes kP2Answer = {0x55, 0x01, 0x00, 0x03, 0x00, 0x30, 0x01, 0x01,
                         0x01, 0x03, 0x00, 0x11, 0x22, 0x33, 0x5A, 0x4D};
const Received kP2AnswerPacket = {0x0003, 0x0001, 0x0130, 0x0101, {0x11, 0x22, 0x33}};
const Bytes kP2Largest = join({{0x55, 0x04, 0x00, 0x01, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00, 0x02},
                               pattern(512),
                               {0xAA, 0x54}});
const Received kP2LargestPacket = {0x0001, 0x0004, 0x0140, 0, pattern(512)};

Bytes corrupt_crc(Bytes frame) {
  frame.back() ^= 0x01;
  return frame;
}

// Seven bytes whose CRC-8 is not the header check value: one rejected window.
const Bytes kBadWindow = {0x00, 0x13, 0x37, 0xC0, 0xFE, 0x42, 0x99};

struct StreamCase {
  std::string name;
  uint8_t protocol;
  Bytes stream;
  std::vector<Received> packets;
  int drops;
  friend void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }
};

class Stream : public testing::TestWithParam<StreamCase> {};

void expect_outcome(const StreamCase& c, const Chunker& chunk, const std::string& how) {
  const Outcome got = receive(c.protocol, c.stream, chunk);
  EXPECT_EQ(got.packets, c.packets) << how;
  EXPECT_EQ(got.drops, c.drops) << how;
}

TEST_P(Stream, SamePacketsWhateverTheSplit) {
  const StreamCase& c = GetParam();
  expect_outcome(c, whole(), "whole reads");
  expect_outcome(c, one_byte(), "one byte per read");
  for (unsigned seed = 1; seed <= 20; ++seed) {
    expect_outcome(c, random_chunks(seed, 3), "seed " + std::to_string(seed) + " up to 3");
    expect_outcome(c, random_chunks(seed, 64), "seed " + std::to_string(seed) + " up to 64");
  }
}

INSTANTIATE_TEST_SUITE_P(
    Assembler, Stream,
    testing::Values(
        StreamCase{"P1BackToBack",
                   1,
                   join({kP1Empty, kP1Keepalive, kP1Index15, kP1AnySeq, kP1Largest}),
                   {kP1EmptyPacket, kP1KeepalivePacket, kP1Index15Packet, kP1AnySeqPacket,
                    kP1LargestPacket},
                   0},
        // Garbage in whole windows before and between frames is skipped.
        StreamCase{"P1GarbageInWholeWindows",
                   1,
                   join({kBadWindow, kBadWindow, kP1Empty, kBadWindow, kP1Keepalive, kBadWindow,
                         kBadWindow, kBadWindow, kP1Index15}),
                   {kP1EmptyPacket, kP1KeepalivePacket, kP1Index15Packet},
                   0},
        // Three stray bytes put the frame off the window grid; only a copy
        // that starts on a window boundary (offset 14) is found.
        StreamCase{"P1FoundOnlyOnWindowBoundary",
                   1,
                   join({{0x10, 0x20, 0x30}, kP1Empty, kP1Empty}),
                   {kP1EmptyPacket},
                   0},
        StreamCase{"P1OffGridFrameIsLost", 1, join({{0x10, 0x20, 0x30}, kP1Empty}), {}, 0},
        StreamCase{"P1BadCrcDroppedNextFound",
                   1,
                   join({corrupt_crc(kP1Keepalive), kP1Empty}),
                   {kP1EmptyPacket},
                   1},
        StreamCase{
            "P2GarbageSkippedByteByByte",
            2,
            join({{0x00, 0xAA, 0x13}, kP2Keepalive, {0x54}, kP2Answer, Bytes(5, 0xFF), kP2Largest}),
            {kP2KeepalivePacket, kP2AnswerPacket, kP2LargestPacket},
            0},
        StreamCase{"P2ForAnyProtocolOtherThanOne",
                   0,
                   join({kP2Keepalive, kP2Answer}),
                   {kP2KeepalivePacket, kP2AnswerPacket},
                   0},
        StreamCase{"P2BadCrcDroppedNextFound",
                   2,
                   join({corrupt_crc(kP2Answer), {0x01}, kP2Keepalive}),
                   {kP2KeepalivePacket},
                   1},
        // A header announcing 513 data bytes drops everything held; the
        // frame after its eleven bytes is found again.
        StreamCase{
            "P2OversizeHeaderResets",
            2,
            join({{0x55, 0x01, 0x00, 0x02, 0x00, 0x40, 0x01, 0x00, 0x00, 0x01, 0x02}, kP2Answer}),
            {kP2AnswerPacket},
            1},
        // Hunting never holds skipped bytes, and a frame that starts near
        // the end of the buffer is moved to its start intact.
        StreamCase{"P2FrameAfterLongGarbage",
                   2,
                   join({Bytes(985, 0x00), kP2Largest, Bytes(1500, 0x33), kP2Answer}),
                   {kP2LargestPacket, kP2AnswerPacket},
                   0},
        StreamCase{"P1FrameAfterLongGarbage",
                   1,
                   join({Bytes(980, 0x00), kP1Largest, Bytes(1400, 0x00), kP1Empty}),
                   {kP1LargestPacket, kP1EmptyPacket},
                   0}),
    [](const testing::TestParamInfo<StreamCase>& param) { return param.param.name; });

// One parse over bytes that all arrived in a single read, whatever need said.
struct ParseCase {
  std::string name;
  uint8_t protocol;
  Bytes bytes;
  uint32_t result;
  uint32_t need;  // checked when waiting
  uint32_t held;  // write_pos - frame_start, checked when waiting
  uint16_t cmd;   // checked when complete
  friend void PrintTo(const ParseCase& c, std::ostream* os) { *os << c.name; }
};

class OneRead : public testing::TestWithParam<ParseCase> {};

TEST_P(OneRead, ReachesTheExpectedState) {
  const ParseCase& c = GetParam();
  auto a = std::make_unique<FrameAssembler>();
  assembler_reset(*a, c.protocol, 0);
  std::memcpy(a->buffer, c.bytes.data(), c.bytes.size());
  a->fresh = static_cast<uint32_t>(c.bytes.size());
  ASSERT_EQ(parse_frame(*a, c.protocol), c.result);
  EXPECT_EQ(a->state, c.result);
  EXPECT_LE(a->frame_start, a->write_pos);
  if (waiting(c.result)) {
    EXPECT_EQ(a->fresh, 0u);
    EXPECT_EQ(a->write_pos, c.bytes.size());
    EXPECT_EQ(a->need, c.need);
    EXPECT_EQ(a->write_pos - a->frame_start, c.held);
  }
  if (c.result == kAsmComplete) {
    auto packet = std::make_unique<Packet>();
    frame_to_packet(*a, c.protocol, *packet);
    EXPECT_EQ(packet->cmd, c.cmd);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Assembler, OneRead,
    testing::Values(
        ParseCase{"P2GarbageThenFrame", 2, join({{0x01, 0x02}, kP2Answer}), kAsmComplete, 0, 0,
                  0x0130},
        ParseCase{"P2BadCrcThenFrame", 2, join({corrupt_crc(kP2Answer), kP2Keepalive}),
                  kAsmComplete, 0, 0, 0x8200},
        ParseCase{"P2BadCrcAlone", 2, corrupt_crc(kP2Answer), kAsmIdle, 0, 0, 0},
        ParseCase{"P2OnlyGarbageHoldsNothing", 2, Bytes(40, 0xA5), kAsmHunting, 11, 0, 0},
        ParseCase{"P2StartByteLast", 2, {0x00, 0x55}, kAsmHeader, 10, 1, 0},
        ParseCase{"P2Header512WaitsForBody",
                  2,
                  {0x55, 0x01, 0x00, 0x02, 0x00, 0x40, 0x01, 0x00, 0x00, 0x00, 0x02},
                  kAsmBody,
                  514,
                  11,
                  0},
        ParseCase{"P2Header513Resets",
                  2,
                  {0x55, 0x01, 0x00, 0x02, 0x00, 0x40, 0x01, 0x00, 0x00, 0x01, 0x02, 0x00, 0x00},
                  kAsmIdle,
                  0,
                  0,
                  0},
        ParseCase{"P1BadCrcThenFrame", 1, join({corrupt_crc(kP1Keepalive), kP1Empty}), kAsmComplete,
                  0, 0, 0x0102},
        ParseCase{"P1BadCrcAlone", 1, corrupt_crc(kP1Keepalive), kAsmIdle, 0, 0, 0},
        ParseCase{"P1BadWindowThenFrame", 1, join({kBadWindow, kP1Keepalive}), kAsmComplete, 0, 0,
                  0x3000},
        ParseCase{"P1WindowDroppedRestHeld", 1, join({kBadWindow, {1, 2, 3}}), kAsmHeader, 4, 3, 0},
        ParseCase{"P1GoodHeaderWaitsForBody", 1,
                  Bytes(kP1Keepalive.begin(), kP1Keepalive.begin() + 8), kAsmBody, 4, 8, 0}),
    [](const testing::TestParamInfo<ParseCase>& param) { return param.param.name; });

struct RoomCase {
  std::string name;
  uint32_t write_pos, frame_start, need;
  uint32_t expected_write_pos, expected_frame_start;
  friend void PrintTo(const RoomCase& c, std::ostream* os) { *os << c.name; }
};

class MakeRoom : public testing::TestWithParam<RoomCase> {};

TEST_P(MakeRoom, MovesHeldBytesOnlyWhenTheReadWouldNotFit) {
  const RoomCase& c = GetParam();
  auto a = std::make_unique<FrameAssembler>();
  assembler_reset(*a, 2, 0);
  for (std::size_t i = 0; i < kFrameBufferSize; ++i) a->buffer[i] = static_cast<uint8_t>(i * 13);
  const Bytes held(a->buffer + c.frame_start, a->buffer + c.write_pos);
  a->write_pos = c.write_pos;
  a->frame_start = c.frame_start;
  a->need = c.need;
  a->state = kAsmBody;
  assembler_make_room(*a);
  EXPECT_EQ(a->write_pos, c.expected_write_pos);
  EXPECT_EQ(a->frame_start, c.expected_frame_start);
  EXPECT_EQ(Bytes(a->buffer + a->frame_start, a->buffer + a->write_pos), held);
  EXPECT_LE(a->write_pos + a->need, kFrameBufferSize);
}

INSTANTIATE_TEST_SUITE_P(Assembler, MakeRoom,
                         testing::Values(RoomCase{"ReadFitsExactly", 989, 978, 11, 989, 978},
                                         RoomCase{"HeldHeaderMoved", 990, 979, 514, 11, 0},
                                         RoomCase{"NothingHeld", 995, 995, 11, 0, 0},
                                         RoomCase{"LargestP1Frame", 1000, 999, 536, 1, 0}),
                         [](const testing::TestParamInfo<RoomCase>& param) {
                           return param.param.name;
                         });

// The link's protocol can change while a frame is half assembled.
TEST(ProtocolSwitch, P1ParserStartsOverOnHuntingState) {
  auto a = std::make_unique<FrameAssembler>();
  assembler_reset(*a, 2, 0);
  std::memcpy(a->buffer, "\x01\x02", 2);
  a->fresh = 2;
  ASSERT_EQ(parse_p2(*a), kAsmHunting);
  std::memcpy(a->buffer + a->write_pos, kP1Empty.data(), kP1Empty.size());
  a->fresh = static_cast<uint32_t>(kP1Empty.size());
  ASSERT_EQ(parse_p1(*a), kAsmComplete);
  EXPECT_EQ(a->frame_start, 2u);
}

TEST(ProtocolSwitch, P2ParserDropsHeldP1Bytes) {
  auto a = std::make_unique<FrameAssembler>();
  assembler_reset(*a, 1, 0);
  std::memcpy(a->buffer, kP1Index15.data(), 20);
  a->fresh = 20;
  ASSERT_EQ(parse_p1(*a), kAsmBody);
  std::memcpy(a->buffer + a->write_pos, kP2Answer.data(), kP2Answer.size());
  a->fresh = static_cast<uint32_t>(kP2Answer.size());
  ASSERT_EQ(parse_p2(*a), kAsmComplete);
  EXPECT_EQ(a->frame_start, 20u);
}

TEST(Assembler, CountersPointingOutsideTheBufferAreRefused) {
  auto a = std::make_unique<FrameAssembler>();
  for (uint8_t protocol : {1, 2}) {
    assembler_reset(*a, protocol, 0);
    a->write_pos = 995;
    a->fresh = 6;
    EXPECT_EQ(parse_frame(*a, protocol), kAsmIdle);
    EXPECT_EQ(a->write_pos, 995u);
  }
}

}  // namespace
}  // namespace nax
