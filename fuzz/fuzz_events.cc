// libFuzzer target: the decoders of events a node sends by itself (user
// events in both protocols, aux input events in protocol 2), writing into
// host records fenced by guard bytes.
//
// Input: byte 0 picks the decoder (0: protocol-1 user event, 1: protocol-2
// user event, 2: aux input event, anything else: all three), bytes 1..2 the
// status word, the rest the event's data cut to one frame of the protocol.
#include <cstddef>
#include <cstdint>

#include "commands/events.h"
#include "fuzz_support.h"

using namespace nax;
using namespace nax::fuzz;

namespace {

// Only a complete event reaches a callback; anything else is a documented
// failure or, in protocol 1, the node's result byte.
void user_event(const Reader& in, uint16_t status, bool p1) {
  const Packet packet = in.packet(status, p1);
  Guarded<nax_user_event> event(1);
  const uint32_t s =
      p1 ? decode_user_event_p1(packet, event[0]) : decode_user_event_p2(packet, event[0]);
  FUZZ_CHECK(documented_status(s, p1, packet.status));
  if (!p1) FUZZ_CHECK(s == NAX_OK || s == NAX_ERR_SHORT_ANSWER);
  if (s == NAX_OK && p1) FUZZ_CHECK(packet.size >= 16 && packet.data[0] == 1);
}

void aux_event(const Reader& in, uint16_t status) {
  const Packet packet = in.packet(status, false);
  Guarded<nax_aux_input_event> event(1);
  const uint32_t s = decode_aux_input_event_p2(packet, event[0]);
  FUZZ_CHECK(s == NAX_OK || s == NAX_ERR_SHORT_ANSWER);
  FUZZ_CHECK(s != NAX_OK || packet.size >= 9);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t input_size) {
  Reader in(input, input_size);
  const uint8_t which = in.u8();
  const uint16_t status = in.u16();
  if (which == 0 || which > 2) user_event(in, status, true);
  if (which == 1 || which > 2) user_event(in, status, false);
  if (which == 2 || which > 2) aux_event(in, status);
  return 0;
}
