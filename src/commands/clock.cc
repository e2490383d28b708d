// nax_get_time and nax_set_time with their codecs for both packet protocols.
#include "commands/clock.h"

#include "commands/command.h"
#include "commands/fields.h"
#include "core/log.h"
#include "proto/bytes.h"

namespace nax {

namespace {

constexpr uint16_t kP1TimeAnswerSize = 8;

void log_date_time(const nax_date_time& dt, int32_t link_id) {
  log_printf(1, kCmd, "date time = %d-%d-%d %d:%d:%d - %d, for link = %d", dt.year, dt.month,
             dt.day, dt.hour, dt.minute, dt.second, dt.weekday, link_id);
}

uint32_t get_time_held(const LinkHold& hold, int32_t link_id, uint16_t node, nax_date_time* dt) {
  const bool p1 = hold.p1();
  Packet request;
  Packet answer{};
  if (p1) {
    encode_get_time_p1(request);
  } else {
    encode_get_time_p2(request);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = p1 ? decode_get_time_p1(answer, *dt) : decode_get_time_p2(answer, *dt);
  log_date_time(*dt, link_id);
  return ret;
}

uint32_t set_time_held(const LinkHold& hold, int32_t link_id, uint16_t node,
                       const nax_date_time* dt) {
  log_date_time(*dt, link_id);
  const bool p1 = hold.p1();
  Packet request;
  Packet answer{};
  if (p1) {
    encode_set_time_p1(request, *dt);
  } else {
    encode_set_time_p2(request, *dt);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return p1 ? decode_set_time_p1(answer) : decode_set_time_p2(answer);
}

}  // namespace

void encode_get_time_p1(Packet& request) {
  begin_request(request, kCmdTimeP1);
}

uint32_t decode_get_time_p1(const Packet& answer, nax_date_time& dt) {
  if (answer.size < kP1TimeAnswerSize) return NAX_ERR_SHORT_ANSWER;
  const uint8_t* d = answer.data;
  dt.hour = bcd_byte_from_node(d[1]);
  dt.minute = bcd_byte_from_node(d[2]);
  dt.second = bcd_byte_from_node(d[3]);
  dt.day = bcd_byte_from_node(d[4]);
  dt.month = bcd_byte_from_node(d[5]);
  dt.year = bcd_byte_from_node(d[6]);
  dt.weekday = bcd_byte_from_node(d[7]);
  return NAX_OK;
}

void encode_get_time_p2(Packet& request) {
  begin_request(request, kCmdGetTimeP2);
}

uint32_t decode_get_time_p2(const Packet& answer, nax_date_time& dt) {
  if (answer.status != NAX_OK) return answer.status;
  uint16_t position = 0;
  return get_date_time(dt, answer.data, position, answer.size);
}

void encode_set_time_p1(Packet& request, const nax_date_time& dt) {
  begin_request(request, kCmdTimeP1);
  uint8_t* cursor = request.data;
  put_u8(cursor, 0x01);
  put_u8(cursor, bcd_byte_to_node(dt.hour));
  put_u8(cursor, bcd_byte_to_node(dt.minute));
  put_u8(cursor, bcd_byte_to_node(dt.second));
  put_u8(cursor, bcd_byte_to_node(dt.day));
  put_u8(cursor, bcd_byte_to_node(dt.month));
  put_u8(cursor, bcd_byte_to_node(dt.year));
  put_u8(cursor, bcd_byte_to_node(dt.weekday));
  put_u8(cursor, 0x00);
  end_request(request, cursor);
}

uint32_t decode_set_time_p1(const Packet& answer) {
  const uint32_t result = decode_result_byte(answer);
  if (result == NAX_ERR_SHORT_ANSWER || result == NAX_OK) return result;
  return 2;  // the node refused to set its clock
}

void encode_set_time_p2(Packet& request, const nax_date_time& dt) {
  begin_request(request, kCmdSetTimeP2);
  uint8_t* cursor = request.data;
  put_date_time(cursor, dt);
  end_request(request, cursor);
}

uint32_t decode_set_time_p2(const Packet& answer) {
  return answer.status;
}

}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_get_time(int32_t link_id, uint16_t node, nax_date_time* date_time) {
  return nax::run_command("get date time", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::get_time_held(hold, link_id, node, date_time);
  });
}

uint32_t NAX_CALL nax_set_time(int32_t link_id, uint16_t node, const nax_date_time* date_time) {
  return nax::run_command("set date time", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::set_time_held(hold, link_id, node, date_time);
  });
}

}  // extern "C"
