// Numeric parameters: get and set in both protocols.
#include "handlers_params.h"

#include "naxsim.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdGetP1 = 0x200A;
constexpr uint16_t kCmdSetP1 = 0x200B;
constexpr uint16_t kCmdGetP2 = 0x8040;
constexpr uint16_t kCmdSetP2 = 0x8041;
constexpr uint16_t kNodeNumberParam = 0;
constexpr uint16_t kGetRequestSize = 3;  // size(1) id(2)
constexpr uint16_t kSetRequestSize = 7;  // size(1) id(2) value(4)

bool valid_width(uint8_t width) {
  return width == 1 || width == 2 || width == 4;
}

uint32_t keep_width(uint32_t value, uint8_t width) {
  if (width == 1) return value & 0xFF;
  if (width == 2) return value & 0xFFFF;
  return value;
}

// Value bytes go right after the result byte in protocol 1, at the start in protocol 2.
bool get_param(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  if (request.size < kGetRequestSize) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
    return true;
  }
  const uint8_t* in = request.data;
  const uint8_t width = in[0];
  const uint16_t id = static_cast<uint16_t>(in[1] | in[2] << 8);
  if (!valid_width(width) || id >= Params::kParamCount) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
    return true;
  }
  uint32_t value = 0;
  if (id == kNodeNumberParam) {
    value = node.number();
  } else {
    value = node.with_state<Params>([&](Params& params) {
      auto found = params.values.find(id);
      return found == params.values.end() ? 0u : found->second;
    });
  }
  uint8_t* out = answer.data;
  if (protocol == 1) *out++ = kResultDone;
  for (uint8_t i = 0; i < width; ++i) *out++ = static_cast<uint8_t>(value >> (8 * i));
  answer.size = static_cast<uint16_t>(out - answer.data);
  return true;
}

bool set_param(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  if (request.size < kSetRequestSize) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
    return true;
  }
  const uint8_t* in = request.data;
  const uint8_t width = in[0];
  const uint16_t id = static_cast<uint16_t>(in[1] | in[2] << 8);
  const uint32_t value =
      static_cast<uint32_t>(in[3] | in[4] << 8 | in[5] << 16) | static_cast<uint32_t>(in[6]) << 24;
  if (!valid_width(width) || id >= Params::kParamCount) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
    return true;
  }
  if (id == kNodeNumberParam) {
    node.set_number(static_cast<uint16_t>(value));
  } else {
    node.with_state<Params>([&](Params& params) {
      params.values[id] = keep_width(value, width);
      return 0;
    });
  }
  if (protocol == 1) {
    answer.data[0] = kResultDone;
    answer.size = 1;
  }
  return true;
}

const HandlerRegistration kGetP1(1, kCmdGetP1, get_param);
const HandlerRegistration kSetP1(1, kCmdSetP1, set_param);
const HandlerRegistration kGetP2(2, kCmdGetP2, get_param);
const HandlerRegistration kSetP2(2, kCmdSetP2, set_param);

}  // namespace
}  // namespace naxsim
