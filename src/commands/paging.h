// Record lists read page by page, shared by users and marks: protocol 1 moves
// one record per answer (the node keeps the position), protocol 2 pages by a
// first index and a count.
#pragma once

#include <cstdint>

#include "commands/command.h"
#include "proto/bytes.h"

namespace nax {

inline constexpr uint16_t kStatusNoFurtherRecords = 8;
inline constexpr uint8_t kP1ResultDone = 1;
inline constexpr uint8_t kP1ErrorNoRecords = 9;

// What a protocol-1 refusal becomes: error byte 9 means there is nothing (more)
// to list; which status that is depends on whether the list was just started.
struct P1ListRefusals {
  uint32_t empty;       // error 9 on the first page
  uint32_t no_further;  // error 9 on a later page
  uint32_t other;       // any other error byte
};

inline void encode_page_request_p2(Packet& request, uint16_t cmd, uint16_t first_index,
                                   uint16_t count) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, first_index);
  put_u16(cursor, count);
  end_request(request, cursor);
}

// Protocol-1 list answer: result byte 1 and one record of BlockSize bytes
// starting at block_offset, or the result byte and an error byte.
template <uint16_t BlockSize, typename Record, typename ReadBlock>
uint32_t decode_list_p1(const Packet& answer, uint16_t first_index, uint16_t block_offset,
                        const P1ListRefusals& refusals, Record& record, uint16_t& stored,
                        ReadBlock read_block) {
  uint16_t position = 0;
  uint8_t result = 0;
  uint32_t s = get_u8(&result, answer.data, position, answer.size);
  if (s != NAX_OK) return s;
  if (result == kP1ResultDone) {
    uint8_t block[BlockSize];
    s = get_bytes(block, BlockSize, BlockSize, answer.data, block_offset, answer.size);
    if (s != NAX_OK) return s;
    read_block(block, record);
    stored = 1;
    return NAX_OK;
  }
  uint8_t error = 0;
  s = get_u8(&error, answer.data, position, answer.size);
  if (s != NAX_OK) return s;
  if (error == kP1ErrorNoRecords) return first_index == 0 ? refusals.empty : refusals.no_further;
  return refusals.other;
}

// Protocol-2 page: status 1 or 8 (no further records), a word not used, the
// number of records n, then n records.  At most count records are stored,
// whatever n says; a record cut short leaves its slot as it was, the whole
// records before it stay stored and counted, and the result is 1029.
template <typename Record, typename ReadRecord>
uint32_t decode_page_p2(const Packet& answer, uint16_t count, Record* records, uint16_t& stored,
                        ReadRecord read_record) {
  if (answer.status != NAX_OK && answer.status != kStatusNoFurtherRecords) return answer.status;
  uint16_t position = 0;
  uint16_t unused = 0;
  uint16_t announced = 0;
  uint32_t s = get_u16(&unused, answer.data, position, answer.size);
  if (s == NAX_OK) s = get_u16(&announced, answer.data, position, answer.size);
  if (s != NAX_OK) return s;
  const uint16_t n = announced < count ? announced : count;
  for (uint16_t i = 0; i < n; ++i) {
    Record record{};
    s = read_record(record, answer.data, position, answer.size);
    if (s != NAX_OK) return s;
    records[i] = record;
    stored = static_cast<uint16_t>(i + 1);
  }
  return answer.status;
}

}  // namespace nax
