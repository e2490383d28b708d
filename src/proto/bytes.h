// Little-endian put and get helpers over a packet's data area.  Put helpers
// advance a write cursor; get helpers are bounded by the data size and fail
// with 1029 (answer too short) instead of reading past it.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nax {

std::size_t put_u8(uint8_t*& cursor, uint8_t value);
std::size_t put_u16(uint8_t*& cursor, uint16_t value);
std::size_t put_u32(uint8_t*& cursor, uint32_t value);
// Copies count bytes; a null cursor or source writes nothing and returns 0.
std::size_t put_bytes(uint8_t*& cursor, const void* source, uint16_t count);
// Advances the cursor by two and returns the slot, to be filled later with put_u16.
uint8_t* reserve_u16(uint8_t*& cursor);

// Fixed-offset access inside a block whose whole length was already checked.
inline uint16_t load_u16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline void store_u16(uint8_t* p, uint16_t value) {
  p[0] = static_cast<uint8_t>(value);
  p[1] = static_cast<uint8_t>(value >> 8);
}

// Return 1, or 1029 when position + width > size.  Advance position on success.
uint32_t get_u8(uint8_t* out, const uint8_t* data, uint16_t& position, uint16_t size);
uint32_t get_u16(uint16_t* out, const uint8_t* data, uint16_t& position, uint16_t size);
uint32_t get_u32(uint32_t* out, const uint8_t* data, uint16_t& position, uint16_t size);
// Copies count bytes; 1029 when position + count > size or count > capacity.
// Leaves position unchanged.
uint32_t get_bytes(void* out, uint32_t count, uint32_t capacity, const uint8_t* data,
                   uint16_t position, uint16_t size);

}  // namespace nax
