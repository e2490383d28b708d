// Frame checksums, computed without lookup tables to keep the code small and pure.
#include "proto/crc.h"

namespace nax {

uint16_t crc16(const uint8_t* data, std::size_t length, uint16_t seed) {
  uint16_t crc = seed;
  for (std::size_t i = 0; i < length; ++i) {
    // Bytewise form of the 0x1021 polynomial: the shifts below fold the
    // incoming byte's contribution in one step instead of eight bit steps.
    crc = static_cast<uint16_t>((crc >> 8) | (crc << 8));
    crc ^= data[i];
    crc ^= static_cast<uint16_t>((crc & 0xFF) >> 4);
    crc ^= static_cast<uint16_t>(crc << 12);
    crc ^= static_cast<uint16_t>((crc & 0xFF) << 5);
  }
  return crc;
}

uint8_t crc8(const uint8_t* data, std::size_t length, uint8_t seed) {
  uint8_t crc = seed;
  for (std::size_t i = 0; i < length; ++i) {
    uint8_t byte = data[i];
    for (int bit = 0; bit < 8; ++bit) {
      const bool carry = ((crc ^ byte) & 0x01) != 0;
      crc = static_cast<uint8_t>(crc >> 1);
      if (carry) crc ^= 0x8C;
      byte = static_cast<uint8_t>(byte >> 1);
    }
  }
  return crc;
}

}  // namespace nax
