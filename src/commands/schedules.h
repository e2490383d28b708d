// Schedules: headers, segment runs, deletion and the paged list.  Both
// protocols share the payloads; protocol-1 answers put the result byte in
// front of them, so every answer offset is one more there.
#pragma once

#include <cstdint>

#include "proto/frame.h"
#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

inline constexpr uint16_t kCmdGetSchdHeaderP1 = 0x2010;
inline constexpr uint16_t kCmdGetSchdHeaderP2 = 0x8080;
inline constexpr uint16_t kCmdGetSchdSegmentsP1 = 0x2011;
inline constexpr uint16_t kCmdGetSchdSegmentsP2 = 0x8081;
inline constexpr uint16_t kCmdSetSchdHeaderP1 = 0x2012;
inline constexpr uint16_t kCmdSetSchdHeaderP2 = 0x8082;
inline constexpr uint16_t kCmdSetSchdSegmentsP1 = 0x2013;
inline constexpr uint16_t kCmdSetSchdSegmentsP2 = 0x8083;
inline constexpr uint16_t kCmdDelSchdP1 = 0x2014;
inline constexpr uint16_t kCmdDelSchdP2 = 0x8084;
inline constexpr uint16_t kCmdListSchdP1 = 0x2015;
inline constexpr uint16_t kCmdListSchdP2 = 0x8085;

inline constexpr uint16_t kSchdNameFieldSize = 21;
inline constexpr uint16_t kSchdHeaderBlockSize = 38;
inline constexpr uint16_t kSchdSegmentWireSize = 3;
inline constexpr uint16_t kSchdEntryWireSize = 23;
// Node status of a list page that was accepted, like 1.
inline constexpr uint32_t kSchdListPageStatus = 31;

// Most segments one write request carries: 14 + 3 × count data bytes must fit
// one frame (526 bytes in protocol 1, the 512 a node accepts in protocol 2).
inline constexpr uint32_t kSchdSetSegmentsHeaderSize = 14;
inline constexpr uint32_t kSchdMaxWriteSegmentsP1 =
    static_cast<uint32_t>((kP1MaxData - kSchdSetSegmentsHeaderSize) / kSchdSegmentWireSize);
inline constexpr uint32_t kSchdMaxWriteSegmentsP2 =
    static_cast<uint32_t>((kP2MaxRequestData - kSchdSetSegmentsHeaderSize) / kSchdSegmentWireSize);
static_assert(kSchdMaxWriteSegmentsP1 == 170 && kSchdMaxWriteSegmentsP2 == 166);

void encode_get_schd_header_p1(Packet& request, uint16_t schd_id);
void encode_get_schd_header_p2(Packet& request, uint16_t schd_id);
// Stores the header block field by field whatever the node's status, then
// returns that status when it is not 1, else 1029 if a field was missing.
uint32_t decode_get_schd_header_p1(const Packet& answer, nax_schd_header& header);
uint32_t decode_get_schd_header_p2(const Packet& answer, nax_schd_header& header);

// A name of 21 characters or more is cut to 20 in the host's record.
// Answers: the status only (result byte in protocol 1).
void encode_set_schd_header_p1(Packet& request, nax_schd_header& header);
void encode_set_schd_header_p2(Packet& request, nax_schd_header& header);

void encode_get_schd_segments_p1(Packet& request, uint16_t schd_id, uint32_t first_index,
                                 uint32_t count);
void encode_get_schd_segments_p2(Packet& request, uint16_t schd_id, uint32_t first_index,
                                 uint32_t count);
// Stores at most count segments (the array's capacity); received tells how
// many were stored, also when the answer ends inside a segment (1029).
uint32_t decode_get_schd_segments_p1(const Packet& answer, nax_schd_segment* segments,
                                     uint32_t count, uint32_t& received);
uint32_t decode_get_schd_segments_p2(const Packet& answer, nax_schd_segment* segments,
                                     uint32_t count, uint32_t& received);

// 1037 when the count does not fit one frame of the protocol; nothing is built then.
uint32_t encode_set_schd_segments_p1(Packet& request, uint16_t schd_id,
                                     const nax_schd_segment* segments, uint32_t first_index,
                                     uint32_t count);
uint32_t encode_set_schd_segments_p2(Packet& request, uint16_t schd_id,
                                     const nax_schd_segment* segments, uint32_t first_index,
                                     uint32_t count);
uint32_t decode_set_schd_segments_p1(const Packet& answer, uint32_t& count_out);
uint32_t decode_set_schd_segments_p2(const Packet& answer, uint32_t& count_out);

// Answers: the status only (result byte in protocol 1).
void encode_del_schd_p1(Packet& request, uint16_t schd_id);
void encode_del_schd_p2(Packet& request, uint16_t schd_id);

void encode_list_schd_p1(Packet& request, uint16_t start_id, uint32_t capacity);
void encode_list_schd_p2(Packet& request, uint16_t start_id, uint32_t capacity);
// Accepts status 1 and 31; start_id takes the node's value; stores at most
// capacity entries and says how many in received.
uint32_t decode_list_schd_p1(const Packet& answer, nax_schd_entry* entries, uint32_t capacity,
                             uint16_t& start_id, uint32_t& received);
uint32_t decode_list_schd_p2(const Packet& answer, nax_schd_entry* entries, uint32_t capacity,
                             uint16_t& start_id, uint32_t& received);

}  // namespace nax
