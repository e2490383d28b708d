// Chaos mode: every answer the node would send is, at random, sent as is,
// mutated, cut short, replaced by garbage or by silence, split into pieces,
// delayed, or followed by a dropped connection.  One seed gives one sequence
// of choices.
#pragma once

#include <array>
#include <cstdint>
#include <random>
#include <vector>

#include "endpoint.h"
#include "proto/packet.h"

namespace naxsim {

enum class ChaosOutcome {
  Valid,      // the answer as the node made it (sometimes late)
  Mutated,    // random data bytes, size, status, node or command; a good frame
  Truncated,  // the frame's first bytes only
  Garbage,    // random bytes instead of the frame
  Silence,    // nothing at all
  Split,      // the frame in several pieces a few milliseconds apart
  Dropped,    // part of the frame or none, then the connection ends
  Count
};

class Chaos {
 public:
  explicit Chaos(uint64_t seed);
  uint64_t seed() const { return seed_; }

  // What goes on the wire for the answer (des, sou as the node would send
  // them); no chunks is silence.  A chunk with close_after ends the stream.
  std::vector<OutChunk> answer(nax::Packet answer, uint16_t des, uint16_t sou, int protocol,
                               uint64_t now_ms);

  uint64_t count(ChaosOutcome outcome) const { return counts_[static_cast<int>(outcome)]; }

 private:
  uint32_t below(uint32_t n) { return static_cast<uint32_t>(random_() % n); }
  std::vector<uint8_t> random_bytes(std::size_t n);
  void mutate(nax::Packet& answer, uint16_t& des, uint16_t& sou, int protocol);

  uint64_t seed_;
  std::mt19937_64 random_;
  std::array<uint64_t, static_cast<int>(ChaosOutcome::Count)> counts_{};
};

}  // namespace naxsim
