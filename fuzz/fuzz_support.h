// Shared pieces of the decoder fuzz targets: an invariant check that aborts,
// host arrays fenced by guard bytes, the documented status set and a reader
// over the fuzzer's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "proto/frame.h"
#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax::fuzz {

#define FUZZ_CHECK(condition)                                                         \
  do {                                                                                \
    if (!(condition)) {                                                               \
      std::fprintf(stderr, "invariant broken: %s (line %d)\n", #condition, __LINE__); \
      std::abort();                                                                   \
    }                                                                                 \
  } while (0)

inline constexpr uint8_t kGuardByte = 0xA5;
inline constexpr std::size_t kGuardSize = 64;

// count records of T between two runs of guard bytes, zeroed as a host
// would; with count 0 the pointer still points between the guards.  The
// guards are looked at when the array goes, so a decoder that wrote past
// either end aborts the run.
template <typename T>
class Guarded {
 public:
  explicit Guarded(std::size_t count)
      : count_(count), bytes_(2 * kGuardSize + count * sizeof(T), 0) {
    std::memset(bytes_.data(), kGuardByte, kGuardSize);
    std::memset(bytes_.data() + kGuardSize + count * sizeof(T), kGuardByte, kGuardSize);
  }
  ~Guarded() {
    const uint8_t* tail = bytes_.data() + kGuardSize + count_ * sizeof(T);
    for (std::size_t i = 0; i < kGuardSize; ++i) {
      FUZZ_CHECK(bytes_[i] == kGuardByte && tail[i] == kGuardByte);
    }
  }
  Guarded(const Guarded&) = delete;
  Guarded& operator=(const Guarded&) = delete;
  T* get() { return reinterpret_cast<T*>(bytes_.data() + kGuardSize); }
  T& operator[](std::size_t i) { return get()[i]; }

 private:
  std::size_t count_;
  std::vector<uint8_t> bytes_;
};

// A text field the host reads as a C string must end within its array.
template <std::size_t N>
bool terminated(const char (&text)[N]) {
  return std::memchr(text, '\0', N) != nullptr;
}

// A status the library may return from a decoder: success, one of its own
// failures, or the node's verdict passed through (a protocol-1 result or
// error byte, a protocol-2 status word as received).
inline bool library_status(uint32_t status) {
#define NAX_FUZZ_STATUS_CASE_(name, code, text) \
  case code:                                    \
    return true;
  switch (status) { NAX_STATUS_LIST(NAX_FUZZ_STATUS_CASE_) }
#undef NAX_FUZZ_STATUS_CASE_
  return false;
}

inline bool documented_status(uint32_t status, bool p1, uint16_t status_word) {
  if (library_status(status)) return true;
  if (p1) return status <= 0xFF;
  return status == status_word;
}

// Reads fixed-size values off the front of the fuzzer's bytes, zeros once
// they run out.
class Reader {
 public:
  Reader(const uint8_t* data, std::size_t size) : data_(data), size_(size) {}
  uint8_t u8() { return pos_ < size_ ? data_[pos_++] : 0; }
  uint16_t u16() { return static_cast<uint16_t>(u8() | (u8() << 8)); }

  // The rest as an answer's data, cut to what one frame of the protocol carries.
  Packet packet(uint16_t status, bool p1) const {
    Packet packet{};
    packet.status = status;
    const std::size_t limit = p1 ? kP1MaxData : kP2MaxReceiveData;
    packet.size = static_cast<uint16_t>(size_ - pos_ < limit ? size_ - pos_ : limit);
    std::memcpy(packet.data, data_ + pos_, packet.size);
    return packet;
  }

 private:
  const uint8_t* data_;
  std::size_t size_;
  std::size_t pos_ = 0;
};

}  // namespace nax::fuzz
