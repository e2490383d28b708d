// Golden-byte tests of the user codecs: both wire forms, list answers, batch
// requests and the answer tables.
#include "commands/users.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

nax_user make_user(uint32_t mask, uint32_t id, uint16_t psw = 0) {
  nax_user u{};
  u.mask = mask;
  u.id = id;
  u.psw = psw;
  return u;
}

// Every field set, every mask bit (0x0400 selects nothing).
nax_user full_user() {
  nax_user u{};
  u.mask = 0x1FFF;
  u.id = 1;
  u.psw = 2;
  u.st = 3;
  u.ctl = 0x0405;
  u.panic = 6;
  u.bio_count = 7;
  u.bio_level = 8;
  u.sec_level = 9;
  std::strcpy(u.text1, "AB");
  u.schedule_id = 0x0A0B;
  u.anti_passback = 0x0C;
  return u;
}

const Bytes kFullUserWire = {0x1C, 0x00, 0xFF, 0x1F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                             0x02, 0x00, 0x03, 0x05, 0x04, 0x06, 0x07, 0x08, 0x09, 0x03,
                             'A',  'B',  0x00, 0x01, 0x00, 0x0B, 0x0A, 0x0C};

// mask 0x0003, id 87654321, psw 4321.
const Bytes kIdPswWire = {0x0C, 0x00, 0x03, 0x00, 0x00, 0x00, 0xB1, 0x7F, 0x39, 0x05, 0xE1, 0x10};

// ---- protocol-2 user record ----

struct RecordCase {
  std::string name;
  nax_user user;
  Bytes wire;
};

class UsersRecordP2 : public testing::TestWithParam<RecordCase> {};

TEST_P(UsersRecordP2, WritesSizesAndReadsBack) {
  const RecordCase& c = GetParam();
  nax_user user = c.user;
  EXPECT_EQ(user_record_p2_size(user), c.wire.size());
  uint8_t out[600];
  uint8_t* cursor = out;
  EXPECT_EQ(put_user_record_p2(cursor, user), c.wire.size());
  EXPECT_EQ(Bytes(out, cursor), c.wire);

  nax_user back{};
  uint16_t position = 0;
  EXPECT_EQ(get_user_record_p2(back, c.wire.data(), position, static_cast<uint16_t>(c.wire.size())),
            1u);
  EXPECT_EQ(position, c.wire.size());
  EXPECT_EQ(std::memcmp(&back, &c.user, sizeof back), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Users, UsersRecordP2,
    testing::Values(RecordCase{"IdAndPsw", make_user(0x0003, 87654321, 4321), kIdPswWire},
                    RecordCase{"MaskZero", make_user(0, 0), {0x06, 0x00, 0, 0, 0, 0}},
                    RecordCase{"IdOnly",
                               make_user(0x0001, 7),
                               {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}},
                    RecordCase{"EveryField", full_user(), kFullUserWire}),
    case_name<RecordCase>);

TEST(UsersRecordP2Text, LongTextIsCutTo254CharactersAndAnnouncedWhole) {
  nax_user user = make_user(NAX_USER_TEXT1, 0);
  std::memset(user.text1, 'x', sizeof user.text1);  // no NUL at all
  uint8_t out[600];
  uint8_t* cursor = out;
  const std::size_t written = put_user_record_p2(cursor, user);
  EXPECT_EQ(written, 2u + 4u + 1u + 255u);
  EXPECT_EQ(out[6], 255) << "length byte";
  EXPECT_EQ(out[6 + 255], 0) << "NUL sent last";
  EXPECT_EQ(std::strlen(user.text1), 254u) << "cut in the host's record";
  EXPECT_EQ(out[0] | (out[1] << 8), static_cast<int>(written));
}

TEST(UsersRecordP2Text, RecordCutInsideTextIsShort) {
  const Bytes wire = {0x0D, 0x00, 0x00, 0x01, 0x00, 0x00, 0x06, 'a', 'b'};
  nax_user user{};
  uint16_t position = 0;
  EXPECT_EQ(get_user_record_p2(user, wire.data(), position, static_cast<uint16_t>(wire.size())),
            1029u);
}

// ---- protocol-1 user block ----

struct BlockWriteCase {
  std::string name;
  nax_user user;
  Bytes block;
};

nax_user block_user(uint32_t mask, uint8_t sec_level, uint16_t ctl, uint16_t schedule_id,
                    uint8_t bio_count) {
  nax_user u = make_user(mask, 12345678, 4321);
  u.sec_level = sec_level;
  u.ctl = ctl;
  u.schedule_id = schedule_id;
  u.bio_count = bio_count;
  return u;
}

class UsersBlockP1 : public testing::TestWithParam<BlockWriteCase> {};

TEST_P(UsersBlockP1, WritesTheSixteenBytes) {
  const BlockWriteCase& c = GetParam();
  uint8_t out[32];
  uint8_t* cursor = out;
  EXPECT_EQ(put_user_block_p1(cursor, c.user), 1u);
  EXPECT_EQ(Bytes(out, cursor), c.block);
}

INSTANTIATE_TEST_SUITE_P(
    Users, UsersBlockP1,
    testing::Values(BlockWriteCase{"IdAndPsw",
                                   block_user(0x0003, 5, 0x1234, 0x0102, 3),
                                   {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x43, 0x21, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF}},
                    BlockWriteCase{"EveryBlockField",
                                   block_user(0x08AB, 0x0F, 0x1234, 0x0102, 2),
                                   {0x07, 0x00, 0x12, 0x34, 0x56, 0x78, 0x43, 0x21, 0xCB, 0xED,
                                    0x02, 0x01, 0x00, 0x00, 0x00, 0x00}},
                    // The identifier field carries the id's own eight digits, whatever
                    // the id: 87654321 travels as 87 65 43 21.
                    BlockWriteCase{"Id87654321KeepsItsDigits",
                                   make_user(0x0003, 87654321, 4321),
                                   {0x00, 0x00, 0x87, 0x65, 0x43, 0x21, 0x43, 0x21, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF}},
                    BlockWriteCase{"BioBitWithoutTemplates",
                                   block_user(0x0021, 0, 0, 0, 0),
                                   {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x00, 0x00,
                                    0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF}}),
    case_name<BlockWriteCase>);

TEST(UsersBlockP1Write, WithoutIdNothingIsWritten) {
  uint8_t out[32];
  uint8_t* cursor = out;
  EXPECT_EQ(put_user_block_p1(cursor, make_user(0x0002, 1, 1)), 1037u);
  EXPECT_EQ(cursor, out);
}

struct BlockReadCase {
  std::string name;
  Bytes block;
  uint32_t id;
  uint16_t psw;
  uint16_t ctl;
  uint16_t schedule_id;
  uint8_t sec_level;
  uint8_t bio_count;
};

class UsersBlockP1Read : public testing::TestWithParam<BlockReadCase> {};

TEST_P(UsersBlockP1Read, FillsTheRecord) {
  const BlockReadCase& c = GetParam();
  nax_user u{};
  u.st = 0x55;
  get_user_block_p1(c.block.data(), u);
  EXPECT_EQ(u.mask, 0x08ABu);
  EXPECT_EQ(u.id, c.id);
  EXPECT_EQ(u.psw, c.psw);
  EXPECT_EQ(u.ctl, c.ctl);
  EXPECT_EQ(u.schedule_id, c.schedule_id);
  EXPECT_EQ(u.sec_level, c.sec_level);
  EXPECT_EQ(u.bio_count, c.bio_count);
  EXPECT_EQ(u.st, 0x55) << "fields the block lacks stay as they were";
}

INSTANTIATE_TEST_SUITE_P(
    Users, UsersBlockP1Read,
    testing::Values(BlockReadCase{"BiometricWordZeroIsTen",
                                  {0x07, 0xAA, 0x12, 0x34, 0x56, 0x78, 0x43, 0x21, 0xCB, 0xED, 0x02,
                                   0x01, 0xBB, 0xCC, 0x00, 0x00},
                                  12345678,
                                  4321,
                                  0x1234,
                                  0x0102,
                                  7,
                                  10},
                    BlockReadCase{"BiometricWordNoneIsZero",
                                  {0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x09, 0xFF, 0xFF, 0x00,
                                   0x00, 0x00, 0x00, 0xFF, 0xFF},
                                  1,
                                  9,
                                  0x0000,
                                  0,
                                  7,
                                  0},
                    BlockReadCase{"OtherBiometricWordIsZero",
                                  {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                   0x00, 0x00, 0x00, 0x01, 0x00},
                                  0,
                                  0,
                                  0xFFFF,
                                  0,
                                  0,
                                  0}),
    case_name<BlockReadCase>);

// ---- requests ----

struct RequestCase {
  std::string name;
  uint32_t (*encode)(Packet&);
  uint32_t status;
  uint16_t cmd;
  Bytes data;
};

class UsersRequest : public testing::TestWithParam<RequestCase> {};

TEST_P(UsersRequest, EncodesGoldenBytes) {
  const RequestCase& c = GetParam();
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  EXPECT_EQ(c.encode(request), c.status);
  if (c.status != 1) return;
  EXPECT_EQ(request.cmd, c.cmd);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

const Bytes kBlock12345678 = {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x43, 0x21,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};

uint32_t add_two_p2(Packet& r) {
  nax_user users[2] = {make_user(0x0003, 87654321, 4321), make_user(0x0001, 7)};
  return encode_add_user_p2(r, 0x0102, 2, users);
}

uint32_t add_in1_with(Packet& r, const uint8_t* extra, uint16_t count) {
  return encode_add_user_in1_p1(r, make_user(0x0003, 12345678, 4321), extra, count);
}

const uint8_t kExtra[600] = {0xE1, 0xE2, 0xE3};

INSTANTIATE_TEST_SUITE_P(
    Users, UsersRequest,
    testing::Values(
        RequestCase{"ListP1First",
                    [](Packet& r) {
                      encode_list_users_p1(r, 0);
                      return 1u;
                    },
                    1,
                    0x0010,
                    {}},
        RequestCase{"ListP1Next",
                    [](Packet& r) {
                      encode_list_users_p1(r, 5);
                      return 1u;
                    },
                    1,
                    0x0011,
                    {}},
        RequestCase{"ListP2",
                    [](Packet& r) {
                      encode_list_users_p2(r, 0x0102, 0x0304);
                      return 1u;
                    },
                    1,
                    0x8004,
                    {0x02, 0x01, 0x04, 0x03}},
        RequestCase{
            "AddP1Block",
            [](Packet& r) { return encode_add_user_p1(r, make_user(0x0003, 12345678, 4321)); }, 1,
            0x0003, kBlock12345678},
        RequestCase{"AddP1WithoutId",
                    [](Packet& r) { return encode_add_user_p1(r, make_user(0x0002, 1, 1)); },
                    1037,
                    0,
                    {}},
        RequestCase{"DelP1Id",
                    [](Packet& r) { return encode_del_user_p1(r, make_user(0x0FFF, 87654321)); },
                    1,
                    0x0009,
                    {0x87, 0x65, 0x43, 0x21}},
        RequestCase{"DelP1WithoutId",
                    [](Packet& r) { return encode_del_user_p1(r, make_user(0x0FFE, 1)); },
                    1037,
                    0,
                    {}},
        RequestCase{"AddP2TwoRecords", add_two_p2, 1, 0x8000,
                    cat({{0x02, 0x01, 0x02, 0x00},
                         kIdPswWire,
                         {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00}})},
        RequestCase{"EditP2",
                    [](Packet& r) {
                      nax_user u = make_user(0x0003, 87654321, 4321);
                      return encode_edit_user_p2(r, 9, 1, &u);
                    },
                    1, 0x8002, cat({{0x09, 0x00, 0x01, 0x00}, kIdPswWire})},
        RequestCase{"AddIn1Extra", [](Packet& r) { return add_in1_with(r, kExtra, 3); }, 1, 0x0003,
                    cat({kBlock12345678, {0xE1, 0xE2, 0xE3}})},
        RequestCase{"AddIn1NullExtra", [](Packet& r) { return add_in1_with(r, nullptr, 5); }, 1,
                    0x0003, kBlock12345678},
        RequestCase{"AddIn1FillsLargestFrame",
                    [](Packet& r) { return add_in1_with(r, kExtra, 510); }, 1, 0x0003,
                    cat({kBlock12345678, Bytes(kExtra, kExtra + 510)})},
        RequestCase{"AddIn1BeyondLargestFrame",
                    [](Packet& r) { return add_in1_with(r, kExtra, 511); },
                    1037,
                    0,
                    {}}),
    case_name<RequestCase>);

TEST(UsersDelP2, SendsIdsOnlyAndReducesMasksInPlace) {
  nax_user users[3] = {make_user(0x0FFF, 0x01020304, 55), make_user(0x0FFF, 7, 66),
                       make_user(0x0FFE, 9, 77)};
  Packet request;
  ASSERT_EQ(encode_del_user_p2(request, 0, 3, users), 1u);
  EXPECT_EQ(request.cmd, 0x8001);
  EXPECT_EQ(data_of(request), cat({{0x00, 0x00, 0x03, 0x00},
                                   {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01},
                                   {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x07, 0x00, 0x00, 0x00},
                                   {0x06, 0x00, 0x00, 0x00, 0x00, 0x00}}));
  EXPECT_EQ(users[0].mask, 0x0001u);
  EXPECT_EQ(users[1].mask, 0x0001u);
  EXPECT_EQ(users[2].mask, 0x0000u);
}

// An id-only record and one with texts: 4 + 10 + (6 + 256 + 2 + text2_length).
std::vector<nax_user> text_batch(std::size_t text2_length) {
  std::vector<nax_user> users = {make_user(NAX_USER_ID, 1),
                                 make_user(NAX_USER_TEXT1 | NAX_USER_TEXT2, 0)};
  std::memset(users[1].text1, 'a', 254);
  std::memset(users[1].text2, 'b', text2_length);
  return users;
}

// Records carrying text1, with_id of them with their id as well.  Delete
// reduces them to 10 bytes (with the id) or 6 (without) before sizing.
std::vector<nax_user> del_batch(std::size_t with_id, std::size_t without_id) {
  std::vector<nax_user> users;
  for (std::size_t i = 0; i < with_id + without_id; ++i) {
    users.push_back(make_user(NAX_USER_TEXT1 | (i < with_id ? NAX_USER_ID : 0u), 1));
    std::memset(users.back().text1, 'c', 254);
  }
  return users;
}

using BatchEncoder = uint32_t (*)(Packet&, uint16_t, uint16_t, nax_user*);

struct BatchSizeCase {
  std::string name;
  BatchEncoder encode;
  std::vector<nax_user> users;
  uint32_t status;
  uint16_t size;  // of the request when accepted
};

class UsersBatchP2 : public testing::TestWithParam<BatchSizeCase> {};

// A batch fits the 512 data bytes a node accepts or is refused whole, before
// anything is built.
TEST_P(UsersBatchP2, FitsWhatANodeAcceptsOrIsRefusedBeforeBuilding) {
  const BatchSizeCase& c = GetParam();
  std::vector<nax_user> users = c.users;
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  ASSERT_EQ(c.encode(request, 0, static_cast<uint16_t>(users.size()), users.data()), c.status);
  if (c.status == NAX_OK) {
    EXPECT_EQ(request.size, c.size);
  } else {
    EXPECT_EQ(request.data[0], 0xCC);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Users, UsersBatchP2,
    testing::Values(BatchSizeCase{"Add512Accepted", encode_add_user_p2, text_batch(234), 1, 512},
                    BatchSizeCase{"Add513Refused", encode_add_user_p2, text_batch(235), 1037, 0},
                    BatchSizeCase{"Edit512Accepted", encode_edit_user_p2, text_batch(234), 1, 512},
                    BatchSizeCase{"Edit513Refused", encode_edit_user_p2, text_batch(235), 1037, 0},
                    // 4 + 49 × 10 + 3 × 6: the texts no longer count.
                    BatchSizeCase{"Del512Accepted", encode_del_user_p2, del_batch(49, 3), 1, 512},
                    // Delete records are 10 or 6 bytes: 514 is the next size above 512.
                    BatchSizeCase{"Del514Refused", encode_del_user_p2, del_batch(51, 0), 1037, 0}),
    case_name<BatchSizeCase>);

// ---- answers ----

struct ListP1Case {
  std::string name;
  uint16_t first_index;
  Bytes answer;
  uint32_t status;
  uint16_t stored;
};

class UsersListP1 : public testing::TestWithParam<ListP1Case> {};

TEST_P(UsersListP1, StoresAtMostOneUser) {
  const ListP1Case& c = GetParam();
  nax_user users[2] = {};
  uint16_t stored = 0;
  EXPECT_EQ(decode_list_users_p1(answer_of(0, c.answer), c.first_index, users, stored), c.status);
  EXPECT_EQ(stored, c.stored);
  if (c.stored == 1) {
    EXPECT_EQ(users[0].id, 12345678u);
    EXPECT_EQ(users[0].psw, 4321);
    EXPECT_EQ(users[0].mask, 0x08ABu);
  } else {
    EXPECT_EQ(users[0].mask, 0u);
  }
  EXPECT_EQ(users[1].mask, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Users, UsersListP1,
    testing::Values(ListP1Case{"EmptyNodeFirstPage", 0, {0x00, 0x09}, 7, 0},
                    ListP1Case{"NoMoreUsersLaterPage", 5, {0x00, 0x09}, 8, 0},
                    ListP1Case{"OtherRefusal", 0, {0x00, 0x03}, 4, 0},
                    ListP1Case{"OneUser", 3, cat({{0x01}, kBlock12345678, {0x00}}), 1, 1},
                    ListP1Case{"BlockCutShort", 0, {0x01, 0x00, 0x00, 0x12, 0x34}, 1029, 0},
                    ListP1Case{"ErrorByteMissing", 0, {0x00}, 1029, 0},
                    ListP1Case{"Empty", 0, {}, 1029, 0}),
    case_name<ListP1Case>);

Bytes list_answer(uint16_t n, std::initializer_list<Bytes> records) {
  return cat({{0x00, 0x00, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)}, cat(records)});
}

const Bytes kRecordA = {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00};
const Bytes kRecordB = {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0B, 0x00, 0x00, 0x00};
const Bytes kRecordC = {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x00};

struct ListP2Case {
  std::string name;
  uint16_t status_word;
  Bytes data;
  uint16_t count;
  uint32_t status;
  std::vector<uint32_t> ids;  // of the stored records
};

class UsersListP2 : public testing::TestWithParam<ListP2Case> {};

TEST_P(UsersListP2, StoresWholeRecordsWithinTheArray) {
  const ListP2Case& c = GetParam();
  std::vector<nax_user> users(c.count + 1);
  users[c.count].mask = 0xA5A5A5A5;  // guard behind the host's array
  users[c.count].id = 0xA5A5A5A5;
  uint16_t stored = 0;
  EXPECT_EQ(decode_list_users_p2(answer_of(c.status_word, c.data), c.count, users.data(), stored),
            c.status);
  ASSERT_EQ(stored, c.ids.size());
  for (std::size_t i = 0; i < c.ids.size(); ++i) EXPECT_EQ(users[i].id, c.ids[i]) << i;
  for (std::size_t i = c.ids.size(); i < c.count; ++i) EXPECT_EQ(users[i].mask, 0u) << i;
  EXPECT_EQ(users[c.count].mask, 0xA5A5A5A5u);
  EXPECT_EQ(users[c.count].id, 0xA5A5A5A5u);
}

INSTANTIATE_TEST_SUITE_P(
    Users, UsersListP2,
    testing::Values(
        ListP2Case{"Status8ThreeRecords",
                   8,
                   list_answer(3, {kRecordA, kRecordB, kRecordC}),
                   5,
                   8,
                   {10, 11, 12}},
        ListP2Case{"Status8None", 8, list_answer(0, {}), 5, 8, {}},
        ListP2Case{"RefusalPassedOn", 5, list_answer(1, {kRecordA}), 5, 5, {}},
        ListP2Case{"FullPage", 1, list_answer(2, {kRecordA, kRecordB}), 2, 1, {10, 11}},
        ListP2Case{"CutInsideSecondRecord",
                   1,
                   list_answer(3, {kRecordA, Bytes(kRecordB.begin(), kRecordB.begin() + 7)}),
                   5,
                   1029,
                   {10}},
        ListP2Case{"CutInsideFirstRecord", 1, list_answer(1, {{0x0A, 0x00, 0x01}}), 5, 1029, {}},
        ListP2Case{"AnnouncesMoreThanArray",
                   1,
                   list_answer(3, {kRecordA, kRecordB, kRecordC}),
                   2,
                   1,
                   {10, 11}},
        ListP2Case{"AnnouncesMoreThanSent", 8, list_answer(9, {kRecordA}), 2, 1029, {10}},
        ListP2Case{"CountMissing", 1, {0x00, 0x00, 0x03}, 5, 1029, {}}),
    case_name<ListP2Case>);

struct UserAnswerCase {
  std::string name;
  bool p1;
  Packet answer;
  uint32_t status;
  uint16_t taken;
};

class UsersAnswer : public testing::TestWithParam<UserAnswerCase> {};

TEST_P(UsersAnswer, MapsTheVerdict) {
  const UserAnswerCase& c = GetParam();
  uint16_t taken = 0xBEEF;
  if (c.p1) taken = 0;  // protocol 1 only ever sets it to 1
  const uint32_t status =
      c.p1 ? decode_user_answer_p1(c.answer, taken) : decode_user_answer_p2(c.answer, taken);
  EXPECT_EQ(status, c.status);
  EXPECT_EQ(taken, c.taken);
}

INSTANTIATE_TEST_SUITE_P(
    Users, UsersAnswer,
    testing::Values(UserAnswerCase{"P1Done", true, answer_of(0, {0x01, 0x00}), 1, 1},
                    UserAnswerCase{"P1Error1", true, answer_of(0, {0x00, 0x01}), 5, 0},
                    UserAnswerCase{"P1Error2", true, answer_of(0, {0x00, 0x02}), 12, 0},
                    UserAnswerCase{"P1Error5", true, answer_of(0, {0x00, 0x05}), 4, 0},
                    UserAnswerCase{"P1Error9", true, answer_of(0, {0x00, 0x09}), 8, 0},
                    UserAnswerCase{"P1ErrorOther", true, answer_of(0, {0x00, 0x03}), 16, 0},
                    UserAnswerCase{"P1ErrorZero", true, answer_of(0, {0x00, 0x00}), 16, 0},
                    UserAnswerCase{"P1ErrorMissing", true, answer_of(0, {0x00}), 1029, 0},
                    UserAnswerCase{"P1Empty", true, answer_of(0, {}), 1029, 0},
                    UserAnswerCase{"P2Done", false, answer_of(1, {0x00, 0x00, 0x03, 0x00}), 1, 3},
                    UserAnswerCase{"P2RefusedStillCounts", false,
                                   answer_of(17, {0x00, 0x00, 0x02, 0x00}), 17, 2},
                    UserAnswerCase{"P2CountMissing", false, answer_of(1, {0x00, 0x00, 0x03}), 1,
                                   0}),
    case_name<UserAnswerCase>);

}  // namespace
}  // namespace nax
