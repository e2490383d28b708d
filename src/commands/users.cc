// nax_list_users, nax_add_user, nax_edit_user, nax_del_user, nax_add_user_in1 and
// the two wire forms of a user.
#include "commands/users.h"

#include <cstring>

#include "commands/command.h"
#include "commands/fields.h"
#include "commands/paging.h"
#include "core/log.h"
#include "proto/bytes.h"
#include "proto/frame.h"

namespace nax {

namespace {

constexpr uint16_t kBiometricPresent = 0x0000;
constexpr uint16_t kBiometricNone = 0xFFFF;
// bio_count reported for a protocol-1 user with templates: the block only says
// whether there are any.
constexpr uint8_t kP1BioCountPresent = 10;
constexpr uint8_t kResultDone = 1;
constexpr uint8_t kErrorNoRecords = 9;
// Batch header of protocol-2 add, edit and delete: first index and count.
constexpr std::size_t kBatchHeaderSize = 4;

// verb is "list", "add" or "edit"; the line reads "<verb> user (%05d) - ...".
void log_user(const char* verb, uint32_t index, const nax_user& u, int32_t link_id) {
  log_printf(1, kCmd,
             "%s user (%05d) - mask = %x, id = %lu, psw = %d, st = %d, ctl = %x, panic = %d, "
             "bio_count = %d, bio_level = %d, sec_level = %d, schedule_id = %d, "
             "anti_passback = %d, for link id = %d",
             verb, static_cast<int>(index), static_cast<unsigned>(u.mask),
             static_cast<unsigned long>(u.id), u.psw, u.st, static_cast<unsigned>(u.ctl), u.panic,
             u.bio_count, u.bio_level, u.sec_level, u.schedule_id, u.anti_passback, link_id);
}

uint32_t encode_user_batch_p2(Packet& request, uint16_t cmd, uint16_t first_index, uint16_t count,
                              nax_user* users) {
  // Sized before anything is written: a batch above what a node accepts in one
  // frame is refused whole rather than sent truncated.
  std::size_t total = kBatchHeaderSize;
  for (uint16_t i = 0; i < count; ++i) {
    total += user_record_p2_size(users[i]);
    if (total > kP2MaxRequestData) return NAX_ERR_INVALID_ARG;
  }
  begin_request(request, cmd);
  uint8_t* cursor = request.data;
  put_u16(cursor, first_index);
  put_u16(cursor, count);
  for (uint16_t i = 0; i < count; ++i) put_user_record_p2(cursor, users[i]);
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t map_user_error(uint8_t error_byte) {
  switch (error_byte) {
    case 1:
      return 5;
    case 2:
      return 12;
    case 5:
      return 4;
    case kErrorNoRecords:
      return 8;
    default:
      return 16;
  }
}

uint32_t list_users_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t first_index,
                         uint16_t count, nax_user* users, uint16_t& stored) {
  if (users == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  std::memset(users, 0, sizeof(nax_user) * count);
  const bool p1 = hold.p1();
  Packet request;
  Packet answer{};
  if (p1) {
    encode_list_users_p1(request, first_index);
  } else {
    encode_list_users_p2(request, first_index, count);
  }
  uint32_t ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  ret = p1 ? decode_list_users_p1(answer, first_index, users, stored)
           : decode_list_users_p2(answer, count, users, stored);
  if (ret == NAX_OK) {
    for (uint16_t i = 0; i < stored; ++i) log_user("list", first_index + i, users[i], link_id);
  }
  return ret;
}

uint32_t add_user_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t first_index,
                       uint16_t count, nax_user* users, uint16_t& taken) {
  if (users == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  for (uint16_t i = 0; i < count; ++i) log_user("add", first_index + i, users[i], link_id);
  const bool p1 = hold.p1();
  Packet request;
  Packet answer{};
  uint32_t ret = p1 ? encode_add_user_p1(request, users[0])
                    : encode_add_user_p2(request, first_index, count, users);
  if (ret != NAX_OK) return ret;
  ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return p1 ? decode_user_answer_p1(answer, taken) : decode_user_answer_p2(answer, taken);
}

uint32_t edit_user_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t first_index,
                        uint16_t count, nax_user* users, uint16_t& taken) {
  if (users == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  if (hold.p1()) return NAX_ERR_WRONG_PROTOCOL;
  log_user("edit", first_index, users[0], link_id);
  Packet request;
  Packet answer{};
  uint32_t ret = encode_edit_user_p2(request, first_index, count, users);
  if (ret != NAX_OK) return ret;
  ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return decode_user_answer_p2(answer, taken);
}

uint32_t del_user_held(const LinkHold& hold, int32_t link_id, uint16_t node, uint16_t first_index,
                       uint16_t count, nax_user* users, uint16_t& taken) {
  if (users == nullptr || count == 0) return NAX_ERR_INVALID_ARG;
  log_printf(1, kCmd, "del user (%05d) - mask = %x, id = %lu, for link = %d", first_index,
             static_cast<unsigned>(users[0].mask), static_cast<unsigned long>(users[0].id),
             link_id);
  const bool p1 = hold.p1();
  Packet request;
  Packet answer{};
  uint32_t ret = p1 ? encode_del_user_p1(request, users[0])
                    : encode_del_user_p2(request, first_index, count, users);
  if (ret != NAX_OK) return ret;
  ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  return p1 ? decode_user_answer_p1(answer, taken) : decode_user_answer_p2(answer, taken);
}

uint32_t add_user_in1_held(const LinkHold& hold, int32_t link_id, uint16_t node,
                           const nax_user* user, const uint8_t* extra, uint16_t extra_count) {
  // Protocol 2 has no such command; this one refuses it as an invalid argument.
  if (user == nullptr || !hold.p1()) return NAX_ERR_INVALID_ARG;
  log_printf(1, kCmd,
             "add user in1 - mask = %x, id = %lu, psw = %d, sec_level = %d, bio_count = %d, "
             "schedule_id = %d, for link id = %d",
             static_cast<unsigned>(user->mask), static_cast<unsigned long>(user->id), user->psw,
             user->sec_level, user->bio_count, user->schedule_id, link_id);
  Packet request;
  Packet answer{};
  uint32_t ret = encode_add_user_in1_p1(request, *user, extra, extra_count);
  if (ret != NAX_OK) return ret;
  ret = exchange(hold.link(), node, request, answer);
  if (ret != NAX_OK) return ret;
  uint16_t taken = 0;
  return decode_user_answer_p1(answer, taken);
}

}  // namespace

uint32_t put_user_block_p1(uint8_t*& cursor, const nax_user& user) {
  if (!(user.mask & NAX_USER_ID)) return NAX_ERR_INVALID_ARG;
  uint8_t id[4];
  uint8_t psw[2] = {0, 0};
  bcd8_to_node(user.id, id);
  if (user.mask & NAX_USER_PSW) bcd4_to_node(user.psw, psw);
  const bool has_templates = (user.mask & NAX_USER_BIO_COUNT) && user.bio_count != 0;
  put_u8(cursor, (user.mask & NAX_USER_SEC_LEVEL) ? (user.sec_level & 7) : 0);
  put_u8(cursor, 0);
  put_bytes(cursor, id, sizeof id);
  put_bytes(cursor, psw, sizeof psw);
  put_u16(cursor, (user.mask & NAX_USER_CTL) ? static_cast<uint16_t>(~user.ctl) : 0);
  put_u16(cursor, (user.mask & NAX_USER_SCHEDULE_ID) ? user.schedule_id : 0);
  put_u8(cursor, 0);
  put_u8(cursor, 0);
  put_u16(cursor, has_templates ? kBiometricPresent : kBiometricNone);
  return NAX_OK;
}

void get_user_block_p1(const uint8_t block[kUserBlockSize], nax_user& user) {
  const uint16_t ctl = load_u16(block + 8);
  const uint16_t biometric = load_u16(block + 14);
  user.mask = kUserBlockMask;
  user.sec_level = block[0] & 7;
  user.id = bcd8_from_node(block + 2);
  user.psw = static_cast<uint16_t>(bcd4_from_node(block + 6));
  user.ctl = static_cast<uint16_t>(~ctl);
  user.schedule_id = load_u16(block + 10);
  user.bio_count = biometric == kBiometricPresent ? kP1BioCountPresent : 0;
}

std::size_t user_record_p2_size(const nax_user& user) {
  const uint32_t m = user.mask;
  std::size_t n = 2 + 4;
  if (m & NAX_USER_ID) n += 4;
  if (m & NAX_USER_PSW) n += 2;
  if (m & NAX_USER_ST) n += 1;
  if (m & NAX_USER_CTL) n += 2;
  if (m & NAX_USER_PANIC) n += 1;
  if (m & NAX_USER_BIO_COUNT) n += 1;
  if (m & NAX_USER_BIO_LEVEL) n += 1;
  if (m & NAX_USER_SEC_LEVEL) n += 1;
  if (m & NAX_USER_TEXT1) n += text_field_size(user.text1, kUserTextFieldSize, kTextLengthPrefixed);
  if (m & NAX_USER_TEXT2) n += text_field_size(user.text2, kUserTextFieldSize, kTextLengthPrefixed);
  if (m & NAX_USER_SCHEDULE_ID) n += 2;
  if (m & NAX_USER_ANTI_PASSBACK) n += 1;
  return n;
}

std::size_t put_user_record_p2(uint8_t*& cursor, nax_user& user) {
  const uint32_t m = user.mask;
  uint8_t* const start = cursor;
  uint8_t* length_slot = reserve_u16(cursor);
  put_u32(cursor, m);
  if (m & NAX_USER_ID) put_u32(cursor, user.id);
  if (m & NAX_USER_PSW) put_u16(cursor, user.psw);
  if (m & NAX_USER_ST) put_u8(cursor, user.st);
  if (m & NAX_USER_CTL) put_u16(cursor, user.ctl);
  if (m & NAX_USER_PANIC) put_u8(cursor, user.panic);
  if (m & NAX_USER_BIO_COUNT) put_u8(cursor, user.bio_count);
  if (m & NAX_USER_BIO_LEVEL) put_u8(cursor, user.bio_level);
  if (m & NAX_USER_SEC_LEVEL) put_u8(cursor, user.sec_level);
  if (m & NAX_USER_TEXT1) put_text(cursor, user.text1, kUserTextFieldSize, kTextLengthPrefixed);
  if (m & NAX_USER_TEXT2) put_text(cursor, user.text2, kUserTextFieldSize, kTextLengthPrefixed);
  if (m & NAX_USER_SCHEDULE_ID) put_u16(cursor, user.schedule_id);
  if (m & NAX_USER_ANTI_PASSBACK) put_u8(cursor, user.anti_passback);
  const std::size_t total = static_cast<std::size_t>(cursor - start);
  put_u16(length_slot, static_cast<uint16_t>(total));
  return total;
}

uint32_t get_user_record_p2(nax_user& user, const uint8_t* data, uint16_t& position,
                            uint16_t size) {
  uint16_t length = 0;  // the fields are located by the mask; the length is not needed
  uint32_t s = get_u16(&length, data, position, size);
  if (s == NAX_OK) s = get_u32(&user.mask, data, position, size);
  const uint32_t m = user.mask;
  if (s == NAX_OK && (m & NAX_USER_ID)) s = get_u32(&user.id, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_PSW)) s = get_u16(&user.psw, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_ST)) s = get_u8(&user.st, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_CTL)) s = get_u16(&user.ctl, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_PANIC)) s = get_u8(&user.panic, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_BIO_COUNT)) s = get_u8(&user.bio_count, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_BIO_LEVEL)) s = get_u8(&user.bio_level, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_SEC_LEVEL)) s = get_u8(&user.sec_level, data, position, size);
  if (s == NAX_OK && (m & NAX_USER_TEXT1)) {
    s = get_text(user.text1, sizeof user.text1 - 1, data, position, size, kTextLengthPrefixed);
  }
  if (s == NAX_OK && (m & NAX_USER_TEXT2)) {
    s = get_text(user.text2, sizeof user.text2 - 1, data, position, size, kTextLengthPrefixed);
  }
  if (s == NAX_OK && (m & NAX_USER_SCHEDULE_ID)) {
    s = get_u16(&user.schedule_id, data, position, size);
  }
  if (s == NAX_OK && (m & NAX_USER_ANTI_PASSBACK)) {
    s = get_u8(&user.anti_passback, data, position, size);
  }
  return s;
}

void encode_list_users_p1(Packet& request, uint16_t first_index) {
  begin_request(request, first_index == 0 ? kCmdListUsersFirstP1 : kCmdListUsersNextP1);
}

uint32_t decode_list_users_p1(const Packet& answer, uint16_t first_index, nax_user* users,
                              uint16_t& stored) {
  constexpr P1ListRefusals kRefusals{7, kStatusNoFurtherRecords, 4};
  return decode_list_p1<kUserBlockSize>(answer, first_index, 1, kRefusals, users[0], stored,
                                        get_user_block_p1);
}

void encode_list_users_p2(Packet& request, uint16_t first_index, uint16_t count) {
  encode_page_request_p2(request, kCmdListUsersP2, first_index, count);
}

uint32_t decode_list_users_p2(const Packet& answer, uint16_t count, nax_user* users,
                              uint16_t& stored) {
  return decode_page_p2(answer, count, users, stored, get_user_record_p2);
}

uint32_t encode_add_user_p1(Packet& request, const nax_user& user) {
  begin_request(request, kCmdAddUserP1);
  uint8_t* cursor = request.data;
  const uint32_t s = put_user_block_p1(cursor, user);
  if (s != NAX_OK) return s;
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t encode_del_user_p1(Packet& request, const nax_user& user) {
  if (!(user.mask & NAX_USER_ID)) return NAX_ERR_INVALID_ARG;
  begin_request(request, kCmdDelUserP1);
  uint8_t id[4];
  bcd8_to_node(user.id, id);
  uint8_t* cursor = request.data;
  put_bytes(cursor, id, sizeof id);
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t encode_add_user_in1_p1(Packet& request, const nax_user& user, const uint8_t* extra,
                                uint16_t extra_count) {
  const std::size_t extra_size = extra == nullptr ? 0 : extra_count;
  if (kUserBlockSize + extra_size > kP1MaxData) return NAX_ERR_INVALID_ARG;
  begin_request(request, kCmdAddUserP1);
  uint8_t* cursor = request.data;
  const uint32_t s = put_user_block_p1(cursor, user);
  if (s != NAX_OK) return s;
  put_bytes(cursor, extra, static_cast<uint16_t>(extra_size));
  end_request(request, cursor);
  return NAX_OK;
}

uint32_t decode_user_answer_p1(const Packet& answer, uint16_t& taken) {
  uint16_t position = 0;
  uint8_t result = 0;
  uint32_t s = get_u8(&result, answer.data, position, answer.size);
  if (s != NAX_OK) return s;
  if (result == kResultDone) {
    taken = 1;
    return NAX_OK;
  }
  uint8_t error = 0;
  s = get_u8(&error, answer.data, position, answer.size);
  if (s != NAX_OK) return s;
  return map_user_error(error);
}

uint32_t encode_add_user_p2(Packet& request, uint16_t first_index, uint16_t count,
                            nax_user* users) {
  return encode_user_batch_p2(request, kCmdAddUserP2, first_index, count, users);
}

uint32_t encode_edit_user_p2(Packet& request, uint16_t first_index, uint16_t count,
                             nax_user* users) {
  return encode_user_batch_p2(request, kCmdEditUserP2, first_index, count, users);
}

uint32_t encode_del_user_p2(Packet& request, uint16_t first_index, uint16_t count,
                            nax_user* users) {
  for (uint16_t i = 0; i < count; ++i) users[i].mask &= NAX_USER_ID;
  return encode_user_batch_p2(request, kCmdDelUserP2, first_index, count, users);
}

uint32_t decode_user_answer_p2(const Packet& answer, uint16_t& taken) {
  uint16_t position = 0;
  uint16_t unused = 0;
  uint16_t count = 0;
  if (get_u16(&unused, answer.data, position, answer.size) == NAX_OK &&
      get_u16(&count, answer.data, position, answer.size) == NAX_OK) {
    taken = count;
  } else {
    taken = 0;
  }
  return answer.status;
}

}  // namespace nax

extern "C" {

uint32_t NAX_CALL nax_list_users(int32_t link_id, uint16_t node, uint32_t first_index,
                                 uint16_t count, nax_user* users, uint16_t* stored) {
  if (stored != nullptr) *stored = 0;
  return nax::run_command("list users", link_id, node, [&](const nax::LinkHold& hold) {
    // The index and count travel in 16 bits: the low 16 bits of the argument are used.
    if (stored == nullptr) return uint32_t{NAX_ERR_INVALID_ARG};
    return nax::list_users_held(hold, link_id, node, static_cast<uint16_t>(first_index), count,
                                users, *stored);
  });
}

uint32_t NAX_CALL nax_add_user(int32_t link_id, uint16_t node, uint32_t first_index, uint32_t count,
                               nax_user* users, uint16_t* taken) {
  if (taken != nullptr) *taken = 0;
  return nax::run_command("add user", link_id, node, [&](const nax::LinkHold& hold) {
    if (taken == nullptr) return uint32_t{NAX_ERR_INVALID_ARG};
    return nax::add_user_held(hold, link_id, node, static_cast<uint16_t>(first_index),
                              static_cast<uint16_t>(count), users, *taken);
  });
}

uint32_t NAX_CALL nax_edit_user(int32_t link_id, uint16_t node, uint32_t first_index,
                                uint16_t count, nax_user* users, uint16_t* taken) {
  if (taken != nullptr) *taken = 0;
  return nax::run_command("edit user", link_id, node, [&](const nax::LinkHold& hold) {
    if (taken == nullptr) return uint32_t{NAX_ERR_INVALID_ARG};
    return nax::edit_user_held(hold, link_id, node, static_cast<uint16_t>(first_index), count,
                               users, *taken);
  });
}

uint32_t NAX_CALL nax_del_user(int32_t link_id, uint16_t node, uint32_t first_index, uint16_t count,
                               nax_user* users, uint16_t* taken) {
  if (taken != nullptr) *taken = 0;
  return nax::run_command("del user", link_id, node, [&](const nax::LinkHold& hold) {
    if (taken == nullptr) return uint32_t{NAX_ERR_INVALID_ARG};
    return nax::del_user_held(hold, link_id, node, static_cast<uint16_t>(first_index), count, users,
                              *taken);
  });
}

uint32_t NAX_CALL nax_add_user_in1(int32_t link_id, uint16_t node, const nax_user* user,
                                   uint32_t unused, const uint8_t* extra, uint32_t extra_count) {
  (void)unused;  // part of the call's signature; the node is not told about it
  return nax::run_command("add user in1", link_id, node, [&](const nax::LinkHold& hold) {
    return nax::add_user_in1_held(hold, link_id, node, user, extra,
                                  static_cast<uint16_t>(extra_count));
  });
}

}  // extern "C"
