// Frame checksums: CRC-16/CCITT-FALSE and CRC-8/MAXIM-DOW.
#pragma once

#include <cstddef>
#include <cstdint>

namespace nax {

// Polynomial 0x1021, seed 0xFFFF, no reflection, no final XOR ("123456789" -> 0x29B1).
uint16_t crc16(const uint8_t* data, std::size_t length, uint16_t seed = 0xFFFF);

// Reflected polynomial 0x8C, seed 0, no final XOR ("123456789" -> 0xA1).
uint8_t crc8(const uint8_t* data, std::size_t length, uint8_t seed = 0);

}  // namespace nax
