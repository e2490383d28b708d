// Golden-byte tests of the user-event answer and display message codecs.
#include "commands/answers.h"

#include "commands/codec_test_support.h"

namespace nax::codec_test {
namespace {

char* slot(nax_user_event_answer& a, int i) {
  char* const slots[] = {a.aux0, a.aux1, a.aux2, a.aux3, a.aux4,
                         a.aux5, a.aux6, a.aux7, a.aux8, a.aux9};
  return slots[i];
}

// 10:20:30 29-02-24 weekday 4; user id 0x01020304 with st 7 (mask id | st).
nax_user_event_answer base_answer() {
  return {{10, 20, 30, 24, 2, 29, 4}, {NAX_USER_ID | NAX_USER_ST, 0x01020304, 0, 7}};
}

const Bytes kHead = {0x0A, 0x14, 0x1E, 0x1D, 0x02, 0x18, 0x04,  // date-time
                     0x0B, 0x00, 0x05, 0x00, 0x00, 0x00,        // length 11, mask
                     0x04, 0x03, 0x02, 0x01, 0x07};             // id, st

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

Bytes full_size_wire() {
  // date-time, length 262, mask text1
  Bytes out = {0x0A, 0x14, 0x1E, 0x1D, 0x02, 0x18, 0x04, 0x06, 0x01, 0x00, 0x01, 0x00, 0x00};
  out = cat({out, lp(std::string(254, 't')), {0x00}});
  for (int i = 0; i < kFullSlots; ++i)
    out = cat({out, {static_cast<uint8_t>(i)}, lp(slot_text(i))});
  return out;
}

// Sends the answer; the size the library reports for it must be what was sent,
// or above the 512 bytes a node accepts when refused.
uint32_t send(Packet& r, nax_user_event_answer& a) {
  const uint32_t status = encode_answer_user_event_p2(r, a);
  const std::size_t size = answer_user_event_p2_size(a);
  return ok_if(status == NAX_OK ? size == r.size : size > 512, status);
}

template <typename Prepare>
uint32_t send_with(Packet& r, Prepare prepare) {
  nax_user_event_answer a = base_answer();
  prepare(a);
  return send(r, a);
}

nax_display_message message(uint16_t line, const std::string& text) {
  nax_display_message m = {line, 2, 3, 4, 0x0105, ""};
  fill(m.data, text);
  return m;
}

Bytes message_wire(uint16_t line, const std::string& text) {
  Bytes data(text.begin(), text.end());
  data.resize(kDisplayTextFieldSize, 0);
  return cat(
      {{static_cast<uint8_t>(line), static_cast<uint8_t>(line >> 8), 2, 0, 3, 4, 5, 1}, data});
}

uint32_t display(Packet& r, uint16_t count) {
  std::vector<nax_display_message> messages;
  for (uint16_t k = 0; k < count; ++k) messages.push_back(message(k, "m"));
  return encode_display_msg_p2(r, count, messages.data(), 0);
}

Bytes display_wire(uint16_t count) {
  Bytes out = {static_cast<uint8_t>(count), 0, 0, 0, 0, 0};
  for (uint16_t k = 0; k < count; ++k) out = cat({out, message_wire(k, "m")});
  return out;
}

INSTANTIATE_TEST_SUITE_P(
    Answer, CodecRequest,
    testing::Values(
        RequestRow("UserAllAuxEmptyEndsAfterPrintEnable",
                   CALL(send_with(r, [](nax_user_event_answer&) {})), 1, 0x8050,
                   cat({kHead, {0x00}})),
        RequestRow("UserOnlyAux3KeepsItsNumber",
                   CALL(send_with(r, [](nax_user_event_answer& a) { fill(a.aux3, "Hi"); })), 1,
                   0x8050, cat({kHead, {0x00, 0x03}, lp("Hi")})),
        RequestRow("UserPrintEnableFFSentAs1",
                   CALL(send_with(r, [](nax_user_event_answer& a) { a.print_enable = 0xFF; })), 1,
                   0x8050, cat({kHead, {0x01}})),
        RequestRow("UserPrintEnable2SentAs0",
                   CALL(send_with(r, [](nax_user_event_answer& a) { a.print_enable = 0x02; })), 1,
                   0x8050, cat({kHead, {0x00}})),
        RequestRow("UserSlotsInAscendingOrder",
                   CALL(send_with(r,
                                  [](nax_user_event_answer& a) {
                                    fill(a.aux9, "Z");
                                    fill(a.aux0, "Welcome");
                                  })),
                   1, 0x8050, cat({kHead, {0x00, 0x00}, lp("Welcome"), {0x09}, lp("Z")})),
        // The slot is cut in the host's record too.
        RequestRow(
            "UserAux45CharsNoNulSent44",
            [](Packet& r) {
              nax_user_event_answer a = base_answer();
              fill(a.aux1, std::string(45, 'w'));
              const uint32_t status = send(r, a);
              return ok_if(std::string(a.aux1) == std::string(44, 'w'), status);
            },
            1, 0x8050, cat({kHead, {0x00, 0x01}, lp(std::string(44, 'w'))})),
        RequestRow("UserExactly512Accepted", CALL(send_with(r, fill_to_512)), 1, 0x8050,
                   full_size_wire()),
        RequestRow("UserOver512Refused",
                   CALL(send_with(r,
                                  [](nax_user_event_answer& a) {
                                    fill_to_512(a);
                                    a.user.mask |= NAX_USER_ST;
                                  })),
                   1037, 0, {}),
        // A refused answer cuts nothing in the host's record.
        RequestRow("UserOver512RefusedCutsNothing",
                   [](Packet& r) {
                     nax_user_event_answer a = base_answer();
                     fill_to_512(a);
                     std::memset(a.aux9, 'z', sizeof a.aux9);
                     const uint32_t status = send(r, a);
                     return ok_if(a.aux9[44] == 'z', status);
                   },
                   1037, 0, {}),
        // The text is cut in the host's record too.
        RequestRow(
            "DisplayData50NoNulSent49",
            [](Packet& r) {
              nax_display_message m = message(1, std::string(50, 'd'));
              const uint32_t status = encode_display_msg_p2(r, 1, &m, 0);
              return ok_if(std::string(m.data) == std::string(49, 'd'), status);
            },
            1, 0x8110, cat({{1, 0, 0, 0, 0, 0}, message_wire(1, std::string(49, 'd'))})),
        RequestRow(
            "DisplayOneMessageTimerMinus1",
            [](Packet& r) {
              nax_display_message m = message(0x0201, "Hello");
              return encode_display_msg_p2(r, 1, &m, -1);
            },
            1, 0x8110, cat({{1, 0, 0xFF, 0xFF, 0xFF, 0xFF}, message_wire(0x0201, "Hello")})),
        // 6 + 58 × 8 = 470 bytes; a ninth message passes 512.
        RequestRow("DisplayEightMessagesFit", CALL(display(r, 8)), 1, 0x8110, display_wire(8)),
        RequestRow("DisplayNineRefused", CALL(display(r, 9)), 1037, 0, {})),
    row_name<RequestRow>);

TEST(UserEventAnswerRequest, P1IsEmptyWithStatusOne) {
  Packet request;
  std::memset(&request, 0xCC, sizeof request);
  encode_answer_user_event_p1(request);
  EXPECT_EQ(request.cmd, 0x0012);
  EXPECT_EQ(request.size, 0);
  EXPECT_EQ(request.status, 1);
}

Decoder word = into(uint16_t{0}, decode_display_msg_p2);

INSTANTIATE_TEST_SUITE_P(
    Answer, CodecAnswer,
    testing::Values(AnswerRow("DisplayWord", 1, {0x34, 0x12}, word, 1, "4660"),
                    AnswerRow("DisplayMissingWord", 1, {0x34}, word, 1029, "0"),
                    AnswerRow("DisplayRefused", 3, {0x34, 0x12}, word, 3, "0")),
    row_name<AnswerRow>);

}  // namespace
}  // namespace nax::codec_test
