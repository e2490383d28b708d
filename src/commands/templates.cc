// Biometric templates: codecs and the exported commands, with the echo check
// that makes sure the node answered for the template that was asked for.
#include "commands/templates.h"

#include <cstring>

#include "commands/command.h"
#include "commands/fields.h"
#include "core/log.h"
#include "proto/bytes.h"
#include "proto/frame.h"
#include "vedodiroz.h"

namespace nax {
namespace {

// Protocol-1 refusals of a template read, by error byte.
uint32_t read_refusal_status_p1(uint8_t error_byte) {
  switch (error_byte) {
    case 3:
      return 10;
    case 9:
      return 11;
    case 2:
      return 12;
    default:
      return 16;
  }
}

// sensor_id(2) access_id(4) template_id(1), in front of a protocol-2 template.
constexpr std::size_t kIdentifiersSizeP2 = 7;
// A whole template with its identifiers always fits what a node accepts.
static_assert(kIdentifiersSizeP2 + kTemplateSize <= kP2MaxRequestData);

void put_identifiers_p2(uint8_t*& cursor, uint16_t sensor_id, uint32_t access_id,
                        uint8_t template_id) {
  put_u16(cursor, sensor_id);
  put_u32(cursor, access_id);
  put_u8(cursor, template_id);
}

// Stops at the first missing field; callers look at the status word first,
// so a refused answer yields the node's status rather than 1029.
uint32_t get_echo_p2(const Packet& answer, TemplateEcho& echo, uint16_t& position) {
  echo = {};
  uint32_t status = get_u16(&echo.sensor_id, answer.data, position, answer.size);
  if (status == NAX_OK) status = get_u32(&echo.access_id, answer.data, position, answer.size);
  if (status == NAX_OK) status = get_u8(&echo.template_id, answer.data, position, answer.size);
  return status;
}

uint32_t copy_block(const Packet& answer, uint16_t position, uint8_t* buffer, uint32_t capacity) {
  return get_bytes(buffer, kTemplateSize, capacity, answer.data, position, answer.size);
}

}  // namespace

void encode_read_template_p1(Packet& request, uint32_t access_id, uint8_t template_id) {
  begin_request(request, kCmdReadTemplateP1);
  uint8_t* cursor = request.data;
  bcd8_to_node(access_id, cursor);
  cursor += 4;
  put_u8(cursor, template_id);
  end_request(request, cursor);
}

void encode_read_template_p2(Packet& request, uint16_t sensor_id, uint32_t access_id,
                             uint8_t template_id) {
  begin_request(request, kCmdReadTemplateP2);
  uint8_t* cursor = request.data;
  put_identifiers_p2(cursor, sensor_id, access_id, template_id);
  end_request(request, cursor);
}

uint32_t decode_read_template_p1(const Packet& answer, TemplateEcho& echo, uint8_t* buffer,
                                 uint32_t capacity) {
  echo = {};
  uint16_t position = 0;
  uint8_t result = 0;
  uint32_t status = get_u8(&result, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  if (result != 1) {
    uint8_t error = 0;
    status = get_u8(&error, answer.data, position, answer.size);
    return status != NAX_OK ? status : read_refusal_status_p1(error);
  }
  uint8_t access_bcd[4];
  status = get_bytes(access_bcd, sizeof access_bcd, sizeof access_bcd, answer.data, position,
                     answer.size);
  if (status != NAX_OK) return status;
  position = static_cast<uint16_t>(position + sizeof access_bcd);
  echo.access_id = bcd8_from_node(access_bcd);
  status = get_u8(&echo.template_id, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  return copy_block(answer, position, buffer, capacity);
}

uint32_t decode_read_template_p2(const Packet& answer, TemplateEcho& echo, uint8_t* buffer,
                                 uint32_t capacity) {
  uint16_t position = 0;
  const uint32_t read = get_echo_p2(answer, echo, position);
  if (answer.status != NAX_OK) return answer.status;
  if (read != NAX_OK) return read;
  return copy_block(answer, position, buffer, capacity);
}

uint32_t encode_write_template_p2(Packet& request, uint16_t sensor_id, uint32_t access_id,
                                  uint8_t template_id, const uint8_t* template_data,
                                  uint32_t length) {
  begin_request(request, kCmdWriteTemplateP2);
  uint8_t* cursor = request.data;
  put_identifiers_p2(cursor, sensor_id, access_id, template_id);
  if (length > kTemplateSize) return NAX_ERR_INVALID_ARG;
  put_bytes(cursor, template_data, static_cast<uint16_t>(length));
  end_request(request, cursor);
  return NAX_OK;
}

void encode_del_template_p2(Packet& request, uint16_t sensor_id, uint32_t access_id,
                            uint8_t template_id) {
  begin_request(request, kCmdDelTemplateP2);
  uint8_t* cursor = request.data;
  put_identifiers_p2(cursor, sensor_id, access_id, template_id);
  end_request(request, cursor);
}

uint32_t decode_template_echo_p2(const Packet& answer, TemplateEcho& echo) {
  uint16_t position = 0;
  const uint32_t read = get_echo_p2(answer, echo, position);
  return answer.status != NAX_OK ? answer.status : read;
}

void encode_flush_templates_p2(Packet& request, uint16_t sensor_id) {
  begin_request(request, kCmdFlushTemplatesP2);
  uint8_t* cursor = request.data;
  put_u16(cursor, sensor_id);
  end_request(request, cursor);
}

uint32_t decode_flush_templates_p2(const Packet& answer, uint16_t& sensor_id_read) {
  sensor_id_read = 0;
  uint16_t position = 0;
  const uint32_t read = get_u16(&sensor_id_read, answer.data, position, answer.size);
  return answer.status != NAX_OK ? answer.status : read;
}

namespace {

bool echo_matches(const TemplateEcho& echo, uint16_t sensor_id, uint32_t access_id,
                  uint8_t template_id) {
  return echo.sensor_id == sensor_id && echo.access_id == access_id &&
         echo.template_id == template_id;
}

uint32_t read_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t sensor_id,
                   uint32_t access_id, uint8_t template_id, uint8_t* buffer, uint32_t capacity) {
  log_printf(1, kCmd,
             "read template - sensor_id = %d, access_id = %lu, template_id = %d, for link id = %d",
             sensor_id, static_cast<unsigned long>(access_id), template_id, link_id);
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_read_template_p1(request, access_id, template_id);
  } else {
    encode_read_template_p2(request, sensor_id, access_id, template_id);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  TemplateEcho echo{};
  ret = hold.p1() ? decode_read_template_p1(answer, echo, buffer, capacity)
                  : decode_read_template_p2(answer, echo, buffer, capacity);
  if (ret != NAX_OK) return ret;
  // Protocol 1 sends no sensor: the answer is taken to be for the one asked.
  if (hold.p1()) echo.sensor_id = sensor_id;
  log_printf(6, kCmd,
             "read template - sensor_id = %d, access_id = %lu, template_id = %d, for link id = %d",
             echo.sensor_id, static_cast<unsigned long>(echo.access_id), echo.template_id, link_id);
  if (!echo_matches(echo, sensor_id, access_id, template_id)) ret = NAX_ERR_ECHO_MISMATCH;
  log_hex(kCmd, buffer, capacity);
  return ret;
}

uint32_t write_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t sensor_id,
                    uint32_t access_id, uint8_t template_id, const uint8_t* template_data,
                    uint32_t length) {
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd,
             "write template - sensor_id = %d, access_id = %lu, template_id = %d, template len = "
             "%d, for link id = %d",
             sensor_id, static_cast<unsigned long>(access_id), template_id, length, link_id);
  Packet request;
  uint32_t ret =
      encode_write_template_p2(request, sensor_id, access_id, template_id, template_data, length);
  if (ret != NAX_OK) return ret;
  Packet answer;
  ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  TemplateEcho echo{};
  ret = decode_template_echo_p2(answer, echo);
  if (ret != NAX_OK) return ret;
  log_printf(6, kCmd,
             "write template - sensor_id = %d, access_id = %lu, template_id = %d, for link id = %d",
             echo.sensor_id, static_cast<unsigned long>(echo.access_id), echo.template_id, link_id);
  return echo_matches(echo, sensor_id, access_id, template_id) ? NAX_OK : NAX_ERR_ECHO_MISMATCH;
}

uint32_t del_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t sensor_id,
                  uint32_t access_id, uint8_t template_id) {
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd,
             "delete template - sensor_id = %d, access_id = %lu, template_id = %d, for link id = "
             "%d",
             sensor_id, static_cast<unsigned long>(access_id), template_id, link_id);
  Packet request;
  Packet answer;
  encode_del_template_p2(request, sensor_id, access_id, template_id);
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  TemplateEcho echo{};
  ret = decode_template_echo_p2(answer, echo);
  if (ret != NAX_OK) return ret;
  log_printf(6, kCmd,
             "delete template - sensor_id = %d, access_id = %lu, template_id = %d, for link id = "
             "%d",
             echo.sensor_id, static_cast<unsigned long>(echo.access_id), echo.template_id, link_id);
  return echo_matches(echo, sensor_id, access_id, template_id) ? NAX_OK : NAX_ERR_ECHO_MISMATCH;
}

uint32_t flush_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t sensor_id) {
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd, "flush templates - sensor_id = %d for link id = %d", sensor_id, link_id);
  Packet request;
  Packet answer;
  encode_flush_templates_p2(request, sensor_id);
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  uint16_t sensor_id_read = 0;
  ret = decode_flush_templates_p2(answer, sensor_id_read);
  if (ret != NAX_OK) return ret;
  log_printf(6, kCmd, "flush template - sensor_id_read = %d, for link id = %d", sensor_id_read,
             link_id);
  return sensor_id_read == sensor_id ? NAX_OK : NAX_ERR_ECHO_MISMATCH;
}

}  // namespace
}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_read_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                    uint32_t access_id, uint32_t template_id, uint8_t* buffer,
                                    uint32_t capacity) {
  return nax::run_command("read template", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::read_held(hold, link_id, node, sensor_id, access_id,
                          static_cast<uint8_t>(template_id & 0xFF), buffer, capacity);
  });
}

uint32_t NAX_CALL nax_write_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                     uint32_t access_id, uint32_t template_id,
                                     const uint8_t* template_data, uint32_t length) {
  return nax::run_command("write template", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::write_held(hold, link_id, node, sensor_id, access_id,
                           static_cast<uint8_t>(template_id & 0xFF), template_data, length);
  });
}

uint32_t NAX_CALL nax_del_template(int32_t link_id, uint16_t node, uint16_t sensor_id,
                                   uint32_t access_id, uint32_t template_id) {
  return nax::run_command("delete template", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::del_held(hold, link_id, node, sensor_id, access_id,
                         static_cast<uint8_t>(template_id & 0xFF));
  });
}

uint32_t NAX_CALL nax_flush_templates(int32_t link_id, uint16_t node, uint16_t sensor_id) {
  return nax::run_command("flush templates", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::flush_held(hold, link_id, node, sensor_id);
  });
}

}  // extern "C"
