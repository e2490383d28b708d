// Helpers shared by the codec tests: byte vectors, answer packets built from
// them, and readable names for table rows.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <string>
#include <vector>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax::codec_test {

using Bytes = std::vector<uint8_t>;

// Names a parameterised case after its row's name field.
template <typename Case>
std::string case_name(const testing::TestParamInfo<Case>& info) {
  return info.param.name;
}

// With NAX_SEED_DIR set, every answer a codec test builds is also written
// there as an input of the decoder fuzz target (every family, both
// protocols): its seed corpus is made from these golden vectors.
inline void write_decoder_seed(uint16_t status, const Bytes& data) {
  const char* dir = std::getenv("NAX_SEED_DIR");
  if (dir == nullptr) return;
  for (uint8_t protocol_bit : {0, 1}) {
    Bytes seed = {
        0xFF, protocol_bit, static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8),
        0x10, 0x00};
    seed.insert(seed.end(), data.begin(), data.end());
    const std::string name =
        std::string(dir) + "/golden-" +
        std::to_string(std::hash<std::string>{}(std::string(seed.begin(), seed.end())));
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
      std::fwrite(seed.data(), 1, seed.size(), f);
      std::fclose(f);
    }
  }
}

inline Packet answer_of(uint16_t status, const Bytes& data) {
  write_decoder_seed(status, data);
  Packet p{};
  p.status = status;
  p.size = static_cast<uint16_t>(data.size());
  if (!data.empty()) std::memcpy(p.data, data.data(), data.size());
  return p;
}

inline Bytes data_of(const Packet& p) {
  return Bytes(p.data, p.data + p.size);
}

// Runs an encoder that cannot refuse, as a row of the status-returning table.
template <typename... Params, typename... Args>
uint32_t ok(void (*encode)(Packet&, Params...), Packet& request, Args... args) {
  encode(request, args...);
  return NAX_OK;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace nax::codec_test
