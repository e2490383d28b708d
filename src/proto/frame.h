// Frame layouts of both packet protocols: builders, the incremental frame
// assembler and the conversion of a checked frame back into a packet.
//
// Protocol 1: des(2) sou(2) seq(1) index_size(1) ~crc8(1) | cmd(2) data, zero
//             fill to the size class | crc16(2).  Length = class + 9.
// Protocol 2: 0x55 des(2) sou(2) cmd(2) status(2) size(2) | data | crc16(2).
//             Length = size + 13.
// All multi-byte fields are little-endian.  Pure code: no I/O, no globals.
#pragma once

#include <cstddef>
#include <cstdint>

#include "proto/packet.h"

namespace nax {

// clang-format off
inline constexpr uint16_t kSizeClass[16] = {0,  1,  2,  3,  4,   5,   6,   7,
                                            8, 16, 20, 24, 128, 256, 528, 48};
// clang-format on
inline constexpr std::size_t kP1HeaderLength = 7;
inline constexpr std::size_t kP2HeaderLength = 11;
inline constexpr uint8_t kP2StartByte = 0x55;
inline constexpr uint8_t kP1HeaderCheck = 0x35;  // CRC-8 over a good 7-byte header
inline constexpr std::size_t kP1MaxData = 526;   // largest class (528) minus the command code
inline constexpr std::size_t kP2MaxReceiveData = 512;
inline constexpr std::size_t kFrameBufferSize = 1000;  // send buffer and assembler buffer
inline constexpr std::size_t kP2MaxSendData =
    kFrameBufferSize - 13;  // 987: the builder's own limit
// Commands refuse larger protocol-2 requests up front: no node could ever answer them.
inline constexpr std::size_t kP2MaxRequestData = kP2MaxReceiveData;  // what a node accepts

// Header length of a protocol: 7 for protocol 1, 11 for any other value.
std::size_t header_length(uint8_t protocol);

// Index (1..14) of the smallest size class holding data_size + 2 bytes, tried in
// index order 1..15; -1 when data_size exceeds kP1MaxData.
int choose_size_class(std::size_t data_size);

// Builders write one frame into out and return its length, or 0 when the packet
// does not fit the protocol or the capacity (nothing useful is written then).
// The protocol 1 builder zero-fills the whole capacity first.
std::size_t build_frame_p1(uint16_t des_node, uint16_t sou_node, const Packet& packet, uint8_t* out,
                           std::size_t capacity);
std::size_t build_frame_p2(uint16_t des_node, uint16_t sou_node, const Packet& packet, uint8_t* out,
                           std::size_t capacity);

// Parser states.
enum : uint32_t {
  kAsmIdle = 0,
  kAsmHunting = 1,  // protocol 2 only
  kAsmHeader = 2,
  kAsmHeaderCheck = 3,  // protocol 1 only, passed through within one call
  kAsmBody = 4,
  kAsmFrameCheck = 5,  // passed through within one call
  kAsmComplete = 6,
};

struct FrameAssembler {
  uint8_t buffer[kFrameBufferSize];
  uint32_t write_pos;     // bytes up to here are consumed; the next read stores here
  uint32_t frame_start;   // where the frame being assembled begins
  uint32_t need;          // how many bytes to ask the transport for next
  uint32_t fresh;         // bytes the last read stored at write_pos, not yet consumed
  uint32_t read_timeout;  // ms, for the next read
  uint32_t state;
};

// Zeroes the buffer and counters; need = header length of the protocol.
void assembler_reset(FrameAssembler& a, uint8_t protocol, uint32_t read_timeout);

// Consume a.fresh bytes at a.write_pos.  Returns kAsmComplete when a checked
// frame lies at a.frame_start; kAsmHunting/kAsmHeader/kAsmBody when more bytes
// are needed (a.need says how many); kAsmIdle when everything was dropped.
uint32_t parse_p1(FrameAssembler& a);
uint32_t parse_p2(FrameAssembler& a);
// Protocol 1 when protocol is 1, protocol 2 for any other value.
uint32_t parse_frame(FrameAssembler& a, uint8_t protocol);

// When write_pos + need would pass the buffer end, move the held bytes
// (frame_start..write_pos) to the start of the buffer.
void assembler_make_room(FrameAssembler& a);

// Copy the checked frame at a.frame_start into packet.  Protocol 1: size is the
// class value of the frame's index (its last two bytes are the CRC-16), status 0.
void frame_to_packet_p1(const FrameAssembler& a, Packet& packet);
void frame_to_packet_p2(const FrameAssembler& a, Packet& packet);
void frame_to_packet(const FrameAssembler& a, uint8_t protocol, Packet& packet);

}  // namespace nax
