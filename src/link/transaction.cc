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

// Waiting for an answer by watching the mailbox costs a core for as long as
// it lasts; blocking costs a wake-up, which on an idle machine is about what
// the node takes to answer.  So a waiter watches only while the answer is
// near: once the reception thread has nudged it because the first bytes of a
// frame arrived, or from the start when the link's own recent round trips
// (send to hand-off) are shorter than a wake-up.
constexpr uint32_t kNearWatchUs = 50;    // after a nudge: the rest of the frame and the hand-off
constexpr uint32_t kShortAnswerUs = 40;  // recent round trips below this: watch from the start
constexpr auto kYieldTaken = std::chrono::microseconds(20);  // another thread ran meanwhile

// Threads watching a mailbox now.  One core stays with the threads that
// deliver the answers, so at most cores - 1 watch at a time.
std::atomic<uint32_t> g_watching{0};

uint32_t cores() {
  static const uint32_t n = std::max(1u, std::thread::hardware_concurrency());
  return n;
}

// Watches for an answer newer than `seen` for up to budget_us, yielding the
// core between looks; gives up early when a yield shows that another thread
// wanted the core.  True when the answer came.
bool watch_for_answer(const nax_link* link, uint32_t seen, uint32_t budget_us) {
  if (budget_us == 0) return false;
  if (g_watching.fetch_add(1) + 1 >= cores()) {
    g_watching.fetch_sub(1);
    return false;
  }
  const auto until = Clock::now() + std::chrono::microseconds(budget_us);
  bool answered = false;
  for (;;) {
    if (link->answer_seq.load(std::memory_order_acquire) != seen) {
      answered = true;
      break;
    }
    const auto before = Clock::now();
    if (before >= until) break;
    std::this_thread::yield();
    if (Clock::now() - before > kYieldTaken) break;
  }
  g_watching.fetch_sub(1);
  return answered;
}

// Waits for an answer newer than `seen` within timeout_ms; false on time-out.
bool wait_for_answer(nax_link* link, uint32_t seen, uint32_t timeout_ms) {
  const uint32_t recent = link->recent_answer_us;
  if (recent != 0 && recent < kShortAnswerUs && watch_for_answer(link, seen, 2 * recent)) {
    return true;
  }
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  for (;;) {
    uint32_t left = timeout_ms;
    if (timeout_ms != platform::kWaitForever) {
      const auto now = Clock::now();
      if (now >= deadline) return false;
      left = static_cast<uint32_t>(
          std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count());
    }
    if (!link->answer_event->wait(left)) return false;
    if (link->answer_seq.load(std::memory_order_acquire) != seen) return true;
    // A nudge: the first bytes of a frame are in, the hand-off is microseconds away.
    if (watch_for_answer(link, seen, kNearWatchUs)) return true;
  }
}

// Smoothed over the last eight or so round trips.
void note_answer_time(nax_link* link, Clock::duration took) {
  const auto us = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
  const uint32_t sample = static_cast<uint32_t>(std::min<int64_t>(us, 1000000));
  const uint32_t old = link->recent_answer_us;
  link->recent_answer_us = old == 0 ? sample : old - old / 8 + sample / 8;
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
    const bool answered = wait_for_answer(link, seen, link->rcv_timeout.load());
    link->awaiting_answer = false;
    if (!answered) return NAX_ERR_NO_ANSWER;
    // Up to the hand-off, not to our wake-up: a waiter that blocked would
    // otherwise see its own wake-up as the node's time and never watch again.
    const Clock::time_point handed(Clock::duration(link->answered_at.load()));
    note_answer_time(link, (handed > sent ? handed : Clock::now()) - sent);
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
