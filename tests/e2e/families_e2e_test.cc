// Every command family on every platform, over TCP and a serial line in both
// protocols: what a family writes is read back through the node, tables are paged
// to their last page, each command gets its answer or the node's refusal in the
// number its protocol gives it, and what cannot be sent never reaches the node.
// Byte layouts are the codec tables' business, not this suite's.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "e2e_support.h"

namespace {

using e2e::kSimNode;
using Bytes = std::vector<uint8_t>;

constexpr uint8_t kUsersTable = 0;
constexpr uint8_t kMarksTable = 1;
constexpr uint16_t kPage = 4;

class FamiliesE2E : public e2e::RouteFixture {
 protected:
  void SetUp() override {
    RouteFixture::SetUp();
    link_ = open_route(2000);
    ASSERT_NE(link_, 0);
  }
  uint32_t only_p2(uint32_t on_p2 = NAX_OK) const {
    return p1() ? uint32_t{NAX_ERR_WRONG_PROTOCOL} : on_p2;
  }
  // Keeps the records of one route apart from another's on a node they share.
  uint32_t id(uint32_t n) const {
    return 10000u * (1u + (GetParam().serial ? 2u : 0u) + GetParam().protocol) + n;
  }
  // Pages through a list until the node calls a page its last; every other page is
  // answered OK and never holds more than asked.
  template <class Record, class List>
  std::vector<Record> page_through(List list) {
    std::vector<Record> all;
    for (uint32_t first = 0, pages = 0; pages < 64; ++pages) {
      Record page[kPage]{};
      uint16_t stored = 0xFFFF;
      const uint32_t status = list(link_, kSimNode, first, kPage, page, &stored);
      EXPECT_LE(stored, kPage);
      all.insert(all.end(), page, page + std::min(stored, kPage));
      first += stored;
      if (status == 8u) return all;
      EXPECT_EQ(status, NAX_OK) << "at " << first;
      if (status != NAX_OK || stored == 0) return all;
    }
    ADD_FAILURE() << "no last page";
    return all;
  }

  int32_t link_ = 0;
};

TEST_P(FamiliesE2E, LinkSettingsTakeEffectOnTheLink) {
  EXPECT_EQ(nax_set_packet_protocol(link_, 3), NAX_ERR_BAD_PROTOCOL);
  EXPECT_EQ(nax_get_packet_protocol(link_), GetParam().protocol);
  ASSERT_EQ(nax_set_rcv_timeout(link_, 300), NAX_OK);
  // Any node may answer the broadcast number; another node's number gets no answer.
  nax_date_time got{};
  EXPECT_EQ(nax_get_time(link_, 0xFFFF, &got), NAX_OK);
  EXPECT_EQ(nax_get_time(link_, kSimNode + 1, &got), NAX_ERR_NO_ANSWER);
  // Answers go to the source node: another one makes the node's answers foreign.
  ASSERT_EQ(nax_set_source_node(link_, 0x0222), NAX_OK);
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_OK);
  ASSERT_EQ(node_.control("faults answer-to=0x0100"), "ok");
  EXPECT_EQ(nax_get_time(link_, kSimNode, &got), NAX_ERR_NO_ANSWER);
}

TEST_P(FamiliesE2E, ParametersAndAuxInputsAreReadBackAsWritten) {
  struct Case {
    const char* name;
    uint32_t width;
    uint16_t index;
    int32_t written;
    uint32_t read;
  };
  // clang-format off
  const std::vector<Case> cases = {
      {"two bytes", 2, 300, 0x2A05, 0x2A05},
      {"one byte keeps the low byte", 1, 8, 0x1234, 0x34},
      {"only the low byte of the width counts", 0x102, 10, -2, 0xFFFE},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(nax_set_num_cfg(link_, kSimNode, c.width, c.index, c.written), NAX_OK);
    uint32_t value = 0xDEADBEEF;
    ASSERT_EQ(nax_get_num_cfg(link_, kSimNode, c.width, c.index, &value), NAX_OK);
    EXPECT_EQ(value, c.read);
  }
  uint32_t value = 0;
  ASSERT_EQ(nax_get_num_cfg(link_, kSimNode, 2, 0, &value), NAX_OK);
  EXPECT_EQ(value, kSimNode) << "parameter 0 is the node number";
  // Four-byte values are written but not read back; the node is asked all the same.
  ASSERT_EQ(nax_set_num_cfg(link_, kSimNode, 4, 12, 0x01020304), NAX_OK);
  value = 0xDEADBEEF;
  EXPECT_EQ(nax_get_num_cfg(link_, kSimNode, 4, 12, &value), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(value, 0u);

  const nax_aux_input in{1, 0, 5, 6, 1, 1, -7, 8, 0x0102, {1, 2, 3, 4, 5, 6, 7, 8}};
  ASSERT_EQ(nax_set_aux_input(link_, kSimNode, 2, &in), NAX_OK);
  nax_aux_input back{};
  ASSERT_EQ(nax_get_aux_input(link_, kSimNode, 2, &back), NAX_OK);
  EXPECT_EQ(back.time_off, in.time_off);
  EXPECT_EQ(back.ev_in_condition, in.ev_in_condition);
  EXPECT_EQ(back.schedule_id, in.schedule_id);
  EXPECT_EQ(std::memcmp(back.extra, in.extra, sizeof in.extra), 0);
}

// Users in scrambled id order, added (protocol 2 in batches), paged back whole,
// deleted; 13 users in pages of 4, so one page ends just before the last user and
// must not be taken for the last page.
TEST_P(FamiliesE2E, UsersArePagedBackWholeAndDeleted) {
  ASSERT_EQ(nax_flush_table(link_, kSimNode, kUsersTable), NAX_OK);
  nax_user none[2];
  std::memset(none, 0x5A, sizeof none);
  uint16_t taken = 0xFFFF;
  // "No users" on the first page: protocol 1 maps it to 7, protocol 2 passes the node's 8.
  EXPECT_EQ(nax_list_users(link_, kSimNode, 0, 2, none, &taken), p1() ? 7u : 8u);
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(none[1].id, 0u) << "the array is cleared";

  std::vector<nax_user> users(13);
  for (uint32_t i = 0; i < users.size(); ++i) {
    users[i].mask = NAX_USER_ID | NAX_USER_PSW;
    users[i].id = id((i * 7) % 13 + 1);
    users[i].psw = static_cast<uint16_t>(100 + i);
  }
  const uint8_t extra[3] = {1, 2, 3};
  for (uint32_t i = 0; i < users.size();) {
    const uint32_t n = p1() ? 1 : std::min<uint32_t>(4, static_cast<uint32_t>(users.size()) - i);
    if (p1() && i == 0) {  // protocol 1 also takes a user with extra bytes
      ASSERT_EQ(nax_add_user_in1(link_, kSimNode, &users[0], 0, extra, 3), NAX_OK);
    } else {
      ASSERT_EQ(nax_add_user(link_, kSimNode, i, n, &users[i], &taken), NAX_OK) << i;
      ASSERT_EQ(taken, n);
    }
    i += n;
  }
  const auto id_and_psw = [](const std::vector<nax_user>& list) {
    std::vector<std::pair<uint32_t, uint16_t>> out;
    for (const nax_user& u : list) out.emplace_back(u.id, u.psw);
    std::sort(out.begin(), out.end());
    return out;
  };
  EXPECT_EQ(id_and_psw(page_through<nax_user>(nax_list_users)), id_and_psw(users));
  char count[512] = {};
  ASSERT_EQ(nax_get_info(link_, kSimNode, "users", count), NAX_OK);
  EXPECT_STREQ(count, "13");

  if (p1()) {
    for (uint32_t i = 0; i < 5; ++i) {
      ASSERT_EQ(nax_del_user(link_, kSimNode, 0, 1, &users[i], &taken), NAX_OK);
    }
  } else {
    ASSERT_EQ(nax_del_user(link_, kSimNode, 0, 5, users.data(), &taken), NAX_OK);
    EXPECT_EQ(taken, 5);
    users[5].psw = 9999;
    ASSERT_EQ(nax_edit_user(link_, kSimNode, 0, 1, &users[5], &taken), NAX_OK);
  }
  users.erase(users.begin(), users.begin() + 5);
  EXPECT_EQ(id_and_psw(page_through<nax_user>(nax_list_users)), id_and_psw(users));
  // Refusals of the node, in both protocols' numbers: no such user, already there.
  nax_user gone{NAX_USER_ID, id(99)};
  EXPECT_EQ(nax_del_user(link_, kSimNode, 0, 1, &gone, &taken), 8u);
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(nax_edit_user(link_, kSimNode, 0, 1, &gone, &taken), only_p2(8));
  EXPECT_EQ(nax_add_user(link_, kSimNode, 0, 1, &users[0], &taken), 5u);
}

// Marks the node records are paged back oldest first, and deleted from the oldest.
TEST_P(FamiliesE2E, MarksArePagedBackAndDeletedFromTheOldest) {
  ASSERT_EQ(nax_flush_table(link_, kSimNode, kMarksTable), NAX_OK);
  nax_mark none[2]{};
  uint16_t stored = 0xFFFF;
  EXPECT_EQ(nax_list_marks(link_, kSimNode, 0, 2, none, &stored), p1() ? 21u : 8u);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(nax_list_marks(link_, kSimNode, 3, 2, none, &stored), 8u) << "no further marks";
  std::vector<uint32_t> ids;
  for (uint32_t n = 1; n <= 9; ++n) {
    ids.push_back(id(n * 11));
    ASSERT_EQ(node_.control("mark " + std::to_string(ids.back())), "ok");
  }
  const auto ids_of = [](const std::vector<nax_mark>& marks) {
    std::vector<uint32_t> out;
    for (const nax_mark& m : marks) out.push_back(m.id);
    return out;
  };
  EXPECT_EQ(ids_of(page_through<nax_mark>(nax_list_marks)), ids);
  uint16_t deleted = 0;
  ASSERT_EQ(nax_del_records(link_, kSimNode, kMarksTable, 3, &deleted), only_p2());
  if (p1()) return;
  EXPECT_EQ(deleted, 3);
  EXPECT_EQ(ids_of(page_through<nax_mark>(nax_list_marks)),
            std::vector<uint32_t>(ids.begin() + 3, ids.end()));
}

// Written on protocol 2 (the only one that writes them), read on the route's own
// link: the template as written, zero-filled to its 384 bytes.
TEST_P(FamiliesE2E, TemplatesWrittenAreReadBackWhole) {
  const uint32_t user = id(555);
  const int32_t writer = p1() ? open(node_.tcp(), 2, 2000) : link_;
  Bytes back(384);
  for (const uint32_t length : {0u, 100u, 384u}) {
    SCOPED_TRACE(length);
    const uint8_t slot = static_cast<uint8_t>(length % 7);
    Bytes tpl(384, 0);
    for (uint32_t i = 0; i < length; ++i) tpl[i] = static_cast<uint8_t>(i * 7 + length + 1);
    EXPECT_EQ(nax_write_template(link_, kSimNode, 0, user, slot, tpl.data(), length), only_p2());
    if (p1()) {
      ASSERT_EQ(nax_write_template(writer, kSimNode, 0, user, slot, tpl.data(), length), NAX_OK);
    }
    std::fill(back.begin(), back.end(), 0xEE);
    ASSERT_EQ(nax_read_template(link_, kSimNode, 0, user, slot, back.data(), 384), NAX_OK);
    EXPECT_EQ(back, tpl);
  }
  // Protocol 1 carries eight digits of the access id: the node answers for another
  // user, and the host is told so with the template in its buffer all the same.
  std::fill(back.begin(), back.end(), 0xEE);
  EXPECT_EQ(nax_read_template(link_, kSimNode, 0, user + 100000000, 2, back.data(), 384),
            p1() ? uint32_t{NAX_ERR_ECHO_MISMATCH} : 10u);
  EXPECT_EQ(back[0] == 0xEE, !p1());
  EXPECT_EQ(nax_del_template(link_, kSimNode, 0, user, 2), only_p2());
  if (p1()) {
    ASSERT_EQ(nax_del_template(writer, kSimNode, 0, user, 2), NAX_OK);
  }
  EXPECT_EQ(nax_read_template(link_, kSimNode, 0, user, 2, back.data(), 384), 10u) << "deleted";
  EXPECT_EQ(nax_flush_templates(link_, kSimNode, 0), only_p2());
}

// The most segments one request carries, read back in runs of 100; schedules listed
// page by page from a start id the node moves on.
TEST_P(FamiliesE2E, SchedulesAreReadBackAndListedPageByPage) {
  const uint16_t base = static_cast<uint16_t>(id(0));
  for (uint16_t k = 0; k < 10; ++k) {
    nax_schd_header h{};
    h.id = static_cast<uint16_t>(base + k);
    std::snprintf(h.name, sizeof h.name, "s%u", unsigned{h.id});
    h.segments = 48;
    h.date_time = {8, 30, 15, 24, 2, 29, 4};
    ASSERT_EQ(nax_set_schd_header(link_, kSimNode, &h), NAX_OK);
  }
  nax_schd_header header{};
  ASSERT_EQ(nax_get_schd_header(link_, kSimNode, base + 3, &header), NAX_OK);
  EXPECT_EQ(std::string(header.name), "s" + std::to_string(base + 3));
  EXPECT_EQ(header.date_time.day, 29);

  const uint32_t total = p1() ? 170 : 166;
  std::vector<nax_schd_segment> sent(total);
  for (uint32_t i = 0; i < total; ++i) {
    sent[i] = {static_cast<uint8_t>(i % 24), static_cast<uint8_t>(i % 60),
               static_cast<uint8_t>(i % 2)};
  }
  uint32_t count = 0;
  ASSERT_EQ(nax_set_schd_segments(link_, kSimNode, base, sent.data(), 0, total, &count), NAX_OK);
  EXPECT_EQ(count, total);
  std::vector<nax_schd_segment> back(total);
  for (uint32_t first = 0; first < total; first += 100) {
    ASSERT_EQ(nax_get_schd_segments(link_, kSimNode, base, &back[first], first,
                                    std::min(100u, total - first), &count),
              NAX_OK);
    ASSERT_EQ(count, std::min(100u, total - first));
  }
  EXPECT_EQ(std::memcmp(back.data(), sent.data(), total * sizeof sent[0]), 0);

  std::vector<uint16_t> listed;
  uint16_t start = 0;
  uint32_t status = NAX_OK;
  for (int page = 0; page < 20 && status == NAX_OK; ++page) {
    nax_schd_entry entries[8];
    status = nax_list_schd(link_, kSimNode, entries, &start, 8, &count);
    for (uint32_t k = 0; k < std::min(count, 8u); ++k) {
      if (entries[k].id >= base && entries[k].id < base + 10) listed.push_back(entries[k].id);
    }
  }
  EXPECT_EQ(status, 31u) << "the last page";
  std::vector<uint16_t> made;
  for (uint16_t k = 0; k < 10; ++k) {
    made.push_back(static_cast<uint16_t>(base + k));
    ASSERT_EQ(nax_del_schd(link_, kSimNode, made.back()), NAX_OK);
  }
  EXPECT_EQ(listed, made);
  EXPECT_EQ(nax_get_schd_header(link_, kSimNode, base, &header), 4u) << "deleted";
  EXPECT_EQ(nax_del_schd(link_, kSimNode, base), 4u);
}

// Written in chunks, read back in other chunks with the node's CRC both ways.
TEST_P(FamiliesE2E, FilesAreWrittenReadBackAndDeleted) {
  const std::string name = std::string("logs/") + GetParam().name + ".bin";
  Bytes content(1300);
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<uint8_t>(i * 13 + 5);
  uint32_t size = 99;
  EXPECT_EQ(nax_fopen(link_, kSimNode, name.c_str(), 1, &size), only_p2());
  for (std::size_t at = 0; at < content.size(); at += 512) {
    const uint32_t len = static_cast<uint32_t>(std::min<std::size_t>(512, content.size() - at));
    ASSERT_EQ(nax_fwrite(link_, kSimNode, content.data() + at, len), only_p2()) << at;
  }
  uint32_t crc_written = 0;
  EXPECT_EQ(nax_fclose(link_, kSimNode, &crc_written), only_p2());
  Bytes back;
  uint8_t chunk[300];
  uint32_t got = 0;
  if (p1()) {
    EXPECT_EQ(nax_fread(link_, kSimNode, chunk, sizeof chunk, &got), NAX_ERR_WRONG_PROTOCOL);
    EXPECT_EQ(nax_fdel(link_, kSimNode, name.c_str()), NAX_ERR_WRONG_PROTOCOL);
    return;
  }
  EXPECT_EQ(size, 0u);
  ASSERT_EQ(nax_fopen(link_, kSimNode, name.c_str(), 0, &size), NAX_OK);
  EXPECT_EQ(size, content.size());
  for (int reads = 0; reads < 10; ++reads) {
    ASSERT_EQ(nax_fread(link_, kSimNode, chunk, sizeof chunk, &got), NAX_OK);
    if (got == 0) break;
    back.insert(back.end(), chunk, chunk + got);
  }
  EXPECT_EQ(back, content);
  uint32_t crc_read = 0;
  EXPECT_EQ(nax_fclose(link_, kSimNode, &crc_read), NAX_OK);
  EXPECT_EQ(crc_read, crc_written);
  EXPECT_NE(crc_read, 0u);
  EXPECT_EQ(nax_fdel(link_, kSimNode, name.c_str()), NAX_OK);
  EXPECT_EQ(nax_fopen(link_, kSimNode, name.c_str(), 0, &size), 5u) << "deleted";
}

// Each command reaches the node and comes back with its answer, or with the node's
// refusal in the number its protocol gives it (protocol 1 passes its result byte 0
// for a bad request, protocol 2 the status word); commands of one protocol only are
// refused on the other.
TEST_P(FamiliesE2E, EachCommandGetsItsAnswerOrTheNodesRefusal) {
  struct Case {
    const char* what;
    const char* faults;
    uint32_t p1;
    uint32_t p2;
    std::function<uint32_t()> call;
  };
  const int32_t l = link_;
  const uint16_t n = kSimNode;
  char text[512];
  uint32_t value = 0;
  uint16_t word = 0;
  nax_mark marks[2];
  nax_user users[2];
  nax_aux_input aux{};
  Bytes tpl(384);
  nax_schd_header header{};
  nax_user_event_answer answer{};
  answer.user = {NAX_USER_ID, id(0)};
  std::strcpy(answer.aux0, "welcome");
  nax_display_message msg{1, 0, 0, 0, 1, "hello"};
  nax_task_group group{0xFFFF, 2, "packing", 1};
  nax_task_item item{0xFFFF, 1, 1, "boxes", "J-17"};
  const uint32_t kOk = NAX_OK;
  const uint32_t kInvalid = NAX_ERR_INVALID_ARG;
  const uint32_t kWrong = NAX_ERR_WRONG_PROTOCOL;
  // clang-format off
  const std::vector<Case> cases = {
      {"node info",               "", kOk,      kOk,    [&] { return nax_get_info(l, n, "model", text); }},
      {"block",                   "", kOk,      kOk,    [&] { return nax_block_node(l, n, 0); }},
      {"reset",                   "", kOk,      kOk,    [&] { return nax_reset_node(l, n, 1, -1); }},
      {"relay",                   "", kOk,      kOk,    [&] { return nax_rele_control(l, n, 1, 3); }},
      {"input state",             "", kWrong,   kOk,    [&] { return nax_state_aux_input(l, n, &value); }},
      {"answer to an aux event",  "", kWrong,   kOk,    [&] { return nax_answer_aux_input_event(l, n, 1); }},
      {"answer to a user event",  "", kOk,      kOk,    [&] { return nax_answer_user_event(l, n, &answer); }},
      {"display",                 "", kWrong,   kOk,    [&] { return nax_display_msg(l, n, 1, &msg, 5, &word); }},
      {"task group",              "", kInvalid, kOk,    [&] { return nax_add_task_group(l, n, &group); }},
      {"task item",               "", kInvalid, kOk,    [&] { return nax_add_task_item(l, n, 2, &item); }},
      {"item of no group",        "", kInvalid, 6,      [&] { return nax_add_task_item(l, n, 250, &item); }},
      {"three-byte parameter",    "", 0,        3,      [&] { return nax_set_num_cfg(l, n, 3, 1, 1); }},
      {"no such aux input",       "", 0,        3,      [&] { return nax_get_aux_input(l, n, 16, &aux); }},
      {"no such relay",           "", 0,        3,      [&] { return nax_rele_control(l, n, 8, 1); }},
      {"no such query",           "", 0,        3,      [&] { return nax_get_info(l, n, "weather", text); }},
      {"no such table",           "", kInvalid, 3,      [&] { return nax_flush_table(l, n, 2); }},
      {"no such table's records", "", kWrong,   3,      [&] { return nax_del_records(l, n, 9, 1, &word); }},
      {"no such template",        "", 10,       10,     [&] { return nax_read_template(l, n, 0, id(404), 1, tpl.data(), 384); }},
      {"no such schedule",        "", 4,        4,      [&] { return nax_get_schd_header(l, n, 404, &header); }},
      {"no such file",            "", kWrong,   5,      [&] { return nax_fopen(l, n, "none", 0, &value); }},
      {"no file open",            "", kWrong,   6,      [&] { return nax_fclose(l, n, &value); }},
      {"marks refused",           "refuse-status=17 refuse-error=4", 18, 17, [&] { return nax_list_marks(l, n, 0, 2, marks, &word); }},
      {"users refused",           "refuse-status=17 refuse-error=4", 4,  17, [&] { return nax_list_users(l, n, 0, 2, users, &word); }},
  };
  // clang-format on
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(node_.control(std::string("faults ") + c.faults), "ok");
    EXPECT_EQ(c.call(), p1() ? c.p1 : c.p2);
  }
}

// What the node could not take, or the host could not receive, is refused with 1037
// (or 1038 where the protocol lacks the command) before any request goes out.
TEST_P(FamiliesE2E, WhatCannotBeSentIsRefusedBeforeSending) {
  struct Case {
    const char* what;
    uint32_t p1;
    uint32_t p2;
    std::function<uint32_t()> call;
  };
  const int32_t l = link_;
  const uint16_t n = kSimNode;
  std::vector<nax_user> users(2);
  for (nax_user& u : users) {
    u.mask = NAX_USER_ID | NAX_USER_TEXT1;
    u.id = id(7);
    std::memset(u.text1, 'b', 254);
  }
  nax_user no_id{NAX_USER_PSW};
  const Bytes big(520, 0xEE);
  const std::string name511(511, 'n');
  const std::string query512(512, 'q');
  std::vector<nax_schd_segment> segments(p1() ? 171 : 167);
  std::vector<nax_display_message> messages(9);
  nax_mark marks[1];
  nax_schd_segment segment[1];
  uint16_t start = 0;
  uint16_t word = 0;
  uint32_t value = 0;
  char text[512];
  const uint32_t kInvalid = NAX_ERR_INVALID_ARG;
  const uint32_t kWrong = NAX_ERR_WRONG_PROTOCOL;
  // clang-format off
  const std::vector<Case> cases = {
      {"no users",                 kInvalid, kInvalid, [&] { return nax_add_user(l, n, 0, 1, nullptr, &word); }},
      {"count of 65536",           kInvalid, kInvalid, [&] { return nax_add_user(l, n, 0, 0x10000, users.data(), &word); }},
      {"nowhere to count",         kInvalid, kInvalid, [&] { return nax_add_user(l, n, 0, 1, users.data(), nullptr); }},
      {"nothing to delete",        kInvalid, kInvalid, [&] { return nax_del_user(l, n, 0, 1, nullptr, &word); }},
      {"edit counted nowhere",     kInvalid, kInvalid, [&] { return nax_edit_user(l, n, 0, 1, users.data(), nullptr); }},
      {"list of none",             kInvalid, kInvalid, [&] { return nax_list_users(l, n, 0, 0, users.data(), &word); }},
      {"list stored nowhere",      kInvalid, kInvalid, [&] { return nax_list_users(l, n, 0, 1, users.data(), nullptr); }},
      {"two long users",           kWrong,   kInvalid, [&] { return nax_edit_user(l, n, 0, 2, users.data(), &word); }},
      {"user without id",          kInvalid, kInvalid, [&] { return nax_add_user_in1(l, n, &no_id, 0, nullptr, 0); }},
      {"extra bytes beyond a frame", kInvalid, kInvalid, [&] { return nax_add_user_in1(l, n, &users[0], 0, big.data(), 511); }},
      {"no marks",                 kInvalid, kInvalid, [&] { return nax_list_marks(l, n, 0, 1, nullptr, &word); }},
      {"marks of none",            kInvalid, kInvalid, [&] { return nax_list_marks(l, n, 0, 0, marks, &word); }},
      {"segments beyond a frame",  kInvalid, kInvalid, [&] { return nax_set_schd_segments(l, n, 1, segments.data(), 0, static_cast<uint32_t>(segments.size()), &value); }},
      {"segments of none",         kInvalid, kInvalid, [&] { return nax_get_schd_segments(l, n, 1, segment, 0, 0, &value); }},
      {"no segments",              kInvalid, kInvalid, [&] { return nax_get_schd_segments(l, n, 1, nullptr, 0, 1, &value); }},
      {"no header",                kInvalid, kInvalid, [&] { return nax_get_schd_header(l, n, 1, nullptr); }},
      {"no entries",               kInvalid, kInvalid, [&] { return nax_list_schd(l, n, nullptr, &start, 4, &value); }},
      {"template of 385 bytes",    kWrong,   kInvalid, [&] { return nax_write_template(l, n, 1, 10, 3, big.data(), 385); }},
      {"chunk of 513 bytes",       kWrong,   kInvalid, [&] { return nax_fwrite(l, n, big.data(), 513); }},
      {"no chunk",                 kInvalid, kInvalid, [&] { return nax_fwrite(l, n, nullptr, 1); }},
      {"file name of 511",         kWrong,   kInvalid, [&] { return nax_fopen(l, n, name511.c_str(), 0, &value); }},
      {"no file name",             kInvalid, kInvalid, [&] { return nax_fopen(l, n, nullptr, 0, &value); }},
      {"delete a name of 511",     kWrong,   kInvalid, [&] { return nax_fdel(l, n, name511.c_str()); }},
      {"read into nothing",        kInvalid, kInvalid, [&] { return nax_fread(l, n, nullptr, 1, &value); }},
      {"query of 512",             kInvalid, kInvalid, [&] { return nax_get_info(l, n, query512.c_str(), text); }},
      {"no query",                 kInvalid, kInvalid, [&] { return nax_get_info(l, n, nullptr, text); }},
      {"nine display lines",       kWrong,   kInvalid, [&] { return nax_display_msg(l, n, 9, messages.data(), 0, &word); }},
      {"no task group",            kInvalid, kInvalid, [&] { return nax_add_task_group(l, n, nullptr); }},
  };
  // clang-format on
  const unsigned long before = node_.counts().requests;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(c.call(), p1() ? c.p1 : c.p2);
  }
  EXPECT_EQ(node_.counts().requests, before);
}

INSTANTIATE_TEST_SUITE_P(Routes, FamiliesE2E, e2e::routes(), e2e::route_name);

}  // namespace
