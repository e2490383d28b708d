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

// Every kind shares framing and outbox; they differ in how they read, write and begin.
enum class EndpointKind {
  TcpAccepted,  // a host connected to our listener
  TcpDialed,    // we connected to a host's listener; may still be connecting
  PtyMaster,    // master side of a pseudo-terminal whose slave a host opens as a serial port
};

// Bytes to write once due_ms has come; chunks go out strictly in queue order.
struct OutChunk {
  std::vector<uint8_t> bytes;
  uint64_t due_ms = 0;
  bool close_after = false;  // end the stream once these bytes are out
};

class Endpoint {
 public:
  // Takes ownership of fd, which must be non-blocking.  A TcpDialed endpoint starts out
  // connecting unless its connect already completed.
  Endpoint(int fd, EndpointKind kind, Protocol protocol, bool connecting = false);
  ~Endpoint();
  Endpoint(const Endpoint&) = delete;
  Endpoint& operator=(const Endpoint&) = delete;

  int fd() const { return fd_; }
  EndpointKind kind() const { return kind_; }
  // Another descriptor closed along with this endpoint (a pseudo-terminal's slave side).
  void keep_open(int fd) { kept_fd_ = fd; }

  // A dialed connection is not yet established: poll it for writing, then call
  // finish_connect(), which is false when the connection failed.
  bool connecting() const { return connecting_; }
  bool finish_connect();
  // 1 or 2 once fixed by configuration or by the first checked frame; 0 before.
  int protocol() const { return protocol_; }
  // sou_node of the last frame received: where this stream's events are addressed.
  uint16_t host_node() const { return host_node_; }
  void set_host_node(uint16_t node) { host_node_ = node; }

  // Reads what the stream holds and hands every checked frame to on_packet.  False when
  // the stream has ended.
  using PacketSink = std::function<void(nax::Packet& packet, int protocol)>;
  bool read_available(const PacketSink& on_packet);
  // Frames bytes already read; exposed for the reader above and for tests.
  void receive(const uint8_t* data, std::size_t size, const PacketSink& on_packet);

  // Ignored once a chunk that ends the stream is queued.
  void queue(OutChunk chunk);
  bool closing() const { return closing_; }
  // Writes the chunks that are due, as far as the stream takes them.  False when the
  // stream is finished: a write failed or a closing chunk went out.
  bool flush(uint64_t now_ms);
  // Closing a pseudo-terminal's master discards whatever its slave still holds, so after a
  // closing chunk such an endpoint lingers, unread and unwritten, until the host has read
  // the bytes (or has had enough time to).
  bool lingering() const { return linger_until_ms_ != 0; }
  bool linger_over(uint64_t now_ms) const;
  // A due chunk is waiting for the stream to accept bytes.
  bool wants_write(uint64_t now_ms) const;
  std::optional<uint64_t> next_due() const;

 private:
  long read_bytes(uint8_t* out, std::size_t size);
  long write_bytes(const uint8_t* data, std::size_t size);

  int fd_;
  int kept_fd_ = -1;
  EndpointKind kind_;
  bool connecting_;
  int protocol_;
  uint16_t host_node_ = 0;
  nax::FrameAssembler p1_;
  nax::FrameAssembler p2_;
  std::deque<OutChunk> out_;
  std::size_t front_sent_ = 0;
  bool closing_ = false;
  uint64_t linger_since_ms_ = 0;
  uint64_t linger_until_ms_ = 0;
};

}  // namespace naxsim
