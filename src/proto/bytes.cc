// Little-endian field helpers used by the command codecs on packet data areas.
#include "proto/bytes.h"

#include <cstring>

#include "vedodiroz.h"

namespace nax {
namespace {

// True when width bytes starting at position lie within the first size bytes.
// Computed in 64 bits so that no sum of 16- and 32-bit values can wrap.
bool fits(uint16_t position, uint64_t width, uint16_t size) {
  return static_cast<uint64_t>(position) + width <= size;
}

}  // namespace

std::size_t put_u8(uint8_t*& cursor, uint8_t value) {
  *cursor++ = value;
  return 1;
}

std::size_t put_u16(uint8_t*& cursor, uint16_t value) {
  *cursor++ = static_cast<uint8_t>(value);
  *cursor++ = static_cast<uint8_t>(value >> 8);
  return 2;
}

std::size_t put_u32(uint8_t*& cursor, uint32_t value) {
  for (int shift = 0; shift < 32; shift += 8) *cursor++ = static_cast<uint8_t>(value >> shift);
  return 4;
}

std::size_t put_bytes(uint8_t*& cursor, const void* source, uint16_t count) {
  if (cursor == nullptr || source == nullptr || count == 0) return 0;
  std::memcpy(cursor, source, count);
  cursor += count;
  return count;
}

uint8_t* reserve_u16(uint8_t*& cursor) {
  uint8_t* slot = cursor;
  cursor += 2;
  return slot;
}

uint32_t get_u8(uint8_t* out, const uint8_t* data, uint16_t& position, uint16_t size) {
  if (!fits(position, 1, size)) return NAX_ERR_SHORT_ANSWER;
  *out = data[position];
  position = static_cast<uint16_t>(position + 1);
  return NAX_OK;
}

uint32_t get_u16(uint16_t* out, const uint8_t* data, uint16_t& position, uint16_t size) {
  if (!fits(position, 2, size)) return NAX_ERR_SHORT_ANSWER;
  *out = static_cast<uint16_t>(data[position] | (data[position + 1] << 8));
  position = static_cast<uint16_t>(position + 2);
  return NAX_OK;
}

uint32_t get_u32(uint32_t* out, const uint8_t* data, uint16_t& position, uint16_t size) {
  if (!fits(position, 4, size)) return NAX_ERR_SHORT_ANSWER;
  uint32_t value = 0;
  for (int i = 3; i >= 0; --i) value = (value << 8) | data[position + i];
  *out = value;
  position = static_cast<uint16_t>(position + 4);
  return NAX_OK;
}

uint32_t get_bytes(void* out, uint32_t count, uint32_t capacity, const uint8_t* data,
                   uint16_t position, uint16_t size) {
  if (!fits(position, count, size) || count > capacity) return NAX_ERR_SHORT_ANSWER;
  if (count > 0) std::memcpy(out, data + position, count);
  return NAX_OK;
}

}  // namespace nax
