// Request/answer transaction over a link's one-slot answer mailbox.
#include <cstring>

#include "core/log.h"
#include "link/link.h"
#include "link/transport.h"
#include "proto/frame.h"

namespace nax {
namespace {

uint32_t send_request(Link* link, uint16_t des_node, uint16_t sou_node, const Packet& request) {
  uint8_t frame[kFrameBufferSize];
  std::size_t length;
  if (link->packet_protocol.load() == 2) {
    length = build_frame_p2(des_node, sou_node, request, frame, sizeof frame);
  } else {
    length = build_frame_p1(des_node, sou_node, request, frame, sizeof frame);
    if (length != 0 && log_enabled(2)) {
      log_printf(2, "pin1",
                 "des_node = %04x, sou_node = %04x, seq_numb = %02x, index_size = %02x, crc8 = "
                 "%02x, cmd = %04x",
                 des_node, sou_node, frame[4], frame[5], frame[6], request.cmd);
    }
  }
  // Commands refuse oversized requests before they get here; never send a cut frame.
  if (length == 0) return NAX_ERR_INVALID_ARG;
  log_hex("pbuf", frame, length);
  return transport_of(link).send(link, frame, length);
}

}  // namespace

uint32_t answer_handover(Link* link, const Packet& packet) {
  {
    platform::MutexLock lock(*link->answer_mutex);
    std::memcpy(&link->answer, &packet, sizeof packet);
  }
  link->answer_event->set();
  return NAX_OK;
}

uint32_t transaction(Link* link, uint16_t des_node, const Packet& request, Packet* answer,
                     uint32_t flags) {
  if (!link->tx_mutex || !link->answer_mutex || !link->answer_event) return NAX_ERR_MUTEX_WAIT;
  platform::MutexLock tx(*link->tx_mutex);
  {
    platform::MutexLock lock(*link->answer_mutex);
    link->answer_event->reset();
  }
  if (flags & kTxSend) {
    uint32_t status = send_request(link, des_node, link->source_node.load(), request);
    if (status != NAX_OK) return status;
  }
  if (flags & kTxWait) {
    // One deadline from here, after the send.  The reception thread's hand-off, the
    // link's close (which hands over 1061) or the deadline ends the wait; with a
    // time-out of 0 the wait still takes an answer that is already there.
    if (!link->answer_event->wait(link->rcv_timeout.load())) return NAX_ERR_NO_ANSWER;
    {
      platform::MutexLock lock(*link->answer_mutex);
      std::memcpy(answer, &link->answer, sizeof *answer);
    }
    if (answer->status == NAX_ERR_CONN_CLOSED || answer->status == NAX_ERR_NODE_LOST) {
      return answer->status;
    }
    if (answer->sou_node != des_node) return NAX_ERR_OTHER_NODE;
    if ((flags & kTxSend) && answer->cmd != request.cmd) return NAX_ERR_OTHER_COMMAND;
  }
  return NAX_OK;
}

}  // namespace nax
