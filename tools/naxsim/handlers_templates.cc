// Biometric templates: read in both protocols; write, delete and flush in protocol 2.
// Every answer repeats the identifiers asked for; a template shorter than 384
// bytes is read back zero-filled to that length.
#include "handlers_templates.h"

#include "handlers_io.h"
#include "naxsim.h"

namespace naxsim {
namespace {

constexpr uint16_t kCmdReadP1 = 0x0016;
constexpr uint16_t kCmdWriteP2 = 0x8020;
constexpr uint16_t kCmdReadP2 = 0x8021;
constexpr uint16_t kCmdDelP2 = 0x8022;
constexpr uint16_t kCmdFlushP2 = 0x8023;

void refuse_bad(nax::Packet& answer, int protocol) {
  refuse(answer, protocol, kStatusBadRequest, kErrorBadRequest);
}

void refuse_not_found(nax::Packet& answer, int protocol) {
  refuse(answer, protocol, kTemplateStatusNotFound, kTemplateErrorNotFound);
}

uint32_t read_bcd8(const std::string& bytes) {
  uint32_t value = 0;
  for (unsigned char b : bytes) value = (value * 10 + (b >> 4)) * 10 + (b & 0x0F);
  return value;
}

// False when the template is not there; block is zero-filled to kSize.
bool find_template(Node& node, const Templates::Key& key, std::vector<uint8_t>& block) {
  return node.with_state<Templates>([&](Templates& templates) {
    auto found = templates.store.find(key);
    if (found == templates.store.end()) return false;
    block = found->second;
    block.resize(Templates::kSize, 0);
    return true;
  });
}

bool read_p1(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const std::string access_bcd = in.bytes(4);
  const uint8_t template_id = in.u8();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  std::vector<uint8_t> block;
  if (!find_template(node, {kTemplateP1Sensor, read_bcd8(access_bcd), template_id}, block)) {
    refuse_not_found(answer, protocol);
    return true;
  }
  AnswerWriter out(answer);
  out.u8(kResultDone);
  out.bytes(access_bcd);
  out.u8(template_id);
  out.bytes(block.data(), block.size());
  return true;
}

void put_echo(AnswerWriter& out, uint16_t sensor, uint32_t access_id, uint8_t template_id) {
  out.u16(sensor);
  out.u32(access_id);
  out.u8(template_id);
}

bool read_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t sensor = in.u16();
  const uint32_t access_id = in.u32();
  const uint8_t template_id = in.u8();
  std::vector<uint8_t> block;
  if (!in.ok()) {
    refuse_bad(answer, protocol);
  } else if (!find_template(node, {sensor, access_id, template_id}, block)) {
    refuse_not_found(answer, protocol);
  } else {
    AnswerWriter out(answer);
    put_echo(out, sensor, access_id, template_id);
    out.bytes(block.data(), block.size());
  }
  return true;
}

bool write_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t sensor = in.u16();
  const uint32_t access_id = in.u32();
  const uint8_t template_id = in.u8();
  if (!in.ok() || in.remaining() > Templates::kSize) {
    refuse_bad(answer, protocol);
    return true;
  }
  std::vector<uint8_t> data(in.here(), in.here() + in.remaining());
  node.with_state<Templates>([&](Templates& templates) {
    templates.store[{sensor, access_id, template_id}] = std::move(data);
    return 0;
  });
  AnswerWriter out(answer);
  put_echo(out, sensor, access_id, template_id);
  return true;
}

bool del_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t sensor = in.u16();
  const uint32_t access_id = in.u32();
  const uint8_t template_id = in.u8();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  const bool erased = node.with_state<Templates>([&](Templates& templates) {
    return templates.store.erase({sensor, access_id, template_id}) > 0;
  });
  if (!erased) {
    refuse_not_found(answer, protocol);
    return true;
  }
  AnswerWriter out(answer);
  put_echo(out, sensor, access_id, template_id);
  return true;
}

bool flush_p2(Node& node, const nax::Packet& request, nax::Packet& answer, int protocol) {
  RequestReader in(request);
  const uint16_t sensor = in.u16();
  if (!in.ok()) {
    refuse_bad(answer, protocol);
    return true;
  }
  node.with_state<Templates>([&](Templates& templates) {
    std::erase_if(templates.store,
                  [&](const auto& entry) { return std::get<0>(entry.first) == sensor; });
    return 0;
  });
  AnswerWriter out(answer);
  out.u16(sensor);
  return true;
}

const HandlerRegistration kReadP1(1, kCmdReadP1, read_p1);
const HandlerRegistration kWriteP2(2, kCmdWriteP2, write_p2);
const HandlerRegistration kReadP2(2, kCmdReadP2, read_p2);
const HandlerRegistration kDelP2(2, kCmdDelP2, del_p2);
const HandlerRegistration kFlushP2(2, kCmdFlushP2, flush_p2);

}  // namespace
}  // namespace naxsim
