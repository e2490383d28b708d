// nax_list_marks and the two wire forms of an attendance mark.
#include "commands/marks.h"

#include <cstring>

#include "commands/command.h"
#include "commands/fields.h"
#include "commands/paging.h"
#include "core/log.h"
#include "proto/bytes.h"

namespace nax {

namespace {

void log_mark(uint32_t index, const nax_mark& m, int32_t link_id) {
  const nax_date_time& t = m.date_time;
  log_printf(1, kCmd,
             "user_mark (%d) - mask = %x, id = %lu, event = %d, direction = %d, "
             "%02d-%02d-%02d %02d:%02d:%02d, for link id = %d",
             static_cast<int>(index), static_cast<unsigned>(m.mask),
             static_cast<unsigned long>(m.id), m.event, m.direction, t.year, t.month, t.day, t.hour,
             t.minute, t.second, link_id);
}

uint32_t list_marks_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t first_index,
                         uint16_t count, nax_mark* marks, uint16_t& stored) {
  if (marks == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  std::memset(marks, 0, sizeof(nax_mark) * count);
  const bool p1 = hold.p1();
  Packet request;
  Packet answer{};
  if (p1) {
    encode_list_marks_p1(request, first_index);
  } else {
    encode_list_marks_p2(request, first_index, count);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = p1 ? decode_list_marks_p1(answer, first_index, marks, stored)
           : decode_list_marks_p2(answer, count, marks, stored);
  for (uint16_t i = 0; i < stored; ++i) log_mark(first_index + i, marks[i], link_id);
  return ret;
}

}  // namespace

void get_mark_p1(const uint8_t answer[kMarkAnswerSizeP1], nax_mark& mark) {
  const uint16_t direction = load_u16(answer + 6);
  const uint16_t event = load_u16(answer + 8);
  mark.mask = kMarkMaskP1;
  mark.id = bcd8_from_node(answer + 2);
  mark.direction = direction_byte(direction);
  mark.event = map_mark_event(event);
  // The node counts from 1; 0 is taken as the first position too.
  mark.index = answer[10] == 0 ? 0 : static_cast<uint16_t>(answer[10] - 1);
  unpack_mark_date_time(answer + 12, mark.date_time);
}

uint32_t get_mark_p2(nax_mark& mark, const uint8_t* data, uint16_t& position, uint16_t size) {
  uint16_t length = 0;  // the fields are located by the mask; the length is not needed
  uint32_t s = get_u16(&length, data, position, size);
  if (s == NAX_OK) s = get_u32(&mark.mask, data, position, size);
  const uint32_t m = mark.mask;
  if (s == NAX_OK && (m & NAX_MARK_KIND)) s = get_u8(&mark.kind, data, position, size);
  if (s == NAX_OK && (m & NAX_MARK_ID)) s = get_u32(&mark.id, data, position, size);
  if (s == NAX_OK && (m & NAX_MARK_DATE_TIME)) {
    s = get_date_time(mark.date_time, data, position, size);
  }
  if (s == NAX_OK && (m & NAX_MARK_EVENT)) s = get_u8(&mark.event, data, position, size);
  if (s == NAX_OK && (m & NAX_MARK_INDEX)) s = get_u16(&mark.index, data, position, size);
  if (s == NAX_OK && (m & NAX_MARK_DIRECTION)) s = get_u8(&mark.direction, data, position, size);
  if (s == NAX_OK && (m & NAX_MARK_VALUE)) s = get_u32(&mark.value, data, position, size);
  if (s == NAX_OK && (m & NAX_MARK_FLAG)) s = get_u8(&mark.flag, data, position, size);
  if (s == NAX_OK && (m & NAX_MARK_CODE)) {
    s = get_text(mark.code, kMarkCodeCapacity, data, position, size, kTextLengthPrefixed);
  }
  return s;
}

void encode_list_marks_p1(Packet& request, uint16_t first_index) {
  begin_request(request, first_index == 0 ? kCmdListMarksFirstP1 : kCmdListMarksNextP1);
}

uint32_t decode_list_marks_p1(const Packet& answer, uint16_t first_index, nax_mark* marks,
                              uint16_t& stored) {
  // The mark's 16 bytes are read from the start: the result byte is their first.
  constexpr P1ListRefusals kRefusals{21, kStatusNoFurtherRecords, 18};
  return decode_list_p1<kMarkAnswerSizeP1>(answer, first_index, 0, kRefusals, marks[0], stored,
                                           get_mark_p1);
}

void encode_list_marks_p2(Packet& request, uint16_t first_index, uint16_t count) {
  encode_page_request_p2(request, kCmdListMarksP2, first_index, count);
}

uint32_t decode_list_marks_p2(const Packet& answer, uint16_t count, nax_mark* marks,
                              uint16_t& stored) {
  return decode_page_p2(answer, count, marks, stored, get_mark_p2);
}

}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_list_marks(int32_t link_id, uint16_t node, uint32_t first_index,
                                 uint16_t count, nax_mark* marks, uint16_t* stored) {
  nax::log_printf(1, nax::kCmd, "list marks (%d) for link id = %d from node = %d", count, link_id,
                  node);
  *stored = 0;
  return nax::run_held("list marks", link_id, [&](const nax::LinkHold& hold) {
    return nax::list_marks_held(hold, link_id, node, static_cast<uint16_t>(first_index), count,
                                marks, *stored);
  });
}

}  // extern "C"
