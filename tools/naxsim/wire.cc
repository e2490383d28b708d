// Node-side field codecs and event payloads.
#include "wire.h"

#include <cstring>

namespace naxsim {

uint8_t to_bcd(uint8_t value) {
  // Nodes print the value with two digits at least and pack the first two characters.
  if (value >= 100) return static_cast<uint8_t>((value / 100) << 4 | (value / 10) % 10);
  return static_cast<uint8_t>((value / 10) << 4 | value % 10);
}

uint8_t from_bcd(uint8_t byte) {
  return static_cast<uint8_t>((byte >> 4) * 10 + (byte & 0x0F));
}

void put_bcd8(uint8_t* out, uint32_t value) {
  value %= 100000000;
  for (int i = 3; i >= 0; --i) {
    const uint32_t pair = value % 100;
    out[i] = static_cast<uint8_t>((pair / 10) << 4 | pair % 10);
    value /= 100;
  }
}

void put_date_time(uint8_t* out, const nax_date_time& time) {
  out[0] = time.hour;
  out[1] = time.minute;
  out[2] = time.second;
  out[3] = time.day;
  out[4] = time.month;
  out[5] = time.year;
  out[6] = time.weekday;
}

bool get_date_time(const uint8_t* data, std::size_t size, nax_date_time& time) {
  if (size < kDateTimeSize) return false;
  time.hour = data[0];
  time.minute = data[1];
  time.second = data[2];
  time.day = data[3];
  time.month = data[4];
  time.year = data[5];
  time.weekday = data[6];
  return true;
}

void pack_mark_date_time(const nax_date_time& time, uint8_t out[4]) {
  const uint8_t year = to_bcd(time.year);
  out[0] = static_cast<uint8_t>((year & 0xC0) | (to_bcd(time.hour) & 0x3F));
  out[1] = static_cast<uint8_t>((year & 0x20) << 2 | (to_bcd(time.minute) & 0x7F));
  out[2] = static_cast<uint8_t>((year & 0x18) << 3 | (to_bcd(time.day) & 0x3F));
  out[3] = static_cast<uint8_t>((year & 0x07) << 5 | (to_bcd(time.month) & 0x1F));
}

namespace {

void put_u16(uint8_t* out, uint16_t value) {
  out[0] = static_cast<uint8_t>(value);
  out[1] = static_cast<uint8_t>(value >> 8);
}

void start_packet(nax::Packet& packet, uint16_t cmd, uint16_t size, uint16_t status) {
  std::memset(&packet, 0, sizeof packet);
  packet.cmd = cmd;
  packet.size = size;
  packet.status = status;
}

}  // namespace

void encode_user_event_p1(const UserEvent& event, nax::Packet& packet) {
  start_packet(packet, kCmdUserEventP1, 16, 0);
  uint8_t* d = packet.data;
  d[0] = event.result;
  put_bcd8(d + 2, event.id);
  put_u16(d + 6, event.direction_word);
  put_u16(d + 8, event.event_word);
  d[10] = static_cast<uint8_t>(event.index + 1);
  pack_mark_date_time(event.time, d + 12);
}

void encode_user_event_p2(const UserEvent& event, nax::Packet& packet) {
  start_packet(packet, kCmdUserEventP2, 8 + kDateTimeSize, event.status);
  uint8_t* d = packet.data;
  put_u16(d, static_cast<uint16_t>(event.id));
  put_u16(d + 2, static_cast<uint16_t>(event.id >> 16));
  put_u16(d + 4, event.index);
  d[6] = event.event;
  d[7] = event.direction;
  put_date_time(d + 8, event.time);
}

void encode_aux_event_p2(const AuxEvent& event, nax::Packet& packet) {
  start_packet(packet, kCmdAuxEventP2, 2 + kDateTimeSize, kStatusDone);
  packet.data[0] = event.aux_input;
  packet.data[1] = event.aux_value;
  put_date_time(packet.data + 2, event.time);
}

}  // namespace naxsim
