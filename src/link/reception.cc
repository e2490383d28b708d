// The reception thread: the only reader of a link's transport.  It assembles
// frames, hands answers to the waiting command, calls the host back for
// events, keeps quiet links alive and closes a link that died by itself.
#include <algorithm>

#include "commands/events.h"
#include "core/lifecycle.h"
#include "core/log.h"
#include "link/link.h"
#include "link/transport.h"
#include "platform/platform.h"
#include "proto/frame.h"

namespace nax {
namespace {

struct Reception {
  uint32_t link_id;
  Link* link = nullptr;
  FrameAssembler assembler{};
  Packet packet{};
  nax_conn_callback callback_conn = nullptr;
  void* callback_args = nullptr;
  KeepaliveClock keepalive_clock;
  uint64_t started_ms = 0;  // monotonic
  bool closed_unclaimed = false;

  // How long a link that a node opened by connecting in may still wait for the
  // host to claim it; kWaitForever when no such bound applies.
  uint32_t claim_time_left() const {
    if (link->port == 0) return platform::kWaitForever;  // opened by the host
    const uint32_t state = link->link_state.load();
    if (state != LINK_OPENING && state != LINK_INCOMING) return platform::kWaitForever;
    const uint32_t timeout = listen_limits().claim_timeout_ms.load();
    if (timeout == 0) return platform::kWaitForever;
    const uint64_t elapsed = platform::monotonic_ms() - started_ms;
    return elapsed >= timeout ? 0 : static_cast<uint32_t>(timeout - elapsed);
  }

  // Closes the link unless the host claimed it meanwhile or is claiming it now.
  bool close_unclaimed() {
    Link* held = nullptr;
    if (link_acquire(link_id, &held, {.states = LINK_INCOMING, .new_state = LINK_CLOSING}) !=
        NAX_OK) {
      return false;
    }
    log_printf(1, "rthr", "link id = %d not claimed within %u mS, closed", link_id,
               listen_limits().claim_timeout_ms.load());
    transport_of(link).close(link);
    link_release(link_id);
    return true;
  }

  void reset() {
    assembler_reset(assembler, link->packet_protocol.load(), KeepaliveClock::read_timeout());
  }

  void dispatch() {
    const bool p1 = link->packet_protocol.load() == 1;
    const uint16_t cmd = packet.cmd;
    if (cmd == (p1 ? kP1UserEvent : kP2UserEvent)) {
      nax_user_callback callback = link->callback_user.load();
      if (callback == nullptr) return;
      nax_user_event event{};
      uint32_t status =
          p1 ? decode_user_event_p1(packet, event) : decode_user_event_p2(packet, event);
      if (status == NAX_OK) {
        callback(link->callback_args.load(), static_cast<int32_t>(link_id), packet.sou_node,
                 &event);
      }
    } else if (!p1 && cmd == kP2AuxInputEvent) {
      nax_aux_input_callback callback = link->callback_aux_input.load();
      if (callback == nullptr) return;
      nax_aux_input_event event{};
      if (decode_aux_input_event_p2(packet, event) == NAX_OK) {
        callback(link->callback_args.load(), static_cast<int32_t>(link_id), packet.sou_node,
                 &event);
      }
    } else if (cmd == (p1 ? kP1Keepalive : kP2Keepalive)) {
      // Absorbed: any complete frame already counts as activity.
    } else if (packet.des_node == link->source_node.load()) {
      answer_handover(link, packet);
    }
  }

  uint32_t run() {
    uint32_t status = NAX_OK;
    for (;;) {
      FrameAssembler& a = assembler;
      uint32_t count = 0;
      // An unclaimed link's wait ends at its claim deadline; once past it, while
      // nax_accept holds the link, it is retried a pause later.
      const uint32_t claim_left = claim_time_left();
      const uint32_t wait_ms =
          std::min(a.read_timeout, claim_left == 0 ? kRetryPauseMs : claim_left);
      const bool cut_short = wait_ms < a.read_timeout;
      status = transport_of(link).receive(link, wait_ms, a.buffer + a.write_pos, a.need, &count);
      a.fresh = count;
      log_printf(1, "rthr", "receive data for the link id = %d, size = %d, ret_val = %d", link_id,
                 count, status);
      log_hex("rthr", a.buffer + a.write_pos, count);  // "empty" when the read brought nothing
      if (status == NAX_OK) {
        const uint8_t protocol = link->packet_protocol.load();
        uint32_t parsed = parse_frame(a, protocol);
        if (parsed == kAsmHunting || parsed == kAsmHeader || parsed == kAsmBody) {
          a.read_timeout = std::max(link->interbyte_timeout.load(), kRetryPauseMs);
          assembler_make_room(a);
        } else if (parsed == kAsmComplete) {
          frame_to_packet(a, protocol, packet);
          log_printf(1, "rthr",
                     "new packet link id = %d, node_source = %04x, cmd = %04x, status = %04x, "
                     "size = %04x",
                     link_id, packet.sou_node, packet.cmd, packet.status, packet.size);
          keepalive_clock.frame_received();
          dispatch();
          reset();
        } else {
          reset();
        }
      } else if (status == NAX_ERR_TIMEOUT && cut_short) {
        // Not a quiet period of its own: the claim deadline ended the wait.
      } else {
        if (status == NAX_ERR_CONN_CLOSED) break;
        if (keepalive_clock.quiet(link_id, status) == NAX_ERR_NODE_LOST) {
          status = NAX_ERR_NODE_LOST;
          break;
        }
        if (link->stop_event->is_set()) break;
        platform::sleep_ms(kRetryPauseMs);
        reset();
      }
      if (claim_time_left() == 0 && close_unclaimed()) {
        closed_unclaimed = true;
        status = NAX_ERR_CONN_CLOSED;
        break;
      }
      if (link->stop_event->is_set()) break;
    }
    return status;
  }

  void exit(uint32_t status) {
    log_printf(1, "rthr", "exit thread for link id = %d", link_id);
    if (link == nullptr || link->stop_event->is_set()) return;
    if (closed_unclaimed) {
      // Closed above already; nobody is waiting on an unclaimed link.
      link_free(link_id);
      return;
    }
    if (status == NAX_ERR_CONN_CLOSED || status == NAX_ERR_NODE_LOST) {
      packet.status = static_cast<uint16_t>(status);
      answer_handover(link, packet);
    }
    if (close_link(link_id, false, "rthr") == NAX_ERR_LINK_STATE) return;
    if (callback_conn != nullptr) {
      callback_conn(callback_args, static_cast<int32_t>(link_id),
                    status == NAX_ERR_NODE_LOST ? NAX_CONN_NO_KEEPALIVE : NAX_CONN_LOST);
    }
    link_free(link_id);
  }
};

}  // namespace

namespace {
thread_local uint32_t t_reception_link = 0;
}  // namespace

uint32_t current_reception_link() {
  return t_reception_link;
}

// The longest a creator may take between the started signal and the link's first state.
constexpr uint32_t kSetupWaitMs = 10000;

void reception_thread_main(uint32_t link_id) {
  t_reception_link = link_id;
  Reception r;
  r.link_id = link_id;
  log_printf(1, "rthr", "init thread for link id = %d", link_id);
  Link* link = nullptr;
  uint32_t status = link_acquire(link_id, &link, {});
  if (status != NAX_OK) {
    r.exit(status);
    return;
  }
  r.callback_conn = link->callback_conn.load();
  r.callback_args = link->callback_args.load();
  link_release(link_id);
  // The record stays alive without a hold: closing waits for this thread.
  r.link = link;
  r.reset();
  r.started_ms = platform::monotonic_ms();
  link->started_event->set();
  // Whoever started this thread (nax_open, the listener) finishes setting the link up
  // after the signal; a node that hangs up at once must not have the link closed and
  // freed under it.
  link->ready_event->wait(kSetupWaitMs);
  r.exit(r.run());
}

}  // namespace nax
