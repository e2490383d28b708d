// User table commands: list, add, edit and delete users, and add one user with
// extra bytes; the protocol-1 user block and the protocol-2 user record.
#pragma once

#include <cstddef>
#include <cstdint>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

inline constexpr uint16_t kCmdListUsersFirstP1 = 0x0010;
inline constexpr uint16_t kCmdListUsersNextP1 = 0x0011;
inline constexpr uint16_t kCmdListUsersP2 = 0x8004;
inline constexpr uint16_t kCmdAddUserP1 = 0x0003;
inline constexpr uint16_t kCmdAddUserP2 = 0x8000;
inline constexpr uint16_t kCmdEditUserP2 = 0x8002;
inline constexpr uint16_t kCmdDelUserP1 = 0x0009;
inline constexpr uint16_t kCmdDelUserP2 = 0x8001;

inline constexpr std::size_t kUserBlockSize = 16;
// text1 and text2 are written as length-prefixed fields of 255 bytes, not of their
// 256-byte buffers: the length byte cannot announce 256, so at most 254
// characters travel and a longer text is cut in the host's record.
inline constexpr std::size_t kUserTextFieldSize = 255;
// Mask of a user read from a protocol-1 block: id, psw, ctl, bio_count, sec_level,
// schedule_id.
inline constexpr uint32_t kUserBlockMask = 0x08AB;

// Protocol-1 16-byte user block.  1037 (nothing written) when the mask lacks the id.
uint32_t put_user_block_p1(uint8_t*& cursor, const nax_user& user);
void get_user_block_p1(const uint8_t block[kUserBlockSize], nax_user& user);

// Protocol-2 user record: length(2) mask(4) and the fields the mask selects.
// Also embedded in the answer to a user event.
std::size_t user_record_p2_size(const nax_user& user);
// May cut text1/text2 in the host's record (see kUserTextFieldSize).
std::size_t put_user_record_p2(uint8_t*& cursor, nax_user& user);
// Reads one record into user (fields the mask does not select are left alone);
// 1029 when the data ends inside it.
uint32_t get_user_record_p2(nax_user& user, const uint8_t* data, uint16_t& position, uint16_t size);

// List.  Protocol 1 pages by command code alone: first (index 0) or next.
void encode_list_users_p1(Packet& request, uint16_t first_index);
// At most one user; a refusal maps error byte 9 to 7 (first page) or 8, others to 4.
uint32_t decode_list_users_p1(const Packet& answer, uint16_t first_index, nax_user* users,
                              uint16_t& stored);
void encode_list_users_p2(Packet& request, uint16_t first_index, uint16_t count);
// Status 1 or 8 (no further users) with the records stored; never stores more
// than count records, even when the answer announces more.  The complete
// records before a break stay stored and counted, with 1029.
uint32_t decode_list_users_p2(const Packet& answer, uint16_t count, nax_user* users,
                              uint16_t& stored);

// Add, edit, delete.  Protocol 1 carries the first record only.
uint32_t encode_add_user_p1(Packet& request, const nax_user& user);
uint32_t encode_del_user_p1(Packet& request, const nax_user& user);
// Block followed by extra bytes.  1037 when the id is missing or the request
// would exceed the largest protocol-1 frame.
uint32_t encode_add_user_in1_p1(Packet& request, const nax_user& user, const uint8_t* extra,
                                uint16_t extra_count);
// Result byte 1: taken = 1, status 1.  Otherwise the error byte: 1->5, 2->12,
// 5->4, 9->8, others 16.
uint32_t decode_user_answer_p1(const Packet& answer, uint16_t& taken);

// first_index(2) count(2) and count protocol-2 user records.  1037 before
// anything is written when they would exceed the 512 data bytes a node accepts
// (kP2MaxRequestData): the caller sends fewer records per call.
uint32_t encode_add_user_p2(Packet& request, uint16_t first_index, uint16_t count, nax_user* users);
uint32_t encode_edit_user_p2(Packet& request, uint16_t first_index, uint16_t count,
                             nax_user* users);
// Reduces every record's mask to its id bit, in the host's array, first.
uint32_t encode_del_user_p2(Packet& request, uint16_t first_index, uint16_t count, nax_user* users);
// The status word; taken is read from the data whatever it says (0 when missing).
uint32_t decode_user_answer_p2(const Packet& answer, uint16_t& taken);

}  // namespace nax
