// Clock commands: reading and setting a node's date and time.
#pragma once

#include <cstdint>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

inline constexpr uint16_t kCmdTimeP1 = 0x0002;  // get with no data, set with data 0x01 ...
inline constexpr uint16_t kCmdGetTimeP2 = 0x8033;
inline constexpr uint16_t kCmdSetTimeP2 = 0x8034;

void encode_get_time_p1(Packet& request);
// Reads all eight bytes before storing anything: a short answer leaves dt untouched.
// The result byte is not examined.
uint32_t decode_get_time_p1(const Packet& answer, nax_date_time& dt);
void encode_get_time_p2(Packet& request);
uint32_t decode_get_time_p2(const Packet& answer, nax_date_time& dt);

void encode_set_time_p1(Packet& request, const nax_date_time& dt);
// Result byte 1 gives 1, any other value 2, an empty answer 1029.
uint32_t decode_set_time_p1(const Packet& answer);
void encode_set_time_p2(Packet& request, const nax_date_time& dt);
uint32_t decode_set_time_p2(const Packet& answer);

}  // namespace nax
