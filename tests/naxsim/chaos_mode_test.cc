// Chaos mode of the simulated node: what each outcome puts on the wire, and
// that one seed always gives the same answers.
#include <gtest/gtest.h>

#include <vector>

#include "chaos.h"
#include "proto/frame.h"

namespace {

using naxsim::Chaos;
using naxsim::ChaosOutcome;
using naxsim::OutChunk;
using Bytes = std::vector<uint8_t>;

nax::Packet sample_answer(int i) {
  nax::Packet p{};
  p.cmd = 0x8000 + static_cast<uint16_t>(i % 7);
  p.status = 1;
  p.size = static_cast<uint16_t>(4 + i % 40);
  for (uint16_t k = 0; k < p.size; ++k) p.data[k] = static_cast<uint8_t>(k * 3 + i);
  return p;
}

Bytes clean_frame(const nax::Packet& p, int protocol) {
  uint8_t frame[nax::kFrameBufferSize];
  const std::size_t n = protocol == 1 ? nax::build_frame_p1(0x100, 7, p, frame, sizeof frame)
                                      : nax::build_frame_p2(0x100, 7, p, frame, sizeof frame);
  return Bytes(frame, frame + n);
}

ChaosOutcome outcome_of(const Chaos& before, const Chaos& after) {
  for (int i = 0; i < static_cast<int>(ChaosOutcome::Count); ++i) {
    const auto o = static_cast<ChaosOutcome>(i);
    if (after.count(o) != before.count(o)) return o;
  }
  return ChaosOutcome::Count;
}

Bytes joined(const std::vector<OutChunk>& chunks) {
  Bytes all;
  for (const OutChunk& c : chunks) all.insert(all.end(), c.bytes.begin(), c.bytes.end());
  return all;
}

bool is_prefix(const Bytes& part, const Bytes& whole) {
  return part.size() <= whole.size() && std::equal(part.begin(), part.end(), whole.begin());
}

class ChaosMode : public testing::TestWithParam<int> {};

// Each outcome's chunks against the frame the node would have sent.
TEST_P(ChaosMode, EachOutcomeShapesTheFrameAsItSays) {
  const int protocol = GetParam();
  Chaos chaos(12345);
  for (int i = 0; i < 3000; ++i) {
    const nax::Packet answer = sample_answer(i);
    const Bytes clean = clean_frame(answer, protocol);
    const Chaos before = chaos;
    const std::vector<OutChunk> chunks = chaos.answer(answer, 0x100, 7, protocol, 1000);
    const Bytes wire = joined(chunks);
    switch (outcome_of(before, chaos)) {
      case ChaosOutcome::Valid:
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_EQ(wire, clean);
        EXPECT_GE(chunks[0].due_ms, 1000u);
        EXPECT_LT(chunks[0].due_ms, 2500u);
        break;
      case ChaosOutcome::Mutated:
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_FALSE(chunks[0].close_after);
        break;
      case ChaosOutcome::Truncated:
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_LT(wire.size(), clean.size());
        EXPECT_TRUE(is_prefix(wire, clean));
        break;
      case ChaosOutcome::Garbage:
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_GE(wire.size(), 1u);
        EXPECT_LE(wire.size(), 64u);
        break;
      case ChaosOutcome::Silence:
        EXPECT_TRUE(chunks.empty());
        break;
      case ChaosOutcome::Split:
        EXPECT_EQ(wire, clean);
        for (std::size_t k = 1; k < chunks.size(); ++k) {
          EXPECT_GE(chunks[k].due_ms, chunks[k - 1].due_ms);
        }
        break;
      case ChaosOutcome::Dropped:
        ASSERT_EQ(chunks.size(), 1u);
        EXPECT_TRUE(chunks[0].close_after);
        EXPECT_TRUE(is_prefix(wire, clean));
        break;
      default:
        FAIL() << "no outcome counted";
    }
  }
  // Every outcome came up.
  for (int i = 0; i < static_cast<int>(ChaosOutcome::Count); ++i) {
    EXPECT_GT(chaos.count(static_cast<ChaosOutcome>(i)), 0u) << "outcome " << i;
  }
}

TEST_P(ChaosMode, OneSeedGivesTheSameAnswers) {
  const int protocol = GetParam();
  Chaos a(99), b(99), c(100);
  bool differs = false;
  for (int i = 0; i < 500; ++i) {
    const auto from_a = a.answer(sample_answer(i), 0x100, 7, protocol, 0);
    const auto from_b = b.answer(sample_answer(i), 0x100, 7, protocol, 0);
    const auto from_c = c.answer(sample_answer(i), 0x100, 7, protocol, 0);
    ASSERT_EQ(from_a.size(), from_b.size());
    for (std::size_t k = 0; k < from_a.size(); ++k) {
      EXPECT_EQ(from_a[k].bytes, from_b[k].bytes);
      EXPECT_EQ(from_a[k].due_ms, from_b[k].due_ms);
      EXPECT_EQ(from_a[k].close_after, from_b[k].close_after);
    }
    if (joined(from_a) != joined(from_c)) differs = true;
  }
  EXPECT_TRUE(differs) << "another seed must give other answers";
}

INSTANTIATE_TEST_SUITE_P(Protocols, ChaosMode, testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

}  // namespace
