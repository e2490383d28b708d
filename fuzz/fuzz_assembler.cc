// libFuzzer target: drives the frame assembler the way the reception loop
// does and aborts as soon as one of its invariants breaks.
//
// Input byte 0 steers the run: bit 0 picks the protocol (set: 1, clear: 2),
// bit 1 switches the protocol at random between reads, bit 2 lets a read
// ignore need and fill up to the buffer end, bit 3 synthesises the stream,
// bits 4..7 pick and seed the chunk sizes.  The remaining bytes are the
// received stream, or with bit 3 a list of segments, each a tag byte and then
// a protocol 1 frame (tag bits 1..2 = 1: good CRC-8, body of its class), a
// protocol 2 frame (= 2: start byte, body of its size field) or raw bytes
// (else: a length byte, then the bytes); tag bit 0 appends the segment's
// CRC-16.  Random input hardly ever carries a matching CRC-16, and without
// whole frames the checks made on a completed frame would never run.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "proto/bytes.h"
#include "proto/crc.h"
#include "proto/frame.h"
#include "proto/packet.h"

namespace {

bool waiting(uint32_t state) {
  return state == nax::kAsmHunting || state == nax::kAsmHeader || state == nax::kAsmBody;
}

// A completed frame must lie wholly within the consumed bytes and carry a
// CRC-16 that matches; a protocol 2 frame never announces more than 512 bytes.
void check_complete(const nax::FrameAssembler& a, uint8_t protocol, bool header_checked) {
  const uint8_t* frame = a.buffer + a.frame_start;
  const uint32_t held = a.write_pos - a.frame_start;
  uint32_t length = 0;
  if (protocol == 1) {
    FUZZ_CHECK(held >= nax::kP1HeaderLength);
    length = nax::kSizeClass[frame[5] & 0x0F] + 9u;
    // After a protocol switch the body may have been collected on a header
    // the other parser accepted, so only a straight run vouches for the CRC-8.
    if (header_checked) FUZZ_CHECK(nax::crc8(frame, nax::kP1HeaderLength) == nax::kP1HeaderCheck);
  } else {
    FUZZ_CHECK(held >= nax::kP2HeaderLength);
    FUZZ_CHECK(frame[0] == nax::kP2StartByte);
    FUZZ_CHECK(nax::load_u16(frame + 9) <= nax::kP2MaxReceiveData);
    length = nax::load_u16(frame + 9) + 13u;
  }
  FUZZ_CHECK(held == length);
  FUZZ_CHECK(nax::crc16(frame, length - 2) == nax::load_u16(frame + length - 2));

  nax::Packet packet;
  nax::frame_to_packet(a, protocol, packet);
  FUZZ_CHECK(packet.size == (protocol == 1 ? length - 9 : length - 13));
  FUZZ_CHECK(std::memcmp(packet.data, frame + (protocol == 1 ? 9 : 11), packet.size) == 0);
}

// Copies count input bytes (zeros once the input runs out) to the stream.
void take(std::vector<uint8_t>& stream, const uint8_t* data, std::size_t size, std::size_t& pos,
          std::size_t count) {
  for (std::size_t i = 0; i < count; ++i) stream.push_back(pos < size ? data[pos++] : 0);
}

std::vector<uint8_t> synthesise(const uint8_t* data, std::size_t size) {
  std::vector<uint8_t> stream;
  std::size_t pos = 0;
  while (pos < size) {
    const uint8_t tag = data[pos++];
    const std::size_t start = stream.size();
    if ((tag & 0x06) == 0x02) {
      // A protocol 1 frame: good header, body as long as its class says.
      take(stream, data, size, pos, nax::kP1HeaderLength);
      stream[start + 6] = static_cast<uint8_t>(~nax::crc8(stream.data() + start, 6));
      take(stream, data, size, pos, nax::kSizeClass[stream[start + 5] & 0x0F]);
    } else if ((tag & 0x06) == 0x04) {
      // A protocol 2 frame with any size field up to 1023.
      take(stream, data, size, pos, nax::kP2HeaderLength);
      stream[start] = nax::kP2StartByte;
      stream[start + 10] &= 0x03;
      take(stream, data, size, pos, stream[start + 9] | (stream[start + 10] << 8));
    } else {
      std::size_t length = pos < size ? data[pos++] : 0;
      take(stream, data, size, pos, length);
    }
    if ((tag & 0x01) != 0) {
      const uint16_t crc = nax::crc16(stream.data() + start, stream.size() - start);
      stream.push_back(static_cast<uint8_t>(crc));
      stream.push_back(static_cast<uint8_t>(crc >> 8));
    }
  }
  return stream;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t input_size) {
  if (input_size == 0) return 0;
  const uint8_t control = input[0];
  std::vector<uint8_t> synthesised;
  if ((control & 0x08) != 0) synthesised = synthesise(input + 1, input_size - 1);
  const uint8_t* data = (control & 0x08) != 0 ? synthesised.data() : input + 1;
  const std::size_t size = (control & 0x08) != 0 ? synthesised.size() : input_size - 1;

  uint8_t protocol = (control & 0x01) ? 1 : 2;
  const bool switching = (control & 0x02) != 0;
  const bool overshoot = (control & 0x04) != 0;
  uint32_t rng = 0x9E3779B9u ^ (control >> 4);
  const std::size_t largest_chunk[4] = {1, 7, 64, nax::kFrameBufferSize};
  const std::size_t chunk_limit = largest_chunk[(control >> 4) & 0x03];

  nax::FrameAssembler a;
  nax::assembler_reset(a, protocol, 0xFFFFFFFF);
  bool switched = false;  // since the last reset
  std::size_t pos = 0;
  while (pos < size) {
    if (waiting(a.state)) nax::assembler_make_room(a);
    FUZZ_CHECK(a.frame_start <= a.write_pos);
    FUZZ_CHECK(a.need >= 1);
    FUZZ_CHECK(a.write_pos + a.need <= nax::kFrameBufferSize);

    rng = rng * 1664525u + 1013904223u;
    const std::size_t chunk = 1 + (rng >> 8) % chunk_limit;
    const std::size_t room = overshoot ? nax::kFrameBufferSize - a.write_pos : a.need;
    std::size_t n = chunk < room ? chunk : room;
    if (n > size - pos) n = size - pos;
    if (a.write_pos + n > nax::kFrameBufferSize) break;
    std::memcpy(a.buffer + a.write_pos, data + pos, n);
    a.fresh = static_cast<uint32_t>(n);
    pos += n;

    if (switching && (rng >> 31) != 0) {
      protocol = protocol == 1 ? 2 : 1;
      switched = true;
    }
    const uint32_t state = nax::parse_frame(a, protocol);
    FUZZ_CHECK(state == a.state);
    FUZZ_CHECK(a.write_pos <= nax::kFrameBufferSize);
    FUZZ_CHECK(a.frame_start <= a.write_pos);
    if (state == nax::kAsmComplete) {
      check_complete(a, protocol, !switched);
      nax::assembler_reset(a, protocol, 0xFFFFFFFF);
      switched = false;
    } else if (state == nax::kAsmIdle) {
      nax::assembler_reset(a, protocol, 0xFFFFFFFF);
      switched = false;
    } else {
      FUZZ_CHECK(waiting(state));
      FUZZ_CHECK(a.fresh == 0);
      if (protocol == 2 && state == nax::kAsmHunting) FUZZ_CHECK(a.frame_start == a.write_pos);
    }
  }
  return 0;
}
