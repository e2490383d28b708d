// Answers to user events and display messages: codecs and the exported commands.
#include "commands/answers.h"

#include "commands/command.h"
#include "commands/fields.h"
#include "commands/users.h"
#include "core/log.h"
#include "proto/bytes.h"
#include "proto/frame.h"

namespace nax {
namespace {

constexpr int kAuxSlots = 10;

// The ten aux slots in slot order.
char* aux_slot(nax_user_event_answer& answer, int i) {
  char* const slots[kAuxSlots] = {answer.aux0, answer.aux1, answer.aux2, answer.aux3, answer.aux4,
                                  answer.aux5, answer.aux6, answer.aux7, answer.aux8, answer.aux9};
  return slots[i];
}

const char* aux_slot(const nax_user_event_answer& answer, int i) {
  return aux_slot(const_cast<nax_user_event_answer&>(answer), i);
}

}  // namespace

void encode_answer_user_event_p1(Packet& request) {
  begin_request(request, kCmdAnswerUserEventP1);
  request.status = NAX_OK;
  end_request(request, request.data);
}

std::size_t answer_user_event_p2_size(const nax_user_event_answer& answer) {
  std::size_t size = kDateTimeFieldSize + user_record_p2_size(answer.user) + 1;
  for (int i = 0; i < kAuxSlots; ++i) {
    const char* slot = aux_slot(answer, i);
    if (slot[0] != '\0') size += 1 + text_field_size(slot, kAuxTextFieldSize, kTextLengthPrefixed);
  }
  return size;
}

uint32_t encode_answer_user_event_p2(Packet& request, nax_user_event_answer& answer) {
  if (answer_user_event_p2_size(answer) > kP2MaxRequestData) return NAX_ERR_INVALID_ARG;
  begin_request(request, kCmdAnswerUserEventP2);
  uint8_t* cursor = request.data;
  put_date_time(cursor, answer.date_time);
  put_user_record_p2(cursor, answer.user);
  put_u8(cursor, answer.print_enable & 1);
  // Empty slots are left out, the others keep their own number.
  for (int i = 0; i < kAuxSlots; ++i) {
    char* slot = aux_slot(answer, i);
    if (slot[0] == '\0') continue;
    put_u8(cursor, static_cast<uint8_t>(i));
    put_text(cursor, slot, kAuxTextFieldSize, kTextLengthPrefixed);
  }
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t encode_display_msg_p2(Packet& request, uint16_t count, nax_display_message* messages,
                               int32_t timer) {
  if (kDisplayHeaderSize + kDisplayMessageWireSize * count > kP2MaxRequestData) {
    return NAX_ERR_INVALID_ARG;
  }
  begin_request(request, kCmdDisplayMsgP2);
  uint8_t* cursor = request.data;
  put_u16(cursor, count);
  put_u32(cursor, static_cast<uint32_t>(timer));
  for (uint16_t k = 0; k < count; ++k) {
    nax_display_message& message = messages[k];
    put_u16(cursor, message.line);
    put_u16(cursor, message.pos);
    put_u8(cursor, message.cmd_line);
    put_u8(cursor, message.cmd_pos);
    put_u16(cursor, message.font);
    put_text(cursor, message.data, kDisplayTextFieldSize, kTextFixed);
  }
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t decode_display_msg_p2(const Packet& answer, uint16_t& answer_word) {
  if (answer.status != NAX_OK) return answer.status;
  uint16_t position = 0;
  return get_u16(&answer_word, answer.data, position, answer.size);
}

namespace {

uint32_t answer_user_event_held(const LinkHold& hold, int32_t link_id, uint16_t node,
                                nax_user_event_answer& answer) {
  log_printf(1, kCmd,
             "answer user event - status = %d, print_enable = %d, aux0 = %s, aux1 = %s, aux2 = %s "
             "for link id = %d",
             answer.user.st, answer.print_enable, answer.aux0, answer.aux1, answer.aux2, link_id);
  Packet request;
  if (hold.p1()) {
    encode_answer_user_event_p1(request);
  } else {
    const uint32_t encoded = encode_answer_user_event_p2(request, answer);
    if (encoded != NAX_OK) return encoded;
  }
  return send_only(hold.link(), node, request);
}

uint32_t display_msg_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t count,
                          nax_display_message* messages, int32_t timer, uint16_t& answer_word) {
  if (messages == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  Packet request;
  // Encoded before the lines are logged: texts are then cut to their fields
  // and the lines never read past a record.
  uint32_t ret = encode_display_msg_p2(request, count, messages, timer);
  if (ret != NAX_OK) return ret;
  log_printf(1, kCmd, "display message count = %d, timer = %d, for link id %d", count, timer,
             link_id);
  for (uint16_t k = 0; k < count; ++k) {
    const nax_display_message& m = messages[k];
    log_printf(1, kCmd,
               "display message (%05d) - line = %d, pos = %d, cmd_line = %d, cmd_pos = %d, font = "
               "%d, data = %s, for link id = %d",
               k, m.line, m.pos, m.cmd_line, m.cmd_pos, m.font, m.data, link_id);
  }
  Packet answer;
  ret = exchange(hold.link(), node, request, answer);
  return ret != NAX_OK ? ret : decode_display_msg_p2(answer, answer_word);
}

}  // namespace
}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_answer_user_event(int32_t link_id, uint16_t node,
                                        nax_user_event_answer* answer) {
  return nax::run_command("answer user event", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::answer_user_event_held(hold, link_id, node, *answer);
  });
}

uint32_t NAX_CALL nax_display_msg(int32_t link_id, uint16_t node, uint16_t count,
                                  nax_display_message* messages, int32_t timer, uint16_t* answer) {
  *answer = 0;
  return nax::run_command("display messages", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::display_msg_held(hold, link_id, node, count, messages, timer, *answer);
  });
}

}  // extern "C"
