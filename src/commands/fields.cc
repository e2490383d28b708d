// Field codecs shared by the command payloads and the incoming-event decoders.
#include "commands/fields.h"

#include <cstring>

#include "proto/bytes.h"

namespace nax {

namespace {

// Largest count an 8-bit length byte can announce.
constexpr std::size_t kMaxLengthByte = 255;

// Length of a text that may lack its NUL within the first limit bytes.
std::size_t bounded_length(const char* text, std::size_t limit) {
  std::size_t n = 0;
  while (n < limit && text[n] != '\0') ++n;
  return n;
}

uint8_t digit_nibble(uint32_t nibble) {
  return nibble > 9 ? 0 : static_cast<uint8_t>(nibble);
}

}  // namespace

uint8_t bcd_byte_to_node(uint8_t value) {
  // "%02d" of the value, first two characters: 0..99 pack both digits, 100..255
  // pack their hundreds and tens.
  const uint32_t v = value;
  const uint32_t high = v >= 100 ? v / 100 : v / 10;
  const uint32_t low = v >= 100 ? (v / 10) % 10 : v % 10;
  return static_cast<uint8_t>((high << 4) | low);
}

uint8_t bcd_byte_from_node(uint8_t byte) {
  return static_cast<uint8_t>((byte >> 4) * 10 + (byte & 0x0F));
}

void bcd4_to_node(uint32_t value, uint8_t out[2]) {
  const uint32_t v = value % 10000;
  out[0] = static_cast<uint8_t>(((v / 1000) << 4) | ((v / 100) % 10));
  out[1] = static_cast<uint8_t>((((v / 10) % 10) << 4) | (v % 10));
}

uint32_t bcd4_from_node(const uint8_t in[2]) {
  uint32_t v = 0;
  for (int i = 0; i < 2; ++i) {
    v = v * 10 + digit_nibble(in[i] >> 4);
    v = v * 10 + digit_nibble(in[i] & 0x0F);
  }
  return v;
}

void bcd8_to_node(uint32_t value, uint8_t out[4]) {
  uint32_t v = value % 100000000u;
  for (int i = 3; i >= 0; --i) {
    const uint32_t pair = v % 100;
    v /= 100;
    out[i] = static_cast<uint8_t>(((pair / 10) << 4) | (pair % 10));
  }
}

uint32_t bcd8_from_node(const uint8_t in[4]) {
  uint32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    v = v * 10 + digit_nibble(in[i] >> 4);
    v = v * 10 + digit_nibble(in[i] & 0x0F);
  }
  return v;
}

std::size_t put_date_time(uint8_t*& cursor, const nax_date_time& dt) {
  std::size_t n = put_u8(cursor, dt.hour);
  n += put_u8(cursor, dt.minute);
  n += put_u8(cursor, dt.second);
  n += put_u8(cursor, dt.day);
  n += put_u8(cursor, dt.month);
  n += put_u8(cursor, dt.year);
  n += put_u8(cursor, dt.weekday);
  return n;
}

uint32_t get_date_time(nax_date_time& dt, const uint8_t* data, uint16_t& position, uint16_t size) {
  uint8_t* const fields[] = {&dt.hour,  &dt.minute, &dt.second, &dt.day,
                             &dt.month, &dt.year,   &dt.weekday};
  for (uint8_t* field : fields) {
    const uint32_t status = get_u8(field, data, position, size);
    if (status != NAX_OK) return status;
  }
  return NAX_OK;
}

std::size_t text_field_size(const char* text, std::size_t field_size, uint32_t flags) {
  if (flags & kTextLengthPrefixed) {
    const std::size_t size = field_size < kMaxLengthByte ? field_size : kMaxLengthByte;
    if (text == nullptr || size == 0) return 1;
    const std::size_t n = bounded_length(text, size);
    return 1 + (n + 1 > size ? size : n + 1);
  }
  if (flags & kTextFixed) return text == nullptr ? 0 : field_size;
  return 0;
}

std::size_t put_text(uint8_t*& cursor, char* text, std::size_t field_size, uint32_t flags) {
  if (flags & kTextLengthPrefixed) {
    // The length byte counts the NUL and cannot exceed 255, so a larger field
    // is treated as 255: the text is cut rather than announced short.
    const std::size_t size = field_size < kMaxLengthByte ? field_size : kMaxLengthByte;
    if (text == nullptr || size == 0) return put_u8(cursor, 0);
    const std::size_t n = bounded_length(text, size);
    std::size_t count = n + 1;
    if (count > size) {
      text[size - 1] = '\0';
      count = size;
    }
    std::size_t written = put_u8(cursor, static_cast<uint8_t>(count));
    return written + put_bytes(cursor, text, static_cast<uint16_t>(count));
  }
  if (flags & kTextFixed) {
    if (text == nullptr || field_size == 0) return 0;
    const std::size_t n = bounded_length(text, field_size);
    if (n + 1 > field_size) {
      text[field_size - 1] = '\0';
    } else {
      std::memset(text + n + 1, 0, field_size - n - 1);
    }
    return put_bytes(cursor, text, static_cast<uint16_t>(field_size));
  }
  return 0;
}

uint32_t get_text(char* out, std::size_t capacity, const uint8_t* data, uint16_t& position,
                  uint16_t size, uint32_t flags) {
  uint32_t length = 0;
  if (flags & kTextLengthPrefixed) {
    uint8_t byte = 0;
    const uint32_t status = get_u8(&byte, data, position, size);
    if (status != NAX_OK) return status;
    length = byte;
  } else if (flags & kTextFixed) {
    length = capacity & 0xFF;
  }
  if (static_cast<uint32_t>(position) + length > size || length > capacity) {
    return NAX_ERR_SHORT_ANSWER;
  }
  if (length > 0) {
    std::memcpy(out, data + position, length);
    out[length] = '\0';
    position = static_cast<uint16_t>(position + length);
  }
  return NAX_OK;
}

void unpack_mark_date_time(const uint8_t in[4], nax_date_time& dt) {
  const uint8_t year_bcd = static_cast<uint8_t>((in[0] & 0xC0) | ((in[1] >> 7) << 5) |
                                                ((in[2] >> 6) << 3) | (in[3] >> 5));
  dt.hour = bcd_byte_from_node(in[0] & 0x3F);
  dt.minute = bcd_byte_from_node(in[1] & 0x7F);
  dt.second = 0;
  dt.year = bcd_byte_from_node(year_bcd);
  dt.month = bcd_byte_from_node(in[3] & 0x1F);
  dt.day = bcd_byte_from_node(in[2] & 0x3F);
  dt.weekday = 0;
}

void pack_mark_date_time(const nax_date_time& dt, uint8_t out[4]) {
  const uint8_t year_bcd = bcd_byte_to_node(dt.year);
  out[0] = static_cast<uint8_t>((year_bcd & 0xC0) | (bcd_byte_to_node(dt.hour) & 0x3F));
  out[1] =
      static_cast<uint8_t>((((year_bcd >> 5) & 1) << 7) | (bcd_byte_to_node(dt.minute) & 0x7F));
  out[2] = static_cast<uint8_t>((((year_bcd >> 3) & 3) << 6) | (bcd_byte_to_node(dt.day) & 0x3F));
  out[3] = static_cast<uint8_t>(((year_bcd & 7) << 5) | (bcd_byte_to_node(dt.month) & 0x1F));
}

uint8_t map_mark_event(uint16_t event_word) {
  switch (event_word) {
    case 0:
      return 0x01;
    case 2:
      return 0x8F;
    case 4:
      return 0x91;
    case 8:
      return 0x92;
    case 16:
      return 0x6C;
    case 106:
      return 0x6A;
    case 512:
      return 0x93;
    case 2048:
      return 0x6B;
    default:
      return 0x00;
  }
}

}  // namespace nax
