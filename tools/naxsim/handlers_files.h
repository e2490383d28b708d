// The node's file store, reachable from tests through Node::with_state<Files>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace naxsim {

// Open flags: kFileRead opens an existing file at its start; kFileWrite creates
// or empties it; kFileAppend creates it or continues at its end.
inline constexpr uint32_t kFileRead = 0;
inline constexpr uint32_t kFileWrite = 1;
inline constexpr uint32_t kFileAppend = 2;

// Refusals (protocol 2 status words).
inline constexpr uint16_t kFileStatusNotFound = 5;  // open to read or delete a missing file
inline constexpr uint16_t kFileStatusNotOpen = 6;   // read, write or close with no file open,
                                                    // or write to a file opened to read
inline constexpr uint16_t kFileStatusTooLarge = 7;  // a file would exceed kMaxFileSize

// CRC-32 (IEEE 802.3, reflected, initial and final value 0xFFFFFFFF), as the
// node answers it when a file is closed.
uint32_t crc32_ieee(const uint8_t* data, std::size_t size);

struct Files {
  static constexpr std::size_t kMaxFileSize = 4 * 1024 * 1024;
  std::map<std::string, std::vector<uint8_t>> store;
  bool open = false;
  std::string open_name;
  uint32_t open_flags = 0;
  std::size_t position = 0;  // next byte read or written
};

}  // namespace naxsim
