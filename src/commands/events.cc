// Event payload decoders.
#include "commands/events.h"

#include "commands/fields.h"
#include "proto/bytes.h"

namespace nax {

uint32_t decode_user_event_p1(const Packet& packet, nax_user_event& event) {
  // result(1) unused(1) id(4, BCD) direction(2) event(2) index+1(1) unused(1) date-time(4)
  constexpr uint16_t kLength = 16;
  if (packet.size < 1) return NAX_ERR_SHORT_ANSWER;
  if (packet.data[0] != 1) return packet.data[0];
  if (packet.size < kLength) return NAX_ERR_SHORT_ANSWER;
  const uint8_t* d = packet.data;
  event.id = bcd8_from_node(d + 2);
  event.direction = direction_byte(load_u16(d + 6));
  event.event = map_mark_event(load_u16(d + 8));
  event.index = d[10] == 0 ? 0 : static_cast<uint16_t>(d[10] - 1);
  unpack_mark_date_time(d + 12, event.time);
  return NAX_OK;
}

uint32_t decode_user_event_p2(const Packet& packet, nax_user_event& event) {
  if (packet.status != 1) return NAX_ERR_SHORT_ANSWER;
  uint16_t pos = 0;
  uint32_t status = get_u32(&event.id, packet.data, pos, packet.size);
  if (status == NAX_OK) status = get_u16(&event.index, packet.data, pos, packet.size);
  if (status == NAX_OK) status = get_u8(&event.event, packet.data, pos, packet.size);
  if (status == NAX_OK) status = get_u8(&event.direction, packet.data, pos, packet.size);
  if (status == NAX_OK) status = get_date_time(event.time, packet.data, pos, packet.size);
  return status;
}

uint32_t decode_aux_input_event_p2(const Packet& packet, nax_aux_input_event& event) {
  uint16_t pos = 0;
  uint32_t status = get_u8(&event.aux_input, packet.data, pos, packet.size);
  if (status == NAX_OK) status = get_u8(&event.aux_value, packet.data, pos, packet.size);
  if (status == NAX_OK) status = get_date_time(event.time, packet.data, pos, packet.size);
  return status;
}

}  // namespace nax
