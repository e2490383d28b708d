// Answers to user events (both protocols, send only) and display messages
// (protocol 2 only).
#pragma once

#include <cstddef>
#include <cstdint>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

inline constexpr uint16_t kCmdAnswerUserEventP1 = 0x0012;  // the user event's own code
inline constexpr uint16_t kCmdAnswerUserEventP2 = 0x8050;  // the user event's own code
inline constexpr uint16_t kCmdDisplayMsgP2 = 0x8110;

inline constexpr std::size_t kAuxTextFieldSize = 45;
inline constexpr std::size_t kDisplayTextFieldSize = 50;
inline constexpr std::size_t kDisplayHeaderSize = 6;
inline constexpr std::size_t kDisplayMessageWireSize = 58;

// Protocol 1 acknowledges with an empty frame; its request status is 1 (a
// protocol-1 frame carries no status word, so the node never sees it).
void encode_answer_user_event_p1(Packet& request);
// Date-time, the user record as its mask selects, print_enable's bit 0 and
// every non-empty aux slot as its number and a length-prefixed text.
// 1037 when that exceeds the 512 data bytes a node accepts; nothing is built
// or cut then.
uint32_t encode_answer_user_event_p2(Packet& request, nax_user_event_answer& answer);
// Bytes the protocol-2 answer takes, for the limit above.
std::size_t answer_user_event_p2_size(const nax_user_event_answer& answer);

// 6 + 58 × count bytes must fit the 512 data bytes a node accepts (8 messages):
// 1037 otherwise.  Texts without a NUL within their 50 bytes are cut in the host's records.
uint32_t encode_display_msg_p2(Packet& request, uint16_t count, nax_display_message* messages,
                               int32_t timer);
uint32_t decode_display_msg_p2(const Packet& answer, uint16_t& answer_word);

}  // namespace nax
