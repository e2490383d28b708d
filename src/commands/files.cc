// Files on the node: codecs and the exported commands.
#include "commands/files.h"

#include <cstring>

#include "commands/aux.h"
#include "commands/command.h"
#include "core/log.h"
#include "proto/bytes.h"
#include "vedodiroz.h"

namespace nax {
namespace {

// Length of a name that fits the request, or kMaxFileName + 1 when it is longer.
std::size_t name_length(const char* fname) {
  return strnlen(fname, kMaxFileName + 1);
}

}  // namespace

uint32_t encode_fopen_p2(Packet& request, const char* fname, uint32_t flags) {
  const std::size_t length = name_length(fname);
  if (length > kMaxFileName) return NAX_ERR_INVALID_ARG;
  begin_request(request, kCmdFopenP2);
  uint8_t* cursor = request.data;
  put_u32(cursor, flags);
  put_bytes(cursor, fname, static_cast<uint16_t>(length + 1));
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t decode_fopen_p2(const Packet& answer, uint32_t& fsize) {
  return decode_status_and_u32_p2(answer, fsize);
}

void encode_fread_p2(Packet& request, uint32_t len) {
  begin_request(request, kCmdFreadP2);
  uint8_t* cursor = request.data;
  put_u32(cursor, len);
  end_request(request, cursor);
}

uint32_t decode_fread_p2(const Packet& answer, uint8_t* buffer, uint32_t len,
                         uint32_t& read_bytes) {
  if (answer.status != NAX_OK) return answer.status;
  read_bytes = answer.size;
  if (answer.size > len) return NAX_ERR_SHORT_ANSWER;
  if (answer.size > 0) std::memcpy(buffer, answer.data, answer.size);
  return NAX_OK;
}

uint32_t encode_fwrite_p2(Packet& request, const uint8_t* data, uint32_t len) {
  if (len > kMaxWriteChunk) return NAX_ERR_INVALID_ARG;
  begin_request(request, kCmdFwriteP2);
  uint8_t* cursor = request.data;
  put_bytes(cursor, data, static_cast<uint16_t>(len));
  end_request(request, cursor);
  return NAX_OK;
}

void encode_fclose_p2(Packet& request) {
  begin_request(request, kCmdFcloseP2);
  end_request(request, request.data);
}

// Name and NUL alone always fit the 512 bytes a node accepts.
static_assert(kMaxFileName + 1 <= kP2MaxRequestData);

uint32_t encode_fdel_p2(Packet& request, const char* fname) {
  const std::size_t length = name_length(fname);
  if (length > kMaxFileName) return NAX_ERR_INVALID_ARG;
  begin_request(request, kCmdFdelP2);
  uint8_t* cursor = request.data;
  put_bytes(cursor, fname, static_cast<uint16_t>(length + 1));
  end_request(request, cursor);
  return NAX_OK;
}

namespace {

// Runs an encoded request and returns the status word of a status-only answer.
uint32_t exchange_status_only(const LinkHold& hold, uint16_t node, const Packet& request) {
  Packet answer;
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  return ret != NAX_OK ? ret : answer.status;
}

uint32_t fopen_held(const LinkHold& hold, int32_t link_id, uint16_t node, const char* fname,
                    uint32_t flags, uint32_t& fsize) {
  if (fname == nullptr) return NAX_ERR_INVALID_ARG;
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd, "fopen - fname = %s, flags = %lu, for link id = %d", fname,
             static_cast<unsigned long>(flags), link_id);
  Packet request;
  uint32_t ret = encode_fopen_p2(request, fname, flags);
  if (ret != NAX_OK) return ret;
  Packet answer;
  ret = exchange(hold.link(), node, request, answer);
  return ret != NAX_OK ? ret : decode_fopen_p2(answer, fsize);
}

uint32_t fread_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint8_t* buffer,
                    uint32_t len, uint32_t& read_bytes) {
  if (buffer == nullptr) return NAX_ERR_INVALID_ARG;
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd, "fread - len = %lu, for link id = %d", static_cast<unsigned long>(len),
             link_id);
  Packet request;
  Packet answer;
  encode_fread_p2(request, len);
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  return ret != NAX_OK ? ret : decode_fread_p2(answer, buffer, len, read_bytes);
}

uint32_t fwrite_held(const LinkHold& hold, int32_t link_id, uint16_t node, const uint8_t* data,
                     uint32_t len) {
  if (data == nullptr) return NAX_ERR_INVALID_ARG;
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd, "fwrite - len = %lu, for link id = %d", static_cast<unsigned long>(len),
             link_id);
  Packet request;
  const uint32_t ret = encode_fwrite_p2(request, data, len);
  return ret != NAX_OK ? ret : exchange_status_only(hold, node, request);
}

uint32_t fclose_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint32_t& crc32) {
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd, "fclose for link id = %d", link_id);
  Packet request;
  Packet answer;
  encode_fclose_p2(request);
  const uint32_t ret = exchange(hold.link(), node, request, answer);
  return ret != NAX_OK ? ret : decode_status_and_u32_p2(answer, crc32);
}

uint32_t fdel_held(const LinkHold& hold, int32_t link_id, uint16_t node, const char* fname) {
  if (fname == nullptr) return NAX_ERR_INVALID_ARG;
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_printf(1, kCmd, "fdel - fname = %s, for link id = %d", fname, link_id);
  Packet request;
  const uint32_t ret = encode_fdel_p2(request, fname);
  return ret != NAX_OK ? ret : exchange_status_only(hold, node, request);
}

}  // namespace
}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_fopen(int32_t link_id, uint16_t node, const char* fname, uint32_t flags,
                            uint32_t* fsize) {
  *fsize = 0;
  nax::log_printf(1, nax::kCmd, "fopen for link id = %d, from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::fopen_held(hold, link_id, node, fname, flags, *fsize);
  });
  nax::log_printf(3, nax::kCmd, "fopen link id = %d, fsize = %lu, ret_val = %d", link_id,
                  static_cast<unsigned long>(*fsize), static_cast<int>(ret));
  return ret;
}

uint32_t NAX_CALL nax_fread(int32_t link_id, uint16_t node, uint8_t* buffer, uint32_t len,
                            uint32_t* read_bytes) {
  nax::log_printf(1, nax::kCmd, "fread for link id = %d, from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::fread_held(hold, link_id, node, buffer, len, *read_bytes);
  });
  nax::log_printf(3, nax::kCmd, "fread link id = %d, read_bytes = %lu, ret_val = %d", link_id,
                  static_cast<unsigned long>(*read_bytes), static_cast<int>(ret));
  return ret;
}

uint32_t NAX_CALL nax_fwrite(int32_t link_id, uint16_t node, const uint8_t* data, uint32_t len) {
  nax::log_printf(1, nax::kCmd, "fwrite for link id = %d, from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::fwrite_held(hold, link_id, node, data, len);
  });
  nax::log_printf(3, nax::kCmd, "fwrite link id = %d, ret_val = %d", link_id,
                  static_cast<int>(ret));
  return ret;
}

uint32_t NAX_CALL nax_fclose(int32_t link_id, uint16_t node, uint32_t* crc32) {
  nax::log_printf(1, nax::kCmd, "fclose for link id = %d, from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::fclose_held(hold, link_id, node, *crc32);
  });
  nax::log_printf(3, nax::kCmd, "fclose link id = %d, crc32 = %lu, ret_val = %d", link_id,
                  static_cast<unsigned long>(*crc32), static_cast<int>(ret));
  return ret;
}

uint32_t NAX_CALL nax_fdel(int32_t link_id, uint16_t node, const char* fname) {
  nax::log_printf(1, nax::kCmd, "fdel for link id = %d, from node = %d", link_id, node);
  const uint32_t ret = nax::with_link(link_id, [&](const nax::LinkHold& hold) {
    return nax::fdel_held(hold, link_id, node, fname);
  });
  nax::log_printf(3, nax::kCmd, "fdel link id = %d, ret_val = %d", link_id, static_cast<int>(ret));
  return ret;
}

}  // extern "C"
