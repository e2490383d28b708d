// nax_get_num_cfg and nax_set_num_cfg, and the get-numeric-value operation under them.
#include "commands/num_cfg.h"

#include "commands/command.h"
#include "core/log.h"
#include "proto/bytes.h"

namespace nax {

namespace {

void encode_get(Packet& request, uint16_t cmd, uint8_t num_size, uint16_t num_id) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u8(cursor, num_size);
  put_u16(cursor, num_id);
  end_request(request, cursor);
}

void encode_set(Packet& request, uint16_t cmd, uint8_t num_size, uint16_t num_id, int32_t num_val) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u8(cursor, num_size);
  put_u16(cursor, num_id);
  put_u32(cursor, static_cast<uint32_t>(num_val));
  end_request(request, cursor);
}

uint32_t read_value(const Packet& answer, uint16_t position, uint8_t num_size, uint32_t& value) {
  if (num_size == 1) {
    uint8_t byte = 0;
    const uint32_t status = get_u8(&byte, answer.data, position, answer.size);
    if (status == NAX_OK) value = byte;
    return status;
  }
  if (num_size == 2) {
    uint16_t word = 0;
    const uint32_t status = get_u16(&word, answer.data, position, answer.size);
    if (status == NAX_OK) value = word;
    return status;
  }
  return NAX_ERR_INVALID_ARG;
}

uint32_t get_num_cfg_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint8_t num_size,
                          uint16_t num_id, uint32_t* num_val) {
  log_printf(1, kCmd, "num_size = %03d, num_id = %05d, for link id = %d", num_size, num_id,
             link_id);
  const uint32_t ret = get_numeric_value(hold.link(), node, num_size, num_id, num_val);
  if (ret == NAX_OK) {
    log_printf(1, kCmd, "num_val = %05d, num_id = %05d, for link id = %d",
               static_cast<int>(*num_val), num_id, link_id);
  }
  return ret;
}

uint32_t set_num_cfg_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint8_t num_size,
                          uint16_t num_id, int32_t num_val) {
  log_printf(1, kCmd, "num_size = %03d, num_id = %05d, num_val = %05d, for link id = %d", num_size,
             num_id, num_val, link_id);
  const bool p1 = hold.p1();
  Packet request;
  Packet answer{};
  if (p1) {
    encode_set_num_cfg_p1(request, num_size, num_id, num_val);
  } else {
    encode_set_num_cfg_p2(request, num_size, num_id, num_val);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return p1 ? decode_set_num_cfg_p1(answer) : decode_set_num_cfg_p2(answer);
}

}  // namespace

void encode_get_num_cfg_p1(Packet& request, uint8_t num_size, uint16_t num_id) {
  encode_get(request, kCmdGetNumCfgP1, num_size, num_id);
}

void encode_get_num_cfg_p2(Packet& request, uint8_t num_size, uint16_t num_id) {
  encode_get(request, kCmdGetNumCfgP2, num_size, num_id);
}

uint32_t decode_get_num_cfg_p1(const Packet& answer, uint8_t num_size, uint32_t& value) {
  value = 0;
  const uint32_t result = decode_result_byte(answer);
  if (result != NAX_OK) return result;
  return read_value(answer, 1, num_size, value);
}

uint32_t decode_get_num_cfg_p2(const Packet& answer, uint8_t num_size, uint32_t& value) {
  value = 0;
  if (answer.status != NAX_OK) return answer.status;
  return read_value(answer, 0, num_size, value);
}

void encode_set_num_cfg_p1(Packet& request, uint8_t num_size, uint16_t num_id, int32_t num_val) {
  encode_set(request, kCmdSetNumCfgP1, num_size, num_id, num_val);
}

void encode_set_num_cfg_p2(Packet& request, uint8_t num_size, uint16_t num_id, int32_t num_val) {
  encode_set(request, kCmdSetNumCfgP2, num_size, num_id, num_val);
}

uint32_t decode_set_num_cfg_p1(const Packet& answer) {
  return decode_result_byte(answer);
}

uint32_t decode_set_num_cfg_p2(const Packet& answer) {
  return answer.status;
}

uint32_t get_numeric_value(Link* link, uint16_t node, uint8_t num_size, uint16_t num_id,
                           uint32_t* value) {
  const bool p1 = link->packet_protocol.load() == 1;
  Packet request;
  Packet answer{};
  if (p1) {
    encode_get_num_cfg_p1(request, num_size, num_id);
  } else {
    encode_get_num_cfg_p2(request, num_size, num_id);
  }
  const uint32_t ret = exchange(link, node, request, answer);
  if (ret != NAX_OK) return ret;
  return p1 ? decode_get_num_cfg_p1(answer, num_size, *value)
            : decode_get_num_cfg_p2(answer, num_size, *value);
}

}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_get_num_cfg(int32_t link_id, uint16_t node, uint32_t num_size,
                                  uint16_t num_id, uint32_t* num_val) {
  return nax::run_command("get numeric parameter", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::get_num_cfg_held(hold, link_id, node, static_cast<uint8_t>(num_size), num_id,
                                 num_val);
  });
}

uint32_t NAX_CALL nax_set_num_cfg(int32_t link_id, uint16_t node, uint32_t num_size,
                                  uint16_t num_id, int32_t num_val) {
  return nax::run_command("set numeric parameter", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::set_num_cfg_held(hold, link_id, node, static_cast<uint8_t>(num_size), num_id,
                                 num_val);
  });
}

}  // extern "C"
