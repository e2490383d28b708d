// Chaos mode of the simulated node: what each outcome puts on the wire, and
// that one seed always gives the same answers.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "chaos.h"
#include "raw_client.h"

namespace {

using naxsim::Chaos;
using naxsim::ChaosOutcome;
using naxsim::OutChunk;
using naxsim_test::Bytes;

nax::Packet sample_answer(int i) {
  nax::Packet p{};
  p.cmd = 0x8000 + static_cast<uint16_t>(i % 7);
  p.status = 1;
  p.size = static_cast<uint16_t>(4 + i % 40);
  for (uint16_t k = 0; k < p.size; ++k) p.data[k] = static_cast<uint8_t>(k * 3 + i);
  return p;
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

class ChaosMode : public testing::TestWithParam<int> {};

// Each outcome's chunks against the frame the node would have sent; the same seed gives the
// same chunks (bytes, when due, whether a close follows), another seed others.
TEST_P(ChaosMode, EachOutcomeShapesTheFrameAsItSaysAndASeedRepeatsIt) {
  const int protocol = GetParam();
  Chaos chaos(12345), twin(12345), other(12346);
  auto same = [](const std::vector<OutChunk>& a, const std::vector<OutChunk>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const auto& x, const auto& y) {
      return x.bytes == y.bytes && x.due_ms == y.due_ms && x.close_after == y.close_after;
    });
  };
  int differed = 0;
  for (int i = 0; i < 3000; ++i) {
    const nax::Packet answer = sample_answer(i);
    const Bytes clean = naxsim_test::build_frame(protocol, 0x100, 7, answer);
    const Chaos before = chaos;
    const std::vector<OutChunk> chunks = chaos.answer(answer, 0x100, 7, protocol, 1000);
    ASSERT_TRUE(same(chunks, twin.answer(answer, 0x100, 7, protocol, 1000))) << i;
    differed += !same(chunks, other.answer(answer, 0x100, 7, protocol, 1000));
    const Bytes wire = joined(chunks);
    const ChaosOutcome outcome = outcome_of(before, chaos);
    if (outcome != ChaosOutcome::Silence && outcome != ChaosOutcome::Split) {
      ASSERT_EQ(chunks.size(), 1u) << static_cast<int>(outcome);
    }
    switch (outcome) {
      case ChaosOutcome::Valid:
        EXPECT_EQ(wire, clean);
        EXPECT_GE(chunks[0].due_ms, 1000u);
        EXPECT_LT(chunks[0].due_ms, 2500u);
        break;
      case ChaosOutcome::Mutated:
        EXPECT_FALSE(chunks[0].close_after);
        break;
      case ChaosOutcome::Truncated:
        EXPECT_LT(wire.size(), clean.size());
        EXPECT_TRUE(std::equal(wire.begin(), wire.end(), clean.begin()));
        break;
      case ChaosOutcome::Garbage:
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
        EXPECT_TRUE(chunks[0].close_after);
        ASSERT_LE(wire.size(), clean.size());
        EXPECT_TRUE(std::equal(wire.begin(), wire.end(), clean.begin()));
        break;
      default:
        FAIL() << "no outcome counted";
    }
  }
  EXPECT_GT(differed, 0) << "another seed must give other answers";
  // Every outcome came up.
  for (int i = 0; i < static_cast<int>(ChaosOutcome::Count); ++i) {
    EXPECT_GT(chaos.count(static_cast<ChaosOutcome>(i)), 0u) << "outcome " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Protocols, ChaosMode, testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

}  // namespace
