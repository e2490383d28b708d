// naxsim: a simulated node that hosts talk to, for tests and for host development.
//
// Transports, all served by one loop thread and all alike once connected:
// - TCP server: hosts connect to the simulator's listener (the default).
// - TCP client: the node connects in to a host's listener (connect_to).
// - Serial: the master side of a pseudo-terminal; the host opens the slave side by its
//   device path as a serial port (open_serial).
//
// Behaviour on the wire:
// - A simulated node answers requests addressed to its own number or to 0xFFFF and ignores
//   the rest.  An answer goes back with sou_node = the request's des_node, des_node = the
//   request's sou_node and the request's command code; protocol 2 answers carry the node's
//   status word (1 = done).
// - A command nobody handles is refused: protocol 2 status kStatusUnknownCommand (2),
//   protocol 1 result byte 0 followed by error byte kErrorUnknownCommand (0xFF).
// - Keepalives (protocol 1 cmd 0x3000, protocol 2 cmd 0x8200) are answered with a keepalive
//   of the same code addressed back, under the same addressing rule as requests.
// - The host's answers to our events (protocol 1 cmd 0x0012, protocol 2 cmd 0x8050 and
//   0x8051) get no answer unless a handler is registered for them.
// - Protocol 1 requests reach handlers with size = the frame's data area (size class minus
//   the command code, zero fill included); the trailing CRC is not part of it.
// - With Protocol::Auto each connection takes the protocol of the first checked frame it
//   receives.  Events go only to connections whose protocol is known.
// - The node's weekday counts 0 = Sunday to 6 = Saturday, shifted by whatever weekday the
//   host last set along with a date.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <typeindex>
#include <typeinfo>
#include <utility>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace naxsim {

enum class Protocol { Auto = 0, P1 = 1, P2 = 2 };

// Node-side verdicts of the simulator's own handlers.
inline constexpr uint16_t kStatusDone = 1;
inline constexpr uint16_t kStatusUnknownCommand = 2;
inline constexpr uint16_t kStatusBadRequest = 3;
inline constexpr uint8_t kResultDone = 1;
inline constexpr uint8_t kResultRefused = 0;
inline constexpr uint8_t kErrorUnknownCommand = 0xFF;
inline constexpr uint8_t kErrorBadRequest = 0xFE;

inline constexpr uint16_t kBroadcastNode = 0xFFFF;

// Command codes the simulator's core knows itself.
inline constexpr uint16_t kCmdKeepaliveP1 = 0x3000;
inline constexpr uint16_t kCmdKeepaliveP2 = 0x8200;
inline constexpr uint16_t kCmdUserEventP1 = 0x0012;
inline constexpr uint16_t kCmdUserEventP2 = 0x8050;
inline constexpr uint16_t kCmdAuxEventP2 = 0x8051;

// Injected misbehaviour, in force until changed.  Answer faults (no_answer, delay_ms,
// answer_*, refuse_*, truncate_to, drop_mid_frame) act on answers to requests; transport
// faults (garbage_before, split_bytes, bad_crc) act on answers and on events.  Keepalive
// answers are touched only by ignore_keepalives.  no_answer still carries a request out.
struct Faults {
  bool no_answer = false;
  uint32_t delay_ms = 0;
  std::optional<uint16_t> answer_from;    // sou_node of answers
  std::optional<uint16_t> answer_to;      // des_node of answers
  std::optional<uint16_t> answer_cmd;     // cmd of answers
  std::optional<uint16_t> refuse_status;  // protocol 2: answer with this status and no data
  std::optional<uint8_t> refuse_error;    // protocol 1: answer result byte 0, then this byte
  std::optional<uint16_t> truncate_to;    // keep at most this many data bytes of answers
  uint32_t garbage_before = 0;     // random bytes before each frame; never a protocol 2 start
                                   // byte, nor a protocol 1 header that checks
  bool split_bytes = false;        // one byte per write, about 1 ms apart
  bool bad_crc = false;            // the CRC-16 of the frame is wrong
  bool drop_mid_frame = false;     // each answer: send its first half, then close the connection
  bool cut_events = false;         // each event: send its first half only, as line noise would
  bool ignore_keepalives = false;  // keepalives are counted but not answered
  uint32_t event_every_ms = 0;     // spontaneous user events to every connection
  // Chaos mode (chaos.h): every answer perturbed at random, from this seed.
  // The other answer faults are not applied then.
  std::optional<uint64_t> chaos_seed;
};

struct UserEvent {
  uint32_t id;
  uint16_t index;     // 0-based; protocol 1 sends index + 1
  uint8_t event;      // protocol 2 event byte
  uint8_t direction;  // protocol 2 direction byte
  nax_date_time time;
  uint16_t event_word;      // protocol 1 raw event word
  uint16_t direction_word;  // protocol 1 raw direction word
  uint8_t result = 1;       // protocol 1 result byte
  uint16_t status = 1;      // protocol 2 status word
};

struct AuxEvent {
  uint8_t aux_input;
  uint8_t aux_value;
  nax_date_time time;
};

struct Config {
  uint16_t port = 0;  // 0 = ephemeral
  uint16_t node = 1;
  Protocol protocol = Protocol::Auto;
  int32_t clock_offset_s = 0;  // node clock = host local time + offset
  std::string bind = "127.0.0.1";
  bool listen = true;  // false: start() runs the loop without a TCP listener
};

class Node;

// Fills answer (pre-set to the request's cmd, size 0, status kStatusDone) for request;
// protocol is 1 or 2.  Returns false when the node sends no answer at all.  Runs on the
// simulator's loop thread: it may send events and drop connections, but must not block
// (no stop(), no wait_for_connections()).
using Handler =
    std::function<bool(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol)>;

// Handlers every Node starts with.  A command family registers its handlers from a static
// object in its own handlers_<family>.cc:
//   static const naxsim::HandlerRegistration kGetTime(2, 0x8033, get_time_p2);
void register_default_handler(int protocol, uint16_t cmd, Handler handler);
struct HandlerRegistration {
  HandlerRegistration(int protocol, uint16_t cmd, Handler handler) {
    register_default_handler(protocol, cmd, std::move(handler));
  }
};

// Refusal in the shape of the protocol: status word (2) or result byte 0 and error byte (1).
void refuse(nax::Packet& answer, int protocol, uint16_t status, uint8_t error);

// State of one simulated node.  Thread-safe.
class Node {
 public:
  explicit Node(uint16_t number = 1, int64_t clock_offset_s = 0);
  Node(const Node&) = delete;
  Node& operator=(const Node&) = delete;

  uint16_t number() const;
  void set_number(uint16_t number);

  // Seconds the node's clock runs ahead of the host's.  64 bits: a two-digit year may put
  // the node almost a century away.
  int64_t clock_offset_s() const;
  void set_clock_offset_s(int64_t offset);
  // The node's clock now.
  nax_date_time time() const;
  // Sets the node's clock; false (nothing changed) when a field is out of range.
  bool set_time(const nax_date_time& time);

  // Overrides, for this node only, the handler of (protocol, cmd); an empty handler
  // falls back to the default again.
  void register_handler(int protocol, uint16_t cmd, Handler handler);
  // Runs the handler of request's command.  Returns false when no answer is to be sent.
  bool handle(const nax::Packet& request, nax::Packet& answer, int protocol);

  // State of a later command family, created on first use, reached under the node's lock
  // (recursive, so fn may call the node's other methods):
  //   node.with_state<Users>([&](Users& users) { ... });
  template <class State, class Fn>
  auto with_state(Fn&& fn) {
    std::lock_guard<std::recursive_mutex> lock(mutex_);
    auto& slot = family_state_[std::type_index(typeid(State))];
    if (!slot) slot = std::make_shared<State>();
    return fn(*static_cast<State*>(slot.get()));
  }

 private:
  Handler find_handler(int protocol, uint16_t cmd) const;

  mutable std::recursive_mutex mutex_;
  uint16_t number_;
  int64_t clock_offset_s_;
  int weekday_shift_ = 0;
  std::map<std::pair<int, uint16_t>, Handler> handlers_;
  std::map<std::type_index, std::shared_ptr<void>> family_state_;
};

class Simulator {
 public:
  explicit Simulator(Config config = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Binds, listens (unless config.listen is false) and starts the loop thread; false when
  // the port cannot be had.
  bool start();
  // Closes every connection, pseudo-terminal and the listener; joins the loop thread.
  void stop();
  uint16_t port() const;            // 0 when not listening
  std::string conn_string() const;  // "127.0.0.1:PORT"
  Node& node();

  void set_faults(const Faults& faults);
  Faults faults() const;

  // Opens a pseudo-terminal, serves its master side as one more connection and stores
  // the slave's device path (say "/dev/pts/5") in slave_path.  The slave starts raw, so
  // that nothing is echoed or translated before a host reconfigures it.  The simulator
  // holds a descriptor of the slave itself as long as it serves the master: a host may
  // then open and close the slave as often as it likes without the line hanging up.
  // drop_connections() and stop() close the master, which the host sees as a hang-up.
  // Needs start(); false when no pseudo-terminal can be had.
  bool open_serial(std::string* slave_path);

  // Dials host:port (IPv4 address or host name) count times; every connection is served
  // like one a host made to us.  Waits up to 5 s for the connections to be established
  // and is true when all of them were; failed ones are forgotten.  Called from a handler
  // it only starts the dialling and is true when that started.  Needs start().  Nothing
  // redials a connection that ends.
  bool connect_to(const std::string& host, uint16_t port, size_t count = 1);

  // Established connections of every kind: accepted, dialed and pseudo-terminals.
  size_t connection_count() const;
  // Checked request frames received on any connection, whatever their address;
  // keepalives are not counted here.
  uint64_t requests_received() const;
  // Keepalive frames received, answered or (ignore_keepalives) not.
  uint64_t keepalives_received() const;
  // The latest request frame received (protocol 1: data area without the CRC).
  nax::Packet last_request() const;

  // Queue an event to every connection whose protocol is known, in that protocol; true
  // when at least one connection got it.
  bool send_user_event(const UserEvent& event);
  bool send_aux_input_event(const AuxEvent& event);  // protocol 2 connections only
  void drop_connections();
  // How many answers chaos mode sent each way, in ChaosOutcome order (chaos.h).
  std::vector<uint64_t> chaos_outcomes();
  bool wait_for_connections(size_t n, uint32_t timeout_ms);

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace naxsim
