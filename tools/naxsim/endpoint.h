// One byte stream between the simulated node and a host, as the simulator's loop serves it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <vector>

#include "naxsim.h"
#include "proto/frame.h"
#include "proto/packet.h"

namespace naxsim {

// Accepted TCP connections are the only kind so far.  A pseudo-terminal master or a
// connection the node dials out would be further kinds: same framing and outbox, their
// own way of reading, writing and ending.
enum class EndpointKind { TcpAccepted };

// Bytes to write once due_ms has come; chunks go out strictly in queue order.
struct OutChunk {
  std::vector<uint8_t> bytes;
  uint64_t due_ms = 0;
  bool close_after = false;  // end the stream once these bytes are out
};

class Endpoint {
 public:
  // Takes ownership of fd, which must be non-blocking.
  Endpoint(int fd, EndpointKind kind, Protocol protocol);
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  int fd() const { return fd_; }
  // 1 or 2 once fixed by configuration or by the first checked frame; 0 before.
  int protocol() const { return protocol_; }
  // sou_node of the last frame received: where this stream's events are addressed.
  uint16_t host_node() const { return host_node_; }
  void set_host_node(uint16_t node) { host_node_ = node; }

  // Reads what the stream holds and hands every checked frame to on_packet.  False when
  // the stream has ended.
  using PacketSink = std::function<void(nax::nax_packet& packet, int protocol)>;
  bool read_available(const PacketSink& on_packet);
  // Frames bytes already read; exposed for the reader above and for tests.
  void receive(const uint8_t* data, std::size_t size, const PacketSink& on_packet);

  // Ignored once a chunk that ends the stream is queued.
  void queue(OutChunk chunk);
  bool closing() const { return closing_; }
  // Writes the chunks that are due, as far as the stream takes them.  False when the
  // stream is finished: a write failed or a closing chunk went out.
  bool flush(uint64_t now_ms);
  // A due chunk is waiting for the stream to accept bytes.
  bool wants_write(uint64_t now_ms) const;
  std::optional<uint64_t> next_due() const;

 private:
  long read_bytes(uint8_t* out, std::size_t size);
  long write_bytes(const uint8_t* data, std::size_t size);

  int fd_;
  EndpointKind kind_;
  int protocol_;
  uint16_t host_node_ = 0;
  nax::frame_assembler p1_;
  nax::frame_assembler p2_;
  std::deque<OutChunk> out_;
  std::size_t front_sent_ = 0;
  bool closing_ = false;
};

}  // namespace naxsim
