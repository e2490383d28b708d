// The link record and the registry that maps link ids to link records,
// counts their holders and frees them once nobody holds them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "core/wait_policy.h"
#include "platform/platform.h"
#include "platform/serial.h"
#include "platform/socket.h"
#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

enum : uint8_t { kDeviceSerial = 1, kDeviceTcp = 2 };

struct nax_link {
  std::atomic<uint8_t> packet_protocol{0};
  uint8_t device_type = 0;
  std::atomic<platform::Socket> socket{platform::kNoSocket};
  uint32_t port = 0;                   // listener port a node connected in on; 0 otherwise
  std::atomic<bool> unclaimed{false};  // counted among the listener's unclaimed links
  platform::Ipv4Address peer_addr{};   // address nax_open connects to
  std::atomic<uint32_t> link_state{0};
  int32_t os_error = 0;

  platform::Thread rx_thread;
  std::unique_ptr<platform::Event> stop_event;     // manual reset; waitable for serial ports
  std::unique_ptr<platform::Event> started_event;  // manual reset
  platform::SerialPort handle = platform::kNoSerialPort;
  platform::SerialSaved saved_settings{};

  std::unique_ptr<platform::Mutex> tx_mutex;
  std::unique_ptr<platform::Mutex> answer_mutex;
  std::unique_ptr<platform::Event> answer_event;  // auto reset

  char* device_name = nullptr;
  char* device_param = nullptr;

  std::atomic<uint16_t> source_node{0};
  std::atomic<uint32_t> rcv_timeout{0};
  std::atomic<uint32_t> snd_timeout{0};
  std::atomic<uint32_t> interbyte_timeout{0};
  std::atomic<nax_user_callback> callback_user{nullptr};
  std::atomic<nax_aux_input_callback> callback_aux_input{nullptr};
  std::atomic<nax_conn_callback> callback_conn{nullptr};
  std::atomic<void*> callback_args{nullptr};

  nax_packet answer{};
  // Counts the answers handed over, so that a waiter can tell one from a nudge.
  std::atomic<uint32_t> answer_seq{0};
  // Set while a transaction waits: the first bytes of the next frame nudge it.
  std::atomic<bool> awaiting_answer{false};
  AnswerWaitPolicy wait_policy;  // under tx_mutex
  // When the reception thread handed over the last answer (steady clock ticks): a
  // round trip measured up to there leaves out the waiter's own wake-up.
  std::atomic<int64_t> answered_at{0};
  // Set once the socket is shut down; the socket itself stays open for a
  // thread still waiting on it and is closed when the record is freed.
  std::atomic<bool> socket_shut{false};
};

// Registry lifetime (nax_init / nax_uninit).
uint32_t registry_create();
uint32_t registry_destroy();

uint32_t link_alloc(nax_link** link, uint32_t* link_id);
// Takes the link when it is in one of the states of state_mask (kAnyState: any) and at most
// max_holds others hold it, then sets new_state (kKeepState: none).  A held link is retried
// up to three times after a pause: wait_mode kNoWait fails at once, kWaitLinkTimeouts pauses
// max(rcv, snd) time-out, any other value pauses that many ms.
uint32_t link_acquire(uint32_t link_id, nax_link** link, uint32_t state_mask, uint32_t new_state,
                      uint32_t max_holds, uint32_t wait_mode);
// Commands and per-link setters: open or accepted links, exclusive, waiting.
uint32_t link_get(uint32_t link_id, nax_link** link);
uint32_t link_release(uint32_t link_id);
uint32_t link_free(uint32_t link_id);

// Forms called from exported functions: 1034 when the library is not initialised.
uint32_t is_initialised();

inline constexpr uint32_t kStatesCommands = LINK_OPEN | LINK_ACCEPTED;
inline constexpr uint32_t kStatesClosable =
    LINK_OPENING | LINK_OPEN | LINK_INCOMING | LINK_ACCEPTED;
// Arguments of link_acquire, named so that each call site reads as what it asks for.
inline constexpr uint32_t kAnyState = 0;   // state_mask: a link in any state
inline constexpr uint32_t kKeepState = 0;  // new_state: link_state left as it is
inline constexpr uint32_t kExclusive = 0;  // max_holds: nobody else may hold the link
inline constexpr uint32_t kAnyHolds = 0xFFFFFFFFu;
inline constexpr uint32_t kNoWait = 0;            // wait_mode: fail at once when held
inline constexpr uint32_t kWaitLinkTimeouts = 1;  // wait_mode: pause max(rcv, snd) time-out

// Links that exist (open, opening, incoming, accepted or still closing).
uint32_t registry_live_links();
// The lowest id above `after` whose link exists; 0 when there is none.
uint32_t registry_next_live(uint32_t after);
// Sleeps until every link is freed and every reception thread has ended.
void registry_wait_all_freed();

// Number of slots allocated and ever used, for tests and diagnostics.
struct registry_stats {
  uint32_t capacity;
  uint32_t used;
  uint32_t free_count;
};
registry_stats registry_get_stats();

}  // namespace nax
