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

using namespace nax;
using namespace nax::fuzz;

namespace {

struct Answer {
  Packet packet;
  bool p1;
  uint16_t capacity;

  void check(uint32_t status) const { FUZZ_CHECK(documented_status(status, p1, packet.status)); }
  // Families that exist in protocol 2 only see the answer as protocol 2.
  Answer as_p2() const {
    Answer b = *this;
    b.p1 = false;
    if (b.packet.size > kP2MaxReceiveData) b.packet.size = kP2MaxReceiveData;
    return b;
  }
};

// One value the decoder fills besides its status.
template <typename T, typename Decode>
void single(const Answer& a, Decode decode) {
  Guarded<T> value(1);
  a.check(decode(a.packet, value[0]));
}

// Picks the decoder of the answer's protocol.
#define BY_PROTOCOL(a, name, ...) \
  ((a).p1 ? name##_p1((a).packet, __VA_ARGS__) : name##_p2((a).packet, __VA_ARGS__))

using Family = void (*)(const Answer&);
// The order is the input's family byte: kept inputs depend on it.
constexpr Family kFamilies[] = {
    [](const Answer& a) {  // info
      Guarded<char> text(kInfoTextCapacity);
      a.check(BY_PROTOCOL(a, decode_get_info, text.get()));
      FUZZ_CHECK(std::memchr(text.get(), '\0', kInfoTextCapacity) != nullptr);
    },
    [](const Answer& a) {  // block (protocol 1) or delete records (protocol 2)
      if (a.p1) return a.check(decode_block_answer_p1(a.packet));
      single<uint16_t>(a, decode_del_records_p2);
    },
    [](const Answer& a) { single<uint16_t>(a.as_p2(), decode_display_msg_p2); },
    [](const Answer& a) {
      single<nax_aux_input>(a, a.p1 ? decode_get_aux_input_p1 : decode_get_aux_input_p2);
    },
    [](const Answer& a) { single<uint32_t>(a.as_p2(), decode_status_and_u32_p2); },
    [](const Answer& a) {
      single<nax_date_time>(a, a.p1 ? decode_get_time_p1 : decode_get_time_p2);
    },
    [](const Answer& a) {
      a.check(a.p1 ? decode_set_time_p1(a.packet) : decode_set_time_p2(a.packet));
    },
    [](const Answer& a) {
      // Protocol-1 only; on a protocol-2 link the same bytes are a status word.
      a.check(a.p1 ? decode_result_byte(a.packet) : decode_set_num_cfg_p2(a.packet));
    },
    [](const Answer& a) { single<uint32_t>(a.as_p2(), decode_fopen_p2); },
    [](const Answer& in) {  // fread
      const Answer a = in.as_p2();
      Guarded<uint8_t> buffer(a.capacity);
      Guarded<uint32_t> read(1);
      const uint32_t s = decode_fread_p2(a.packet, buffer.get(), a.capacity, read[0]);
      a.check(s);
      // An answer larger than the buffer reports its size with 1029, copying nothing.
      FUZZ_CHECK(s != NAX_OK || read[0] <= a.capacity);
    },
    [](const Answer& a) {  // list marks
      const uint16_t count = a.p1 ? 1 : a.capacity % 64;
      Guarded<nax_mark> marks(count);
      Guarded<uint16_t> stored(1);
      a.check(a.p1 ? decode_list_marks_p1(a.packet, a.capacity & 1, marks.get(), stored[0])
                   : decode_list_marks_p2(a.packet, count, marks.get(), stored[0]));
      FUZZ_CHECK(stored[0] <= count);
      for (uint16_t i = 0; i < count; ++i) FUZZ_CHECK(terminated(marks[i].code));
    },
    [](const Answer& a) {  // get a number; the capacity's low byte is its size
      Guarded<uint32_t> value(1);
      a.check(BY_PROTOCOL(a, decode_get_num_cfg, static_cast<uint8_t>(a.capacity), value[0]));
    },
    [](const Answer& a) {
      a.check(a.p1 ? decode_set_num_cfg_p1(a.packet) : decode_set_num_cfg_p2(a.packet));
    },
    [](const Answer& a) {  // schedule header
      Guarded<nax_schd_header> header(1);
      a.check(BY_PROTOCOL(a, decode_get_schd_header, header[0]));
      FUZZ_CHECK(terminated(header[0].name));
    },
    [](const Answer& a) {  // schedule segments
      const uint32_t count = a.capacity % 1024;
      Guarded<nax_schd_segment> segments(count);
      Guarded<uint32_t> received(1);
      a.check(BY_PROTOCOL(a, decode_get_schd_segments, segments.get(), count, received[0]));
      FUZZ_CHECK(received[0] <= count);
    },
    [](const Answer& a) {
      single<uint32_t>(a, a.p1 ? decode_set_schd_segments_p1 : decode_set_schd_segments_p2);
    },
    [](const Answer& a) {  // list schedules
      const uint32_t capacity = a.capacity % 128;
      Guarded<nax_schd_entry> entries(capacity);
      Guarded<uint16_t> start(1);
      Guarded<uint32_t> received(1);
      a.check(BY_PROTOCOL(a, decode_list_schd, entries.get(), capacity, start[0], received[0]));
      FUZZ_CHECK(received[0] <= capacity);
      for (uint32_t i = 0; i < capacity; ++i) FUZZ_CHECK(terminated(entries[i].name));
    },
    [](const Answer& a) {  // read a template
      const uint32_t capacity = a.capacity % 1024;
      Guarded<TemplateEcho> echo(1);
      Guarded<uint8_t> buffer(capacity);
      a.check(BY_PROTOCOL(a, decode_read_template, echo[0], buffer.get(), capacity));
    },
    [](const Answer& a) {  // protocol-2 only: bit 0 picks the template echo or the flush
      if (a.p1) return single<TemplateEcho>(a.as_p2(), decode_template_echo_p2);
      single<uint16_t>(a, decode_flush_templates_p2);
    },
    [](const Answer& a) {  // list users
      const uint16_t count = a.p1 ? 1 : a.capacity % 16;
      Guarded<nax_user> users(count);
      Guarded<uint16_t> stored(1);
      a.check(a.p1 ? decode_list_users_p1(a.packet, a.capacity & 1, users.get(), stored[0])
                   : decode_list_users_p2(a.packet, count, users.get(), stored[0]));
      FUZZ_CHECK(stored[0] <= count);
      for (uint16_t i = 0; i < count; ++i) {
        FUZZ_CHECK(terminated(users[i].text1) && terminated(users[i].text2));
      }
    },
    [](const Answer& a) {
      single<uint16_t>(a, a.p1 ? decode_user_answer_p1 : decode_user_answer_p2);
    },
};
constexpr std::size_t kFamilyCount = sizeof(kFamilies) / sizeof(kFamilies[0]);

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, std::size_t input_size) {
  Reader in(input, input_size);
  const uint8_t family = in.u8();
  const bool p1 = (in.u8() & 1) != 0;
  const uint16_t status = in.u16();
  const uint16_t capacity = in.u16();
  const Answer a{in.packet(status, p1), p1, capacity};
  if (family < kFamilyCount) {
    kFamilies[family](a);
  } else {
    for (Family run : kFamilies) run(a);
  }
  return 0;
}
