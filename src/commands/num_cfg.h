// Numeric parameters: reading and writing a node's numbered 1-, 2- or 4-byte values.
#pragma once

#include <cstdint>

#include "link/registry.h"
#include "proto/packet.h"

namespace nax {

inline constexpr uint16_t kCmdGetNumCfgP1 = 0x200A;
inline constexpr uint16_t kCmdGetNumCfgP2 = 0x8040;
inline constexpr uint16_t kCmdSetNumCfgP1 = 0x200B;
inline constexpr uint16_t kCmdSetNumCfgP2 = 0x8041;

// Request data, both protocols: num_size(1) num_id(2).
void encode_get_num_cfg_p1(Packet& request, uint8_t num_size, uint16_t num_id);
void encode_get_num_cfg_p2(Packet& request, uint8_t num_size, uint16_t num_id);
// Set value to 0, then read the verdict and 1 or 2 value bytes.  A num_size other
// than 1 or 2 gives 1037 after a positive answer (the node has been asked anyway).
uint32_t decode_get_num_cfg_p1(const Packet& answer, uint8_t num_size, uint32_t& value);
uint32_t decode_get_num_cfg_p2(const Packet& answer, uint8_t num_size, uint32_t& value);

// Request data, both protocols: num_size(1) num_id(2) num_val(4, whatever num_size says).
void encode_set_num_cfg_p1(Packet& request, uint8_t num_size, uint16_t num_id, int32_t num_val);
void encode_set_num_cfg_p2(Packet& request, uint8_t num_size, uint16_t num_id, int32_t num_val);
uint32_t decode_set_num_cfg_p1(const Packet& answer);  // result byte as status
uint32_t decode_set_num_cfg_p2(const Packet& answer);  // status word

// Reads one parameter on a link the caller already holds, by the link's packet
// protocol; writes no log line.  nax_accept uses it to ask a node for its number.
// A failed exchange leaves value untouched.
uint32_t get_numeric_value(Link* link, uint16_t node, uint8_t num_size, uint16_t num_id,
                           uint32_t* value);

}  // namespace nax
