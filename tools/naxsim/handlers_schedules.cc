// Schedules: headers, segment runs, deletion and the paged list, in both protocols.
// The payloads are the same in both; protocol 1 puts the result byte in front.
//
// Writing a header creates the schedule.  Segments are written at any index of
// an existing schedule, its table growing as needed; a read answers the
// segments present from the first index on, as many as asked and fit a frame.
#include "handlers_schedules.h"

#include <algorithm>

#include "handlers_io.h"
#include "naxsim.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdGetHeaderP1 = 0x2010;
constexpr uint16_t kCmdGetSegmentsP1 = 0x2011;
constexpr uint16_t kCmdSetHeaderP1 = 0x2012;
constexpr uint16_t kCmdSetSegmentsP1 = 0x2013;
constexpr uint16_t kCmdDelP1 = 0x2014;
constexpr uint16_t kCmdListP1 = 0x2015;
constexpr uint16_t kCmdGetHeaderP2 = 0x8080;
constexpr uint16_t kCmdGetSegmentsP2 = 0x8081;
constexpr uint16_t kCmdSetHeaderP2 = 0x8082;
constexpr uint16_t kCmdSetSegmentsP2 = 0x8083;
constexpr uint16_t kCmdDelP2 = 0x8084;
constexpr uint16_t kCmdListP2 = 0x8085;

constexpr std::size_t kNameSize = 21;
constexpr std::size_t kSegmentSize = 3;
constexpr std::size_t kEntrySize = 2 + kNameSize;
constexpr std::size_t kSegmentsHead = 12;  // first index, table size, count
constexpr std::size_t kListHead = 10;      // next start id, table size, count

void refuse_bad(nax::Packet& answer, int protocol) {
  refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
}

void put_name(AnswerWriter& out, const std::string& name) {
  std::string field = name;
  field.resize(kNameSize, '\0');
  out.bytes(field);
}

std::string strip_zeros(std::string s) {
  s.erase(std::find(s.begin(), s.end(), '\0'), s.end());
  return s;
}

bool get_header(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t id = in.u16();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Schedules>([&](Schedules& schedules) {
    auto found = schedules.table.find(id);
    if (found == schedules.table.end()) {
      refuse_with(answer, protocol, kSchdNotFound);
      return 0;
    }
    const Schedule& s = found->second;
    AnswerWriter out(answer);
    begin_done(out, protocol);
    out.u16(id);
    put_name(out, s.name);
    out.u32(s.hours);
    out.u32(s.segment_count);
    out.bytes(s.date_time.data(), s.date_time.size());
    return 0;
  });
  return true;
}

bool set_header(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t id = in.u16();
  const std::string name = in.bytes(kNameSize);
  const uint32_t hours = in.u32();
  const uint32_t segment_count = in.u32();
  const std::string date_time = in.bytes(7);
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Schedules>([&](Schedules& schedules) {
    Schedule& s = schedules.table[id];
    s.name = strip_zeros(name);
    s.hours = hours;
    s.segment_count = segment_count;
    std::copy(date_time.begin(), date_time.end(), s.date_time.begin());
    return 0;
  });
  AnswerWriter out(answer);
  begin_done(out, protocol);
  return true;
}

bool get_segments(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t id = in.u16();
  const uint32_t first = in.u32();
  const uint32_t count = in.u32();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Schedules>([&](Schedules& schedules) {
    auto found = schedules.table.find(id);
    if (found == schedules.table.end()) {
      refuse_with(answer, protocol, kSchdNotFound);
      return 0;
    }
    const auto& segments = found->second.segments;
    const std::size_t fit = (kMaxAnswerData - (protocol == 1) - kSegmentsHead) / kSegmentSize;
    const std::size_t available = first < segments.size() ? segments.size() - first : 0;
    const std::size_t n = std::min({std::size_t{count}, available, fit});
    AnswerWriter out(answer);
    begin_done(out, protocol);
    out.u32(first);
    out.u32(static_cast<uint32_t>(segments.size()));
    out.u32(static_cast<uint32_t>(n));
    for (std::size_t i = 0; i < n; ++i) out.bytes(segments[first + i].data(), kSegmentSize);
    return 0;
  });
  return true;
}

bool set_segments(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t id = in.u16();
  const uint32_t first = in.u32();
  const uint32_t count = in.u32();
  const uint32_t segment_size = in.u32();
  const std::string wire = in.bytes(std::size_t{count} * kSegmentSize);
  if (!in.ok() || segment_size != kSegmentSize ||
      std::size_t{first} + count > Schedules::kMaxSegments) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Schedules>([&](Schedules& schedules) {
    auto found = schedules.table.find(id);
    if (found == schedules.table.end()) {
      refuse_with(answer, protocol, kSchdNotFound);
      return 0;
    }
    auto& segments = found->second.segments;
    if (segments.size() < std::size_t{first} + count) segments.resize(first + count);
    for (uint32_t i = 0; i < count; ++i) {
      std::copy_n(wire.begin() + i * kSegmentSize, kSegmentSize, segments[first + i].begin());
    }
    AnswerWriter out(answer);
    begin_done(out, protocol);
    out.u32(first);
    out.u32(count);
    return 0;
  });
  return true;
}

bool del(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t id = in.u16();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  const bool erased =
      node.with_state<Schedules>([&](Schedules& schedules) { return schedules.table.erase(id); });
  if (!erased) {
    refuse_with(answer, protocol, kSchdNotFound);
    return true;
  }
  AnswerWriter out(answer);
  begin_done(out, protocol);
  return true;
}

// A page holds the schedules from the start id on, as many as asked and fit a
// frame.  The next start id follows the page's last schedule; the page that
// reaches the end of the table carries kSchdListLastPage instead of 1.
bool list(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t start = in.u16();
  const uint32_t capacity = in.u32();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Schedules>([&](Schedules& schedules) {
    const std::size_t fit = (kMaxAnswerData - (protocol == 1) - kListHead) / kEntrySize;
    const std::size_t wanted = std::min(std::size_t{capacity}, fit);
    std::vector<std::pair<uint16_t, std::string>> page;
    auto it = schedules.table.lower_bound(start);
    for (; it != schedules.table.end() && page.size() < wanted; ++it) {
      page.emplace_back(it->first, it->second.name);
    }
    const bool last = it == schedules.table.end();
    const uint16_t next = page.empty() ? start : static_cast<uint16_t>(page.back().first + 1);
    AnswerWriter out(answer);
    if (protocol == 1) {
      out.u8(last ? kSchdListLastPage : kResultDone);
    } else if (last) {
      answer.status = kSchdListLastPage;
    }
    out.u16(next);
    out.u32(static_cast<uint32_t>(schedules.table.size()));
    out.u32(static_cast<uint32_t>(page.size()));
    for (const auto& [id, name] : page) {
      out.u16(id);
      put_name(out, name);
    }
    return 0;
  });
  return true;
}

const HandlerRegistration kGetHeaderP1(1, kCmdGetHeaderP1, get_header);
const HandlerRegistration kGetSegmentsP1(1, kCmdGetSegmentsP1, get_segments);
const HandlerRegistration kSetHeaderP1(1, kCmdSetHeaderP1, set_header);
const HandlerRegistration kSetSegmentsP1(1, kCmdSetSegmentsP1, set_segments);
const HandlerRegistration kDelP1(1, kCmdDelP1, del);
const HandlerRegistration kListP1(1, kCmdListP1, list);
const HandlerRegistration kGetHeaderP2(2, kCmdGetHeaderP2, get_header);
const HandlerRegistration kGetSegmentsP2(2, kCmdGetSegmentsP2, get_segments);
const HandlerRegistration kSetHeaderP2(2, kCmdSetHeaderP2, set_header);
const HandlerRegistration kSetSegmentsP2(2, kCmdSetSegmentsP2, set_segments);
const HandlerRegistration kDelP2(2, kCmdDelP2, del);
const HandlerRegistration kListP2(2, kCmdListP2, list);

}  // namespace
}  // namespace naxsim
