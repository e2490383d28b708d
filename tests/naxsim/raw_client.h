// A bare-bones host for simulator tests: a socket or terminal, the frame builders and an
// assembler, with nothing of the library's link engine in between.
#pragma once

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "naxsim.h"
#include "proto/frame.h"
#include "support/support.h"

namespace naxsim_test {

using test_support::kHostNode;
using Bytes = std::vector<uint8_t>;

inline nax::Packet make_packet(uint16_t cmd, const Bytes& data = {}) {
  nax::Packet packet{};
  packet.cmd = cmd;
  packet.size = static_cast<uint16_t>(data.size());
  if (!data.empty()) std::memcpy(packet.data, data.data(), data.size());
  return packet;
}

inline nax::Packet get_time_request(int protocol) {
  return make_packet(protocol == 1 ? 0x0002 : 0x8033);
}
inline Bytes build_frame(int protocol, uint16_t des, uint16_t sou, const nax::Packet& packet) {
  Bytes frame(nax::kFrameBufferSize);
  frame.resize(protocol == 1 ? nax::build_frame_p1(des, sou, packet, frame.data(), frame.size())
                             : nax::build_frame_p2(des, sou, packet, frame.data(), frame.size()));
  return frame;
}

// Every checked frame in bytes, fed one byte at a time so that none is lost.
inline std::vector<nax::Packet> decode_frames(int protocol, const Bytes& bytes) {
  std::vector<nax::Packet> packets;
  nax::FrameAssembler a;
  const uint8_t p = static_cast<uint8_t>(protocol);
  nax::assembler_reset(a, p, 0);
  for (uint8_t byte : bytes) {
    if (a.write_pos + 1 > nax::kFrameBufferSize) nax::assembler_make_room(a);
    a.buffer[a.write_pos] = byte;
    a.fresh = 1;
    const uint32_t state = nax::parse_frame(a, p);
    if (state == nax::kAsmComplete) {
      nax::frame_to_packet(a, p, packets.emplace_back());
      nax::assembler_reset(a, p, 0);
    } else if (state != nax::kAsmHunting && state != nax::kAsmHeader && state != nax::kAsmBody) {
      nax::assembler_reset(a, p, 0);
    }
  }
  return packets;
}

inline std::unique_ptr<naxsim::Simulator> start_simulator(naxsim::Config config = {}) {
  auto simulator = std::make_unique<naxsim::Simulator>(config);
  EXPECT_TRUE(simulator->start());
  return simulator;
}

class RawClient {
 public:
  struct Adopt {
    int fd;
  };
  RawClient(Adopt adopt, int protocol) : fd_(adopt.fd), protocol_(protocol) {}
  // A connection to the simulator's port; a failed connect shows as a failed send.
  RawClient(uint16_t port, int protocol)
      : RawClient(Adopt{::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)}, protocol) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int one = 1;
    ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  int protocol() const { return protocol_; }

  bool send_bytes(const Bytes& bytes) {
    for (std::size_t sent = 0; sent < bytes.size();) {
      // Sockets must not raise SIGPIPE; terminals are no sockets.
      ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n < 0 && errno == ENOTSOCK) n = ::write(fd_, bytes.data() + sent, bytes.size() - sent);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool send(const nax::Packet& packet, uint16_t des = 1) {
    return send_bytes(build_frame(protocol_, des, kHostNode, packet));
  }

  // Raw bytes until `count` frames decode, the peer ends the stream, or timeout_ms passes.
  struct Received {
    Bytes bytes;
    std::vector<nax::Packet> packets;
    bool closed = false;  // end of file, or an error such as EIO from a hung-up terminal
    int64_t took_ms = 0;  // until the last of the frames waited for was complete
  };
  Received receive(uint32_t timeout_ms, std::size_t count = 1) {
    Received r;
    const auto start = std::chrono::steady_clock::now();
    while (r.packets.size() < count) {
      const int64_t spent = test_support::elapsed_ms(start);
      if (spent >= timeout_ms) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(timeout_ms - spent)) <= 0) continue;
      uint8_t buffer[4096];
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n <= 0) {
        r.closed = true;
        break;
      }
      r.bytes.insert(r.bytes.end(), buffer, buffer + n);
      r.packets = decode_frames(protocol_, r.bytes);
      r.took_ms = test_support::elapsed_ms(start);
    }
    return r;
  }

  // The answer to packet, or nothing within timeout_ms.
  std::optional<nax::Packet> request(const nax::Packet& packet, uint16_t des = 1,
                                     uint32_t timeout_ms = 2000) {
    if (!send(packet, des)) return std::nullopt;
    const Received r = receive(timeout_ms);
    return r.packets.empty() ? std::nullopt : std::optional(r.packets.front());
  }

 private:
  int fd_ = -1;
  int protocol_;
};

}  // namespace naxsim_test
