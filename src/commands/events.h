// Decoders of the events a node sends by itself: user events (both
// protocols) and aux input events (protocol 2).
#pragma once

#include <cstdint>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

// 1 when every field was read; 1029 when the data are too short (protocol 2:
// also when the packet's status is not 1); protocol 1 returns a result byte
// other than 1 unchanged.  Only 1 leads to a callback.
uint32_t decode_user_event_p1(const Packet& packet, nax_user_event& event);
uint32_t decode_user_event_p2(const Packet& packet, nax_user_event& event);
uint32_t decode_aux_input_event_p2(const Packet& packet, nax_aux_input_event& event);

}  // namespace nax
