// The node's user table, reachable from tests through Node::with_state<Users>.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace naxsim {

// Verdicts of the user commands.  Protocol 1 answers result byte 0 and the error byte;
// protocol 2 answers the status word.  The pairs are chosen so that a host reports the
// same number whichever protocol it speaks.
inline constexpr uint8_t kUserErrorExists = 1;     // status 5
inline constexpr uint8_t kUserErrorTableFull = 2;  // status 12
inline constexpr uint8_t kUserErrorBadRecord = 5;  // status 4
inline constexpr uint8_t kUserErrorNoRecords = 9;  // status 8: no such user / no more users
inline constexpr uint16_t kUserStatusExists = 5;
inline constexpr uint16_t kUserStatusTableFull = 12;
inline constexpr uint16_t kUserStatusBadRecord = 4;
inline constexpr uint16_t kUserStatusNoRecords = 8;

struct UserEntry {
  uint32_t fields = 0;  // which fields the node holds, as mask bits (0x0001 id ... 0x1000)
  uint32_t id = 0;
  uint16_t psw = 0;
  uint8_t st = 0;
  uint16_t ctl = 0;
  uint8_t panic = 0;
  uint8_t bio_count = 0;
  uint8_t bio_level = 0;
  uint8_t sec_level = 0;
  std::string text1;
  std::string text2;
  uint16_t schedule_id = 0;
  uint8_t anti_passback = 0;
};

struct Users {
  // A listed record must fit one answer (512 data bytes), so texts are kept short.
  static constexpr std::size_t kMaxText = 200;
  std::size_t capacity = 10000;
  std::vector<UserEntry> table;  // ascending id
  std::size_t p1_cursor = 0;     // next user for a protocol-1 "next" request
};

}  // namespace naxsim
