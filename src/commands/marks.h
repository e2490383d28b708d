// Attendance marks: reading a node's mark log a page at a time.
#pragma once

#include <cstddef>
#include <cstdint>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

inline constexpr uint16_t kCmdListMarksFirstP1 = 0x0006;
inline constexpr uint16_t kCmdListMarksNextP1 = 0x0007;
inline constexpr uint16_t kCmdListMarksP2 = 0x8010;

// Protocol-1 mark answer: result(1) -(1) id(4 BCD) direction(2) event(2) index(1)
// -(1) packed date-time(4).
inline constexpr std::size_t kMarkAnswerSizeP1 = 16;
// Mask of a protocol-1 mark: id, date_time, event, index, direction.
inline constexpr uint32_t kMarkMaskP1 = 0x003E;
// Capacity of the code text read from a protocol-2 mark.
inline constexpr std::size_t kMarkCodeCapacity = 10;

// The 16 answer bytes (result byte first) into a mark.
void get_mark_p1(const uint8_t answer[kMarkAnswerSizeP1], nax_mark& mark);
// One protocol-2 mark record; fields the mask does not select are left alone.
uint32_t get_mark_p2(nax_mark& mark, const uint8_t* data, uint16_t& position, uint16_t size);

// Protocol 1 pages by command code alone: first (index 0) or next, one mark an answer.
void encode_list_marks_p1(Packet& request, uint16_t first_index);
// A refusal maps error byte 9 to 21 (first page) or 8, others to 18.
uint32_t decode_list_marks_p1(const Packet& answer, uint16_t first_index, nax_mark* marks,
                              uint16_t& stored);
void encode_list_marks_p2(Packet& request, uint16_t first_index, uint16_t count);
// Status 1 or 8 (no further marks) with the records stored, never more than
// count; the complete records before a break stay stored, with 1029.
uint32_t decode_list_marks_p2(const Packet& answer, uint16_t count, nax_mark* marks,
                              uint16_t& stored);

}  // namespace nax
