// Node-side field codecs and event payloads: what a node writes on the wire and reads from it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "naxsim.h"
#include "proto/packet.h"
#include "vedodiroz.h"

namespace naxsim {

// Packed-BCD byte as a node writes it: the decimal digits of 0..99 in the two nibbles;
// of 100..255 only the first two digits fit, so 123 goes out as 0x12.
uint8_t to_bcd(uint8_t value);
// High nibble * 10 + low nibble; nibbles above 9 are taken as they are.
uint8_t from_bcd(uint8_t byte);

// 8-digit packed-BCD identifier, most significant pair first: value % 100000000.
void put_bcd8(uint8_t* out, uint32_t value);

// Protocol-2 date-time field: 7 binary bytes hour, minute, second, day, month, year, weekday.
inline constexpr std::size_t kDateTimeSize = 7;
void put_date_time(uint8_t* out, const nax_date_time& time);
// False when fewer than 7 bytes are given.
bool get_date_time(const uint8_t* data, std::size_t size, nax_date_time& time);

// Protocol-1 packed mark date-time (4 bytes): hour, minute, day and month as packed-BCD
// bytes in the low bits of b0..b3, the packed-BCD year spread over their high bits.
// Second and weekday are not carried.
void pack_mark_date_time(const nax_date_time& time, uint8_t out[4]);

// Event packets as the node sends them; cmd, data, size and status are set.
void encode_user_event_p1(const UserEvent& event, nax::Packet& packet);
void encode_user_event_p2(const UserEvent& event, nax::Packet& packet);
void encode_aux_event_p2(const AuxEvent& event, nax::Packet& packet);

}  // namespace naxsim
