// Framing and buffered, timed output of one host stream.
#include "endpoint.h"

#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace naxsim {
namespace {

// How long a pseudo-terminal lingers after its last bytes: at least the minimum, as bytes
// written to the master reach the slave's input queue a little later, and at most the
// maximum, when no host reads them.
constexpr uint64_t kLingerMinMs = 50;
constexpr uint64_t kLingerMaxMs = 1000;

// Feeds bytes to the assembler no faster than it asks for them, so that bytes after a
// frame are never swallowed with it.  Returns true, with packet filled, as soon as a frame
// is complete; consumed tells how far into data it got.
bool assemble(nax::FrameAssembler& a, uint8_t protocol, const uint8_t* data, std::size_t size,
              std::size_t& consumed, nax::Packet& packet) {
  consumed = 0;
  while (consumed < size) {
    const std::size_t take = std::min<std::size_t>(size - consumed, std::max<uint32_t>(a.need, 1));
    if (a.write_pos + take > nax::kFrameBufferSize) {
      nax::assembler_make_room(a);
      if (a.write_pos + take > nax::kFrameBufferSize) nax::assembler_reset(a, protocol, 0);
    }
    std::memcpy(a.buffer + a.write_pos, data + consumed, take);
    a.fresh = static_cast<uint32_t>(take);
    consumed += take;
    const uint32_t state = nax::parse_frame(a, protocol);
    if (state == nax::kAsmComplete) {
      nax::frame_to_packet(a, protocol, packet);
      nax::assembler_reset(a, protocol, 0);
      return true;
    }
    if (state != nax::kAsmHunting && state != nax::kAsmHeader && state != nax::kAsmBody) {
      nax::assembler_reset(a, protocol, 0);
    }
  }
  return false;
}

}  // namespace

Endpoint::Endpoint(int fd, EndpointKind kind, Protocol protocol, bool connecting)
    : fd_(fd),
      kind_(kind),
      connecting_(kind == EndpointKind::TcpDialed && connecting),
      protocol_(static_cast<int>(protocol)) {
  nax::assembler_reset(p1_, 1, 0);
  nax::assembler_reset(p2_, 2, 0);
}

Endpoint::~Endpoint() {
  if (fd_ >= 0) ::close(fd_);
  if (kept_fd_ >= 0) ::close(kept_fd_);
}

bool Endpoint::finish_connect() {
  int error = 0;
  socklen_t length = sizeof error;
  if (::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length) != 0 || error != 0) return false;
  connecting_ = false;
  return true;
}

void Endpoint::receive(const uint8_t* data, std::size_t size, const PacketSink& on_packet) {
  nax::Packet packet;
  std::size_t pos = 0;
  // Until a protocol is known both assemblers see every byte, one at a time, and the
  // first to complete a frame decides.
  while (protocol_ == 0 && pos < size) {
    std::size_t used = 0;
    if (assemble(p2_, 2, data + pos, 1, used, packet)) {
      protocol_ = 2;
    } else if (assemble(p1_, 1, data + pos, 1, used, packet)) {
      protocol_ = 1;
    }
    ++pos;
    if (protocol_ != 0) on_packet(packet, protocol_);
  }
  nax::FrameAssembler& a = protocol_ == 1 ? p1_ : p2_;
  while (pos < size) {
    std::size_t used = 0;
    const bool complete =
        assemble(a, static_cast<uint8_t>(protocol_), data + pos, size - pos, used, packet);
    pos += used;
    if (complete) on_packet(packet, protocol_);
  }
}

bool Endpoint::read_available(const PacketSink& on_packet) {
  uint8_t buffer[4096];
  // Bounded, so that one busy host cannot starve the others.
  for (int round = 0; round < 16; ++round) {
    const long n = read_bytes(buffer, sizeof buffer);
    if (n > 0) {
      receive(buffer, static_cast<std::size_t>(n), on_packet);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return true;
    return false;
  }
  return true;
}

void Endpoint::queue(OutChunk chunk) {
  if (closing_) return;
  closing_ = chunk.close_after;
  out_.push_back(std::move(chunk));
}

bool Endpoint::flush(uint64_t now_ms) {
  while (!out_.empty() && out_.front().due_ms <= now_ms) {
    OutChunk& chunk = out_.front();
    while (front_sent_ < chunk.bytes.size()) {
      const long n =
          write_bytes(chunk.bytes.data() + front_sent_, chunk.bytes.size() - front_sent_);
      if (n < 0) {
        return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
      }
      front_sent_ += static_cast<std::size_t>(n);
    }
    const bool close_after = chunk.close_after;
    out_.pop_front();
    front_sent_ = 0;
    if (close_after && kind_ == EndpointKind::PtyMaster && kept_fd_ >= 0) {
      linger_since_ms_ = now_ms;
      linger_until_ms_ = now_ms + kLingerMaxMs;
      return true;
    }
    if (close_after) return false;
  }
  return true;
}

bool Endpoint::linger_over(uint64_t now_ms) const {
  if (!lingering() || now_ms >= linger_until_ms_) return true;
  if (now_ms < linger_since_ms_ + kLingerMinMs) return false;
  int unread = 0;
  return ::ioctl(kept_fd_, FIONREAD, &unread) != 0 || unread == 0;
}

bool Endpoint::wants_write(uint64_t now_ms) const {
  return !out_.empty() && out_.front().due_ms <= now_ms;
}

std::optional<uint64_t> Endpoint::next_due() const {
  if (out_.empty()) return std::nullopt;
  return out_.front().due_ms;
}

long Endpoint::read_bytes(uint8_t* out, std::size_t size) {
  switch (kind_) {
    case EndpointKind::TcpAccepted:
    case EndpointKind::TcpDialed:
      return ::recv(fd_, out, size, 0);
    case EndpointKind::PtyMaster:
      // EIO here means the slave side hung up for good: the stream has ended.
      return ::read(fd_, out, size);
  }
  return -1;
}

long Endpoint::write_bytes(const uint8_t* data, std::size_t size) {
  switch (kind_) {
    case EndpointKind::TcpAccepted:
    case EndpointKind::TcpDialed:
      return ::send(fd_, data, size, MSG_NOSIGNAL);
    case EndpointKind::PtyMaster:
      return ::write(fd_, data, size);
  }
  return -1;
}

}  // namespace naxsim
