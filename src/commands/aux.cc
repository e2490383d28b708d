// Auxiliary inputs and relays: codecs of both protocols and the exported commands.
#include "commands/aux.h"

#include "commands/command.h"
#include "core/log.h"
#include "proto/bytes.h"

namespace nax {
namespace {

void put_aux_input(uint8_t*& cursor, const nax_aux_input& aux) {
  put_u8(cursor, aux.invert_input);
  put_u8(cursor, aux.ev_status);
  put_u8(cursor, aux.time_on);
  put_u8(cursor, aux.time_off);
  put_u8(cursor, aux.ev_host);
  put_u8(cursor, aux.ev_historic);
  put_u32(cursor, static_cast<uint32_t>(aux.ev_in_condition));
  put_u32(cursor, static_cast<uint32_t>(aux.ev_rele_condition));
  put_u16(cursor, aux.schedule_id);
  for (uint8_t byte : aux.extra) put_u8(cursor, byte);
}

uint32_t get_aux_input(nax_aux_input& aux, const uint8_t* data, uint16_t& position, uint16_t size) {
  uint8_t* const bytes[] = {&aux.invert_input, &aux.ev_status, &aux.time_on,
                            &aux.time_off,     &aux.ev_host,   &aux.ev_historic};
  for (uint8_t* field : bytes) {
    const uint32_t status = get_u8(field, data, position, size);
    if (status != NAX_OK) return status;
  }
  uint32_t value = 0;
  uint32_t status = get_u32(&value, data, position, size);
  if (status != NAX_OK) return status;
  aux.ev_in_condition = static_cast<int32_t>(value);
  status = get_u32(&value, data, position, size);
  if (status != NAX_OK) return status;
  aux.ev_rele_condition = static_cast<int32_t>(value);
  status = get_u16(&aux.schedule_id, data, position, size);
  if (status != NAX_OK) return status;
  for (uint8_t& byte : aux.extra) {
    status = get_u8(&byte, data, position, size);
    if (status != NAX_OK) return status;
  }
  return NAX_OK;
}

void encode_input_id(Packet& request, uint16_t cmd, uint16_t input_id) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, input_id);
  end_request(request, cursor);
}

void encode_set_aux_input(Packet& request, uint16_t cmd, uint16_t input_id,
                          const nax_aux_input& aux_input) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, input_id);
  put_aux_input(cursor, aux_input);
  end_request(request, cursor);
}

void encode_rele_control(Packet& request, uint16_t cmd, uint8_t rele_id, uint8_t time_mode) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u8(cursor, rele_id);
  put_u8(cursor, time_mode);
  end_request(request, cursor);
}

}  // namespace

void encode_get_aux_input_p1(Packet& request, uint16_t input_id) {
  encode_input_id(request, kCmdGetAuxInputP1, input_id);
}

void encode_get_aux_input_p2(Packet& request, uint16_t input_id) {
  encode_input_id(request, kCmdGetAuxInputP2, input_id);
}

uint32_t decode_get_aux_input_p1(const Packet& answer, nax_aux_input& aux_input) {
  const uint32_t result = decode_result_byte(answer);
  if (result != NAX_OK) return result;
  uint16_t position = 1;
  return get_aux_input(aux_input, answer.data, position, answer.size);
}

uint32_t decode_get_aux_input_p2(const Packet& answer, nax_aux_input& aux_input) {
  if (answer.status != NAX_OK) return answer.status;
  uint16_t position = 0;
  return get_aux_input(aux_input, answer.data, position, answer.size);
}

void encode_set_aux_input_p1(Packet& request, uint16_t input_id, const nax_aux_input& aux_input) {
  encode_set_aux_input(request, kCmdSetAuxInputP1, input_id, aux_input);
}

void encode_set_aux_input_p2(Packet& request, uint16_t input_id, const nax_aux_input& aux_input) {
  encode_set_aux_input(request, kCmdSetAuxInputP2, input_id, aux_input);
}

void encode_state_aux_input_p2(Packet& request) {
  begin_request(request, kCmdStateAuxInputP2);
  end_request(request, request.data);
}

uint32_t decode_status_and_u32_p2(const Packet& answer, uint32_t& value) {
  if (answer.status != NAX_OK) return answer.status;
  uint16_t position = 0;
  uint32_t read = 0;
  const uint32_t status = get_u32(&read, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  value = read;
  return NAX_OK;
}

void encode_rele_control_p1(Packet& request, uint8_t rele_id, uint8_t time_mode) {
  encode_rele_control(request, kCmdReleControlP1, rele_id, time_mode);
}

void encode_rele_control_p2(Packet& request, uint8_t rele_id, uint8_t time_mode) {
  encode_rele_control(request, kCmdReleControlP2, rele_id, time_mode);
}

void encode_answer_aux_input_event_p2(Packet& request, uint8_t answer_code) {
  begin_request(request, kCmdAnswerAuxInputEventP2);
  uint8_t* cursor = request.data;
  put_u8(cursor, answer_code);
  end_request(request, cursor);
}

namespace {

uint32_t get_aux_input_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t input_id,
                            nax_aux_input& aux_input) {
  log_printf(1, kCmd, "input_id = %05d, for link id = %d", input_id, link_id);
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_get_aux_input_p1(request, input_id);
  } else {
    encode_get_aux_input_p2(request, input_id);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = hold.p1() ? decode_get_aux_input_p1(answer, aux_input)
                  : decode_get_aux_input_p2(answer, aux_input);
  if (ret == NAX_OK) {
    log_printf(1, kCmd,
               "input_id = %05d, invert_input = %d, ev_status = %d, time_on = %d, time_off = %d, "
               "ev_host = %d, ev_historic = %d, ev_in_condition = %d, ev_rele_condition = %d, "
               "schedule_id = %d, for link id = %d",
               input_id, aux_input.invert_input, aux_input.ev_status, aux_input.time_on,
               aux_input.time_off, aux_input.ev_host, aux_input.ev_historic,
               aux_input.ev_in_condition, aux_input.ev_rele_condition, aux_input.schedule_id,
               link_id);
  }
  return ret;
}

uint32_t set_aux_input_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t input_id,
                            const nax_aux_input& aux_input) {
  log_printf(1, kCmd,
             "input_id = %05d, invert_input = %d, ev_status = %0d, time_on = %d, time_off = %d, "
             "ev_host = %d, ev_historic = %d, ev_in_condition = %d, ev_rele_condition = %d, "
             "schedule_id = %d, for link id = %d",
             input_id, aux_input.invert_input, aux_input.ev_status, aux_input.time_on,
             aux_input.time_off, aux_input.ev_host, aux_input.ev_historic,
             aux_input.ev_in_condition, aux_input.ev_rele_condition, aux_input.schedule_id,
             link_id);
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_set_aux_input_p1(request, input_id, aux_input);
  } else {
    encode_set_aux_input_p2(request, input_id, aux_input);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_result_byte(answer) : answer.status;
}

uint32_t state_aux_input_held(const LinkHold& hold, int32_t link_id, uint16_t node,
                              uint32_t& input_state) {
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  Packet request;
  Packet answer;
  encode_state_aux_input_p2(request);
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = decode_status_and_u32_p2(answer, input_state);
  if (ret == NAX_OK) {
    log_printf(1, kCmd, "input_state = %x, for link id = %d", input_state, link_id);
  }
  return ret;
}

uint32_t rele_control_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint8_t rele_id,
                           uint8_t time_mode) {
  log_printf(1, kCmd, "rele control - rele_id = %d, time_mode = %d, for link id = %d", rele_id,
             time_mode, link_id);
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_rele_control_p1(request, rele_id, time_mode);
  } else {
    encode_rele_control_p2(request, rele_id, time_mode);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_result_byte(answer) : answer.status;
}

uint32_t answer_aux_input_event_held(const LinkHold& hold, int32_t link_id, uint16_t node,
                                     uint8_t answer_code) {
  // Logged before the protocol check, so a refused answer still shows its code.
  log_printf(1, kCmd, "answer aux input event - answer code = %d, for link id = %d", answer_code,
             link_id);
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  Packet request;
  encode_answer_aux_input_event_p2(request, answer_code);
  return send_only(hold.link(), node, request);
}

}  // namespace
}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_get_aux_input(int32_t link_id, uint16_t node, uint16_t input_id,
                                    nax_aux_input* aux_input) {
  return nax::run_command("get auxiliar input", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::get_aux_input_held(hold, link_id, node, input_id, *aux_input);
  });
}

uint32_t NAX_CALL nax_set_aux_input(int32_t link_id, uint16_t node, uint16_t input_id,
                                    const nax_aux_input* aux_input) {
  return nax::run_command("set auxiliar input", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::set_aux_input_held(hold, link_id, node, input_id, *aux_input);
  });
}

uint32_t NAX_CALL nax_state_aux_input(int32_t link_id, uint16_t node, uint32_t* input_state) {
  return nax::run_command("state of auxiliar inputs", link_id, node,
                          [&](const nax::LinkHold& hold) {
                            return nax::state_aux_input_held(hold, link_id, node, *input_state);
                          });
}

uint32_t NAX_CALL nax_rele_control(int32_t link_id, uint16_t node, uint32_t rele_id,
                                   uint8_t time_mode) {
  nax::log_printf(1, nax::kCmd, "rele control for link id = %d, from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::rele_control_held(hold, link_id, node, static_cast<uint8_t>(rele_id & 0xFF),
                                  time_mode);
  });
  nax::log_printf(3, nax::kCmd, "rele control link id = %d, ret_val = %d", link_id,
                  static_cast<int>(ret));
  return ret;
}

uint32_t NAX_CALL nax_answer_aux_input_event(int32_t link_id, uint16_t node, uint8_t answer_code) {
  return nax::run_command("answer aux input event", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::answer_aux_input_event_held(hold, link_id, node, answer_code);
  });
}

}  // extern "C"
