// libFuzzer target: every answer decoder, fed an answer packet of any size
// and status, writing into host records fenced by guard bytes.
//
// Input: byte 0 picks the command family (a value past the last family runs
// them all), byte 1 bit 0 the protocol (set: 1, clear: 2), bytes 2..3 the
// status word, bytes 4..5 the host's capacity (records or bytes, depending
// on the family), the rest the answer's data, cut to what one frame of the
// protocol can carry.  Families that exist in one protocol only ignore bit 0.
//
// Checks: no crash or undefined behaviour (the sanitizers), guard bytes
// intact, counts never above the capacity, texts terminated, and only
// documented statuses.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "commands/admin.h"
#include "commands/answers.h"
#include "commands/aux.h"
#include "commands/clock.h"
#include "commands/command.h"
#include "commands/files.h"
#include "commands/marks.h"
#include "commands/num_cfg.h"
#include "commands/schedules.h"
#include "commands/templates.h"
#include "commands/users.h"
#include "fuzz_support.h"
#include "proto/frame.h"

using namespace nax;
using namespace nax::fuzz;

namespace {

struct Answer {
  Packet packet;
  bool p1;
  uint16_t capacity;
};

void check_status(uint32_t status, const Answer& a) {
  FUZZ_CHECK(documented_status(status, a.p1, a.packet.status));
}

// Families that exist in protocol 2 only see the answer as protocol 2.
Answer as_p2(const Answer& a) {
  Answer b = a;
  b.p1 = false;
  if (b.packet.size > kP2MaxReceiveData) b.packet.size = kP2MaxReceiveData;
  return b;
}

template <typename T>
void check_single(Guarded<T>& record) {
  FUZZ_CHECK(record.guards_hold());
}

void info(const Answer& a) {
  Guarded<char> text(kInfoTextCapacity);
  const uint32_t s =
      a.p1 ? decode_get_info_p1(a.packet, text.get()) : decode_get_info_p2(a.packet, text.get());
  check_status(s, a);
  FUZZ_CHECK(text.guards_hold());
  FUZZ_CHECK(std::memchr(text.get(), '\0', kInfoTextCapacity) != nullptr);
}

void block_or_delete(const Answer& a) {
  if (a.p1) {
    check_status(decode_block_answer_p1(a.packet), a);
    return;
  }
  Guarded<uint16_t> deleted(1);
  check_status(decode_del_records_p2(a.packet, deleted[0]), a);
  check_single(deleted);
}

void display(const Answer& in) {
  const Answer a = as_p2(in);
  Guarded<uint16_t> word(1);
  check_status(decode_display_msg_p2(a.packet, word[0]), a);
  check_single(word);
}

void aux_input(const Answer& a) {
  Guarded<nax_aux_input> aux(1);
  check_status(
      a.p1 ? decode_get_aux_input_p1(a.packet, aux[0]) : decode_get_aux_input_p2(a.packet, aux[0]),
      a);
  check_single(aux);
}

void status_and_u32(const Answer& in) {
  const Answer a = as_p2(in);
  Guarded<uint32_t> value(1);
  check_status(decode_status_and_u32_p2(a.packet, value[0]), a);
  check_single(value);
}

void get_time(const Answer& a) {
  Guarded<nax_date_time> dt(1);
  check_status(a.p1 ? decode_get_time_p1(a.packet, dt[0]) : decode_get_time_p2(a.packet, dt[0]), a);
  check_single(dt);
}

void set_time(const Answer& a) {
  check_status(a.p1 ? decode_set_time_p1(a.packet) : decode_set_time_p2(a.packet), a);
}

void result_byte(const Answer& a) {
  // Protocol-1 only; on a protocol-2 link the same bytes are a status word.
  check_status(a.p1 ? decode_result_byte(a.packet) : decode_set_num_cfg_p2(a.packet), a);
}

void fopen(const Answer& in) {
  const Answer a = as_p2(in);
  Guarded<uint32_t> size(1);
  check_status(decode_fopen_p2(a.packet, size[0]), a);
  check_single(size);
}

void fread(const Answer& in) {
  const Answer a = as_p2(in);
  Guarded<uint8_t> buffer(a.capacity);
  Guarded<uint32_t> read(1);
  const uint32_t s = decode_fread_p2(a.packet, buffer.get(), a.capacity, read[0]);
  check_status(s, a);
  FUZZ_CHECK(buffer.guards_hold());
  check_single(read);
  // An answer larger than the buffer reports its size with 1029, copying nothing.
  FUZZ_CHECK(s != NAX_OK || read[0] <= a.capacity);
}

void list_marks(const Answer& a) {
  const uint16_t count = a.p1 ? 1 : a.capacity % 64;
  Guarded<nax_mark> marks(count);
  Guarded<uint16_t> stored(1);
  const uint32_t s = a.p1 ? decode_list_marks_p1(a.packet, a.capacity & 1, marks.get(), stored[0])
                          : decode_list_marks_p2(a.packet, count, marks.get(), stored[0]);
  check_status(s, a);
  FUZZ_CHECK(marks.guards_hold());
  check_single(stored);
  FUZZ_CHECK(stored[0] <= count);
  for (uint16_t i = 0; i < count; ++i) FUZZ_CHECK(terminated(marks[i].code));
}

void get_num(const Answer& a) {
  Guarded<uint32_t> value(1);
  const uint8_t num_size = static_cast<uint8_t>(a.capacity);
  check_status(a.p1 ? decode_get_num_cfg_p1(a.packet, num_size, value[0])
                    : decode_get_num_cfg_p2(a.packet, num_size, value[0]),
               a);
  check_single(value);
}

void set_num(const Answer& a) {
  check_status(a.p1 ? decode_set_num_cfg_p1(a.packet) : decode_set_num_cfg_p2(a.packet), a);
}

void schd_header(const Answer& a) {
  Guarded<nax_schd_header> header(1);
  check_status(a.p1 ? decode_get_schd_header_p1(a.packet, header[0])
                    : decode_get_schd_header_p2(a.packet, header[0]),
               a);
  check_single(header);
  FUZZ_CHECK(terminated(header[0].name));
}

void schd_segments(const Answer& a) {
  const uint32_t count = a.capacity % 1024;
  Guarded<nax_schd_segment> segments(count);
  Guarded<uint32_t> received(1);
  check_status(a.p1 ? decode_get_schd_segments_p1(a.packet, segments.get(), count, received[0])
                    : decode_get_schd_segments_p2(a.packet, segments.get(), count, received[0]),
               a);
  FUZZ_CHECK(segments.guards_hold());
  check_single(received);
  FUZZ_CHECK(received[0] <= count);
}

void set_segments(const Answer& a) {
  Guarded<uint32_t> count(1);
  check_status(a.p1 ? decode_set_schd_segments_p1(a.packet, count[0])
                    : decode_set_schd_segments_p2(a.packet, count[0]),
               a);
  check_single(count);
}

void list_schd(const Answer& a) {
  const uint32_t capacity = a.capacity % 128;
  Guarded<nax_schd_entry> entries(capacity);
  Guarded<uint16_t> start(1);
  Guarded<uint32_t> received(1);
  check_status(a.p1 ? decode_list_schd_p1(a.packet, entries.get(), capacity, start[0], received[0])
                    : decode_list_schd_p2(a.packet, entries.get(), capacity, start[0], received[0]),
               a);
  FUZZ_CHECK(entries.guards_hold());
  check_single(start);
  check_single(received);
  FUZZ_CHECK(received[0] <= capacity);
  for (uint32_t i = 0; i < capacity; ++i) FUZZ_CHECK(terminated(entries[i].name));
}

void read_template(const Answer& a) {
  const uint32_t capacity = a.capacity % 1024;
  Guarded<TemplateEcho> echo(1);
  Guarded<uint8_t> buffer(capacity);
  check_status(a.p1 ? decode_read_template_p1(a.packet, echo[0], buffer.get(), capacity)
                    : decode_read_template_p2(a.packet, echo[0], buffer.get(), capacity),
               a);
  check_single(echo);
  FUZZ_CHECK(buffer.guards_hold());
}

void template_echo_or_flush(const Answer& in) {
  const Answer a = as_p2(in);
  if (in.p1) {
    Guarded<TemplateEcho> echo(1);
    check_status(decode_template_echo_p2(a.packet, echo[0]), a);
    check_single(echo);
    return;
  }
  Guarded<uint16_t> sensor(1);
  check_status(decode_flush_templates_p2(a.packet, sensor[0]), a);
  check_single(sensor);
}

void list_users(const Answer& a) {
  const uint16_t count = a.p1 ? 1 : a.capacity % 16;
  Guarded<nax_user> users(count);
  Guarded<uint16_t> stored(1);
  const uint32_t s = a.p1 ? decode_list_users_p1(a.packet, a.capacity & 1, users.get(), stored[0])
                          : decode_list_users_p2(a.packet, count, users.get(), stored[0]);
  check_status(s, a);
  FUZZ_CHECK(users.guards_hold());
  check_single(stored);
  FUZZ_CHECK(stored[0] <= count);
  for (uint16_t i = 0; i < count; ++i) {
    FUZZ_CHECK(terminated(users[i].text1));
    FUZZ_CHECK(terminated(users[i].text2));
  }
}

void user_answer(const Answer& a) {
  Guarded<uint16_t> taken(1);
  check_status(
      a.p1 ? decode_user_answer_p1(a.packet, taken[0]) : decode_user_answer_p2(a.packet, taken[0]),
      a);
  check_single(taken);
}

using Family = void (*)(const Answer&);
// clang-format off
constexpr Family kFamilies[] = {
    info,          block_or_delete, display,      aux_input,  status_and_u32, get_time,
    set_time,      result_byte,     fopen,        fread,      list_marks,     get_num,
    set_num,       schd_header,     schd_segments, set_segments, list_schd,   read_template,
    template_echo_or_flush, list_users, user_answer,
};
// clang-format on
constexpr std::size_t kFamilyCount = sizeof(kFamilies) / sizeof(kFamilies[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t input_size) {
  Reader in(input, input_size);
  const uint8_t family = in.u8();
  Answer a{};
  a.p1 = (in.u8() & 1) != 0;
  a.packet.status = in.u16();
  a.capacity = in.u16();
  const std::size_t limit = a.p1 ? kP1MaxData : kP2MaxReceiveData;
  const std::size_t size = in.rest_size() < limit ? in.rest_size() : limit;
  std::memcpy(a.packet.data, in.rest(), size);
  a.packet.size = static_cast<uint16_t>(size);
  if (family < kFamilyCount) {
    kFamilies[family](a);
  } else {
    for (Family run : kFamilies) run(a);
  }
  return 0;
}
