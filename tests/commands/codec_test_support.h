// The codec tests' shared golden tables: a request row names an encoder and the
// frame it must leave, an answer row an answer and what its decoder must give.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <sstream>
#include <string>
#include <type_traits>
#include <vector>

#include "proto/packet.h"
#include "vedodiroz.h"

namespace nax::codec_test {

using Bytes = std::vector<uint8_t>;

// With NAX_SEED_DIR set, every answer a codec test builds is also written
// there as an input of the decoder fuzz target (every family, both
// protocols): its seed corpus is made from these golden vectors.
inline void write_decoder_seed(uint16_t status, const Bytes& data) {
  const char* dir = std::getenv("NAX_SEED_DIR");
  if (dir == nullptr) return;
  for (uint8_t protocol_bit : {0, 1}) {
    Bytes seed = {
        0xFF, protocol_bit, static_cast<uint8_t>(status), static_cast<uint8_t>(status >> 8),
        0x10, 0x00};
    seed.insert(seed.end(), data.begin(), data.end());
    const std::string name =
        std::string(dir) + "/golden-" +
        std::to_string(std::hash<std::string>{}(std::string(seed.begin(), seed.end())));
    if (FILE* f = std::fopen(name.c_str(), "wb")) {
      std::fwrite(seed.data(), 1, seed.size(), f);
      std::fclose(f);
    }
  }
}

inline Packet answer_of(uint16_t status, const Bytes& data) {
  write_decoder_seed(status, data);
  Packet p{};
  p.status = status;
  p.size = static_cast<uint16_t>(data.size());
  if (!data.empty()) std::memcpy(p.data, data.data(), data.size());
  return p;
}

inline Bytes cat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& part : parts) out.insert(out.end(), part.begin(), part.end());
  return out;
}

inline Bytes head(const Bytes& bytes, std::size_t n) {
  return Bytes(bytes.begin(), bytes.begin() + n);
}

inline Bytes times(const Bytes& b, std::size_t n) {
  Bytes out;
  for (std::size_t i = 0; i < n; ++i) out.insert(out.end(), b.begin(), b.end());
  return out;
}

inline Bytes le32(uint32_t v) {
  return {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
          static_cast<uint8_t>(v >> 24)};
}

// A length-prefixed text as sent: length byte (text and NUL), text, NUL.
inline Bytes lp(const std::string& text) {
  Bytes out{static_cast<uint8_t>(text.size() + 1)};
  for (char c : text) out.push_back(static_cast<uint8_t>(c));
  out.push_back(0);
  return out;
}

// Copies up to the field's size; a text as long as the field leaves no NUL in it.
template <std::size_t N>
void fill(char (&field)[N], const std::string& text) {
  std::memset(field, 0, N);
  std::memcpy(field, text.data(), std::min(text.size(), N));
}

// Fields of a decoded record, space separated, small integers as numbers.
template <typename... T>
std::string show(const T&... fields) {
  std::ostringstream out;
  const char* separator = "";
  auto put = [&](const auto& v) {
    out << separator;
    if constexpr (std::is_integral_v<std::decay_t<decltype(v)>>) {
      out << static_cast<long long>(v);
    } else {
      out << v;
    }
    separator = " ";
  };
  (put(fields), ...);
  return out.str();
}

inline std::string show(const nax_date_time& t) {
  return show(t.hour, t.minute, t.second, t.year, t.month, t.day, t.weekday);
}

// An encoder's status made to depend on a check of the host's record after it.
inline uint32_t ok_if(bool host_record_as_expected, uint32_t status = NAX_OK) {
  return host_record_as_expected ? status : 0u;
}

// The encoder of a request row: one call on the request packet `r`.
#define CALL(call) [](Packet& r) { return call; }

// The encoder's status and, when it accepts, the command and data it leaves.
struct RequestRow {
  std::string name;
  std::function<uint32_t(Packet&)> encode;
  uint32_t status;
  uint16_t cmd;
  Bytes data;

  friend void PrintTo(const RequestRow& row, std::ostream* os) { *os << row.name; }

  // Encoders that cannot refuse count as accepting.
  template <typename F>
  RequestRow(std::string n, F f, uint32_t s, uint16_t c, Bytes d)
      : name(std::move(n)), status(s), cmd(c), data(std::move(d)) {
    encode = [f](Packet& r) -> uint32_t {
      if constexpr (std::is_void_v<std::invoke_result_t<F, Packet&>>) {
        f(r);
        return NAX_OK;
      } else {
        return f(r);
      }
    };
  }
};

// A decoder run on an answer: its status, and what it wrote rendered by show().
using Decoder = std::function<uint32_t(const Packet&, std::string&)>;

struct AnswerRow {
  std::string name;
  uint16_t answer_status;
  Bytes answer_data;
  Decoder decode;
  uint32_t status;
  std::string out;
  friend void PrintTo(const AnswerRow& row, std::ostream* os) { *os << row.name; }
};

// A decoder writing one record of type T, which starts as `start`.
template <typename T, typename Decode, typename Show>
Decoder into(T start, Decode decode, Show shown) {
  return [start, decode, shown](const Packet& p, std::string& out) {
    T value = start;
    const uint32_t status = decode(p, value);
    out = shown(value);
    return status;
  };
}

template <typename T, typename Decode>
Decoder into(T start, Decode decode) {
  return into(start, decode, [](const T& v) { return show(v); });
}

template <typename Decode>
Decoder status_only(Decode decode) {
  return [decode](const Packet& p, std::string&) { return decode(p); };
}

// A record read from the start of the data: on success the position after
// it and the record shown by `shown`.
template <typename T, typename Get, typename Show>
Decoder record_at_start(Get get, Show shown) {
  return [=](const Packet& p, std::string& out) {
    T value{};
    uint16_t position = 0;
    const uint32_t status = get(value, p.data, position, p.size);
    if (status == NAX_OK) out = show(position) + " " + shown(value);
    return status;
  };
}

// A page of records as a p2 list answer carries it: a skipped word, the count, the records.
inline Bytes list_answer(uint16_t n, std::initializer_list<Bytes> records) {
  return cat({{0x00, 0x00, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8)}, cat(records)});
}

// The records a paging decoder stores in an array of `count` (one more past it
// as a guard): their count, each shown by `shown`, then "overrun" for any
// record written beyond them.
template <typename T, typename Decode, typename Show>
Decoder list(uint16_t count, Decode decode, Show shown) {
  return [=](const Packet& p, std::string& out) {
    std::vector<T> records(count + 1u);
    uint16_t stored = 0;
    const uint32_t status = decode(p, count, records.data(), stored);
    out = show(stored) + ":";
    for (std::size_t i = 0; i < records.size(); ++i) {
      if (i < stored) {
        out += " " + shown(records[i]);
      } else if (records[i].mask != 0) {
        out += " overrun";
      }
    }
    return status;
  };
}

class CodecRequest : public testing::TestWithParam<RequestRow> {};
class CodecAnswer : public testing::TestWithParam<AnswerRow> {};

template <typename Row>
std::string row_name(const testing::TestParamInfo<Row>& info) {
  return info.param.name;
}

}  // namespace nax::codec_test
