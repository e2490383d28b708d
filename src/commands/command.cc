// The command pattern's shared steps.
#include "commands/command.h"

#include <cstring>

#include "link/link.h"

namespace nax {

LinkHold::LinkHold(int32_t link_id) : link_id_(link_id) {
  status_ = link_get(static_cast<uint32_t>(link_id), &link_);
}

LinkHold::~LinkHold() {
  if (status_ == NAX_OK) link_release(static_cast<uint32_t>(link_id_));
}

bool LinkHold::p1() const {
  return link_->packet_protocol.load() == 1;
}

uint32_t exchange(Link* link, uint16_t node, const Packet& request, Packet& answer) {
  return transaction(link, node, request, &answer, kTxSendWait);
}

uint32_t send_only(Link* link, uint16_t node, const Packet& request) {
  return transaction(link, node, request, nullptr, kTxSend);
}

void begin_request(Packet& request, uint16_t cmd) {
  request.sou_node = 0;
  request.des_node = 0;
  request.cmd = cmd;
  request.size = 0;
  request.status = 0;
}

void end_request(Packet& request, const uint8_t* cursor) {
  request.size = static_cast<uint16_t>(cursor - request.data);
}

uint32_t decode_result_byte(const Packet& answer) {
  if (answer.size < 1) return NAX_ERR_SHORT_ANSWER;
  return answer.data[0];
}

}  // namespace nax
