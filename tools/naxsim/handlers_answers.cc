// The host's answers to user events (kept, never answered) and the display.
#include "handlers_answers.h"

#include "handlers_io.h"
#include "naxsim.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdDisplayP2 = 0x8110;
constexpr std::size_t kDisplayTextSize = 50;
constexpr std::size_t kAuxSlots = 10;
constexpr uint32_t kUserId = 0x0001;
constexpr uint32_t kUserPsw = 0x0002;
constexpr uint32_t kUserSt = 0x0004;
constexpr std::size_t kUserRecordHead = 6;  // length(2) mask(4)

void keep(Node& node, EventAnswer&& answer) {
  node.with_state<EventAnswers>([&](EventAnswers& answers) {
    answers.received.push_back(std::move(answer));
    return 0;
  });
}

bool user_event_answer_p1(Node& node, const nax::Packet&, nax::Packet&, int) {
  EventAnswer answer;
  answer.protocol = 1;
  keep(node, std::move(answer));
  return false;
}

// A malformed answer is kept as far as it could be read.
bool user_event_answer_p2(Node& node, const nax::Packet& request, nax::Packet&, int) {
  RequestReader in(request);
  EventAnswer answer;
  answer.protocol = 2;
  const std::string dt = in.bytes(7);
  if (in.ok()) {
    answer.date_time = {uint8_t(dt[0]), uint8_t(dt[1]), uint8_t(dt[2]), uint8_t(dt[5]),
                        uint8_t(dt[4]), uint8_t(dt[3]), uint8_t(dt[6])};
  }
  const uint16_t length = in.u16();
  answer.user_mask = in.u32();
  if (in.ok() && length >= kUserRecordHead) {
    const std::string fields = in.bytes(length - kUserRecordHead);
    answer.user_fields.assign(fields.begin(), fields.end());
    // The record opens with id(4), psw(2) and st(1), each there when its bit is set.
    std::size_t at = 0;
    if ((answer.user_mask & kUserId) && fields.size() >= 4) {
      answer.user_id = static_cast<uint32_t>(uint8_t(fields[0]) | uint8_t(fields[1]) << 8 |
                                             uint8_t(fields[2]) << 16) |
                       static_cast<uint32_t>(uint8_t(fields[3])) << 24;
      at = 4;
    }
    if (answer.user_mask & kUserPsw) at += 2;
    if ((answer.user_mask & kUserSt) && fields.size() > at) answer.user_st = uint8_t(fields[at]);
  }
  answer.print_enable = in.u8();
  while (in.ok() && in.remaining() > 0) {
    const uint8_t slot = in.u8();
    std::string text = in.length_prefixed();
    if (in.ok() && slot < kAuxSlots) answer.aux[slot] = std::move(text);
  }
  keep(node, std::move(answer));
  return false;
}

bool display(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t count = in.u16();
  const int32_t timer = static_cast<int32_t>(in.u32());
  std::vector<DisplayLine> lines(count);
  for (DisplayLine& line : lines) {
    line.line = in.u16();
    line.pos = in.u16();
    line.cmd_line = in.u8();
    line.cmd_pos = in.u8();
    line.font = in.u16();
    const std::string data = in.bytes(kDisplayTextSize);
    line.data = data.substr(0, data.find('\0'));
  }
  if (!in.ok() || in.remaining() != 0) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
    return true;
  }
  node.with_state<Display>([&](Display& shown) {
    shown.timer = timer;
    shown.lines = std::move(lines);
    ++shown.batches;
    return 0;
  });
  AnswerWriter out(answer);
  out.u16(count);
  return true;
}

const HandlerRegistration kUserEventAnswerP1(1, kCmdUserEventP1, user_event_answer_p1);
const HandlerRegistration kUserEventAnswerP2(2, kCmdUserEventP2, user_event_answer_p2);
const HandlerRegistration kDisplayP2(2, kCmdDisplayP2, display);

}  // namespace
}  // namespace naxsim
