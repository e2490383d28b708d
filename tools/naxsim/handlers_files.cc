// Files (protocol 2): one file open at a time, read and written in chunks; the
// node answers a close with the CRC-32 of the whole file.
#include "handlers_files.h"

#include <algorithm>

#include "handlers_io.h"
#include "naxsim.h"

namespace naxsim {

uint32_t crc32_ieee(const uint8_t* data, std::size_t size) {
  uint32_t crc = 0xFFFFFFFFu;
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= data[i];
    for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

namespace {

constexpr uint16_t kCmdOpenP2 = 0x8070;
constexpr uint16_t kCmdReadP2 = 0x8071;
constexpr uint16_t kCmdWriteP2 = 0x8072;
constexpr uint16_t kCmdCloseP2 = 0x8073;
constexpr uint16_t kCmdDelP2 = 0x8074;

constexpr std::size_t kMaxName = 510;

bool open_file(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  RequestReader in(request);
  const uint32_t flags = in.u32();
  const std::string name = in.text(kMaxName);
  if (!in.ok() || flags > kFileAppend) {
    answer.status = kStatusBadRequest;
    return true;
  }
  node.with_state<Files>([&](Files& files) {
    auto found = files.store.find(name);
    if (flags == kFileRead && found == files.store.end()) {
      answer.status = kFileStatusNotFound;
      return 0;
    }
    std::vector<uint8_t>& content = files.store[name];
    if (flags == kFileWrite) content.clear();
    files.open = true;
    files.open_name = name;
    files.open_flags = flags;
    files.position = flags == kFileAppend ? content.size() : 0;
    AnswerWriter out(answer);
    out.u32(static_cast<uint32_t>(content.size()));
    return 0;
  });
  return true;
}

bool read_file(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  RequestReader in(request);
  const uint32_t len = in.u32();
  if (!in.ok()) {
    answer.status = kStatusBadRequest;
    return true;
  }
  node.with_state<Files>([&](Files& files) {
    if (!files.open) {
      answer.status = kFileStatusNotOpen;
      return 0;
    }
    const std::vector<uint8_t>& content = files.store[files.open_name];
    const std::size_t left = content.size() - std::min(files.position, content.size());
    const std::size_t n = std::min({std::size_t{len}, kMaxAnswerData, left});
    AnswerWriter out(answer);
    out.bytes(content.data() + files.position, n);
    files.position += n;
    return 0;
  });
  return true;
}

bool write_file(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  node.with_state<Files>([&](Files& files) {
    if (!files.open || files.open_flags == kFileRead) {
      answer.status = kFileStatusNotOpen;
      return 0;
    }
    std::vector<uint8_t>& content = files.store[files.open_name];
    const std::size_t end = files.position + request.size;
    if (end > Files::kMaxFileSize) {
      answer.status = kFileStatusTooLarge;
      return 0;
    }
    if (content.size() < end) content.resize(end);
    std::copy_n(request.data, request.size, content.begin() + static_cast<long>(files.position));
    files.position = end;
    return 0;
  });
  return true;
}

bool close_file(Node& node, const nax::Packet&, nax::Packet& answer, int) {
  node.with_state<Files>([&](Files& files) {
    if (!files.open) {
      answer.status = kFileStatusNotOpen;
      return 0;
    }
    const std::vector<uint8_t>& content = files.store[files.open_name];
    AnswerWriter out(answer);
    out.u32(crc32_ieee(content.data(), content.size()));
    files.open = false;
    return 0;
  });
  return true;
}

bool delete_file(Node& node, const nax::Packet& request, nax::Packet& answer, int) {
  RequestReader in(request);
  const std::string name = in.text(kMaxName);
  if (!in.ok()) {
    answer.status = kStatusBadRequest;
    return true;
  }
  node.with_state<Files>([&](Files& files) {
    if (files.store.erase(name) == 0) {
      answer.status = kFileStatusNotFound;
    } else if (files.open && files.open_name == name) {
      files.open = false;
    }
    return 0;
  });
  return true;
}

const HandlerRegistration kOpenP2(2, kCmdOpenP2, open_file);
const HandlerRegistration kReadP2(2, kCmdReadP2, read_file);
const HandlerRegistration kWriteP2(2, kCmdWriteP2, write_file);
const HandlerRegistration kCloseP2(2, kCmdCloseP2, close_file);
const HandlerRegistration kDelP2(2, kCmdDelP2, delete_file);

}  // namespace
}  // namespace naxsim
