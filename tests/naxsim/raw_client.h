// A bare-bones host for simulator tests: a blocking socket, the frame builders and an
// assembler, with nothing of the library's link engine in between.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <vector>

#include "proto/frame.h"
#include "proto/packet.h"

namespace naxsim_test {

inline constexpr uint16_t kHostNode = 0x0010;

inline nax::Packet make_packet(uint16_t cmd, std::vector<uint8_t> data = {}, uint16_t status = 0) {
  nax::Packet packet{};
  packet.cmd = cmd;
  packet.status = status;
  packet.size = static_cast<uint16_t>(data.size());
  if (!data.empty()) std::memcpy(packet.data, data.data(), data.size());
  return packet;
}

inline std::vector<uint8_t> build_frame(int protocol, uint16_t des, uint16_t sou,
                                        const nax::Packet& packet) {
  std::vector<uint8_t> frame(nax::kFrameBufferSize);
  const std::size_t n = protocol == 1
                            ? nax::build_frame_p1(des, sou, packet, frame.data(), frame.size())
                            : nax::build_frame_p2(des, sou, packet, frame.data(), frame.size());
  frame.resize(n);
  return frame;
}

// Every checked frame in bytes, fed one byte at a time so that none is lost.
inline std::vector<nax::Packet> decode_frames(int protocol, const std::vector<uint8_t>& bytes) {
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
      nax::Packet packet{};
      nax::frame_to_packet(a, p, packet);
      packets.push_back(packet);
      nax::assembler_reset(a, p, 0);
    } else if (state != nax::kAsmHunting && state != nax::kAsmHeader && state != nax::kAsmBody) {
      nax::assembler_reset(a, p, 0);
    }
  }
  return packets;
}

inline uint64_t elapsed_ms(std::chrono::steady_clock::time_point since) {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::steady_clock::now() - since)
                                   .count());
}

class RawClient {
 public:
  RawClient(uint16_t port, int protocol) : protocol_(protocol) {
    fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
    if (fd_ >= 0) {
      const int one = 1;
      ::setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    }
  }
  ~RawClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return fd_ >= 0; }
  int protocol() const { return protocol_; }

  bool send_bytes(const std::vector<uint8_t>& bytes) {
    std::size_t sent = 0;
    while (sent < bytes.size()) {
      const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
      if (n <= 0) return false;
      sent += static_cast<std::size_t>(n);
    }
    return true;
  }

  bool send(const nax::Packet& packet, uint16_t des = 1, uint16_t sou = kHostNode) {
    return send_bytes(build_frame(protocol_, des, sou, packet));
  }

  // Raw bytes until `count` frames decode, the peer closes, or timeout_ms passes.
  struct Received {
    std::vector<uint8_t> bytes;
    std::vector<nax::Packet> packets;
    bool closed = false;
    uint64_t took_ms = 0;  // until the last of the frames waited for was complete
    std::size_t reads = 0;
  };
  Received receive(uint32_t timeout_ms, std::size_t count = 1) {
    Received r;
    const auto start = std::chrono::steady_clock::now();
    while (r.packets.size() < count) {
      const uint64_t spent = elapsed_ms(start);
      if (spent >= timeout_ms) break;
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, static_cast<int>(timeout_ms - spent)) <= 0) continue;
      uint8_t buffer[4096];
      const ssize_t n = ::recv(fd_, buffer, sizeof buffer, 0);
      if (n <= 0) {
        r.closed = true;
        break;
      }
      ++r.reads;
      r.bytes.insert(r.bytes.end(), buffer, buffer + n);
      r.packets = decode_frames(protocol_, r.bytes);
      r.took_ms = elapsed_ms(start);
    }
    return r;
  }

  // The next frame, or nothing within timeout_ms.
  std::optional<nax::Packet> next(uint32_t timeout_ms = 2000) {
    Received r = receive(timeout_ms);
    if (r.packets.empty()) return std::nullopt;
    return r.packets.front();
  }

  std::optional<nax::Packet> request(const nax::Packet& packet, uint16_t des = 1) {
    if (!send(packet, des)) return std::nullopt;
    return next();
  }

 private:
  int fd_ = -1;
  int protocol_;
};

}  // namespace naxsim_test
