// The node's numeric parameters, reachable from tests through Node::with_state<Params>.
#pragma once

#include <cstdint>
#include <map>

namespace naxsim {

// Parameters 0..kParamCount-1 exist; others are refused with kStatusBadRequest (protocol 2)
// or result byte 0 and kErrorBadRequest (protocol 1).  Parameter 0 is the node's number:
// it reads Node::number() and writing it renumbers the node.
struct Params {
  static constexpr uint16_t kParamCount = 1024;
  std::map<uint16_t, uint32_t> values;  // parameters never written read as 0
};

}  // namespace naxsim
