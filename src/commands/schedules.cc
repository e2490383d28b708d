// Schedules: codecs of both protocols and the exported commands.
#include "commands/schedules.h"

#include <algorithm>
#include <cstring>

#include "commands/command.h"
#include "commands/fields.h"
#include "core/log.h"
#include "proto/bytes.h"

namespace nax {
namespace {

// The node's verdict and where the payload starts: protocol 1 answers carry
// the result byte at offset 0 (an empty answer gives 1029 as the verdict).
struct AnswerHead {
  uint32_t status;
  uint16_t position;
};

AnswerHead head_p1(const Packet& answer) {
  return {decode_result_byte(answer), 1};
}
AnswerHead head_p2(const Packet& answer) {
  return {answer.status, 0};
}

void encode_schd_id(Packet& request, uint16_t cmd, uint16_t schd_id) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, schd_id);
  end_request(request, cursor);
}

void encode_set_header(Packet& request, uint16_t cmd, nax_schd_header& header) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, header.id);
  put_text(cursor, header.name, kSchdNameFieldSize, kTextFixed);
  put_u32(cursor, header.hours);
  put_u32(cursor, header.segments);
  put_date_time(cursor, header.date_time);
  end_request(request, cursor);
}

// Reads stop at the first missing field so that no later field is taken
// from the wrong offset.
uint32_t get_header_block(nax_schd_header& header, const uint8_t* data, uint16_t position,
                          uint16_t size) {
  uint32_t status = get_u16(&header.id, data, position, size);
  if (status == NAX_OK) {
    status = get_text(header.name, kSchdNameFieldSize, data, position, size, kTextFixed);
  }
  if (status == NAX_OK) status = get_u32(&header.hours, data, position, size);
  if (status == NAX_OK) status = get_u32(&header.segments, data, position, size);
  if (status == NAX_OK) status = get_date_time(header.date_time, data, position, size);
  return status;
}

uint32_t decode_get_header(const Packet& answer, AnswerHead head, nax_schd_header& header) {
  const uint32_t read = get_header_block(header, answer.data, head.position, answer.size);
  return head.status != NAX_OK ? head.status : read;
}

void encode_get_segments(Packet& request, uint16_t cmd, uint16_t schd_id, uint32_t first_index,
                         uint32_t count) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, schd_id);
  put_u32(cursor, first_index);
  put_u32(cursor, count);
  end_request(request, cursor);
}

uint32_t decode_get_segments(const Packet& answer, AnswerHead head, nax_schd_segment* segments,
                             uint32_t count, uint32_t& received) {
  if (head.status != NAX_OK) return head.status;
  uint16_t position = head.position;
  uint32_t skipped = 0;
  uint32_t announced = 0;
  uint32_t status = get_u32(&skipped, answer.data, position, answer.size);
  if (status == NAX_OK) status = get_u32(&skipped, answer.data, position, answer.size);
  if (status == NAX_OK) status = get_u32(&announced, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  // The array holds exactly count segments: a node announcing more is read
  // up to that count and the call succeeds, as the list does at its capacity.
  const uint32_t wanted = std::min(announced, count);
  received = 0;
  for (uint32_t i = 0; i < wanted; ++i) {
    uint8_t wire[kSchdSegmentWireSize];
    status = get_bytes(wire, sizeof wire, sizeof wire, answer.data, position, answer.size);
    if (status != NAX_OK) return status;
    position = static_cast<uint16_t>(position + sizeof wire);
    segments[i].hours = wire[0];
    segments[i].minutes = wire[1];
    segments[i].enabled = wire[2];
    received = i + 1;
  }
  return NAX_OK;
}

uint32_t encode_set_segments(Packet& request, uint16_t cmd, uint32_t max_count, uint16_t schd_id,
                             const nax_schd_segment* segments, uint32_t first_index,
                             uint32_t count) {
  if (count > max_count) return NAX_ERR_INVALID_ARG;
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, schd_id);
  put_u32(cursor, first_index);
  put_u32(cursor, count);
  put_u32(cursor, kSchdSegmentWireSize);
  for (uint32_t i = 0; i < count; ++i) {
    put_u8(cursor, segments[i].hours);
    put_u8(cursor, segments[i].minutes);
    put_u8(cursor, segments[i].enabled);
  }
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t decode_set_segments(const Packet& answer, AnswerHead head, uint32_t& count_out) {
  if (head.status != NAX_OK) return head.status;
  uint16_t position = head.position;
  uint32_t skipped = 0;
  uint32_t taken = 0;
  uint32_t status = get_u32(&skipped, answer.data, position, answer.size);
  if (status == NAX_OK) status = get_u32(&taken, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  count_out = taken;
  return NAX_OK;
}

void encode_list(Packet& request, uint16_t cmd, uint16_t start_id, uint32_t capacity) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, start_id);
  put_u32(cursor, capacity);
  end_request(request, cursor);
}

uint32_t decode_list(const Packet& answer, AnswerHead head, nax_schd_entry* entries,
                     uint32_t capacity, uint16_t& start_id, uint32_t& received) {
  if (head.status != NAX_OK && head.status != kSchdListPageStatus) return head.status;
  uint16_t position = head.position;
  uint16_t next_id = 0;
  uint32_t status = get_u16(&next_id, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  start_id = next_id;
  uint32_t skipped = 0;
  uint32_t announced = 0;
  status = get_u32(&skipped, answer.data, position, answer.size);
  if (status == NAX_OK) status = get_u32(&announced, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  const uint32_t wanted = std::min(announced, capacity);
  received = 0;
  for (uint32_t i = 0; i < wanted; ++i) {
    if (position + kSchdEntryWireSize > answer.size) return NAX_ERR_SHORT_ANSWER;
    get_u16(&entries[i].id, answer.data, position, answer.size);
    get_text(entries[i].name, kSchdNameFieldSize, answer.data, position, answer.size, kTextFixed);
    received = i + 1;
  }
  return head.status;
}

}  // namespace

void encode_get_schd_header_p1(Packet& request, uint16_t schd_id) {
  encode_schd_id(request, kCmdGetSchdHeaderP1, schd_id);
}
void encode_get_schd_header_p2(Packet& request, uint16_t schd_id) {
  encode_schd_id(request, kCmdGetSchdHeaderP2, schd_id);
}
uint32_t decode_get_schd_header_p1(const Packet& answer, nax_schd_header& header) {
  return decode_get_header(answer, head_p1(answer), header);
}
uint32_t decode_get_schd_header_p2(const Packet& answer, nax_schd_header& header) {
  return decode_get_header(answer, head_p2(answer), header);
}

void encode_set_schd_header_p1(Packet& request, nax_schd_header& header) {
  encode_set_header(request, kCmdSetSchdHeaderP1, header);
}
void encode_set_schd_header_p2(Packet& request, nax_schd_header& header) {
  encode_set_header(request, kCmdSetSchdHeaderP2, header);
}

void encode_get_schd_segments_p1(Packet& request, uint16_t schd_id, uint32_t first_index,
                                 uint32_t count) {
  encode_get_segments(request, kCmdGetSchdSegmentsP1, schd_id, first_index, count);
}
void encode_get_schd_segments_p2(Packet& request, uint16_t schd_id, uint32_t first_index,
                                 uint32_t count) {
  encode_get_segments(request, kCmdGetSchdSegmentsP2, schd_id, first_index, count);
}
uint32_t decode_get_schd_segments_p1(const Packet& answer, nax_schd_segment* segments,
                                     uint32_t count, uint32_t& received) {
  return decode_get_segments(answer, head_p1(answer), segments, count, received);
}
uint32_t decode_get_schd_segments_p2(const Packet& answer, nax_schd_segment* segments,
                                     uint32_t count, uint32_t& received) {
  return decode_get_segments(answer, head_p2(answer), segments, count, received);
}

uint32_t encode_set_schd_segments_p1(Packet& request, uint16_t schd_id,
                                     const nax_schd_segment* segments, uint32_t first_index,
                                     uint32_t count) {
  return encode_set_segments(request, kCmdSetSchdSegmentsP1, kSchdMaxWriteSegmentsP1, schd_id,
                             segments, first_index, count);
}
uint32_t encode_set_schd_segments_p2(Packet& request, uint16_t schd_id,
                                     const nax_schd_segment* segments, uint32_t first_index,
                                     uint32_t count) {
  return encode_set_segments(request, kCmdSetSchdSegmentsP2, kSchdMaxWriteSegmentsP2, schd_id,
                             segments, first_index, count);
}
uint32_t decode_set_schd_segments_p1(const Packet& answer, uint32_t& count_out) {
  return decode_set_segments(answer, head_p1(answer), count_out);
}
uint32_t decode_set_schd_segments_p2(const Packet& answer, uint32_t& count_out) {
  return decode_set_segments(answer, head_p2(answer), count_out);
}

void encode_del_schd_p1(Packet& request, uint16_t schd_id) {
  encode_schd_id(request, kCmdDelSchdP1, schd_id);
}
void encode_del_schd_p2(Packet& request, uint16_t schd_id) {
  encode_schd_id(request, kCmdDelSchdP2, schd_id);
}

void encode_list_schd_p1(Packet& request, uint16_t start_id, uint32_t capacity) {
  encode_list(request, kCmdListSchdP1, start_id, capacity);
}
void encode_list_schd_p2(Packet& request, uint16_t start_id, uint32_t capacity) {
  encode_list(request, kCmdListSchdP2, start_id, capacity);
}
uint32_t decode_list_schd_p1(const Packet& answer, nax_schd_entry* entries, uint32_t capacity,
                             uint16_t& start_id, uint32_t& received) {
  return decode_list(answer, head_p1(answer), entries, capacity, start_id, received);
}
uint32_t decode_list_schd_p2(const Packet& answer, nax_schd_entry* entries, uint32_t capacity,
                             uint16_t& start_id, uint32_t& received) {
  return decode_list(answer, head_p2(answer), entries, capacity, start_id, received);
}

namespace {

void log_segments(const nax_schd_segment* segments, uint32_t first_index, uint32_t count,
                  int32_t link_id) {
  for (uint32_t i = 0; i < count; ++i) {
    log_printf(1, kCmd,
               "schedule segment (%05d) - hours = %d, minutes = %d, enabled = %d, for link id = %d",
               first_index + i, segments[i].hours, segments[i].minutes, segments[i].enabled,
               link_id);
  }
}

uint32_t get_header_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t schd_id,
                         nax_schd_header* header) {
  if (header == nullptr) return NAX_ERR_INVALID_ARG;
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_get_schd_header_p1(request, schd_id);
  } else {
    encode_get_schd_header_p2(request, schd_id);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = hold.p1() ? decode_get_schd_header_p1(answer, *header)
                  : decode_get_schd_header_p2(answer, *header);
  if (ret == NAX_OK) {
    log_printf(1, kCmd,
               "get schedule header %d, name = %s, hours = %d, segments = %d, for link id = %d",
               schd_id, header->name, header->hours, header->segments, link_id);
  }
  return ret;
}

uint32_t set_header_held(const LinkHold& hold, int32_t link_id, uint16_t node,
                         nax_schd_header& header) {
  Packet request;
  Packet answer;
  // Encoded before the detail line so that the line shows the name as sent.
  if (hold.p1()) {
    encode_set_schd_header_p1(request, header);
  } else {
    encode_set_schd_header_p2(request, header);
  }
  log_printf(1, kCmd,
             "set schedule header = %d, name = %s, hours = %d, segments = %d, for link id = %d",
             header.id, header.name, header.hours, header.segments, link_id);
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_result_byte(answer) : answer.status;
}

uint32_t get_segments_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t schd_id,
                           nax_schd_segment* segments, uint32_t first_index, uint32_t count,
                           uint32_t& received) {
  if (segments == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  std::memset(segments, 0, static_cast<std::size_t>(count) * sizeof *segments);
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_get_schd_segments_p1(request, schd_id, first_index, count);
  } else {
    encode_get_schd_segments_p2(request, schd_id, first_index, count);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = hold.p1() ? decode_get_schd_segments_p1(answer, segments, count, received)
                  : decode_get_schd_segments_p2(answer, segments, count, received);
  if (ret == NAX_OK) log_segments(segments, first_index, received, link_id);
  return ret;
}

uint32_t set_segments_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t schd_id,
                           const nax_schd_segment* segments, uint32_t first_index, uint32_t count,
                           uint32_t& count_out) {
  if (segments == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  Packet request;
  const uint32_t encoded =
      hold.p1() ? encode_set_schd_segments_p1(request, schd_id, segments, first_index, count)
                : encode_set_schd_segments_p2(request, schd_id, segments, first_index, count);
  if (encoded != NAX_OK) return encoded;
  log_segments(segments, first_index, count, link_id);
  Packet answer;
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_set_schd_segments_p1(answer, count_out)
                   : decode_set_schd_segments_p2(answer, count_out);
}

uint32_t del_held(const LinkHold& hold, uint16_t node, uint16_t schd_id) {
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_del_schd_p1(request, schd_id);
  } else {
    encode_del_schd_p2(request, schd_id);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_result_byte(answer) : answer.status;
}

uint32_t list_held(const LinkHold& hold, int32_t link_id, uint16_t node, nax_schd_entry* entries,
                   uint16_t& start_id, uint32_t capacity, uint32_t& received) {
  if (entries == nullptr || capacity == 0) return NAX_ERR_INVALID_ARG;
  std::memset(entries, 0, static_cast<std::size_t>(capacity) * sizeof *entries);
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_list_schd_p1(request, start_id, capacity);
  } else {
    encode_list_schd_p2(request, start_id, capacity);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = hold.p1() ? decode_list_schd_p1(answer, entries, capacity, start_id, received)
                  : decode_list_schd_p2(answer, entries, capacity, start_id, received);
  for (uint32_t i = 0; i < received; ++i) {
    log_printf(1, kCmd, "schedule - id = %d, name = %s, for link id = %d", entries[i].id,
               entries[i].name, link_id);
  }
  return ret;
}

}  // namespace
}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_get_schd_header(int32_t link_id, uint16_t node, uint16_t schd_id,
                                      nax_schd_header* header) {
  nax::log_printf(1, nax::kCmd, "get schedule header = %d for link id = %d from node = %d", schd_id,
                  link_id, node);
  return nax::run_held("get schedule header", link_id, [&](const nax::LinkHold& hold) {
    return nax::get_header_held(hold, link_id, node, schd_id, header);
  });
}

uint32_t NAX_CALL nax_set_schd_header(int32_t link_id, uint16_t node, nax_schd_header* header) {
  nax::log_printf(1, nax::kCmd, "set schedule header = %d for link id = %d from node = %d",
                  header->id, link_id, node);
  return nax::run_held("set schedule header", link_id, [&](const nax::LinkHold& hold) {
    return nax::set_header_held(hold, link_id, node, *header);
  });
}

uint32_t NAX_CALL nax_get_schd_segments(int32_t link_id, uint16_t node, uint16_t schd_id,
                                        nax_schd_segment* segments, uint32_t first_index,
                                        uint32_t count, uint32_t* received) {
  nax::log_printf(1, nax::kCmd, "list schedule segments id = %d for link id = %d from node = %d",
                  schd_id, link_id, node);
  *received = 0;
  return nax::run_held("list schedule segment", link_id, [&](const nax::LinkHold& hold) {
    return nax::get_segments_held(hold, link_id, node, schd_id, segments, first_index, count,
                                  *received);
  });
}

uint32_t NAX_CALL nax_set_schd_segments(int32_t link_id, uint16_t node, uint16_t schd_id,
                                        const nax_schd_segment* segments, uint32_t first_index,
                                        uint32_t count, uint32_t* count_out) {
  nax::log_printf(1, nax::kCmd, "set schedule segments id = %d for link id = %d from node = %d",
                  schd_id, link_id, node);
  *count_out = 0;
  return nax::run_held("set schedule segment", link_id, [&](const nax::LinkHold& hold) {
    return nax::set_segments_held(hold, link_id, node, schd_id, segments, first_index, count,
                                  *count_out);
  });
}

uint32_t NAX_CALL nax_del_schd(int32_t link_id, uint16_t node, uint16_t schd_id) {
  nax::log_printf(1, nax::kCmd, "del schedule id = %d for link id = %d from node = %d", schd_id,
                  link_id, node);
  return nax::run_held("del schedule", link_id, [&](const nax::LinkHold& hold) {
    return nax::del_held(hold, node, schd_id);
  });
}

uint32_t NAX_CALL nax_list_schd(int32_t link_id, uint16_t node, nax_schd_entry* entries,
                                uint16_t* start_id, uint32_t capacity, uint32_t* received) {
  nax::log_printf(1, nax::kCmd, "list schedule start id = %d for link id = %d from node = %d",
                  *start_id, link_id, node);
  *received = 0;
  return nax::run_held("list schedule", link_id, [&](const nax::LinkHold& hold) {
    return nax::list_held(hold, link_id, node, entries, *start_id, capacity, *received);
  });
}

}  // extern "C"
