// Link engine internals shared by open/close, the reception thread, the
// transaction, the settings and the listener.
#pragma once

#include <cstdint>

#include "core/registry.h"
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
uint32_t transaction(nax_link* link, uint16_t des_node, const nax_packet& request,
                     nax_packet* answer, uint32_t flags);
// Reception thread side of the mailbox: copy, then signal.
uint32_t answer_handover(nax_link* link, const nax_packet& packet);
// Tells a waiting transaction, once, that the first bytes of a frame are in.
void answer_nudge(nax_link* link);

// Creates the link's locks and events, starts its reception thread and waits
// up to 10 s for it to run.
uint32_t create_reception_thread(nax_link* link, uint32_t link_id);
// wait: stop and join the reception thread and free the link (host close);
// without: mark closing, close the transport, release (the thread's own close).
uint32_t close_link(uint32_t link_id, bool wait, const char* context);

// Closes the listener and every link as nax_close_listen and nax_close do, and
// returns once every link is freed and every library thread has ended.
void close_everything();

// Sends one keepalive on the link without waiting for an answer.
uint32_t send_keepalive(uint32_t link_id, uint16_t des_node);

// The link whose reception thread is the calling thread (0 on any other
// thread), and whether the calling thread is the listen thread: a close from
// there would wait for the calling thread itself.
uint32_t current_reception_link();
bool on_listen_thread();

// Port the listener is bound to (the system's choice when it was asked for port 0).
uint16_t listener_port();

}  // namespace nax
