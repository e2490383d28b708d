// Link engine internals shared by open/close, the reception thread, the
// transaction, the settings and the listener.
#pragma once

#include <atomic>
#include <cstdint>

#include "link/registry.h"
#include "proto/packet.h"

namespace nax {

// Transaction flags.
enum : uint32_t { kTxSend = 1, kTxWait = 2, kTxSendWait = 3 };

// Incoming command codes the reception thread recognises.
inline constexpr uint16_t kP1UserEvent = 0x0012;
inline constexpr uint16_t kP2UserEvent = 0x8050;
inline constexpr uint16_t kP2AuxInputEvent = 0x8051;
inline constexpr uint16_t kP1Keepalive = 0x3000;
inline constexpr uint16_t kP2Keepalive = 0x8200;

inline constexpr uint32_t kDefaultTimeoutMs = 3000;
inline constexpr uint32_t kDefaultInterbyteMs = 1000;
inline constexpr uint32_t kThreadStartWaitMs = 10000;
inline constexpr uint32_t kRetryPauseMs = 100;

// One request/answer exchange on a held link.  answer may be null without kTxWait.
uint32_t transaction(Link* link, uint16_t des_node, const Packet& request, Packet* answer,
                     uint32_t flags);
// Reception thread side of the mailbox: copy, then signal.
uint32_t answer_handover(Link* link, const Packet& packet);

// Creates the link's locks and events, starts its reception thread and waits
// up to 10 s for it to run.  The creator then gives the link its first state
// and calls link_ready; until then the thread leaves the link alone.
uint32_t create_reception_thread(Link* link, uint32_t link_id);
void link_ready(Link* link, uint32_t state);
// wait: stop and join the reception thread and free the link (host close);
// without: mark closing, close the transport, release (the thread's own close).
uint32_t close_link(uint32_t link_id, bool wait, const char* context);

// Library-wide keepalive settings (keepalive.cc): written only while the library
// is not initialised, read without a lock by every reception thread.
struct KeepaliveSettings {
  std::atomic<uint32_t> timeout_ms{0};  // 0 disables keepalives
  std::atomic<uint32_t> retries{0};
  std::atomic<uint16_t> dest_node{0xFFFF};
};
KeepaliveSettings& keepalive();

// A reception thread's keepalive clock: a quiet link sends keepalives and is
// given up when as many as the retry count went unanswered.
class KeepaliveClock {
 public:
  KeepaliveClock();
  // How long the next read may wait before a keepalive can be due.
  static uint32_t read_timeout();
  // Any complete frame: the link is alive.
  void frame_received();
  // After a failed read: sends a keepalive when one is due; 1063 gives the link up.
  uint32_t quiet(uint32_t link_id, uint32_t read_status);

 private:
  uint64_t last_activity_ms_;  // monotonic
  uint32_t retries_done_ = 0;
};

// Closes the listener and every link as nax_close_listen and nax_close do, and
// returns once every link is freed and every library thread has ended.
void close_everything();

// The link whose reception thread is the calling thread (0 on any other
// thread), and whether the calling thread is the listen thread: a close from
// there would wait for the calling thread itself.
uint32_t current_reception_link();
bool on_listen_thread();

// Port the listener is bound to (the system's choice when it was asked for port 0).
uint16_t listener_port();

}  // namespace nax
