// Golden-byte tests of the user codecs: both wire forms, list answers, batch
// requests and the answer tables.
#include "commands/users.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

std::string show_user(const nax_user& u) {
  return show(u.mask, u.id, u.psw, u.st, u.ctl, u.panic, u.bio_count, u.bio_level, u.sec_level,
              u.text1, u.text2, u.schedule_id, u.anti_passback);
}

// Every field set, every mask bit (0x0400 selects nothing).
const nax_user kFullUser = {0x1FFF, 1, 2, 3, 0x0405, 6, 7, 8, 9, "AB", "", {}, 0x0A0B, 0x0C};

const Bytes kFullUserWire = {0x1C, 0x00, 0xFF, 0x1F, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,
                             0x02, 0x00, 0x03, 0x05, 0x04, 0x06, 0x07, 0x08, 0x09, 0x03,
                             'A',  'B',  0x00, 0x01, 0x00, 0x0B, 0x0A, 0x0C};

// mask 0x0003, id 87654321, psw 4321.
const Bytes kIdPswWire = {0x0C, 0x00, 0x03, 0x00, 0x00, 0x00, 0xB1, 0x7F, 0x39, 0x05, 0xE1, 0x10};

Bytes id_record(uint8_t id) {
  return {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, id, 0x00, 0x00, 0x00};
}
const Bytes kNoFieldsRecord = {0x06, 0x00, 0x00, 0x00, 0x00, 0x00};

const Bytes kBlock12345678 = {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x43, 0x21,
                              0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF};

// A user of id 12345678 and psw 4321 with the other fields a p1 block carries.
nax_user block_user(uint32_t mask, uint8_t sec_level, uint16_t ctl, uint16_t schedule_id,
                    uint8_t bio_count) {
  return {mask, 12345678, 4321, 0, ctl, 0, bio_count, 0, sec_level, "", "", {}, schedule_id, 0};
}

uint32_t add_in1_with(Packet& r, const uint8_t* extra, uint16_t count) {
  return encode_add_user_in1_p1(r, nax_user{0x0003, 12345678, 4321}, extra, count);
}

const uint8_t kExtra[600] = {0xE1, 0xE2, 0xE3};

template <typename Encode>
uint32_t batch(Packet& r, Encode encode, uint16_t first, std::vector<nax_user> users) {
  return encode(r, first, static_cast<uint16_t>(users.size()), users.data());
}

// An id-only record and one with texts: 4 + 10 + (6 + 256 + 2 + text2_length).
std::vector<nax_user> text_batch(std::size_t text2_length) {
  std::vector<nax_user> users = {nax_user{NAX_USER_ID, 1},
                                 nax_user{NAX_USER_TEXT1 | NAX_USER_TEXT2, 0}};
  std::memset(users[1].text1, 'a', 254);
  std::memset(users[1].text2, 'b', text2_length);
  return users;
}

Bytes text_batch_wire(std::size_t text2_length) {
  const std::size_t length = 6 + 256 + 2 + text2_length;
  return cat({{0x00, 0x00, 0x02, 0x00},
              id_record(1),
              {static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8), 0x00, 0x03, 0, 0},
              lp(std::string(254, 'a')),
              lp(std::string(text2_length, 'b'))});
}

// Records carrying text1, with_id of them with their id as well.  Delete
// reduces them to 10 bytes (with the id) or 6 (without) before sizing.
std::vector<nax_user> del_batch(std::size_t with_id, std::size_t without_id) {
  std::vector<nax_user> users;
  for (std::size_t i = 0; i < with_id + without_id; ++i) {
    users.push_back({NAX_USER_TEXT1 | (i < with_id ? NAX_USER_ID : 0u), 1});
    std::memset(users.back().text1, 'c', 254);
  }
  return users;
}

nax_user long_text_user() {
  nax_user u = {NAX_USER_TEXT1, 0};
  std::memset(u.text1, 'x', sizeof u.text1);  // no NUL at all
  return u;
}

INSTANTIATE_TEST_SUITE_P(
    Users, CodecRequest,
    testing::Values(
        RequestRow("ListP1First", CALL(encode_list_users_p1(r, 0)), 1, 0x0010, {}),
        RequestRow("ListP1Next", CALL(encode_list_users_p1(r, 5)), 1, 0x0011, {}),
        RequestRow("ListP2", CALL(encode_list_users_p2(r, 0x0102, 0x0304)), 1, 0x8004,
                   {0x02, 0x01, 0x04, 0x03}),
        RequestRow("AddP1Block", CALL(encode_add_user_p1(r, nax_user{0x0003, 12345678, 4321})), 1,
                   0x0003, kBlock12345678),
        RequestRow("AddP1EveryBlockField",
                   CALL(encode_add_user_p1(r, block_user(0x08AB, 0x0F, 0x1234, 0x0102, 2))), 1,
                   0x0003,
                   {0x07, 0x00, 0x12, 0x34, 0x56, 0x78, 0x43, 0x21, 0xCB, 0xED, 0x02, 0x01, 0x00,
                    0x00, 0x00, 0x00}),
        RequestRow("AddP1OnlyIdAndPswBits",
                   CALL(encode_add_user_p1(r, block_user(0x0003, 5, 0x1234, 0x0102, 3))), 1, 0x0003,
                   kBlock12345678),
        // The identifier field carries the id's own eight digits, whatever
        // the id: 87654321 travels as 87 65 43 21.
        RequestRow("AddP1Id87654321KeepsItsDigits",
                   CALL(encode_add_user_p1(r, nax_user{0x0003, 87654321, 4321})), 1, 0x0003,
                   {0x00, 0x00, 0x87, 0x65, 0x43, 0x21, 0x43, 0x21, 0x00, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0xFF, 0xFF}),
        RequestRow("AddP1BioBitWithoutTemplates",
                   CALL(encode_add_user_p1(r, block_user(0x0021, 0, 0, 0, 0))), 1, 0x0003,
                   {0x00, 0x00, 0x12, 0x34, 0x56, 0x78, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                    0x00, 0xFF, 0xFF}),
        RequestRow("AddP1WithoutId", CALL(encode_add_user_p1(r, nax_user{0x0002, 1, 1})), 1037, 0,
                   {}),
        RequestRow("DelP1Id", CALL(encode_del_user_p1(r, nax_user{0x0FFF, 87654321})), 1, 0x0009,
                   {0x87, 0x65, 0x43, 0x21}),
        RequestRow("DelP1WithoutId", CALL(encode_del_user_p1(r, nax_user{0x0FFE, 1})), 1037, 0, {}),
        RequestRow("AddP2TwoRecords",
                   CALL(batch(r, encode_add_user_p2, 0x0102,
                              {nax_user{0x0003, 87654321, 4321}, nax_user{0x0001, 7}})),
                   1, 0x8000, cat({{0x02, 0x01, 0x02, 0x00}, kIdPswWire, id_record(7)})),
        RequestRow("EditP2",
                   CALL(batch(r, encode_edit_user_p2, 9, {nax_user{0x0003, 87654321, 4321}})), 1,
                   0x8002, cat({{0x09, 0x00, 0x01, 0x00}, kIdPswWire})),
        RequestRow("EditP2EveryField", CALL(batch(r, encode_edit_user_p2, 9, {kFullUser})), 1,
                   0x8002, cat({{0x09, 0x00, 0x01, 0x00}, kFullUserWire})),
        // Text cut to 254 characters, announced and sent with its NUL.
        RequestRow("EditP2LongTextCut", CALL(batch(r, encode_edit_user_p2, 0, {long_text_user()})),
                   1, 0x8002,
                   cat({{0x00, 0x00, 0x01, 0x00, 0x06, 0x01, 0x00, 0x01, 0x00, 0x00},
                        lp(std::string(254, 'x'))})),
        // Delete sends ids only: masks are reduced to the id bit.
        RequestRow("DelP2IdsOnly",
                   CALL(batch(r, encode_del_user_p2, 0,
                              {nax_user{0x0FFF, 0x01020304, 55}, nax_user{0x0FFF, 7, 66},
                               nax_user{0x0FFE, 9, 77}})),
                   1, 0x8001,
                   cat({{0x00, 0x00, 0x03, 0x00},
                        {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01},
                        id_record(7),
                        kNoFieldsRecord})),
        RequestRow("AddIn1Extra", CALL(add_in1_with(r, kExtra, 3)), 1, 0x0003,
                   cat({kBlock12345678, {0xE1, 0xE2, 0xE3}})),
        RequestRow("AddIn1NullExtra", CALL(add_in1_with(r, nullptr, 5)), 1, 0x0003, kBlock12345678),
        RequestRow("AddIn1FillsLargestFrame", CALL(add_in1_with(r, kExtra, 510)), 1, 0x0003,
                   cat({kBlock12345678, Bytes(kExtra, kExtra + 510)})),
        RequestRow("AddIn1BeyondLargestFrame", CALL(add_in1_with(r, kExtra, 511)), 1037, 0, {}),
        // A batch fits the 512 data bytes a node accepts or is refused whole.
        RequestRow("AddP2Batch512Accepted", CALL(batch(r, encode_add_user_p2, 0, text_batch(234))),
                   1, 0x8000, text_batch_wire(234)),
        RequestRow("AddP2Batch513Refused", CALL(batch(r, encode_add_user_p2, 0, text_batch(235))),
                   1037, 0, {}),
        RequestRow("EditP2Batch512Accepted",
                   CALL(batch(r, encode_edit_user_p2, 0, text_batch(234))), 1, 0x8002,
                   text_batch_wire(234)),
        RequestRow("EditP2Batch513Refused", CALL(batch(r, encode_edit_user_p2, 0, text_batch(235))),
                   1037, 0, {}),
        // 4 + 49 × 10 + 3 × 6: the texts no longer count.
        RequestRow(
            "DelP2Batch512Accepted", CALL(batch(r, encode_del_user_p2, 0, del_batch(49, 3))), 1,
            0x8001,
            cat({{0x00, 0x00, 52, 0x00}, times(id_record(1), 49), times(kNoFieldsRecord, 3)})),
        // Delete records are 10 or 6 bytes: 514 is the next size above 512.
        RequestRow("DelP2Batch514Refused", CALL(batch(r, encode_del_user_p2, 0, del_batch(51, 0))),
                   1037, 0, {})),
    row_name<RequestRow>);

Decoder record = record_at_start<nax_user>(get_user_record_p2, show_user);

// A p1 block read into a user whose other fields must stay as they were.
nax_user st_only() {
  nax_user u{};
  u.st = 0x55;
  return u;
}
Decoder block = into(
    st_only(),
    [](const Packet& p, nax_user& u) {
      get_user_block_p1(p.data, u);
      return NAX_OK;
    },
    show_user);

Decoder list_p1(uint16_t first_index) {
  return list<nax_user>(
      1,
      [first_index](const Packet& p, uint16_t, nax_user* users, uint16_t& stored) {
        return decode_list_users_p1(p, first_index, users, stored);
      },
      [](const nax_user& u) { return show(u.id, u.psw, u.mask); });
}

Decoder list_p2(uint16_t count) {
  return list<nax_user>(count, decode_list_users_p2, [](const nax_user& u) { return show(u.id); });
}

Decoder answer_p1 = into(uint16_t{0}, decode_user_answer_p1);
Decoder answer_p2 = into(uint16_t{0xBEEF}, decode_user_answer_p2);

INSTANTIATE_TEST_SUITE_P(
    Users, CodecAnswer,
    testing::Values(
        AnswerRow("RecordP2IdAndPsw", 1, kIdPswWire, record, 1,
                  "12 " + show_user(nax_user{0x0003, 87654321, 4321})),
        AnswerRow("RecordP2MaskZero", 1, kNoFieldsRecord, record, 1,
                  "6 " + show_user(nax_user{0, 0})),
        AnswerRow("RecordP2EveryField", 1, kFullUserWire, record, 1, "28 " + show_user(kFullUser)),
        AnswerRow("RecordP2CutInsideTextIsShort", 1,
                  {0x0D, 0x00, 0x00, 0x01, 0x00, 0x00, 0x06, 'a', 'b'}, record, 1029, ""),
        AnswerRow("BlockP1BiometricWordZeroIsTen", 0,
                  {0x07, 0xAA, 0x12, 0x34, 0x56, 0x78, 0x43, 0x21, 0xCB, 0xED, 0x02, 0x01, 0xBB,
                   0xCC, 0x00, 0x00},
                  block, 1,
                  show(0x08AB, 12345678, 4321, 0x55, 0x1234, 0, 10, 0, 7, "", "", 0x0102, 0)),
        AnswerRow("BlockP1BiometricWordNoneIsZero", 0,
                  {0xFF, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x09, 0xFF, 0xFF, 0x00, 0x00, 0x00,
                   0x00, 0xFF, 0xFF},
                  block, 1, show(0x08AB, 1, 9, 0x55, 0, 0, 0, 0, 7, "", "", 0, 0)),
        AnswerRow("BlockP1OtherBiometricWordIsZero", 0,
                  {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                   0x00, 0x01, 0x00},
                  block, 1, show(0x08AB, 0, 0, 0x55, 0xFFFF, 0, 0, 0, 0, "", "", 0, 0)),
        AnswerRow("ListP1EmptyNodeFirstPage", 0, {0x00, 0x09}, list_p1(0), 7, "0:"),
        AnswerRow("ListP1NoMoreUsersLaterPage", 0, {0x00, 0x09}, list_p1(5), 8, "0:"),
        AnswerRow("ListP1OtherRefusal", 0, {0x00, 0x03}, list_p1(0), 4, "0:"),
        AnswerRow("ListP1OneUser", 0, cat({{0x01}, kBlock12345678, {0x00}}), list_p1(3), 1,
                  "1: 12345678 4321 2219"),
        AnswerRow("ListP1BlockCutShort", 0, {0x01, 0x00, 0x00, 0x12, 0x34}, list_p1(0), 1029, "0:"),
        AnswerRow("ListP1ErrorByteMissing", 0, {0x00}, list_p1(0), 1029, "0:"),
        AnswerRow("ListP1Empty", 0, {}, list_p1(0), 1029, "0:"),
        AnswerRow("ListP2Status8ThreeRecords", 8,
                  list_answer(3, {id_record(10), id_record(11), id_record(12)}), list_p2(5), 8,
                  "3: 10 11 12"),
        AnswerRow("ListP2Status8None", 8, list_answer(0, {}), list_p2(5), 8, "0:"),
        AnswerRow("ListP2RefusalPassedOn", 5, list_answer(1, {id_record(10)}), list_p2(5), 5, "0:"),
        AnswerRow("ListP2FullPage", 1, list_answer(2, {id_record(10), id_record(11)}), list_p2(2),
                  1, "2: 10 11"),
        AnswerRow("ListP2CutInsideSecondRecord", 1,
                  list_answer(3, {id_record(10), {0x0A, 0x00, 0x01, 0x00, 0x00, 0x00, 0x0B}}),
                  list_p2(5), 1029, "1: 10"),
        AnswerRow("ListP2CutInsideFirstRecord", 1, list_answer(1, {{0x0A, 0x00, 0x01}}), list_p2(5),
                  1029, "0:"),
        AnswerRow("ListP2AnnouncesMoreThanArray", 1,
                  list_answer(3, {id_record(10), id_record(11), id_record(12)}), list_p2(2), 1,
                  "2: 10 11"),
        AnswerRow("ListP2AnnouncesMoreThanSent", 8, list_answer(9, {id_record(10)}), list_p2(2),
                  1029, "1: 10"),
        AnswerRow("ListP2CountMissing", 1, {0x00, 0x00, 0x03}, list_p2(5), 1029, "0:"),
        AnswerRow("AnswerP1Done", 0, {0x01, 0x00}, answer_p1, 1, "1"),
        AnswerRow("AnswerP1Error1", 0, {0x00, 0x01}, answer_p1, 5, "0"),
        AnswerRow("AnswerP1Error2", 0, {0x00, 0x02}, answer_p1, 12, "0"),
        AnswerRow("AnswerP1Error5", 0, {0x00, 0x05}, answer_p1, 4, "0"),
        AnswerRow("AnswerP1Error9", 0, {0x00, 0x09}, answer_p1, 8, "0"),
        AnswerRow("AnswerP1ErrorOther", 0, {0x00, 0x03}, answer_p1, 16, "0"),
        AnswerRow("AnswerP1ErrorZero", 0, {0x00, 0x00}, answer_p1, 16, "0"),
        AnswerRow("AnswerP1ErrorMissing", 0, {0x00}, answer_p1, 1029, "0"),
        AnswerRow("AnswerP1Empty", 0, {}, answer_p1, 1029, "0"),
        AnswerRow("AnswerP2Done", 1, {0x00, 0x00, 0x03, 0x00}, answer_p2, 1, "3"),
        AnswerRow("AnswerP2RefusedStillCounts", 17, {0x00, 0x00, 0x02, 0x00}, answer_p2, 17, "2"),
        AnswerRow("AnswerP2CountMissing", 1, {0x00, 0x00, 0x03}, answer_p2, 1, "0")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
