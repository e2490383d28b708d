// Auxiliary inputs and relays: configuration of one input, the state of all
// inputs, relay control and the answer to an aux input event.
#pragma once

#include <cstdint>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

inline constexpr uint16_t kCmdGetAuxInputP1 = 0x200C;
inline constexpr uint16_t kCmdGetAuxInputP2 = 0x8042;
inline constexpr uint16_t kCmdSetAuxInputP1 = 0x200D;
inline constexpr uint16_t kCmdSetAuxInputP2 = 0x8043;
inline constexpr uint16_t kCmdStateAuxInputP2 = 0x8044;
inline constexpr uint16_t kCmdReleControlP1 = 0x200F;
inline constexpr uint16_t kCmdReleControlP2 = 0x8100;
inline constexpr uint16_t kCmdAnswerAuxInputEventP2 = 0x8051;  // the event's own code

// The aux input wire form: six bytes, two 32-bit conditions, the schedule id
// and the eight extra bytes.
inline constexpr uint16_t kAuxInputWireSize = 24;

void encode_get_aux_input_p1(Packet& request, uint16_t input_id);
void encode_get_aux_input_p2(Packet& request, uint16_t input_id);
// Fields are stored one by one; the first missing byte gives 1029 with the
// fields before it already stored.
uint32_t decode_get_aux_input_p1(const Packet& answer, nax_aux_input& aux_input);
uint32_t decode_get_aux_input_p2(const Packet& answer, nax_aux_input& aux_input);

// Answers: protocol 1 result byte as status, protocol 2 the status word.
void encode_set_aux_input_p1(Packet& request, uint16_t input_id, const nax_aux_input& aux_input);
void encode_set_aux_input_p2(Packet& request, uint16_t input_id, const nax_aux_input& aux_input);

void encode_state_aux_input_p2(Packet& request);
// A status word, then one 32-bit value (also the answer to a file close).
// value is written only on success.
uint32_t decode_status_and_u32_p2(const Packet& answer, uint32_t& value);

// Answers: protocol 1 result byte as status, protocol 2 the status word.
void encode_rele_control_p1(Packet& request, uint8_t rele_id, uint8_t time_mode);
void encode_rele_control_p2(Packet& request, uint8_t rele_id, uint8_t time_mode);

// Sent without waiting for an answer.
void encode_answer_aux_input_event_p2(Packet& request, uint8_t answer_code);

}  // namespace nax
