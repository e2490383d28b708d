// The link record and the registry that maps link ids to link records,
// counts their holders and frees them once nobody holds them.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "platform/platform.h"
#include "platform/serial.h"
#include "platform/socket.h"
#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax {

enum : uint8_t { kDeviceSerial = 1, kDeviceTcp = 2 };

struct Link {
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
  // Set by the creator once the link has its first state, or by a close: until then the
  // reception thread must not close the link under its creator.
  std::unique_ptr<platform::Event> ready_event;  // manual reset
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

  Packet answer{};
  // Set once the transport is closed; the socket or port itself stays open for a
  // thread still waiting on it and is closed when the record is freed.
  std::atomic<bool> transport_closed{false};
};

// Registry lifetime (nax_init / nax_uninit).
uint32_t registry_create();
uint32_t registry_destroy();

uint32_t link_alloc(Link** link, uint32_t* link_id);
inline constexpr uint32_t kWaitLinkTimeouts = 1;  // AcquireOptions::wait: max(rcv, snd) time-out

// What link_acquire asks of the link; the zero value takes a link in any state that
// nobody holds, changes nothing and does not wait.
struct AcquireOptions {
  uint32_t states = 0;     // link states accepted; 0: any
  uint32_t new_state = 0;  // stored once the link is taken; 0: unchanged
  uint32_t max_holds = 0;  // holders that may already have it; 0: exclusive
  // While more hold it: 0 fails at once; otherwise three pauses, of max(rcv, snd)
  // time-out for kWaitLinkTimeouts or of this many ms, then 1051.
  uint32_t wait = 0;
};
uint32_t link_acquire(uint32_t link_id, Link** link, const AcquireOptions& options);
// Commands and per-link setters: open or accepted links, exclusive, waiting.
uint32_t link_get(uint32_t link_id, Link** link);
uint32_t link_release(uint32_t link_id);
uint32_t link_free(uint32_t link_id);

// Forms called from exported functions: 1034 when the library is not initialised.
uint32_t is_initialised();

inline constexpr uint32_t kStatesCommands = LINK_OPEN | LINK_ACCEPTED;
inline constexpr uint32_t kStatesClosable =
    LINK_OPENING | LINK_OPEN | LINK_INCOMING | LINK_ACCEPTED;
inline constexpr uint32_t kAnyHolds = 0xFFFFFFFFu;

// Links that exist (open, opening, incoming, accepted or still closing).
uint32_t registry_live_links();
// The lowest id above `after` whose link exists; 0 when there is none.
uint32_t registry_next_live(uint32_t after);
// Sleeps until every link is freed and every reception thread has ended.
void registry_wait_all_freed();

// Number of slots allocated and ever used, for tests and diagnostics.
struct RegistryStats {
  uint32_t capacity;
  uint32_t used;
  uint32_t free_count;
};
RegistryStats registry_get_stats();

}  // namespace nax
