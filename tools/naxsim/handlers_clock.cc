// The node's clock: get and set time in both protocols.
#include "naxsim.h"
#include "wire.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdTimeP1 = 0x0002;
constexpr uint16_t kCmdGetTimeP2 = 0x8033;
constexpr uint16_t kCmdSetTimeP2 = 0x8034;
constexpr uint8_t kSetTimeP1 = 0x01;
constexpr uint16_t kSetTimeP1Size = 8;  // flag and seven packed-BCD fields; a trailing 0 unused

// Protocol 1 puts get and set under one code: an empty request reads the clock, a request
// starting with 0x01 sets it.  Fields are packed BCD in the order h m s D M Y wd.
bool time_p1(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  const uint8_t* in = request.data;
  if (request.size > 0 && in[0] == kSetTimeP1) {
    nax_date_time time{};
    if (request.size >= kSetTimeP1Size) {
      time.hour = from_bcd(in[1]);
      time.minute = from_bcd(in[2]);
      time.second = from_bcd(in[3]);
      time.day = from_bcd(in[4]);
      time.month = from_bcd(in[5]);
      time.year = from_bcd(in[6]);
      time.weekday = from_bcd(in[7]);
    }
    if (request.size < kSetTimeP1Size || !node.set_time(time)) {
      refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
      return true;
    }
    answer.data[0] = kResultDone;
    answer.size = 1;
    return true;
  }
  const nax_date_time now = node.time();
  uint8_t* out = answer.data;
  out[0] = kResultDone;
  out[1] = to_bcd(now.hour);
  out[2] = to_bcd(now.minute);
  out[3] = to_bcd(now.second);
  out[4] = to_bcd(now.day);
  out[5] = to_bcd(now.month);
  out[6] = to_bcd(now.year);
  out[7] = to_bcd(now.weekday);
  answer.size = 8;
  return true;
}

bool get_time_p2(Node& node, const nax::Packet&, nax::Packet& answer, int) {
  put_date_time(answer.data, node.time());
  answer.size = kDateTimeSize;
  return true;
}

bool set_time_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  nax_date_time time{};
  if (!get_date_time(request.data, request.size, time) || !node.set_time(time)) {
    refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
  }
  return true;
}

const HandlerRegistration kTimeP1(1, kCmdTimeP1, time_p1);
const HandlerRegistration kGetTimeP2(2, kCmdGetTimeP2, get_time_p2);
const HandlerRegistration kSetTimeP2(2, kCmdSetTimeP2, set_time_p2);

}  // namespace
}  // namespace naxsim
