// The attendance mark log: paging through it in both protocols.
#include "handlers_marks.h"

#include <algorithm>
#include <cstring>
#include <ctime>

#include "naxsim.h"
#include "wire.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdFirstP1 = 0x0006;
constexpr uint16_t kCmdNextP1 = 0x0007;
constexpr uint16_t kCmdListP2 = 0x8010;

constexpr uint32_t kAllButCode = 0x00FF;  // kind, id, date-time, event, index, direction,
                                          // value, flag
constexpr uint32_t kCode = 0x0100;
constexpr std::size_t kMaxCode = 10;
constexpr std::size_t kMarkSizeP1 = 16;
constexpr std::size_t kMaxAnswerData = 512;
constexpr std::size_t kPageHeader = 4;

void put16(uint8_t*& out, uint16_t v) {
  *out++ = static_cast<uint8_t>(v);
  *out++ = static_cast<uint8_t>(v >> 8);
}
void put32(uint8_t*& out, uint32_t v) {
  put16(out, static_cast<uint16_t>(v));
  put16(out, static_cast<uint16_t>(v >> 16));
}

void write_mark_p1(const MarkEntry& m, uint8_t* out) {
  out[0] = kResultDone;
  out[1] = 0;
  put_bcd8(out + 2, m.id);
  uint8_t* p = out + 6;
  put16(p, m.direction_word);
  put16(p, m.event_word);
  *p++ = static_cast<uint8_t>(std::min<uint16_t>(m.index + 1, 0xFF));
  *p++ = 0;
  pack_mark_date_time(m.time, p);
}

// Oldest mark first, then the next one per request; the node keeps the position.
bool list_p1(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  return node.with_state<MarkLog>([&](MarkLog& log) {
    if (request.cmd == kCmdFirstP1) log.p1_cursor = 0;
    if (log.p1_cursor >= log.marks.size()) {
      refuse(answer, protocol, kMarkStatusNoRecords, kMarkErrorNoRecords);
      return true;
    }
    write_mark_p1(log.marks[log.p1_cursor++], answer.data);
    answer.size = kMarkSizeP1;
    return true;
  });
}

std::string code_of(const MarkEntry& m) {
  return m.code.substr(0, kMaxCode);
}

std::size_t record_size_p2(const MarkEntry& m) {
  const std::string code = code_of(m);
  return 2 + 4 + 1 + 4 + kDateTimeSize + 1 + 2 + 1 + 4 + 1 + (code.empty() ? 0 : code.size() + 2);
}

void write_mark_p2(const MarkEntry& m, uint8_t*& out) {
  const std::string code = code_of(m);
  uint8_t* length = out;
  out += 2;
  put32(out, kAllButCode | (code.empty() ? 0 : kCode));
  *out++ = m.kind;
  put32(out, m.id);
  put_date_time(out, m.time);
  out += kDateTimeSize;
  *out++ = m.event;
  put16(out, m.index);
  *out++ = static_cast<uint8_t>(m.direction_word);
  put32(out, m.value);
  *out++ = m.flag;
  if (!code.empty()) {
    *out++ = static_cast<uint8_t>(code.size() + 1);
    std::memcpy(out, code.data(), code.size());
    out += code.size();
    *out++ = 0;
  }
  put16(length, static_cast<uint16_t>(out - length));
}

// Up to count marks from the first index, as many as fit one answer; status 8 once the
// page reaches the end of the log.
bool list_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  if (request.size < kPageHeader) {
    answer.status = kStatusBadRequest;
    return true;
  }
  const uint16_t first = static_cast<uint16_t>(request.data[0] | request.data[1] << 8);
  const uint16_t count = static_cast<uint16_t>(request.data[2] | request.data[3] << 8);
  node.with_state<MarkLog>([&](MarkLog& log) {
    uint8_t* out = answer.data + kPageHeader;
    std::size_t index = first;
    uint16_t n = 0;
    while (n < count && index < log.marks.size()) {
      const MarkEntry& m = log.marks[index];
      if (static_cast<std::size_t>(out - answer.data) + record_size_p2(m) > kMaxAnswerData) break;
      write_mark_p2(m, out);
      ++n;
      ++index;
    }
    answer.size = static_cast<uint16_t>(out - answer.data);
    out = answer.data;
    put16(out, first);
    put16(out, n);
    answer.status = index >= log.marks.size() ? kMarkStatusNoRecords : kStatusDone;
    return 0;
  });
  return true;
}

MarkEntry mark_of(uint32_t id, const nax_date_time& time) {
  MarkEntry m;
  m.id = id;
  m.time = time;
  m.event_word = 0;  // protocol 1's word for event 0x01
  m.event = 0x01;
  return m;
}

const HandlerRegistration kFirstP1(1, kCmdFirstP1, list_p1);
const HandlerRegistration kNextP1(1, kCmdNextP1, list_p1);
const HandlerRegistration kListP2(2, kCmdListP2, list_p2);

}  // namespace

void record_mark(Node& node, uint32_t id, const nax_date_time& time) {
  node.with_state<MarkLog>([&](MarkLog& log) {
    log.marks.push_back(mark_of(id, time));
    return 0;
  });
}

void preload_marks(Node& node, std::size_t count) {
  const std::time_t now = std::time(nullptr) + node.clock_offset_s();
  node.with_state<MarkLog>([&](MarkLog& log) {
    for (std::size_t i = 0; i < count; ++i) {
      const std::time_t at = now - static_cast<std::time_t>((count - i) * 60);
      std::tm tm{};
      localtime_r(&at, &tm);
      nax_date_time t{};
      t.year = static_cast<uint8_t>(tm.tm_year % 100);
      t.month = static_cast<uint8_t>(tm.tm_mon + 1);
      t.day = static_cast<uint8_t>(tm.tm_mday);
      t.hour = static_cast<uint8_t>(tm.tm_hour);
      t.minute = static_cast<uint8_t>(tm.tm_min);
      t.weekday = static_cast<uint8_t>(tm.tm_wday);
      log.marks.push_back(mark_of(static_cast<uint32_t>(i + 1), t));
    }
    return 0;
  });
}

}  // namespace naxsim
