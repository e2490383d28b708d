// The user table: list, add, edit and delete in both protocols.
#include "handlers_users.h"

#include <algorithm>
#include <cstring>

#include "naxsim.h"
#include "wire.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdListFirstP1 = 0x0010;
constexpr uint16_t kCmdListNextP1 = 0x0011;
constexpr uint16_t kCmdAddP1 = 0x0003;
constexpr uint16_t kCmdDelP1 = 0x0009;
constexpr uint16_t kCmdAddP2 = 0x8000;
constexpr uint16_t kCmdDelP2 = 0x8001;
constexpr uint16_t kCmdEditP2 = 0x8002;
constexpr uint16_t kCmdListP2 = 0x8004;

constexpr uint32_t kId = 0x0001;
constexpr uint32_t kPsw = 0x0002;
constexpr uint32_t kSt = 0x0004;
constexpr uint32_t kCtl = 0x0008;
constexpr uint32_t kPanic = 0x0010;
constexpr uint32_t kBioCount = 0x0020;
constexpr uint32_t kBioLevel = 0x0040;
constexpr uint32_t kSecLevel = 0x0080;
constexpr uint32_t kText1 = 0x0100;
constexpr uint32_t kText2 = 0x0200;
constexpr uint32_t kScheduleId = 0x0800;
constexpr uint32_t kAntiPassback = 0x1000;
constexpr uint32_t kKnownFields = 0x1BFF;
// What a protocol-1 block carries.
constexpr uint32_t kBlockFields = kId | kPsw | kCtl | kBioCount | kSecLevel | kScheduleId;

constexpr std::size_t kBlockSize = 16;
constexpr std::size_t kMaxAnswerData = 512;
constexpr std::size_t kBatchHeader = 4;  // first index(2) count(2)

uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | p[1] << 8);
}
uint32_t le32(const uint8_t* p) {
  return static_cast<uint32_t>(le16(p)) | static_cast<uint32_t>(le16(p + 2)) << 16;
}
void put16(uint8_t*& out, uint16_t v) {
  *out++ = static_cast<uint8_t>(v);
  *out++ = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t*& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v));
  put16(out, static_cast<uint16_t>(v >> 16));
}

// Packed-BCD digits, most significant first.
uint32_t read_bcd(const uint8_t* in, int bytes) {
  uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v = (v * 10 + (in[i] >> 4)) * 10 + (in[i] & 0x0F);
  return v;
}

std::vector<UserEntry>::iterator find_user(Users& users, uint32_t id) {
  auto it = std::lower_bound(users.table.begin(), users.table.end(), id,
                             [](const UserEntry& u, uint32_t key) { return u.id < key; });
  return it != users.table.end() && it->id == id ? it : users.table.end();
}

// 0 on success, else the error byte.
uint8_t insert_user(Users& users, const UserEntry& user) {
  auto it = std::lower_bound(users.table.begin(), users.table.end(), user.id,
                             [](const UserEntry& u, uint32_t key) { return u.id < key; });
  if (it != users.table.end() && it->id == user.id) return kUserErrorExists;
  if (users.table.size() >= users.capacity) return kUserErrorTableFull;
  users.table.insert(it, user);
  return 0;
}

uint16_t status_of(uint8_t error) {
  switch (error) {
    case kUserErrorExists:
      return kUserStatusExists;
    case kUserErrorTableFull:
      return kUserStatusTableFull;
    case kUserErrorNoRecords:
      return kUserStatusNoRecords;
    default:
      return kUserStatusBadRecord;
  }
}

// ---- protocol 1: one 16-byte block a request ----

void write_block(const UserEntry& u, uint8_t* out) {
  out[0] = u.sec_level & 7;
  out[1] = 0;
  put_bcd8(out + 2, u.id);
  const uint16_t psw = static_cast<uint16_t>(u.psw % 10000);
  out[6] = static_cast<uint8_t>((psw / 1000) << 4 | (psw / 100) % 10);
  out[7] = static_cast<uint8_t>(((psw / 10) % 10) << 4 | psw % 10);
  uint8_t* p = out + 8;
  put16(p, static_cast<uint16_t>(~u.ctl));
  put16(p, u.schedule_id);
  *p++ = 0;
  *p++ = 0;
  put16(p, u.bio_count > 0 ? 0x0000 : 0xFFFF);
}

UserEntry read_block(const uint8_t* in) {
  UserEntry u;
  u.fields = kBlockFields;
  u.sec_level = in[0] & 7;
  u.id = read_bcd(in + 2, 4);
  u.psw = static_cast<uint16_t>(read_bcd(in + 6, 2));
  u.ctl = static_cast<uint16_t>(~le16(in + 8));
  u.schedule_id = le16(in + 10);
  u.bio_count = le16(in + 14) == 0 ? 1 : 0;
  return u;
}

// First or next user; the node keeps the position.
bool list_p1(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  return node.with_state<Users>([&](Users& users) {
    if (request.cmd == kCmdListFirstP1) users.p1_cursor = 0;
    if (users.p1_cursor >= users.table.size()) {
      refuse(answer, protocol, kUserStatusNoRecords, kUserErrorNoRecords);
      return true;
    }
    answer.data[0] = kResultDone;
    write_block(users.table[users.p1_cursor++], answer.data + 1);
    answer.size = 1 + kBlockSize;
    return true;
  });
}

// A block, possibly followed by extra bytes that this node does not keep.
bool add_p1(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  if (request.size < kBlockSize) {
    refuse(answer, protocol, kUserStatusBadRecord, kUserErrorBadRecord);
    return true;
  }
  const uint8_t error = node.with_state<Users>(
      [&](Users& users) { return insert_user(users, read_block(request.data)); });
  if (error != 0) {
    refuse(answer, protocol, status_of(error), error);
  } else {
    answer.data[0] = kResultDone;
    answer.size = 1;
  }
  return true;
}

bool del_p1(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  if (request.size < 4) {
    refuse(answer, protocol, kUserStatusBadRecord, kUserErrorBadRecord);
    return true;
  }
  const uint32_t id = read_bcd(request.data, 4);
  const bool erased = node.with_state<Users>([&](Users& users) {
    auto it = find_user(users, id);
    if (it == users.table.end()) return false;
    users.table.erase(it);
    return true;
  });
  if (!erased) {
    refuse(answer, protocol, kUserStatusNoRecords, kUserErrorNoRecords);
  } else {
    answer.data[0] = kResultDone;
    answer.size = 1;
  }
  return true;
}

// ---- protocol 2: length-prefixed records selected by a mask ----

std::size_t record_size(const UserEntry& u) {
  const uint32_t m = u.fields | kId;
  std::size_t n = 2 + 4 + 4;
  if (m & kPsw) n += 2;
  if (m & kSt) n += 1;
  if (m & kCtl) n += 2;
  if (m & kPanic) n += 1;
  if (m & kBioCount) n += 1;
  if (m & kBioLevel) n += 1;
  if (m & kSecLevel) n += 1;
  if (m & kText1) n += 2 + u.text1.size();
  if (m & kText2) n += 2 + u.text2.size();
  if (m & kScheduleId) n += 2;
  if (m & kAntiPassback) n += 1;
  return n;
}

void put_text(uint8_t*& out, const std::string& text) {
  *out++ = static_cast<uint8_t>(text.size() + 1);
  std::memcpy(out, text.data(), text.size());
  out += text.size();
  *out++ = 0;
}

void write_record(const UserEntry& u, uint8_t*& out) {
  const uint32_t m = u.fields | kId;
  uint8_t* length = out;
  out += 2;
  put32(out, m);
  put32(out, u.id);
  if (m & kPsw) put16(out, u.psw);
  if (m & kSt) *out++ = u.st;
  if (m & kCtl) put16(out, u.ctl);
  if (m & kPanic) *out++ = u.panic;
  if (m & kBioCount) *out++ = u.bio_count;
  if (m & kBioLevel) *out++ = u.bio_level;
  if (m & kSecLevel) *out++ = u.sec_level;
  if (m & kText1) put_text(out, u.text1);
  if (m & kText2) put_text(out, u.text2);
  if (m & kScheduleId) put16(out, u.schedule_id);
  if (m & kAntiPassback) *out++ = u.anti_passback;
  put16(length, static_cast<uint16_t>(out - length));
}

// Bounded reader over one record.
class RecordReader {
 public:
  RecordReader(const uint8_t* data, std::size_t end, std::size_t pos)
      : data_(data), end_(end), pos_(pos) {}
  bool u8(uint8_t& v) {
    if (pos_ + 1 > end_) return false;
    v = data_[pos_++];
    return true;
  }
  bool u16(uint16_t& v) {
    if (pos_ + 2 > end_) return false;
    v = le16(data_ + pos_);
    pos_ += 2;
    return true;
  }
  bool u32(uint32_t& v) {
    if (pos_ + 4 > end_) return false;
    v = le32(data_ + pos_);
    pos_ += 4;
    return true;
  }
  // Length byte counting the NUL, then the text.
  bool text(std::string& v) {
    uint8_t length = 0;
    if (!u8(length) || pos_ + length > end_) return false;
    const char* chars = reinterpret_cast<const char*>(data_ + pos_);
    v.assign(chars, strnlen(chars, length));
    pos_ += length;
    return v.size() <= Users::kMaxText;
  }

 private:
  const uint8_t* data_;
  std::size_t end_;
  std::size_t pos_;
};

// Reads the record at pos and moves pos past it (by its length).  mask gets the fields
// the record carries.
bool read_record(const nax::Packet& request, std::size_t& pos, UserEntry& u, uint32_t& mask) {
  if (pos + 6 > request.size) return false;
  const std::size_t length = le16(request.data + pos);
  if (length < 6 || pos + length > request.size) return false;
  RecordReader r(request.data, pos + length, pos + 2);
  pos += length;
  if (!r.u32(mask)) return false;
  const uint32_t m = mask;
  return (!(m & kId) || r.u32(u.id)) && (!(m & kPsw) || r.u16(u.psw)) &&
         (!(m & kSt) || r.u8(u.st)) && (!(m & kCtl) || r.u16(u.ctl)) &&
         (!(m & kPanic) || r.u8(u.panic)) && (!(m & kBioCount) || r.u8(u.bio_count)) &&
         (!(m & kBioLevel) || r.u8(u.bio_level)) && (!(m & kSecLevel) || r.u8(u.sec_level)) &&
         (!(m & kText1) || r.text(u.text1)) && (!(m & kText2) || r.text(u.text2)) &&
         (!(m & kScheduleId) || r.u16(u.schedule_id)) &&
         (!(m & kAntiPassback) || r.u8(u.anti_passback));
}

// Copies the fields that mask selects (the id stays).
void merge(UserEntry& into, const UserEntry& from, uint32_t mask) {
  if (mask & kPsw) into.psw = from.psw;
  if (mask & kSt) into.st = from.st;
  if (mask & kCtl) into.ctl = from.ctl;
  if (mask & kPanic) into.panic = from.panic;
  if (mask & kBioCount) into.bio_count = from.bio_count;
  if (mask & kBioLevel) into.bio_level = from.bio_level;
  if (mask & kSecLevel) into.sec_level = from.sec_level;
  if (mask & kText1) into.text1 = from.text1;
  if (mask & kText2) into.text2 = from.text2;
  if (mask & kScheduleId) into.schedule_id = from.schedule_id;
  if (mask & kAntiPassback) into.anti_passback = from.anti_passback;
  into.fields |= mask & kKnownFields;
}

enum class Batch { Add, Edit, Del };

// Works through the records in order and stops at the first one refused; the answer
// carries how many were taken and the verdict on the one that stopped it.
bool batch_p2(Node& node, const nax::Packet& request, nax::Packet& answer, Batch kind) {
  if (request.size < kBatchHeader) {
    answer.status = kStatusBadRequest;
    return true;
  }
  const uint16_t first = le16(request.data);
  const uint16_t count = le16(request.data + 2);
  uint16_t taken = 0;
  uint8_t error = 0;
  node.with_state<Users>([&](Users& users) {
    std::size_t pos = kBatchHeader;
    for (uint16_t i = 0; i < count && error == 0; ++i) {
      UserEntry record;
      uint32_t mask = 0;
      if (!read_record(request, pos, record, mask) || !(mask & kId)) {
        error = kUserErrorBadRecord;
        break;
      }
      if (kind == Batch::Add) {
        record.fields = (mask & kKnownFields) | kId;
        error = insert_user(users, record);
      } else {
        auto it = find_user(users, record.id);
        if (it == users.table.end()) {
          error = kUserErrorNoRecords;
        } else if (kind == Batch::Edit) {
          merge(*it, record, mask);
        } else {
          users.table.erase(it);
        }
      }
      if (error == 0) ++taken;
    }
    return 0;
  });
  uint8_t* out = answer.data;
  put16(out, first);
  put16(out, taken);
  answer.size = static_cast<uint16_t>(out - answer.data);
  answer.status = error == 0 ? kStatusDone : status_of(error);
  return true;
}

bool add_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  return batch_p2(node, request, answer, Batch::Add);
}
bool edit_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  return batch_p2(node, request, answer, Batch::Edit);
}
bool del_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  return batch_p2(node, request, answer, Batch::Del);
}

// Up to count users from the first index, as many as fit one answer; status 8 once the
// page reaches the end of the table.
bool list_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  if (request.size < kBatchHeader) {
    answer.status = kStatusBadRequest;
    return true;
  }
  const uint16_t first = le16(request.data);
  const uint16_t count = le16(request.data + 2);
  node.with_state<Users>([&](Users& users) {
    uint8_t* out = answer.data + kBatchHeader;
    std::size_t index = first;
    uint16_t n = 0;
    while (n < count && index < users.table.size()) {
      const UserEntry& u = users.table[index];
      if (static_cast<std::size_t>(out - answer.data) + record_size(u) > kMaxAnswerData) break;
      write_record(u, out);
      ++n;
      ++index;
    }
    answer.size = static_cast<uint16_t>(out - answer.data);
    out = answer.data;
    put16(out, static_cast<uint16_t>(users.table.size()));
    put16(out, n);
    answer.status = index >= users.table.size() ? kUserStatusNoRecords : kStatusDone;
    return 0;
  });
  return true;
}

const HandlerRegistration kListFirstP1(1, kCmdListFirstP1, list_p1);
const HandlerRegistration kListNextP1(1, kCmdListNextP1, list_p1);
const HandlerRegistration kAddP1(1, kCmdAddP1, add_p1);
const HandlerRegistration kDelP1(1, kCmdDelP1, del_p1);
const HandlerRegistration kAddP2(2, kCmdAddP2, add_p2);
const HandlerRegistration kEditP2(2, kCmdEditP2, edit_p2);
const HandlerRegistration kDelP2(2, kCmdDelP2, del_p2);
const HandlerRegistration kListP2(2, kCmdListP2, list_p2);

}  // namespace
}  // namespace naxsim
