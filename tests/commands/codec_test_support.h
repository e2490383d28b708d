// Helpers shared by the codec tests: byte vectors, answer packets built from
// them, and readable names for table rows.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
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

inline nax_packet answer_of(uint16_t status, const Bytes& data) {
  nax_packet p{};
  p.status = status;
  p.size = static_cast<uint16_t>(data.size());
  if (!data.empty()) std::memcpy(p.data, data.data(), data.size());
  return p;
}

inline Bytes data_of(const nax_packet& p) {
  return Bytes(p.data, p.data + p.size);
}

// Runs an encoder that cannot refuse, as a row of the status-returning table.
template <typename... Params, typename... Args>
uint32_t ok(void (*encode)(nax_packet&, Params...), nax_packet& request, Args... args) {
  encode(request, args...);
  return NAX_OK;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

}  // namespace nax::codec_test
