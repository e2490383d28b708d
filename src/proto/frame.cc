// Frame builders, the incremental frame assembler and frame-to-packet conversion.
#include "proto/frame.h"

#include <cstring>

#include "proto/bytes.h"
#include "proto/crc.h"

namespace nax {
namespace {

inline constexpr std::size_t kCrc16Length = 2;
inline constexpr std::size_t kP1Overhead = kP1HeaderLength + kCrc16Length;
inline constexpr std::size_t kP2Overhead = kP2HeaderLength + kCrc16Length;

uint32_t p1_frame_length(const uint8_t* header) {
  return static_cast<uint32_t>(kSizeClass[header[5] & 0x0F] + kP1Overhead);
}

uint32_t p2_frame_length(const uint8_t* header) {
  return static_cast<uint32_t>(load_u16(header + 9) + kP2Overhead);
}

// A frame ends with the CRC-16 of everything before it.
bool frame_crc_ok(const uint8_t* frame, uint32_t length) {
  const uint32_t covered = length - kCrc16Length;
  return crc16(frame, covered) == load_u16(frame + covered);
}

uint32_t held(const FrameAssembler& a) {
  return a.write_pos - a.frame_start;
}

void consume(FrameAssembler& a, uint32_t count) {
  a.write_pos += count;
  a.fresh -= count;
}

// Consumes fresh bytes towards a unit of `length` bytes starting at frame_start
// (held <= length).  False when it is still short; need then says by how much.
bool collect(FrameAssembler& a, uint32_t length) {
  const uint32_t have = held(a);
  if (have + a.fresh < length) {
    a.need = length - (have + a.fresh);
    consume(a, a.fresh);
    return false;
  }
  consume(a, length - have);
  return true;
}

// The caller owns the counters; if they ever point outside the buffer, the
// parser refuses to touch it rather than trust them.
bool counters_sane(const FrameAssembler& a) {
  return a.write_pos <= kFrameBufferSize && a.fresh <= kFrameBufferSize - a.write_pos &&
         a.frame_start <= a.write_pos;
}

uint32_t drop_all(FrameAssembler& a) {
  a.fresh = 0;
  a.state = kAsmIdle;
  return kAsmIdle;
}

// States 2 and 4 are shared by both protocols, so after a protocol switch the
// held bytes may belong to the other layout.  These checks tell whether the
// held bytes can be a partial frame of this protocol; if not they are dropped.
bool p1_held_fits_state(const FrameAssembler& a) {
  const uint32_t have = held(a);
  if (a.state == kAsmHeader) return have < kP1HeaderLength;
  if (a.state == kAsmBody)
    return have >= kP1HeaderLength && have <= p1_frame_length(a.buffer + a.frame_start);
  return false;
}

bool p2_held_fits_state(const FrameAssembler& a) {
  const uint32_t have = held(a);
  if (have == 0 || a.buffer[a.frame_start] != kP2StartByte) return false;
  if (a.state == kAsmHeader) return have < kP2HeaderLength;
  if (a.state == kAsmBody) {
    if (have < kP2HeaderLength) return false;
    const uint32_t length = p2_frame_length(a.buffer + a.frame_start);
    return length <= kP2MaxReceiveData + kP2Overhead && have <= length;
  }
  return false;
}

// Copies count bytes of the buffer from offset, or nothing when they would
// run past its end (only a frame that was never checked can do that).
void copy_data(const FrameAssembler& a, std::size_t offset, uint16_t count, Packet& packet) {
  const std::size_t start = a.frame_start + offset;
  if (start > kFrameBufferSize || count > kFrameBufferSize - start) {
    packet.size = 0;
    return;
  }
  std::memcpy(packet.data, a.buffer + start, count);
  packet.size = count;
}

}  // namespace

std::size_t header_length(uint8_t protocol) {
  return protocol == 1 ? kP1HeaderLength : kP2HeaderLength;
}

int choose_size_class(std::size_t data_size) {
  if (data_size > kP1MaxData) return -1;
  const std::size_t payload = data_size + 2;
  // Index 0 is never used by a sender, and scanning in index order means the
  // out-of-order last class (48) is never reached for a sendable payload.
  for (int index = 1; index < 16; ++index) {
    if (kSizeClass[index] >= payload) return index;
  }
  return -1;
}

std::size_t build_frame_p1(uint16_t des_node, uint16_t sou_node, const Packet& packet, uint8_t* out,
                           std::size_t capacity) {
  std::memset(out, 0, capacity);
  const int index = choose_size_class(packet.size);
  if (index < 0) return 0;
  const std::size_t size_class = kSizeClass[index];
  const std::size_t length = size_class + kP1Overhead;
  if (length > capacity) return 0;

  uint8_t* cursor = out;
  put_u16(cursor, des_node);
  put_u16(cursor, sou_node);
  put_u8(cursor, 0);  // sequence number: nodes ignore it
  put_u8(cursor, static_cast<uint8_t>(0x20 | index));
  put_u8(cursor, static_cast<uint8_t>(~crc8(out, 6)));
  put_u16(cursor, packet.cmd);
  put_bytes(cursor, packet.data, packet.size);
  // The fill up to the class length is already zero.
  const std::size_t covered = kP1HeaderLength + size_class;
  store_u16(out + covered, crc16(out, covered));
  return length;
}

std::size_t build_frame_p2(uint16_t des_node, uint16_t sou_node, const Packet& packet, uint8_t* out,
                           std::size_t capacity) {
  if (packet.size > kP2MaxSendData) return 0;
  const std::size_t length = packet.size + kP2Overhead;
  if (length > capacity) return 0;

  uint8_t* cursor = out;
  put_u8(cursor, kP2StartByte);
  put_u16(cursor, des_node);
  put_u16(cursor, sou_node);
  put_u16(cursor, packet.cmd);
  put_u16(cursor, packet.status);
  put_u16(cursor, packet.size);
  put_bytes(cursor, packet.data, packet.size);
  const std::size_t covered = kP2HeaderLength + packet.size;
  store_u16(out + covered, crc16(out, covered));
  return length;
}

void assembler_reset(FrameAssembler& a, uint8_t protocol, uint32_t read_timeout) {
  std::memset(a.buffer, 0, sizeof a.buffer);
  a.write_pos = 0;
  a.frame_start = 0;
  a.fresh = 0;
  a.state = kAsmIdle;
  a.need = static_cast<uint32_t>(header_length(protocol));
  a.read_timeout = read_timeout;
}

uint32_t parse_p1(FrameAssembler& a) {
  if (!counters_sane(a)) return drop_all(a);
  for (;;) {
    if (!p1_held_fits_state(a)) {
      a.frame_start = a.write_pos;
      a.state = kAsmHeader;
    }
    if (a.state == kAsmHeader) {
      if (!collect(a, kP1HeaderLength)) return kAsmHeader;
      if (crc8(a.buffer + a.frame_start, kP1HeaderLength) != kP1HeaderCheck) {
        // Protocol 1 has no start marker, so resynchronising byte by byte would
        // keep matching inside data; the next header is looked for in the
        // following window instead.
        a.frame_start = a.write_pos;
        continue;
      }
      a.state = kAsmBody;
    }
    const uint32_t length = p1_frame_length(a.buffer + a.frame_start);
    if (!collect(a, length)) return kAsmBody;
    if (frame_crc_ok(a.buffer + a.frame_start, length)) {
      a.state = kAsmComplete;
      return kAsmComplete;
    }
    a.state = kAsmIdle;
    if (a.fresh == 0) return kAsmIdle;
  }
}

uint32_t parse_p2(FrameAssembler& a) {
  if (!counters_sane(a)) return drop_all(a);
  for (;;) {
    if (!p2_held_fits_state(a)) {
      // Skipped bytes are never held: frame_start follows write_pos until a
      // start byte turns up, so garbage takes no buffer room.
      a.state = kAsmHunting;
      a.frame_start = a.write_pos;
      while (a.fresh > 0) {
        const bool start = a.buffer[a.write_pos] == kP2StartByte;
        consume(a, 1);
        if (start) {
          a.state = kAsmHeader;
          break;
        }
        a.frame_start = a.write_pos;
      }
      if (a.state == kAsmHunting) return kAsmHunting;
    }
    if (a.state == kAsmHeader) {
      if (!collect(a, kP2HeaderLength)) return kAsmHeader;
      a.state = kAsmBody;
    }
    const uint32_t length = p2_frame_length(a.buffer + a.frame_start);
    if (length > kP2MaxReceiveData + kP2Overhead) {
      a.state = kAsmIdle;
      return kAsmIdle;
    }
    if (!collect(a, length)) return kAsmBody;
    if (frame_crc_ok(a.buffer + a.frame_start, length)) {
      a.state = kAsmComplete;
      return kAsmComplete;
    }
    a.state = kAsmIdle;
    if (a.fresh == 0) return kAsmIdle;
  }
}

uint32_t parse_frame(FrameAssembler& a, uint8_t protocol) {
  return protocol == 1 ? parse_p1(a) : parse_p2(a);
}

void assembler_make_room(FrameAssembler& a) {
  if (static_cast<uint64_t>(a.write_pos) + a.need <= kFrameBufferSize) return;
  if (a.write_pos > kFrameBufferSize || a.frame_start > a.write_pos)
    a.frame_start = a.write_pos = 0;
  const uint32_t have = held(a);
  std::memmove(a.buffer, a.buffer + a.frame_start, have);
  a.write_pos = have;
  a.frame_start = 0;
}

void frame_to_packet_p1(const FrameAssembler& a, Packet& packet) {
  packet.status = 0;
  if (a.frame_start > kFrameBufferSize - kP1Overhead) {
    packet.sou_node = packet.des_node = packet.cmd = packet.size = 0;
    return;
  }
  const uint8_t* frame = a.buffer + a.frame_start;
  packet.sou_node = load_u16(frame + 2);
  packet.des_node = load_u16(frame + 0);
  packet.cmd = load_u16(frame + 7);
  // The size is the whole class, so the last two data bytes are the frame's
  // CRC-16; decoders read by position and never rely on the fill.
  copy_data(a, kP1HeaderLength + 2, kSizeClass[frame[5] & 0x0F], packet);
}

void frame_to_packet_p2(const FrameAssembler& a, Packet& packet) {
  if (a.frame_start > kFrameBufferSize - kP2Overhead) {
    packet.sou_node = packet.des_node = packet.cmd = packet.size = packet.status = 0;
    return;
  }
  const uint8_t* frame = a.buffer + a.frame_start;
  packet.sou_node = load_u16(frame + 3);
  packet.des_node = load_u16(frame + 1);
  packet.cmd = load_u16(frame + 5);
  packet.status = load_u16(frame + 7);
  copy_data(a, kP2HeaderLength, load_u16(frame + 9), packet);
}

void frame_to_packet(const FrameAssembler& a, uint8_t protocol, Packet& packet) {
  if (protocol == 1) {
    frame_to_packet_p1(a, packet);
  } else {
    frame_to_packet_p2(a, packet);
  }
}

}  // namespace nax
