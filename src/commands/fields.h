// Field codecs shared by the command payloads: packed BCD, the protocol-2
// date-time and text fields, and the protocol-1 mark date-time, event and
// direction.  Pure functions over buffers.
#pragma once

#include <cstddef>
#include <cstdint>

#include "vedodiroz.h"

namespace nax {

// Packed-BCD byte.  To the node: "%02d" of the value, first two characters as
// high and low nibble (59 -> 0x59; 100..255 pack their first two digits).
// From the node: high * 10 + low, nibbles unchecked.
uint8_t bcd_byte_to_node(uint8_t value);
uint8_t bcd_byte_from_node(uint8_t byte);

// 4-digit packed-BCD number (2 bytes, thousands/hundreds first): value % 10000.
// From the node a nibble above 9 counts as 0.
void bcd4_to_node(uint32_t value, uint8_t out[2]);
uint32_t bcd4_from_node(const uint8_t in[2]);

// 8-digit packed-BCD identifier (4 bytes, most significant pair first):
// value % 100000000.  From the node a nibble above 9 counts as 0.
void bcd8_to_node(uint32_t value, uint8_t out[4]);
uint32_t bcd8_from_node(const uint8_t in[4]);

// Protocol-2 date-time field: 7 bytes hour, minute, second, day, month, year, weekday.
inline constexpr std::size_t kDateTimeFieldSize = 7;
std::size_t put_date_time(uint8_t*& cursor, const nax_date_time& dt);
// Fills dt field by field; 1029 at the first missing byte (earlier fields stay stored).
uint32_t get_date_time(nax_date_time& dt, const uint8_t* data, uint16_t& position, uint16_t size);

// Protocol-2 text fields.
enum : uint32_t { kTextLengthPrefixed = 1, kTextFixed = 2 };
// Bytes the writer will produce for this text, field size and flags.
std::size_t text_field_size(const char* text, std::size_t field_size, uint32_t flags);
// Writer: length-prefixed (flag 1) or fixed-length (flag 2).  A text that does
// not fit field_size - 1 characters is cut in the caller's buffer by a NUL at
// field_size - 1.  Returns the bytes written.  A length-prefixed field never
// announces more than 255 bytes: callers pass field_size <= 255.
std::size_t put_text(uint8_t*& cursor, char* text, std::size_t field_size, uint32_t flags);
// Reader: flag 1 reads a length byte L, flag 2 uses L = capacity & 0xFF.
// 1029 when position + L > size or L > capacity; else copies L bytes, stores a
// NUL after them when L > 0 (out needs capacity + 1 bytes) and advances position.
uint32_t get_text(char* out, std::size_t capacity, const uint8_t* data, uint16_t& position,
                  uint16_t size, uint32_t flags);

// Protocol-1 packed mark date-time (4 bytes in wire order); second and weekday 0.
void unpack_mark_date_time(const uint8_t in[4], nax_date_time& dt);
// Inverse of unpack_mark_date_time, for node-side encoders and tests.
void pack_mark_date_time(const nax_date_time& dt, uint8_t out[4]);

// Protocol-1 event word to event byte (0 -> 0x01, 2 -> 0x8F, ... other -> 0x00).
uint8_t map_mark_event(uint16_t event_word);
// Direction byte: low byte of the direction word.
inline uint8_t direction_byte(uint16_t direction_word) {
  return static_cast<uint8_t>(direction_word & 0xFF);
}

}  // namespace nax
