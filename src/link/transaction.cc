// Request/answer transaction over a link's one-slot answer mailbox.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

#include "core/log.h"
#include "link/link.h"
#include "proto/frame.h"
#include "transport/transport.h"

namespace nax {
namespace {

using Clock = std::chrono::steady_clock;

// Whether a wait watches from the start is the link's wait policy's choice
// (core/wait_policy.h).  A blocked waiter is nudged by the reception thread
// when the first bytes of a frame arrive, and then watches for the rest of the
// frame and the hand-off, so that its wake-up overlaps them.
constexpr uint32_t kNearWatchUs = 50;
constexpr auto kYieldTaken = std::chrono::microseconds(20);  // another thread ran meanwhile

// Threads watching a mailbox now.  One core stays with the threads that
// deliver the answers, so at most cores - 1 watch at a time.
std::atomic<uint32_t> g_watching{0};

uint32_t cores() {
  static const uint32_t n = std::max(1u, std::thread::hardware_concurrency());
  return n;
}

enum class Watched { no, missed, answered };

// Watches for an answer newer than `seen` for up to budget_us, yielding the
// core between looks; gives up early when a yield shows that another thread
// wanted the core.  `no` when no core was free for watching.
Watched watch_for_answer(const nax_link* link, uint32_t seen, uint32_t budget_us) {
  if (g_watching.fetch_add(1) + 1 >= cores()) {
    g_watching.fetch_sub(1);
    return Watched::no;
  }
  const auto until = Clock::now() + std::chrono::microseconds(budget_us);
  Watched result = Watched::missed;
  for (;;) {
    if (link->answer_seq.load(std::memory_order_acquire) != seen) {
      result = Watched::answered;
      break;
    }
    const auto before = Clock::now();
    if (before >= until) break;
    std::this_thread::yield();
    if (Clock::now() - before > kYieldTaken) break;
  }
  g_watching.fetch_sub(1);
  return result;
}

// Waits for an answer newer than `seen` within timeout_ms; false on time-out.
// *watched says whether the wait watched from the start.
bool wait_for_answer(nax_link* link, uint32_t seen, uint32_t timeout_ms, Watched* watched) {
  *watched = Watched::no;
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  // No watch outlasts the time-out.
  auto within_timeout = [&](uint32_t budget_us) -> uint32_t {
    if (timeout_ms == platform::kWaitForever) return budget_us;
    const auto left =
        std::chrono::duration_cast<std::chrono::microseconds>(deadline - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<uint32_t>(std::min<int64_t>(budget_us, left));
  };
  if (const uint32_t budget = within_timeout(link->wait_policy.watch_budget_us()); budget != 0) {
    *watched = watch_for_answer(link, seen, budget);
    if (*watched == Watched::answered) return true;
  }
  for (;;) {
    uint32_t left = timeout_ms;
    if (timeout_ms != platform::kWaitForever) {
      left = platform::ms_until(deadline);
      if (left == 0) return false;
    }
    if (!link->answer_event->wait(left)) return false;
    if (link->answer_seq.load(std::memory_order_acquire) != seen) return true;
    // A nudge: the first bytes of a frame are in, the hand-off is microseconds away.
    const uint32_t near_us = within_timeout(kNearWatchUs);
    if (near_us != 0 && watch_for_answer(link, seen, near_us) == Watched::answered) return true;
  }
}

uint32_t send_request(nax_link* link, uint16_t des_node, uint16_t sou_node,
                      const nax_packet& request) {
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
  return transport_send(link, frame, length);
}

}  // namespace

uint32_t answer_handover(nax_link* link, const nax_packet& packet) {
  {
    platform::MutexLock lock(*link->answer_mutex);
    std::memcpy(&link->answer, &packet, sizeof packet);
    link->answer_seq.fetch_add(1, std::memory_order_release);
  }
  link->answered_at.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
  link->answer_event->set();
  return NAX_OK;
}

void answer_nudge(nax_link* link) {
  if (link->awaiting_answer.load(std::memory_order_relaxed) &&
      link->awaiting_answer.exchange(false) && link->answer_event) {
    link->answer_event->set();
  }
}

uint32_t transaction(nax_link* link, uint16_t des_node, const nax_packet& request,
                     nax_packet* answer, uint32_t flags) {
  if (!link->tx_mutex || !link->answer_mutex || !link->answer_event) return NAX_ERR_MUTEX_WAIT;
  platform::MutexLock tx(*link->tx_mutex);
  uint32_t seen;
  {
    platform::MutexLock lock(*link->answer_mutex);
    link->answer_event->reset();
    seen = link->answer_seq.load(std::memory_order_relaxed);
  }
  const auto sent = Clock::now();
  if (flags & kTxWait) link->awaiting_answer = true;
  if (flags & kTxSend) {
    uint32_t status = send_request(link, des_node, link->source_node.load(), request);
    if (status != NAX_OK) {
      link->awaiting_answer = false;
      return status;
    }
  }
  if (flags & kTxWait) {
    Watched watched = Watched::no;
    const bool answered = wait_for_answer(link, seen, link->rcv_timeout.load(), &watched);
    link->awaiting_answer = false;
    if (watched == Watched::no) {
      link->wait_policy.note_not_watched();
    } else if (answered) {
      // Up to the hand-off, not to our wake-up: a watch that missed and then
      // blocked would otherwise count its own wake-up as the node's time.
      const Clock::time_point handed(Clock::duration(link->answered_at.load()));
      const auto took = (handed > sent ? handed : Clock::now()) - sent;
      const auto us = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
      link->wait_policy.note_watched(static_cast<uint32_t>(std::clamp<int64_t>(us, 0, 1000000)));
    } else {
      link->wait_policy.note_watched(1000000);  // no answer at all: surely not quick
    }
    if (!answered) return NAX_ERR_NO_ANSWER;
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
