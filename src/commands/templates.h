// Biometric templates: read (both protocols), write, delete and flush
// (protocol 2 only).  A template is an opaque block that travels whole.
#pragma once

#include <cstdint>

#include "proto/packet.h"

namespace nax {

inline constexpr uint16_t kCmdReadTemplateP1 = 0x0016;
inline constexpr uint16_t kCmdReadTemplateP2 = 0x8021;
inline constexpr uint16_t kCmdWriteTemplateP2 = 0x8020;
inline constexpr uint16_t kCmdDelTemplateP2 = 0x8022;
inline constexpr uint16_t kCmdFlushTemplatesP2 = 0x8023;

// Every answer that carries a template carries exactly this many bytes.
inline constexpr uint32_t kTemplateSize = 384;

// The identifiers a node repeats in its answer; they must match the request.
struct TemplateEcho {
  uint16_t sensor_id;
  uint32_t access_id;
  uint8_t template_id;
};

// Protocol 1 sends no sensor and the access id as 8-digit packed BCD.
void encode_read_template_p1(Packet& request, uint32_t access_id, uint8_t template_id);
void encode_read_template_p2(Packet& request, uint16_t sensor_id, uint32_t access_id,
                             uint8_t template_id);
// The 384-byte block is copied only when the answer holds it whole and the
// capacity takes it (else 1029, buffer untouched).  Protocol 1 leaves the
// echoed sensor at 0 and maps a refusal's error byte (3 -> 10, 9 -> 11,
// 2 -> 12, other -> 16).
uint32_t decode_read_template_p1(const Packet& answer, TemplateEcho& echo, uint8_t* buffer,
                                 uint32_t capacity);
uint32_t decode_read_template_p2(const Packet& answer, TemplateEcho& echo, uint8_t* buffer,
                                 uint32_t capacity);

// 1037 for a length above 384, checked once the identifiers are placed and
// before anything is sent.  A null template or length 0 sends the identifiers only.
uint32_t encode_write_template_p2(Packet& request, uint16_t sensor_id, uint32_t access_id,
                                  uint8_t template_id, const uint8_t* template_data,
                                  uint32_t length);
void encode_del_template_p2(Packet& request, uint16_t sensor_id, uint32_t access_id,
                            uint8_t template_id);
// The 7-byte echo of write and delete answers.
uint32_t decode_template_echo_p2(const Packet& answer, TemplateEcho& echo);

void encode_flush_templates_p2(Packet& request, uint16_t sensor_id);
uint32_t decode_flush_templates_p2(const Packet& answer, uint16_t& sensor_id_read);

}  // namespace nax
