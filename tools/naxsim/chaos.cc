// Chaos mode of the simulated node.
#include "chaos.h"

#include <algorithm>

#include "proto/frame.h"

namespace naxsim {

namespace {

// Weights of the outcomes, in ChaosOutcome order.
constexpr std::array<uint32_t, static_cast<int>(ChaosOutcome::Count)> kWeights = {40, 22, 8, 8,
                                                                                  8,  10, 4};

}  // namespace

Chaos::Chaos(uint64_t seed) : seed_(seed), random_(seed) {}

std::vector<uint8_t> Chaos::random_bytes(std::size_t n) {
  std::vector<uint8_t> bytes(n);
  for (uint8_t& b : bytes) b = static_cast<uint8_t>(random_());
  return bytes;
}

void Chaos::mutate(nax::Packet& answer, uint16_t& des, uint16_t& sou, int protocol) {
  const std::size_t limit = protocol == 1 ? nax::kP1MaxData : nax::kP2MaxReceiveData;
  switch (below(6)) {
    case 0:  // flip random data bytes
      for (uint32_t i = 0, n = 1 + below(8); i < n && answer.size > 0; ++i) {
        answer.data[below(answer.size)] = static_cast<uint8_t>(random_());
      }
      break;
    case 1: {  // another size: shorter, or longer with random bytes
      const uint16_t size = static_cast<uint16_t>(below(static_cast<uint32_t>(limit) + 1));
      for (uint16_t i = answer.size; i < size; ++i)
        answer.data[i] = static_cast<uint8_t>(random_());
      answer.size = size;
      break;
    }
    case 2:  // any status word (protocol 1 carries none)
      answer.status = static_cast<uint16_t>(below(4) == 0 ? random_() : below(20));
      break;
    case 3:  // from another node
      sou = static_cast<uint16_t>(random_());
      break;
    case 4:  // to another node
      des = static_cast<uint16_t>(random_());
      break;
    default:  // another command
      answer.cmd = static_cast<uint16_t>(random_());
      break;
  }
}

std::vector<OutChunk> Chaos::answer(nax::Packet answer, uint16_t des, uint16_t sou, int protocol,
                                    uint64_t now_ms) {
  uint32_t total = 0;
  for (uint32_t w : kWeights) total += w;
  uint32_t pick = below(total);
  int outcome = 0;
  while (pick >= kWeights[outcome]) pick -= kWeights[outcome++];
  ++counts_[outcome];

  const auto kind = static_cast<ChaosOutcome>(outcome);
  if (kind == ChaosOutcome::Mutated) mutate(answer, des, sou, protocol);
  uint8_t frame[nax::kFrameBufferSize];
  const std::size_t length = protocol == 1
                                 ? nax::build_frame_p1(des, sou, answer, frame, sizeof frame)
                                 : nax::build_frame_p2(des, sou, answer, frame, sizeof frame);
  std::vector<uint8_t> bytes(frame, frame + length);

  switch (kind) {
    case ChaosOutcome::Valid: {
      // One in four late, up to 1.5 s: past a short receive time-out.
      const uint64_t delay = below(4) == 0 ? below(1500) : 0;
      return {OutChunk{std::move(bytes), now_ms + delay, false}};
    }
    case ChaosOutcome::Mutated:
      return {OutChunk{std::move(bytes), now_ms, false}};
    case ChaosOutcome::Truncated:
      bytes.resize(bytes.empty() ? 0 : below(static_cast<uint32_t>(bytes.size())));
      return {OutChunk{std::move(bytes), now_ms, false}};
    case ChaosOutcome::Garbage:
      return {OutChunk{random_bytes(1 + below(64)), now_ms, false}};
    case ChaosOutcome::Silence:
      return {};
    case ChaosOutcome::Split: {
      std::vector<OutChunk> chunks;
      uint64_t due = now_ms;
      std::size_t at = 0;
      while (at < bytes.size()) {
        const std::size_t piece = std::min<std::size_t>(
            bytes.size() - at, 1 + below(static_cast<uint32_t>(bytes.size())));
        chunks.push_back(OutChunk{
            std::vector<uint8_t>(bytes.begin() + at, bytes.begin() + at + piece), due, false});
        at += piece;
        due += below(50);
      }
      return chunks;
    }
    default:  // Dropped
      bytes.resize(below(static_cast<uint32_t>(bytes.size()) + 1));
      return {OutChunk{std::move(bytes), now_ms, true}};
  }
}

}  // namespace naxsim
