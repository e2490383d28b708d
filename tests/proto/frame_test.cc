// Golden-byte tests of the frame builders.
#include "proto/frame.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace nax {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes pattern(std::size_t count) {
  Bytes out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(i * 7 + 1);
  return out;
}

Bytes join(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

std::unique_ptr<Packet> make_packet(uint16_t cmd, uint16_t status, const Bytes& data) {
  auto p = std::make_unique<Packet>();
  p->cmd = cmd;
  p->status = status;
  p->size = static_cast<uint16_t>(data.size());
  std::copy(data.begin(), data.end(), p->data);
  return p;
}

template <typename Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

TEST(SizeClass, SmallestClassHoldingCommandAndData) {
  struct Row {
    std::size_t data_size;
    int index;
  };
  // Payloads of 47 and 48 bytes go to class 128: the out-of-order class 48 is
  // never chosen by a sender.
  const Row rows[] = {{0, 2},    {1, 3},    {6, 8},    {7, 9},    {14, 9},   {15, 10},  {18, 10},
                      {19, 11},  {20, 11},  {22, 11},  {23, 12},  {30, 12},  {46, 12},  {126, 12},
                      {127, 13}, {254, 13}, {255, 14}, {526, 14}, {527, -1}, {1024, -1}};
  for (const Row& r : rows) EXPECT_EQ(choose_size_class(r.data_size), r.index) << r.data_size;
}

struct BuildCase {
  std::string name;
  uint8_t protocol;
  uint16_t des, sou, cmd, status;
  Bytes data;
  Bytes expected;
  friend void PrintTo(const BuildCase& c, std::ostream* os) { *os << c.name; }
};

class BuildGolden : public testing::TestWithParam<BuildCase> {};

TEST_P(BuildGolden, WritesExactlyTheExpectedFrame) {
  const BuildCase& c = GetParam();
  const auto packet = make_packet(c.cmd, c.status, c.data);
  Bytes out(kFrameBufferSize, 0xAA);
  const std::size_t length = c.protocol == 1
                                 ? build_frame_p1(c.des, c.sou, *packet, out.data(), out.size())
                                 : build_frame_p2(c.des, c.sou, *packet, out.data(), out.size());
  ASSERT_EQ(length, c.expected.size());
  EXPECT_EQ(Bytes(out.begin(), out.begin() + length), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Frame, BuildGolden,
    testing::Values(
        BuildCase{"P1NoData",
                  1,
                  0x1234,
                  0x0001,
                  0x0102,
                  0,
                  {},
                  {0x34, 0x12, 0x01, 0x00, 0x00, 0x22, 0x21, 0x02, 0x01, 0x7F, 0x67}},
        BuildCase{"P1SixDataBytesClass8",
                  1,
                  0x0002,
                  0x0001,
                  0x0113,
                  0,
                  {1, 2, 3, 4, 5, 6},
                  {0x02, 0x00, 0x01, 0x00, 0x00, 0x28, 0xFF, 0x13, 0x01, 0x01, 0x02, 0x03, 0x04,
                   0x05, 0x06, 0xAE, 0x2D}},
        BuildCase{"P1Keepalive",
                  1,
                  0xFFFF,
                  0x0001,
                  0x3000,
                  0,
                  {0x00},
                  {0xFF, 0xFF, 0x01, 0x00, 0x00, 0x23, 0x2E, 0x00, 0x30, 0x00, 0x34, 0x31}},
        // Protocol 1 carries no status: a non-zero one must not change the frame.
        BuildCase{"P1StatusNotSent",
                  1,
                  0x1234,
                  0x0001,
                  0x0102,
                  0x0101,
                  {},
                  {0x34, 0x12, 0x01, 0x00, 0x00, 0x22, 0x21, 0x02, 0x01, 0x7F, 0x67}},
        BuildCase{"P1TwentyDataBytesIndex11", 1, 0x0007, 0x0001, 0x0120, 0, pattern(20),
                  join({{0x07, 0x00, 0x01, 0x00, 0x00, 0x2B, 0xF6, 0x20, 0x01},
                        pattern(20),
                        Bytes(2, 0),
                        {0x07, 0x93}})},
        BuildCase{"P1ThirtyDataBytesIndex12", 1, 0x0007, 0x0001, 0x0120, 0, pattern(30),
                  join({{0x07, 0x00, 0x01, 0x00, 0x00, 0x2C, 0x75, 0x20, 0x01},
                        pattern(30),
                        Bytes(96, 0),
                        {0x2E, 0x32}})},
        BuildCase{"P1LargestIndex14", 1, 0x0007, 0x0001, 0x0120, 0, pattern(526),
                  join({{0x07, 0x00, 0x01, 0x00, 0x00, 0x2E, 0xC9, 0x20, 0x01},
                        pattern(526),
                        {0x07, 0x21}})},
        BuildCase{"P2Keepalive",
                  2,
                  0xFFFF,
                  0x0001,
                  0x8200,
                  0,
                  {},
                  {0x55, 0xFF, 0xFF, 0x01, 0x00, 0x00, 0x82, 0x00, 0x00, 0x00, 0x00, 0x50, 0x8C}},
        BuildCase{"P2StatusAndData",
                  2,
                  0x0001,
                  0x0003,
                  0x0130,
                  0x0101,
                  {0x11, 0x22, 0x33},
                  {0x55, 0x01, 0x00, 0x03, 0x00, 0x30, 0x01, 0x01, 0x01, 0x03, 0x00, 0x11, 0x22,
                   0x33, 0x5A, 0x4D}},
        BuildCase{"P2FillsTheSendBuffer", 2, 0x0004, 0x0001, 0x0140, 0, pattern(987),
                  join({{0x55, 0x04, 0x00, 0x01, 0x00, 0x40, 0x01, 0x00, 0x00, 0xDB, 0x03},
                        pattern(987),
                        {0x63, 0x0D}})}),
    case_name<BuildCase>);

struct RefuseCase {
  std::string name;
  uint8_t protocol;
  std::size_t data_size;
  std::size_t capacity;
  friend void PrintTo(const RefuseCase& c, std::ostream* os) { *os << c.name; }
};

class BuildRefuses : public testing::TestWithParam<RefuseCase> {};

TEST_P(BuildRefuses, ReturnsZero) {
  const RefuseCase& c = GetParam();
  const auto packet = make_packet(0x0120, 0, pattern(c.data_size));
  Bytes out(c.capacity);
  const std::size_t length = c.protocol == 1
                                 ? build_frame_p1(1, 2, *packet, out.data(), out.size())
                                 : build_frame_p2(1, 2, *packet, out.data(), out.size());
  EXPECT_EQ(length, 0u);
}

INSTANTIATE_TEST_SUITE_P(Frame, BuildRefuses,
                         testing::Values(RefuseCase{"P1DataBeyondLargestClass", 1, 527, 1000},
                                         RefuseCase{"P1FrameLongerThanCapacity", 1, 0, 10},
                                         RefuseCase{"P1ClassFillBeyondCapacity", 1, 30, 136},
                                         RefuseCase{"P2FrameLongerThanCapacity", 2, 0, 12},
                                         RefuseCase{"P2MoreThanSendBufferHolds", 2, 988, 1013}),
                         case_name<RefuseCase>);

TEST(BuildFrameP1, ZeroFillsTheWholeCapacity) {
  const auto packet = make_packet(0x0102, 0, {});
  Bytes out(64, 0xAA);
  ASSERT_EQ(build_frame_p1(0x1234, 1, *packet, out.data(), out.size()), 11u);
  EXPECT_TRUE(std::all_of(out.begin() + 11, out.end(), [](uint8_t b) { return b == 0; }));
}

}  // namespace
}  // namespace nax
