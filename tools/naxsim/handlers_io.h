// Bounded reading of a request and writing of an answer, for the node-side
// handlers of the aux, admin, schedule, template, task, file and display families.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

#include "naxsim.h"
#include "proto/packet.h"

namespace naxsim {

// Reads little-endian fields; a read past the end yields 0 and clears ok(),
// so a handler checks once after reading everything it needs.
class RequestReader {
 public:
  explicit RequestReader(const nax::Packet& request) : data_(request.data), size_(request.size) {}

  bool ok() const { return ok_; }
  std::size_t position() const { return position_; }
  std::size_t remaining() const { return ok_ ? size_ - position_ : 0; }
  const uint8_t* here() const { return data_ + position_; }

  uint8_t u8() { return static_cast<uint8_t>(take(1)); }
  uint16_t u16() { return static_cast<uint16_t>(take(2)); }
  uint32_t u32() { return static_cast<uint32_t>(take(4)); }
  // count raw bytes; empty (and ok() false) when they are not all there.
  std::string bytes(std::size_t count) {
    if (!ok_ || size_ - position_ < count) return fail_text();
    std::string out(reinterpret_cast<const char*>(data_ + position_), count);
    position_ += count;
    return out;
  }
  // A zero-terminated text of at most max characters; the NUL must be there.
  std::string text(std::size_t max) {
    if (!ok_) return {};
    const std::size_t limit = std::min(size_ - position_, max + 1);
    const std::size_t length = strnlen(reinterpret_cast<const char*>(data_ + position_), limit);
    if (length == limit) return fail_text();
    std::string out(reinterpret_cast<const char*>(data_ + position_), length);
    position_ += length + 1;
    return out;
  }
  // A length byte n, then n bytes ending in a NUL; the text without it.
  std::string length_prefixed() {
    const uint8_t n = u8();
    if (!ok_ || n == 0) return {};
    const std::string raw = bytes(n);
    if (!ok_ || raw.back() != '\0') return fail_text();
    return raw.substr(0, n - 1);
  }

 private:
  uint32_t take(std::size_t width) {
    if (!ok_ || size_ - position_ < width) {
      ok_ = false;
      return 0;
    }
    uint32_t value = 0;
    for (std::size_t i = 0; i < width; ++i) value |= uint32_t{data_[position_ + i]} << (8 * i);
    position_ += width;
    return value;
  }
  std::string fail_text() {
    ok_ = false;
    return {};
  }

  const uint8_t* data_;
  std::size_t size_;
  std::size_t position_ = 0;
  bool ok_ = true;
};

// Appends little-endian fields to an answer and keeps its size.
class AnswerWriter {
 public:
  explicit AnswerWriter(nax::Packet& answer) : answer_(answer) { answer_.size = 0; }

  std::size_t size() const { return answer_.size; }
  void u8(uint8_t v) { put(v, 1); }
  void u16(uint16_t v) { put(v, 2); }
  void u32(uint32_t v) { put(v, 4); }
  void bytes(const void* source, std::size_t count) {
    if (count == 0) return;  // source may be null then (an empty vector's data())
    std::memcpy(answer_.data + answer_.size, source, count);
    answer_.size = static_cast<uint16_t>(answer_.size + count);
  }
  void bytes(const std::string& s) { bytes(s.data(), s.size()); }

 private:
  void put(uint32_t v, std::size_t width) {
    for (std::size_t i = 0; i < width; ++i) answer_.data[answer_.size++] = uint8_t(v >> (8 * i));
  }

  nax::Packet& answer_;
};

// Nodes send no frame above this many data bytes.
inline constexpr std::size_t kMaxAnswerData = 512;

// A protocol-1 answer starts with its result byte; a protocol-2 answer
// carries the verdict in its status word.
inline void begin_done(AnswerWriter& out, int protocol) {
  if (protocol == 1) out.u8(kResultDone);
}

// A refusal whose code the node gives directly: the result byte itself in
// protocol 1, the status word in protocol 2.
inline void refuse_with(nax::Packet& answer, int protocol, uint8_t code) {
  if (protocol == 1) {
    answer.data[0] = code;
    answer.size = 1;
  } else {
    answer.status = code;
    answer.size = 0;
  }
}

}  // namespace naxsim
