// Aux inputs and relays: input configuration, input state, relay control and
// the host's answers to aux input events.
#include "handlers_aux.h"

#include "handlers_io.h"
#include "naxsim.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdGetInputP1 = 0x200C;
constexpr uint16_t kCmdSetInputP1 = 0x200D;
constexpr uint16_t kCmdReleP1 = 0x200F;
constexpr uint16_t kCmdGetInputP2 = 0x8042;
constexpr uint16_t kCmdSetInputP2 = 0x8043;
constexpr uint16_t kCmdStateP2 = 0x8044;
constexpr uint16_t kCmdReleP2 = 0x8100;

void refuse_bad(nax::Packet& answer, int protocol) {
  refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
}

bool get_input(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t input = in.u16();
  if (!in.ok() || input >= AuxPorts::kInputCount) {
    refuse_bad(answer, protocol);
    return true;
  }
  const auto config = node.with_state<AuxPorts>([&](AuxPorts& aux) { return aux.inputs[input]; });
  AnswerWriter out(answer);
  begin_done(out, protocol);
  out.bytes(config.data(), config.size());
  return true;
}

bool set_input(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t input = in.u16();
  const std::string config = in.bytes(AuxPorts::kConfigSize);
  if (!in.ok() || input >= AuxPorts::kInputCount) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<AuxPorts>([&](AuxPorts& aux) {
    std::memcpy(aux.inputs[input].data(), config.data(), config.size());
    return 0;
  });
  AnswerWriter out(answer);
  begin_done(out, protocol);
  return true;
}

bool input_state(Node& node, const nax::Packet&, nax::Packet& answer, int) {
  AnswerWriter out(answer);
  out.u32(node.with_state<AuxPorts>([](AuxPorts& aux) { return aux.input_state; }));
  return true;
}

bool rele_control(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint8_t relay = in.u8();
  const uint8_t time_mode = in.u8();
  if (!in.ok() || relay >= AuxPorts::kRelayCount) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<AuxPorts>([&](AuxPorts& aux) { return aux.relays[relay] = time_mode; });
  AnswerWriter out(answer);
  begin_done(out, protocol);
  return true;
}

// The host's answer to an aux input event is kept and never answered.
bool event_answer(Node& node, const nax::Packet& request, nax::Packet&, int) {
  RequestReader in(request);
  const uint8_t code = in.u8();
  if (in.ok()) {
    node.with_state<AuxPorts>([&](AuxPorts& aux) {
      aux.event_answers.push_back(code);
      return 0;
    });
  }
  return false;
}

const HandlerRegistration kGetInputP1(1, kCmdGetInputP1, get_input);
const HandlerRegistration kSetInputP1(1, kCmdSetInputP1, set_input);
const HandlerRegistration kReleP1(1, kCmdReleP1, rele_control);
const HandlerRegistration kGetInputP2(2, kCmdGetInputP2, get_input);
const HandlerRegistration kSetInputP2(2, kCmdSetInputP2, set_input);
const HandlerRegistration kStateP2(2, kCmdStateP2, input_state);
const HandlerRegistration kReleP2(2, kCmdReleP2, rele_control);
const HandlerRegistration kEventAnswerP2(2, kCmdAuxEventP2, event_answer);

}  // namespace
}  // namespace naxsim
