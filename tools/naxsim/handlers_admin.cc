// Node administration: information queries, reset, block, table flush and record deletion.
#include "handlers_admin.h"

#include <algorithm>
#include <cstdio>
#include <string>

#include "handlers_io.h"
#include "handlers_marks.h"
#include "handlers_users.h"
#include "naxsim.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdInfoP1 = 0x200E;
constexpr uint16_t kCmdResetP1 = 0x001A;
constexpr uint16_t kCmdBlockP1 = 0x0030;
constexpr uint16_t kCmdFlushUsersP1 = 0x0004;
constexpr uint16_t kCmdFlushMarksP1 = 0x0005;
constexpr uint16_t kCmdInfoP2 = 0x8030;
constexpr uint16_t kCmdResetP2 = 0x8031;
constexpr uint16_t kCmdBlockP2 = 0x8032;
constexpr uint16_t kCmdFlushP2 = 0x8035;
constexpr uint16_t kCmdDelRecordsP2 = 0x8036;

constexpr std::size_t kMaxInfoText = 511;
constexpr const char* kFlushCode = "5719";
// Protocol-1 error byte of a flush without the right confirmation code.
constexpr uint8_t kErrorFlushCode = 2;

void refuse_bad(nax::Packet& answer, int protocol) {
  refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
}

// False for a query outside the vocabulary.
bool answer_query(Node& node, const std::string& query, std::string& text) {
  static const std::string kEcho = "echo ";
  if (query == "model") {
    text = kInfoModel;
  } else if (query == "version") {
    text = kInfoVersion;
  } else if (query == "serial") {
    char serial[16];
    std::snprintf(serial, sizeof serial, "SIM-%05u", unsigned{node.number()});
    text = serial;
  } else if (query == "users") {
    text = std::to_string(node.with_state<Users>([](Users& u) { return u.table.size(); }));
  } else if (query == "marks") {
    text = std::to_string(node.with_state<MarkLog>([](MarkLog& m) { return m.marks.size(); }));
  } else if (query.compare(0, kEcho.size(), kEcho) == 0) {
    text = query.substr(kEcho.size());
  } else {
    return false;
  }
  return true;
}

bool get_info(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const std::string query = in.text(kMaxInfoText);
  std::string text;
  if (!in.ok() || !answer_query(node, query, text)) {
    refuse_bad(answer, protocol);
    return true;
  }
  text.resize(std::min(text.size(), kMaxInfoText));
  AnswerWriter out(answer);
  begin_done(out, protocol);
  out.bytes(text);
  if (protocol == 1) out.u8(0);
  return true;
}

bool reset(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const int32_t device_id = static_cast<int32_t>(in.u32());
  const int32_t sub_id = static_cast<int32_t>(in.u32());
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Admin>([&](Admin& admin) {
    admin.resets.emplace_back(device_id, sub_id);
    return 0;
  });
  AnswerWriter out(answer);
  begin_done(out, protocol);
  return true;
}

bool block(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint8_t value = in.u8();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Admin>([&](Admin& admin) {
    admin.blocks.push_back(value);
    return 0;
  });
  AnswerWriter out(answer);
  begin_done(out, protocol);
  return true;
}

// Deletes up to count records from the front of a table; false for an unknown table.
bool delete_records(Node& node, uint8_t table, std::size_t count, std::size_t& deleted) {
  if (table == kTableUsers) {
    deleted = node.with_state<Users>([&](Users& users) {
      const std::size_t n = std::min(count, users.table.size());
      users.table.erase(users.table.begin(), users.table.begin() + static_cast<long>(n));
      users.p1_cursor = 0;
      return n;
    });
    return true;
  }
  if (table == kTableMarks) {
    deleted = node.with_state<MarkLog>([&](MarkLog& log) {
      const std::size_t n = std::min(count, log.marks.size());
      log.marks.erase(log.marks.begin(), log.marks.begin() + static_cast<long>(n));
      log.p1_cursor = 0;
      return n;
    });
    return true;
  }
  return false;
}

// Protocol 1 names the table by command code and must carry the confirmation code.
bool flush_p1(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const std::string code = in.bytes(4);
  if (!in.ok() || code != kFlushCode) {
    refuse(answer, protocol, kStatusBadRequest, kErrorFlushCode);
    return true;
  }
  std::size_t deleted = 0;
  delete_records(node, request.cmd == kCmdFlushUsersP1 ? kTableUsers : kTableMarks, SIZE_MAX,
                 deleted);
  AnswerWriter out(answer);
  begin_done(out, protocol);
  return true;
}

bool flush_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint8_t table = in.u8();
  std::size_t deleted = 0;
  if (!in.ok() || !delete_records(node, table, SIZE_MAX, deleted)) refuse_bad(answer, protocol);
  return true;
}

bool del_records(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint8_t table = in.u8();
  const uint16_t count = in.u16();
  std::size_t deleted = 0;
  if (!in.ok() || !delete_records(node, table, count, deleted)) {
    refuse_bad(answer, protocol);
    return true;
  }
  AnswerWriter out(answer);
  out.u16(static_cast<uint16_t>(deleted));
  return true;
}

const HandlerRegistration kInfoP1(1, kCmdInfoP1, get_info);
const HandlerRegistration kResetP1(1, kCmdResetP1, reset);
const HandlerRegistration kBlockP1(1, kCmdBlockP1, block);
const HandlerRegistration kFlushUsersP1(1, kCmdFlushUsersP1, flush_p1);
const HandlerRegistration kFlushMarksP1(1, kCmdFlushMarksP1, flush_p1);
const HandlerRegistration kInfoP2(2, kCmdInfoP2, get_info);
const HandlerRegistration kResetP2(2, kCmdResetP2, reset);
const HandlerRegistration kBlockP2(2, kCmdBlockP2, block);
const HandlerRegistration kFlushP2(2, kCmdFlushP2, flush_p2);
const HandlerRegistration kDelRecordsP2(2, kCmdDelRecordsP2, del_records);

}  // namespace
}  // namespace naxsim
