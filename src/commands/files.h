// Files on the node (protocol 2 only): open, read, write, close and delete.
// Read, write and close act on the file the node has open.
#pragma once

#include <cstddef>
#include <cstdint>

#include "proto/frame.h"
#include "proto/packet.h"

namespace nax {

inline constexpr uint16_t kCmdFopenP2 = 0x8070;
inline constexpr uint16_t kCmdFreadP2 = 0x8071;
inline constexpr uint16_t kCmdFwriteP2 = 0x8072;
inline constexpr uint16_t kCmdFcloseP2 = 0x8073;
inline constexpr uint16_t kCmdFdelP2 = 0x8074;

// Longest name either request takes.  With fopen's flags a 510-character
// name makes 515 data bytes: the one request allowed past the 512 a node
// takes in other packets.
inline constexpr std::size_t kMaxFileName = 510;
// A write chunk is all the data of its request.
inline constexpr uint32_t kMaxWriteChunk = static_cast<uint32_t>(kP2MaxRequestData);  // 512

// 1037 for a name above 510 characters; nothing is built then.
uint32_t encode_fopen_p2(Packet& request, const char* fname, uint32_t flags);
// fsize is written only on success.
uint32_t decode_fopen_p2(const Packet& answer, uint32_t& fsize);

void encode_fread_p2(Packet& request, uint32_t len);
// read_bytes is the answer's size once the node said 1; 1029 and nothing
// copied when it exceeds len.
uint32_t decode_fread_p2(const Packet& answer, uint8_t* buffer, uint32_t len, uint32_t& read_bytes);

// 1037 for a chunk above 512 bytes.  Answer: the status word only.
uint32_t encode_fwrite_p2(Packet& request, const uint8_t* data, uint32_t len);

// Answer: status, then the node's CRC-32 (decode_status_and_u32_p2).
void encode_fclose_p2(Packet& request);

// 1037 for a name above 510 characters.  Answer: the status word only.
uint32_t encode_fdel_p2(Packet& request, const char* fname);

}  // namespace nax
