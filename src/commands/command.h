// The pattern every node command follows: take the link, pick the codec of the
// link's packet protocol, run one transaction, decode, release, log.
#pragma once

#include <cstdint>

#include "core/log.h"
#include "core/registry.h"
#include "proto/packet.h"

namespace nax {

// Holds a link for the duration of a command (link_get ... link_release).
class LinkHold {
 public:
  explicit LinkHold(int32_t link_id);
  ~LinkHold();
  LinkHold(const LinkHold&) = delete;
  LinkHold& operator=(const LinkHold&) = delete;

  uint32_t status() const { return status_; }  // 1 when the link is held
  nax_link* link() const { return link_; }
  bool p1() const;  // the link's packet protocol is 1 (any other value selects protocol 2)

 private:
  int32_t link_id_;
  nax_link* link_ = nullptr;
  uint32_t status_;
};

// Send the request to node and wait for its answer (transaction flags 3).
uint32_t exchange(nax_link* link, uint16_t node, const nax_packet& request, nax_packet& answer);
// Send only (transaction flags 1): answers to events.
uint32_t send_only(nax_link* link, uint16_t node, const nax_packet& request);

// Starts a request packet: zeroes it and sets the command code.
void begin_request(nax_packet& request, uint16_t cmd);
// Sets the request size from a cursor that started at request.data.
void end_request(nax_packet& request, const uint8_t* cursor);

// Protocol-1 answer whose first data byte is the verdict: returns that byte
// (1 = done), or 1029 when the answer is empty.
uint32_t decode_result_byte(const nax_packet& answer);

}  // namespace nax
