// Node administration: codecs of both protocols and the exported commands.
#include "commands/admin.h"

#include <algorithm>
#include <cstring>

#include "commands/command.h"
#include "core/log.h"
#include "proto/bytes.h"
#include "proto/frame.h"
#include "vedodiroz.h"

namespace nax {
namespace {

// Protocol-1 information answers carry their text from offset 1 when the
// answer's size lies in this range; any other size leaves the text empty.
constexpr uint16_t kInfoP1MinSize = 2;
constexpr uint16_t kInfoP1MaxSize = 513;

// "5719": the node empties a table only when the request carries this code.
constexpr char kFlushConfirmation[4] = {'5', '7', '1', '9'};

// The longest query with its NUL fits what a node accepts in either protocol.
static_assert(kInfoMaxQuery + 1 <= kP2MaxRequestData && kInfoMaxQuery + 1 <= kP1MaxData);

uint32_t encode_get_info(Packet& request, uint16_t cmd, const char* query) {
  if (query == nullptr) return NAX_ERR_INVALID_ARG;
  const std::size_t length = strnlen(query, kInfoMaxQuery + 1);
  if (length > kInfoMaxQuery) return NAX_ERR_INVALID_ARG;
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_bytes(cursor, query, static_cast<uint16_t>(length + 1));
  end_request(request, cursor);
  return NAX_OK;
}

void encode_reset_node(Packet& request, uint16_t cmd, int32_t device_id, int32_t sub_id) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u32(cursor, static_cast<uint32_t>(device_id));
  put_u32(cursor, static_cast<uint32_t>(sub_id));
  end_request(request, cursor);
}

void encode_one_byte(Packet& request, uint16_t cmd, uint8_t value) {
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u8(cursor, value);
  end_request(request, cursor);
}

}  // namespace

uint32_t encode_get_info_p1(Packet& request, const char* query) {
  return encode_get_info(request, kCmdGetInfoP1, query);
}

uint32_t encode_get_info_p2(Packet& request, const char* query) {
  return encode_get_info(request, kCmdGetInfoP2, query);
}

uint32_t decode_get_info_p1(const Packet& answer, char* answer_text) {
  if (answer_text == nullptr) return NAX_ERR_INVALID_ARG;
  answer_text[0] = '\0';
  const uint32_t result = decode_result_byte(answer);
  if (result != NAX_OK) return result;
  if (answer.size < kInfoP1MinSize || answer.size > kInfoP1MaxSize) return NAX_OK;
  // A text without its NUL, or longer than the buffer takes, is cut at the
  // end of the data or at 511 characters, whichever comes first.
  const std::size_t limit = std::min<std::size_t>(answer.size - 1u, kInfoMaxQuery);
  const char* text = reinterpret_cast<const char*>(answer.data + 1);
  const std::size_t length = strnlen(text, limit);
  std::memcpy(answer_text, text, length);
  answer_text[length] = '\0';
  return NAX_OK;
}

uint32_t decode_get_info_p2(const Packet& answer, char* answer_text) {
  if (answer_text == nullptr) return NAX_ERR_INVALID_ARG;
  answer_text[0] = '\0';
  if (answer.status != NAX_OK) return answer.status;
  const std::size_t length = std::min<std::size_t>(answer.size, kInfoMaxQuery);
  std::memcpy(answer_text, answer.data, length);
  answer_text[length] = '\0';
  return NAX_OK;
}

void encode_reset_node_p1(Packet& request, int32_t device_id, int32_t sub_id) {
  encode_reset_node(request, kCmdResetNodeP1, device_id, sub_id);
}

void encode_reset_node_p2(Packet& request, int32_t device_id, int32_t sub_id) {
  encode_reset_node(request, kCmdResetNodeP2, device_id, sub_id);
}

void encode_block_node_p1(Packet& request, uint8_t value) {
  encode_one_byte(request, kCmdBlockNodeP1, value);
}

void encode_block_node_p2(Packet& request, uint8_t value) {
  encode_one_byte(request, kCmdBlockNodeP2, value);
}

uint32_t encode_flush_table_p1(Packet& request, uint8_t table_id) {
  if (table_id > 1) return NAX_ERR_INVALID_ARG;
  begin_request(request, table_id == 0 ? kCmdFlushTable0P1 : kCmdFlushTable1P1);
  uint8_t* cursor = request.data;
  put_bytes(cursor, kFlushConfirmation, sizeof kFlushConfirmation);
  end_request(request, cursor);
  return NAX_OK;
}

void encode_flush_table_p2(Packet& request, uint8_t table_id) {
  encode_one_byte(request, kCmdFlushTableP2, table_id);
}

uint32_t decode_block_answer_p1(const Packet& answer) {
  uint16_t position = 0;
  uint8_t result = 0;
  uint32_t status = get_u8(&result, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  if (result == 1) return NAX_OK;
  uint8_t error = 0;
  status = get_u8(&error, answer.data, position, answer.size);
  if (status != NAX_OK) return status;
  return error == 1 ? NAX_ERR_INVALID_ARG : 16;
}

void encode_del_records_p2(Packet& request, uint8_t table_id, uint16_t count) {
  begin_request(request, kCmdDelRecordsP2);
  uint8_t* cursor = request.data;
  put_u8(cursor, table_id);
  put_u16(cursor, count);
  end_request(request, cursor);
}

uint32_t decode_del_records_p2(const Packet& answer, uint16_t& records_deleted) {
  if (answer.status != NAX_OK) return answer.status;
  uint16_t position = 0;
  return get_u16(&records_deleted, answer.data, position, answer.size);
}

namespace {

uint32_t get_info_held(const LinkHold& hold, int32_t link_id, uint16_t node, const char* query,
                       char* answer_text) {
  Packet request;
  uint32_t ret =
      hold.p1() ? encode_get_info_p1(request, query) : encode_get_info_p2(request, query);
  if (ret != NAX_OK) return ret;
  log_printf(1, kCmd, "get info - request = %s for link id = %d", query, link_id);
  Packet answer;
  ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret =
      hold.p1() ? decode_get_info_p1(answer, answer_text) : decode_get_info_p2(answer, answer_text);
  if (ret == NAX_OK) {
    log_printf(1, kCmd, "get info - answer = %s for link id = %d", answer_text, link_id);
  }
  return ret;
}

uint32_t reset_node_held(const LinkHold& hold, uint16_t node, int32_t device_id, int32_t sub_id) {
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_reset_node_p1(request, device_id, sub_id);
  } else {
    encode_reset_node_p2(request, device_id, sub_id);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_result_byte(answer) : answer.status;
}

uint32_t block_node_held(const LinkHold& hold, uint16_t node, uint8_t value) {
  Packet request;
  Packet answer;
  if (hold.p1()) {
    encode_block_node_p1(request, value);
  } else {
    encode_block_node_p2(request, value);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_block_answer_p1(answer) : answer.status;
}

uint32_t flush_table_held(const LinkHold& hold, uint16_t node, uint8_t table_id) {
  Packet request;
  Packet answer;
  if (hold.p1()) {
    const uint32_t encoded = encode_flush_table_p1(request, table_id);
    if (encoded != NAX_OK) return encoded;
  } else {
    encode_flush_table_p2(request, table_id);
  }
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return hold.p1() ? decode_block_answer_p1(answer) : answer.status;
}

uint32_t del_records_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint8_t table_id,
                          uint16_t count, uint16_t& records_deleted) {
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd, "del %d records of table_id = %d for link id = %d", count, table_id, link_id);
  Packet request;
  Packet answer;
  encode_del_records_p2(request, table_id, count);
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return decode_del_records_p2(answer, records_deleted);
}

}  // namespace
}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_get_info(int32_t link_id, uint16_t node, const char* query, char* answer) {
  nax::log_printf(1, nax::kCmd, "get info for link id = %d from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::get_info_held(hold, link_id, node, query, answer);
  });
  nax::log_printf(3, nax::kCmd, "get info for link id = %d, ret_val = %d", link_id,
                  static_cast<int>(ret));
  return ret;
}

uint32_t NAX_CALL nax_reset_node(int32_t link_id, uint16_t node, int32_t device_id,
                                 int32_t sub_id) {
  nax::log_printf(1, nax::kCmd,
                  "reset node, device_id = %d, sub_id = %d, for link id = %d from node = %d",
                  device_id, sub_id, link_id, node);
  return nax::run_held("reset node", link_id, [&](const nax::LinkHold& hold) {
    return nax::reset_node_held(hold, node, device_id, sub_id);
  });
}

uint32_t NAX_CALL nax_block_node(int32_t link_id, uint16_t node, uint8_t value) {
  return nax::run_command("block node", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::block_node_held(hold, node, value);
  });
}

uint32_t NAX_CALL nax_flush_table(int32_t link_id, uint16_t node, uint8_t table_id) {
  nax::log_printf(1, nax::kCmd, "flush table_id = %d for link id = %d from node = %d", table_id,
                  link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::flush_table_held(hold, node, table_id);
  });
  nax::log_printf(3, nax::kCmd, "flush table_id = %d for link id = %d ret_val = %d", table_id,
                  link_id, static_cast<int>(ret));
  return ret;
}

uint32_t NAX_CALL nax_del_records(int32_t link_id, uint16_t node, uint32_t table_id, uint16_t count,
                                  uint16_t* records_deleted) {
  *records_deleted = 0;
  nax::log_printf(1, nax::kCmd, "del records for link id = %d from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::del_records_held(hold, link_id, node, static_cast<uint8_t>(table_id & 0xFF), count,
                                 *records_deleted);
  });
  nax::log_printf(3, nax::kCmd, "del records for link id = %d ret_val = %d, records_deleted = %d",
                  link_id, static_cast<int>(ret), *records_deleted);
  return ret;
}

}  // extern "C"
