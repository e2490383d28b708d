// Golden-byte tests of the user-event answer and display message codecs.
#include "commands/answers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "commands/codec_test_support.h"

namespace nax {
namespace {

using namespace codec_test;

Bytes lp(const std::string& text) {
  Bytes out{static_cast<uint8_t>(text.size() + 1)};
  out.insert(out.end(), text.begin(), text.end());
  out.push_back(0);
  return out;
}

// Copies up to the field's size; a text as long as the field leaves no NUL in it.
template <std::size_t N>
void fill(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

char* slot(nax_user_event_answer& a, int i) {
  char* const slots[] = {a.aux0, a.aux1, a.aux2, a.aux3, a.aux4,
                         a.aux5, a.aux6, a.aux7, a.aux8, a.aux9};
  return slots[i];
}

// 10:20:30 29-02-24 weekday 4; user id 0x01020304 with st 7 (mask id | st).
nax_user_event_answer base_answer() {
  nax_user_event_answer a;
  std::memset(&a, 0, sizeof a);
  a.date_time = {10, 20, 30, 24, 2, 29, 4};
  a.user.mask = NAX_USER_ID | NAX_USER_ST;
  a.user.id = 0x01020304;
  a.user.st = 7;
  return a;
}

const Bytes kHead = {0x0A, 0x14, 0x1E, 0x1D, 0x02, 0x18, 0x04,  // date-time
                     0x0B, 0x00, 0x05, 0x00, 0x00, 0x00,        // length 11, mask
                     0x04, 0x03, 0x02, 0x01, 0x07};             // id, st

struct UserAnswerCase {
  std::string name;
  void (*prepare)(nax_user_event_answer&);
  uint32_t status;
  Bytes data;
};

class UserEventAnswerRequest : public testing::TestWithParam<UserAnswerCase> {};

TEST_P(UserEventAnswerRequest, EncodesGoldenBytes) {
  const UserAnswerCase& c = GetParam();
  nax_user_event_answer a = base_answer();
  c.prepare(a);
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  ASSERT_EQ(encode_answer_user_event_p2(request, a), c.status);
  if (c.status != NAX_OK) return;
  EXPECT_EQ(request.cmd, 0x8050);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
  EXPECT_EQ(answer_user_event_p2_size(a), request.size);
}

// Slot texts of the full-size answer: slots 0 to 4 at 44 characters, slot 5 at 4.
constexpr int kFullSlots = 6;
std::string slot_text(int i) {
  return std::string(i < 5 ? 44 : 4, static_cast<char>('a' + i));
}

// text1 of 254 characters and the slots above: 7 + 262 + 1 + 5 × 47 + 7 = 512 bytes,
// all a node accepts, with the mask selecting text1 alone.
void fill_to_512(nax_user_event_answer& a) {
  a.user.mask = NAX_USER_TEXT1;
  fill(a.user.text1, std::string(254, 't'));
  for (int i = 0; i < kFullSlots; ++i) std::strcpy(slot(a, i), slot_text(i).c_str());
}

INSTANTIATE_TEST_SUITE_P(
    Answer, UserEventAnswerRequest,
    testing::Values(
        UserAnswerCase{"AllAuxEmptyEndsAfterPrintEnable", [](nax_user_event_answer&) {}, 1,
                       cat({kHead, {0x00}})},
        UserAnswerCase{"OnlyAux3KeepsItsNumber",
                       [](nax_user_event_answer& a) { fill(a.aux3, "Hi"); }, 1,
                       cat({kHead, {0x00, 0x03}, lp("Hi")})},
        UserAnswerCase{"PrintEnableFFSentAs1",
                       [](nax_user_event_answer& a) { a.print_enable = 0xFF; }, 1,
                       cat({kHead, {0x01}})},
        UserAnswerCase{"PrintEnable2SentAs0",
                       [](nax_user_event_answer& a) { a.print_enable = 0x02; }, 1,
                       cat({kHead, {0x00}})},
        UserAnswerCase{"SlotsInAscendingOrder",
                       [](nax_user_event_answer& a) {
                         fill(a.aux9, "Z");
                         fill(a.aux0, "Welcome");
                       },
                       1, cat({kHead, {0x00, 0x00}, lp("Welcome"), {0x09}, lp("Z")})},
        UserAnswerCase{"Aux45CharsNoNulSent44",
                       [](nax_user_event_answer& a) { fill(a.aux1, std::string(45, 'w')); }, 1,
                       cat({kHead, {0x00, 0x01}, lp(std::string(44, 'w'))})},
        UserAnswerCase{"Exactly512Accepted", [](nax_user_event_answer& a) { fill_to_512(a); }, 1,
                       [] {
                         // date-time, length 262, mask text1
                         Bytes out = {0x0A, 0x14, 0x1E, 0x1D, 0x02, 0x18, 0x04,
                                      0x06, 0x01, 0x00, 0x01, 0x00, 0x00};
                         out = cat({out, lp(std::string(254, 't')), {0x00}});
                         for (int i = 0; i < kFullSlots; ++i) {
                           out = cat({out, {static_cast<uint8_t>(i)}, lp(slot_text(i))});
                         }
                         return out;
                       }()},
        UserAnswerCase{"Over512Refused",
                       [](nax_user_event_answer& a) {
                         fill_to_512(a);
                         a.user.mask |= NAX_USER_ST;
                       },
                       1037,
                       {}}),
    case_name<UserAnswerCase>);

TEST(UserEventAnswerRequest, SlotCutInTheHostRecord) {
  nax_user_event_answer a = base_answer();
  fill(a.aux1, std::string(45, 'w'));
  Packet request;
  ASSERT_EQ(encode_answer_user_event_p2(request, a), 1u);
  EXPECT_EQ(a.aux1[44], '\0');
  EXPECT_EQ(std::string(a.aux1), std::string(44, 'w'));
}

TEST(UserEventAnswerRequest, FullSizeAnswerIsAllANodeAccepts) {
  nax_user_event_answer a = base_answer();
  fill_to_512(a);
  EXPECT_EQ(answer_user_event_p2_size(a), 512u);
  a.user.mask |= NAX_USER_ST;
  EXPECT_EQ(answer_user_event_p2_size(a), 513u);
}

TEST(UserEventAnswerRequest, RefusedRequestCutsNothing) {
  nax_user_event_answer a = base_answer();
  fill_to_512(a);
  std::memset(a.aux9, 'z', sizeof a.aux9);
  Packet request;
  ASSERT_EQ(encode_answer_user_event_p2(request, a), 1037u);
  EXPECT_EQ(a.aux9[44], 'z');
}

TEST(UserEventAnswerRequest, P1IsEmptyWithStatusOne) {
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  encode_answer_user_event_p1(request);
  EXPECT_EQ(request.cmd, 0x0012);
  EXPECT_EQ(request.size, 0);
  EXPECT_EQ(request.status, 1);
}

struct DisplayCase {
  std::string name;
  std::vector<nax_display_message> messages;
  int32_t timer;
  uint32_t status;
  Bytes data;
};

nax_display_message message(uint16_t line, const std::string& text) {
  nax_display_message m{};
  m.line = line;
  m.pos = 2;
  m.cmd_line = 3;
  m.cmd_pos = 4;
  m.font = 0x0105;
  fill(m.data, text);
  return m;
}

Bytes message_wire(uint16_t line, const std::string& text) {
  Bytes data(text.begin(), text.end());
  data.resize(kDisplayTextFieldSize, 0);
  return cat(
      {{static_cast<uint8_t>(line), static_cast<uint8_t>(line >> 8), 2, 0, 3, 4, 5, 1}, data});
}

Bytes messages_wire(uint16_t count) {
  Bytes out = {static_cast<uint8_t>(count), 0, 0, 0, 0, 0};
  for (uint16_t k = 0; k < count; ++k) out = cat({out, message_wire(k, "m")});
  return out;
}

class DisplayRequest : public testing::TestWithParam<DisplayCase> {};

TEST_P(DisplayRequest, EncodesGoldenBytes) {
  const DisplayCase& c = GetParam();
  std::vector<nax_display_message> messages = c.messages;
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  ASSERT_EQ(encode_display_msg_p2(request, static_cast<uint16_t>(messages.size()), messages.data(),
                                  c.timer),
            c.status);
  if (c.status != NAX_OK) return;
  EXPECT_EQ(request.cmd, 0x8110);
  EXPECT_EQ(request.status, 0);
  EXPECT_EQ(data_of(request), c.data);
}

std::vector<nax_display_message> numbered(uint16_t count) {
  std::vector<nax_display_message> out;
  for (uint16_t k = 0; k < count; ++k) out.push_back(message(k, "m"));
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Answer, DisplayRequest,
    testing::Values(DisplayCase{"Data50NoNulSent49",
                                {message(1, std::string(50, 'd'))},
                                0,
                                1,
                                cat({{1, 0, 0, 0, 0, 0}, message_wire(1, std::string(49, 'd'))})},
                    DisplayCase{
                        "OneMessageTimerMinus1",
                        {message(0x0201, "Hello")},
                        -1,
                        1,
                        cat({{1, 0, 0xFF, 0xFF, 0xFF, 0xFF}, message_wire(0x0201, "Hello")})},
                    // 6 + 58 × 8 = 470 bytes; a ninth message passes 512.
                    DisplayCase{"EightMessagesFit", numbered(8), 0, 1, messages_wire(8)},
                    DisplayCase{"NineRefused", numbered(9), 0, 1037, {}}),
    case_name<DisplayCase>);

TEST(DisplayRequest, DataCutInTheHostRecord) {
  nax_display_message m = message(1, std::string(50, 'd'));
  Packet request;
  ASSERT_EQ(encode_display_msg_p2(request, 1, &m, 0), 1u);
  EXPECT_EQ(m.data[49], '\0');
  EXPECT_EQ(std::string(m.data), std::string(49, 'd'));
}

struct DisplayAnswerCase {
  std::string name;
  Packet answer;
  uint32_t status;
  uint16_t word;
};

class DisplayAnswer : public testing::TestWithParam<DisplayAnswerCase> {};

TEST_P(DisplayAnswer, ReadsTheWord) {
  const DisplayAnswerCase& c = GetParam();
  uint16_t word = 0;
  EXPECT_EQ(decode_display_msg_p2(c.answer, word), c.status);
  EXPECT_EQ(word, c.word);
}

INSTANTIATE_TEST_SUITE_P(
    Answer, DisplayAnswer,
    testing::Values(DisplayAnswerCase{"Word", answer_of(1, {0x34, 0x12}), 1, 0x1234},
                    DisplayAnswerCase{"MissingWord", answer_of(1, {0x34}), 1029, 0},
                    DisplayAnswerCase{"Refused", answer_of(3, {0x34, 0x12}), 3, 0}),
    case_name<DisplayAnswerCase>);

}  // namespace
}  // namespace nax
