// Node administration: information query, reset, block, table flush and
// record deletion.
#pragma once

#include <cstddef>
#include <cstdint>

#include "proto/packet.h"

namespace nax {

inline constexpr uint16_t kCmdGetInfoP1 = 0x200E;
inline constexpr uint16_t kCmdGetInfoP2 = 0x8030;
inline constexpr uint16_t kCmdResetNodeP1 = 0x001A;
inline constexpr uint16_t kCmdResetNodeP2 = 0x8031;
inline constexpr uint16_t kCmdBlockNodeP1 = 0x0030;
inline constexpr uint16_t kCmdBlockNodeP2 = 0x8032;
inline constexpr uint16_t kCmdFlushTable0P1 = 0x0004;
inline constexpr uint16_t kCmdFlushTable1P1 = 0x0005;
inline constexpr uint16_t kCmdFlushTableP2 = 0x8035;
inline constexpr uint16_t kCmdDelRecordsP2 = 0x8036;

// The host's answer buffer holds 512 bytes: 511 characters and the NUL.
inline constexpr std::size_t kInfoTextCapacity = 512;
inline constexpr std::size_t kInfoMaxQuery = kInfoTextCapacity - 1;

// The query with its NUL; 1037 for a null query or one above 511 characters.
uint32_t encode_get_info_p1(Packet& request, const char* query);
uint32_t encode_get_info_p2(Packet& request, const char* query);
// answer_text (512 bytes) is emptied first; 1037 when it is null.
uint32_t decode_get_info_p1(const Packet& answer, char* answer_text);
uint32_t decode_get_info_p2(const Packet& answer, char* answer_text);

// Answers: protocol 1 result byte as status, protocol 2 the status word.
void encode_reset_node_p1(Packet& request, int32_t device_id, int32_t sub_id);
void encode_reset_node_p2(Packet& request, int32_t device_id, int32_t sub_id);

// Answers: protocol 1 the block answer, protocol 2 the status word.
void encode_block_node_p1(Packet& request, uint8_t value);
void encode_block_node_p2(Packet& request, uint8_t value);

// Protocol 1 knows tables 0 and 1 only (one command each): 1037 for others.
uint32_t encode_flush_table_p1(Packet& request, uint8_t table_id);
void encode_flush_table_p2(Packet& request, uint8_t table_id);

// Protocol-1 answer to block and flush: result byte 1 gives 1; otherwise the
// error byte 1 gives 1037 and any other 16.
uint32_t decode_block_answer_p1(const Packet& answer);

void encode_del_records_p2(Packet& request, uint8_t table_id, uint16_t count);
uint32_t decode_del_records_p2(const Packet& answer, uint16_t& records_deleted);

}  // namespace nax
