// Users and attendance marks end to end against the simulated node: filling a
// table in batches, paging it back, editing and deleting, the node's refusals,
// and paging through a large mark log in both protocols.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "commands/users.h"
#include "e2e_support.h"
#include "handlers_marks.h"
#include "handlers_users.h"
#include "proto/frame.h"

namespace {

using e2e::kSimNode;

constexpr uint32_t kP1BlockMask = 0x08AB;  // what a protocol-1 list gives back

// The messages of the "cmd" lines of a log file, without their time stamps.
std::vector<std::string> cmd_lines(const std::string& path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    const std::size_t at = line.find(" cmd: ");
    if (at != std::string::npos) lines.push_back(line.substr(at + 6));
  }
  return lines;
}

bool contains(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

// Restarts the library with a log at level 3 in a fresh file; returns its path.
std::string restart_with_log(const char* name) {
  const std::string path = ::testing::TempDir() + name + std::to_string(::getpid()) + ".log";
  std::remove(path.c_str());
  EXPECT_EQ(nax_uninit(), NAX_OK);
  EXPECT_EQ(nax_init(path.c_str(), 3), NAX_OK);
  return path;
}

class UsersFixture : public e2e::SimFixture {
 protected:
  virtual uint8_t protocol() const = 0;
  bool p1() const { return protocol() == 1; }
  uint32_t open_link(uint32_t rcv_timeout_ms = 500) { return open(protocol(), rcv_timeout_ms); }

  // Deterministic users with ids out of order, so the node's ordering is exercised.
  std::vector<nax_user> make_users(std::size_t n) const {
    std::vector<nax_user> users(n);
    for (std::size_t i = 0; i < n; ++i) {
      nax_user& u = users[i];
      u.id = static_cast<uint32_t>((i * 7919) % 100000 + 1);
      u.psw = static_cast<uint16_t>(i % 10000);
      u.ctl = static_cast<uint16_t>(0x1000 + i);
      u.sec_level = static_cast<uint8_t>(i % 8);
      u.schedule_id = static_cast<uint16_t>(i % 50);
      u.bio_count = static_cast<uint8_t>(i % 3);
      if (p1()) {
        // The block carries only these; bio_count comes back as 10 or 0.
        u.mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_CTL | NAX_USER_SEC_LEVEL |
                 NAX_USER_SCHEDULE_ID | NAX_USER_BIO_COUNT;
        continue;
      }
      u.mask = 0x1BFF;
      u.st = static_cast<uint8_t>(i % 4);
      u.panic = static_cast<uint8_t>(i % 2);
      u.bio_level = static_cast<uint8_t>(i % 5);
      u.anti_passback = static_cast<uint8_t>(i % 3);
      std::snprintf(u.text1, sizeof u.text1, "user %zu", i);
      std::memset(u.text2, 'a' + static_cast<int>(i % 26), i % 90);  // 0 to 89 characters
      if (i % 5 == 0) u.mask &= ~NAX_USER_TEXT2;
    }
    return users;
  }

  // Adds every user; protocol 2 in batches as large as the node takes in one frame
  // (kP2MaxRequestData data bytes, the most the library sends it).
  void add_all(uint32_t link, std::vector<nax_user>& users) {
    for (std::size_t i = 0; i < users.size();) {
      std::size_t n = 1;
      if (!p1()) {
        std::size_t bytes = 4 + nax::user_record_p2_size(users[i]);
        while (i + n < users.size() &&
               bytes + nax::user_record_p2_size(users[i + n]) <= nax::kP2MaxRequestData) {
          bytes += nax::user_record_p2_size(users[i + n]);
          ++n;
        }
      }
      uint16_t taken = 0xFFFF;
      ASSERT_EQ(nax_add_user(link, kSimNode, static_cast<uint32_t>(i), static_cast<uint32_t>(n),
                             &users[i], &taken),
                NAX_OK)
          << "at " << i;
      ASSERT_EQ(taken, n);
      i += n;
      ++add_calls_;
    }
  }

  // Lists the whole table page by page until the node says there is no more.
  std::vector<nax_user> list_all(uint32_t link, uint16_t page) {
    std::vector<nax_user> all;
    std::vector<nax_user> buffer(page);
    for (uint32_t first = 0;; ++list_calls_) {
      uint16_t stored = 0xFFFF;
      const uint32_t status = nax_list_users(link, kSimNode, first, page, buffer.data(), &stored);
      all.insert(all.end(), buffer.begin(), buffer.begin() + stored);
      first += stored;
      if (status == 8 || (status == 7 && first == 0)) break;
      EXPECT_EQ(status, NAX_OK);
      EXPECT_GT(stored, 0);
      if (status != NAX_OK || stored == 0) break;
    }
    return all;
  }

  std::vector<nax_user> sorted_by_id(std::vector<nax_user> users) {
    std::sort(users.begin(), users.end(),
              [](const nax_user& a, const nax_user& b) { return a.id < b.id; });
    return users;
  }

  std::size_t node_user_count() {
    return sim_->node().with_state<naxsim::Users>(
        [](naxsim::Users& users) { return users.table.size(); });
  }

  int add_calls_ = 0;
  int list_calls_ = 0;
};

class UsersE2E : public UsersFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  uint8_t protocol() const override { return GetParam(); }
};
class UsersOnP1E2E : public UsersFixture {
 protected:
  uint8_t protocol() const override { return 1; }
};
class UsersOnP2E2E : public UsersFixture {
 protected:
  uint8_t protocol() const override { return 2; }
};

// Every user comes back once, in the node's order, however the pages fall;
// the fields of a record are the codec tables' business.
TEST_P(UsersE2E, ThousandUsersGoInAndComeBackInPages) {
  const uint32_t link = open_link(2000);
  std::vector<nax_user> users = make_users(1000);
  add_all(link, users);
  ASSERT_EQ(node_user_count(), 1000u);
  if (!p1()) {
    EXPECT_LT(add_calls_, 200) << "protocol 2 sends several users a request";
  }

  const std::vector<nax_user> listed = list_all(link, 40);
  const std::vector<nax_user> want = sorted_by_id(users);
  ASSERT_EQ(listed.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(listed[i].id, want[i].id) << i;
  if (!p1()) {
    EXPECT_GT(list_calls_, 1000 / 40) << "pages shorter than asked still add up";
  }
}

TEST_P(UsersE2E, DeletedUsersAreGoneAndOthersStay) {
  const uint32_t link = open_link(2000);
  std::vector<nax_user> users = make_users(60);
  add_all(link, users);

  std::vector<nax_user> doomed(users.begin(), users.begin() + 20);
  uint16_t taken = 0;
  if (p1()) {
    for (nax_user& u : doomed) {
      ASSERT_EQ(nax_del_user(link, kSimNode, 0, 1, &u, &taken), NAX_OK);
      EXPECT_EQ(taken, 1);
    }
  } else {
    ASSERT_EQ(nax_del_user(link, kSimNode, 0, 20, doomed.data(), &taken), NAX_OK);
    EXPECT_EQ(taken, 20);
    for (const nax_user& u : doomed) EXPECT_EQ(u.mask, NAX_USER_ID) << "reduced in place";
  }

  const std::vector<nax_user> listed = list_all(link, 25);
  const std::vector<nax_user> want =
      sorted_by_id(std::vector<nax_user>(users.begin() + 20, users.end()));
  ASSERT_EQ(listed.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(listed[i].id, want[i].id) << i;

  // Deleting one that is no longer there: error byte 9 / status 8.
  EXPECT_EQ(nax_del_user(link, kSimNode, 0, 1, &doomed[0], &taken), 8u);
  EXPECT_EQ(taken, 0);
}

TEST_F(UsersOnP2E2E, LogNumbersListedRecordsFromTheFirstIndex) {
  const std::string log = restart_with_log("users_log");
  const uint32_t link = open_link();
  std::vector<nax_user> users = make_users(4);
  add_all(link, users);
  nax_user page[2];
  uint16_t stored = 0;
  ASSERT_EQ(nax_list_users(link, kSimNode, 1, 2, page, &stored), NAX_OK);
  ASSERT_EQ(stored, 2);
  ASSERT_EQ(nax_list_users(link, kSimNode, 3, 2, page, &stored), 8u);
  ASSERT_EQ(stored, 1);

  const std::vector<std::string> lines = cmd_lines(log);
  const nax_user want = sorted_by_id(users)[1];
  char line[512];
  std::snprintf(line, sizeof line,
                "list user (00001) - mask = 1bff, id = %u, psw = %d, st = %d, ctl = %x, "
                "panic = %d, bio_count = %d, bio_level = %d, sec_level = %d, schedule_id = %d, "
                "anti_passback = %d, for link id = %u",
                want.id, want.psw, want.st, want.ctl, want.panic, want.bio_count, want.bio_level,
                want.sec_level, want.schedule_id, want.anti_passback, link);
  EXPECT_TRUE(contains(lines, line)) << line;
  std::snprintf(line, sizeof line, "list users for link id = %u from node = %d", link, kSimNode);
  EXPECT_TRUE(contains(lines, line)) << line;
  std::snprintf(line, sizeof line, "list users for link id = %u ret_val = 8", link);
  EXPECT_TRUE(contains(lines, line)) << line;
  const auto numbered = [&](const char* prefix) {
    return std::count_if(lines.begin(), lines.end(),
                         [&](const std::string& l) { return l.starts_with(prefix); });
  };
  EXPECT_EQ(numbered("list user (00002)"), 1);
  EXPECT_EQ(numbered("list user (00003)"), 0) << "the page answered with 8 logs no record lines";
  std::remove(log.c_str());
}

TEST_P(UsersE2E, EmptyNodeAnswersNoUsers) {
  const uint32_t link = open_link();
  nax_user users[3];
  std::memset(users, 0x5A, sizeof users);
  uint16_t stored = 0xFFFF;
  // Protocol 1 maps "no users" on the first page to 7; protocol 2 passes the node's 8.
  EXPECT_EQ(nax_list_users(link, kSimNode, 0, 3, users, &stored), p1() ? 7u : 8u);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(users[0].mask, 0u) << "the array is cleared";
  EXPECT_EQ(users[2].id, 0u);
}

TEST_P(UsersE2E, DuplicateAndFullTableAreRefused) {
  const uint32_t link = open_link();
  sim_->node().with_state<naxsim::Users>([](naxsim::Users& users) { return users.capacity = 2; });
  std::vector<nax_user> users = make_users(3);
  uint16_t taken = 0;
  ASSERT_EQ(nax_add_user(link, kSimNode, 0, 1, &users[0], &taken), NAX_OK);
  EXPECT_EQ(nax_add_user(link, kSimNode, 0, 1, &users[0], &taken), 5u);  // already there
  EXPECT_EQ(taken, 0);
  ASSERT_EQ(nax_add_user(link, kSimNode, 1, 1, &users[1], &taken), NAX_OK);
  EXPECT_EQ(nax_add_user(link, kSimNode, 2, 1, &users[2], &taken), 12u);  // table full
  EXPECT_EQ(node_user_count(), 2u);
}

TEST_P(UsersE2E, RequestsThatCannotBeSentAreRefusedBeforeSending) {
  const uint32_t link = open_link();
  std::vector<nax_user> users = make_users(2);
  uint16_t taken = 0xFFFF;
  const uint64_t before = sim_->requests_received();

  EXPECT_EQ(nax_add_user(link, kSimNode, 0, 1, nullptr, &taken), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(taken, 0);
  EXPECT_EQ(nax_add_user(link, kSimNode, 0, 0x10000, users.data(), &taken), NAX_ERR_INVALID_ARG)
      << "the count's low 16 bits are 0";
  if (!p1()) {
    std::vector<nax_user> big(2);
    for (nax_user& u : big) {
      u.mask = NAX_USER_ID | NAX_USER_TEXT1;
      std::memset(u.text1, 'b', 254);
    }
    EXPECT_EQ(nax_add_user(link, kSimNode, 0, 2, big.data(), &taken), NAX_ERR_INVALID_ARG)
        << "4 + 2 x 266 bytes exceed the 512 a node accepts";
    EXPECT_EQ(nax_edit_user(link, kSimNode, 0, 2, big.data(), &taken), NAX_ERR_INVALID_ARG);
  }
  nax_user buffer[1];
  uint16_t stored = 0xFFFF;
  EXPECT_EQ(nax_list_users(link, kSimNode, 0, 0, buffer, &stored), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(nax_list_users(link, kSimNode, 0, 1, buffer, nullptr), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_add_user(link, kSimNode, 0, 1, users.data(), nullptr), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_edit_user(link, kSimNode, 0, 1, users.data(), nullptr), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_del_user(link, kSimNode, 0, 1, users.data(), nullptr), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_del_user(link, kSimNode, 0, 1, nullptr, &taken), NAX_ERR_INVALID_ARG);
  // Edit exists in protocol 2 only; there it reaches the node, which has no such user.
  EXPECT_EQ(nax_edit_user(link, kSimNode, 0, 1, users.data(), &taken),
            p1() ? static_cast<uint32_t>(NAX_ERR_WRONG_PROTOCOL) : 8u);
  const uint64_t edits_sent = p1() ? 0 : 1;
  EXPECT_EQ(nax_add_user_in1(link, kSimNode, nullptr, 0, nullptr, 0), NAX_ERR_INVALID_ARG);
  if (!p1()) {
    EXPECT_EQ(nax_add_user_in1(link, kSimNode, &users[0], 0, nullptr, 0), NAX_ERR_INVALID_ARG)
        << "protocol 1 only, refused as an invalid argument";
  } else {
    nax_user no_id = users[0];
    no_id.mask &= ~NAX_USER_ID;
    EXPECT_EQ(nax_add_user(link, kSimNode, 0, 1, &no_id, &taken), NAX_ERR_INVALID_ARG);
    EXPECT_EQ(nax_del_user(link, kSimNode, 0, 1, &no_id, &taken), NAX_ERR_INVALID_ARG);
    EXPECT_EQ(nax_add_user_in1(link, kSimNode, &no_id, 0, nullptr, 0), NAX_ERR_INVALID_ARG);
    const std::vector<uint8_t> extra(511, 0xEE);
    EXPECT_EQ(nax_add_user_in1(link, kSimNode, &users[0], 0, extra.data(), 511),
              NAX_ERR_INVALID_ARG)
        << "block and extra bytes beyond the largest frame";
  }
  EXPECT_EQ(sim_->requests_received(), before + edits_sent);
  EXPECT_EQ(nax_list_users(99, kSimNode, 0, 1, buffer, &stored), NAX_ERR_NO_SUCH_LINK);
}

TEST_F(UsersOnP1E2E, AddWithExtraBytes) {
  const uint32_t link = open_link();
  std::vector<nax_user> users = make_users(1);
  const uint8_t extra[40] = {1, 2, 3};
  ASSERT_EQ(nax_add_user_in1(link, kSimNode, &users[0], 0xAB, extra, sizeof extra), NAX_OK);
  const nax::Packet sent = sim_->last_request();
  EXPECT_EQ(sent.cmd, 0x0003);
  EXPECT_EQ(sent.data[16], 1);
  EXPECT_EQ(sent.data[18], 3);
  const std::vector<nax_user> listed = list_all(link, 1);
  ASSERT_EQ(listed.size(), 1u);
  EXPECT_EQ(listed[0].id, users[0].id);
  EXPECT_EQ(listed[0].mask, kP1BlockMask);
  EXPECT_EQ(nax_add_user_in1(link, kSimNode, &users[0], 0, nullptr, 0), 5u) << "already there";
}

TEST_F(UsersOnP2E2E, EditChangesOnlyTheFieldsItsMaskSelects) {
  const uint32_t link = open_link();
  std::vector<nax_user> users = make_users(10);
  add_all(link, users);

  std::vector<nax_user> edits(3);
  for (int i = 0; i < 3; ++i) {
    edits[i].mask = NAX_USER_ID | NAX_USER_PSW | NAX_USER_TEXT1;
    edits[i].id = users[i].id;
    edits[i].psw = static_cast<uint16_t>(9000 + i);
    std::snprintf(edits[i].text1, sizeof edits[i].text1, "renamed %d", i);
    users[i].psw = edits[i].psw;
    std::strcpy(users[i].text1, edits[i].text1);
  }
  uint16_t taken = 0;
  ASSERT_EQ(nax_edit_user(link, kSimNode, 0, 3, edits.data(), &taken), NAX_OK);
  EXPECT_EQ(taken, 3);

  const std::vector<nax_user> listed = list_all(link, 10);
  const std::vector<nax_user> want = sorted_by_id(users);
  ASSERT_EQ(listed.size(), want.size());
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(listed[i].id, want[i].id) << i;

  nax_user stranger{};
  stranger.mask = NAX_USER_ID | NAX_USER_PSW;
  stranger.id = 4242424;
  EXPECT_EQ(nax_edit_user(link, kSimNode, 0, 1, &stranger, &taken), 8u);
  EXPECT_EQ(taken, 0);
}

TEST_F(UsersOnP2E2E, LongTextTravelsCutTo254Characters) {
  const uint32_t link = open_link();
  // This node keeps at most 200 characters and refuses longer texts as a bad record.
  nax_user u{};
  u.mask = NAX_USER_ID | NAX_USER_TEXT1;
  u.id = 5;
  std::memset(u.text1, 'L', sizeof u.text1);  // 256 characters, no NUL
  uint16_t taken = 0;
  EXPECT_EQ(nax_add_user(link, kSimNode, 0, 1, &u, &taken), 4u);
  EXPECT_EQ(std::strlen(u.text1), 254u) << "cut in the host's record";
  const nax::Packet sent = sim_->last_request();
  EXPECT_EQ(sent.size, 4 + 2 + 4 + 4 + 1 + 255) << "length byte 255: 254 characters and NUL";
}

INSTANTIATE_TEST_SUITE_P(Protocols, UsersE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

// ---- marks ----

class MarksE2E : public e2e::SimFixture, public ::testing::WithParamInterface<uint8_t> {
 protected:
  bool p1() const { return GetParam() == 1; }

  static constexpr uint16_t kEventWords[] = {0, 2, 4, 8, 16, 106, 512, 2048, 3};
  static constexpr uint8_t kEventBytes[] = {0x01, 0x8F, 0x91, 0x92, 0x6C, 0x6A, 0x93, 0x6B, 0x00};

  static naxsim::MarkEntry make_mark(std::size_t i) {
    naxsim::MarkEntry m;
    m.kind = static_cast<uint8_t>(i % 4);
    m.id = static_cast<uint32_t>(i * 104729 % 100000000);
    m.time = nax_date_time{static_cast<uint8_t>(i % 24),     static_cast<uint8_t>(i % 60),
                           static_cast<uint8_t>(i % 60),     static_cast<uint8_t>(i % 100),
                           static_cast<uint8_t>(i % 12 + 1), static_cast<uint8_t>(i % 28 + 1),
                           static_cast<uint8_t>(i % 7)};
    m.event_word = kEventWords[i % 9];
    m.event = static_cast<uint8_t>(i % 251);
    m.index = static_cast<uint16_t>(i % 200);
    m.direction_word = static_cast<uint16_t>(0x0300 + i % 3);
    m.value = static_cast<uint32_t>(i * 31);
    m.flag = static_cast<uint8_t>(i % 2);
    if (i % 3 != 0) m.code = "C" + std::to_string(i);
    return m;
  }

  std::vector<naxsim::MarkEntry> seed(std::size_t n) {
    std::vector<naxsim::MarkEntry> marks;
    for (std::size_t i = 0; i < n; ++i) marks.push_back(make_mark(i));
    sim_->node().with_state<naxsim::MarkLog>([&](naxsim::MarkLog& log) {
      log.marks = marks;
      return 0;
    });
    return marks;
  }

  void expect_same(const nax_mark& got, const naxsim::MarkEntry& want, std::size_t i) {
    SCOPED_TRACE("mark " + std::to_string(i));
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.direction, want.direction_word & 0xFF);
    EXPECT_EQ(got.date_time.hour, want.time.hour);
    EXPECT_EQ(got.date_time.minute, want.time.minute);
    EXPECT_EQ(got.date_time.year, want.time.year);
    EXPECT_EQ(got.date_time.month, want.time.month);
    EXPECT_EQ(got.date_time.day, want.time.day);
    EXPECT_EQ(got.index, want.index);
    if (p1()) {
      EXPECT_EQ(got.mask, 0x003Eu);
      EXPECT_EQ(got.event, kEventBytes[i % 9]);
      EXPECT_EQ(got.date_time.second, 0);
      EXPECT_EQ(got.date_time.weekday, 0);
      return;
    }
    EXPECT_EQ(got.mask, want.code.empty() ? 0x00FFu : 0x01FFu);
    EXPECT_EQ(got.kind, want.kind);
    EXPECT_EQ(got.event, want.event);
    EXPECT_EQ(got.date_time.second, want.time.second);
    EXPECT_EQ(got.date_time.weekday, want.time.weekday);
    EXPECT_EQ(got.value, want.value);
    EXPECT_EQ(got.flag, want.flag);
    EXPECT_STREQ(got.code, want.code.c_str());
  }
};

class MarksOnP1E2E : public e2e::SimFixture {};

TEST_P(MarksE2E, PagesThroughTenThousandMarks) {
  const uint32_t link = open(GetParam(), 2000);
  const std::vector<naxsim::MarkEntry> marks = seed(10000);
  std::vector<nax_mark> page(100);
  std::size_t next = 0;
  int pages = 0;
  uint32_t status = NAX_OK;
  while (status == NAX_OK) {
    uint16_t stored = 0xFFFF;
    status = nax_list_marks(link, kSimNode, static_cast<uint32_t>(next), 100, page.data(), &stored);
    ASSERT_TRUE(status == NAX_OK || status == 8) << status << " at " << next;
    ASSERT_LE(next + stored, marks.size());
    for (uint16_t i = 0; i < stored; ++i) expect_same(page[i], marks[next + i], next + i);
    if (p1()) {
      EXPECT_LE(stored, 1) << "protocol 1 answers one mark a request";
    }
    next += stored;
    ++pages;
    if (::testing::Test::HasFailure()) return;
  }
  EXPECT_EQ(status, 8u);
  EXPECT_EQ(next, marks.size());
  if (!p1()) {
    EXPECT_GE(pages, 10000 / 100);
  }
}

TEST_P(MarksE2E, EmptyLogAnswersNoMarks) {
  const uint32_t link = open(GetParam());
  nax_mark marks[2];
  uint16_t stored = 0xFFFF;
  EXPECT_EQ(nax_list_marks(link, kSimNode, 0, 2, marks, &stored), p1() ? 21u : 8u);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(nax_list_marks(link, kSimNode, 3, 2, marks, &stored), 8u);
}

TEST_P(MarksE2E, RefusedListPassesTheNodesVerdict) {
  const uint32_t link = open(GetParam());
  seed(5);
  naxsim::Faults faults;
  faults.refuse_status = 17;
  faults.refuse_error = 4;
  sim_->set_faults(faults);
  nax_mark marks[2];
  uint16_t stored = 0xFFFF;
  EXPECT_EQ(nax_list_marks(link, kSimNode, 0, 2, marks, &stored), p1() ? 18u : 17u);
  EXPECT_EQ(stored, 0);
  EXPECT_EQ(nax_list_marks(link, kSimNode, 0, 0, marks, &stored), NAX_ERR_INVALID_ARG);
  EXPECT_EQ(nax_list_marks(link, kSimNode, 0, 2, nullptr, &stored), NAX_ERR_INVALID_ARG);
}

TEST_F(MarksOnP1E2E, LogShowsEachMarkAndTheResult) {
  const std::string log = restart_with_log("marks_log");
  const uint32_t link = open(1);
  naxsim::MarkEntry m;
  m.id = 87654321;
  m.time = nax_date_time{8, 30, 0, 4, 3, 15, 0};
  m.direction_word = 0x0102;
  m.index = 4;
  sim_->node().with_state<naxsim::MarkLog>([&](naxsim::MarkLog& marks) {
    marks.marks = {m};
    return 0;
  });
  nax_mark got[3];
  uint16_t stored = 0;
  ASSERT_EQ(nax_list_marks(link, kSimNode, 0, 3, got, &stored), NAX_OK);
  ASSERT_EQ(stored, 1);
  EXPECT_EQ(got[0].index, 4);
  const std::vector<std::string> lines = cmd_lines(log);
  char line[256];
  std::snprintf(line, sizeof line, "list marks (3) for link id = %u from node = %d", link,
                kSimNode);
  EXPECT_TRUE(contains(lines, line)) << line;
  std::snprintf(line, sizeof line,
                "user_mark (0) - mask = 3e, id = 87654321, event = 1, direction = 2, "
                "04-03-15 08:30:00, for link id = %u",
                link);
  EXPECT_TRUE(contains(lines, line)) << line;
  std::snprintf(line, sizeof line, "list marks for link id = %u ret_val = 1", link);
  EXPECT_TRUE(contains(lines, line)) << line;
  std::remove(log.c_str());
}

INSTANTIATE_TEST_SUITE_P(Protocols, MarksE2E, ::testing::Values(1, 2),
                         [](const auto& p) { return "P" + std::to_string(p.param); });

}  // namespace
