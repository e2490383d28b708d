// The pattern every node command follows: take the link, pick the codec of the
// link's packet protocol, run one transaction, decode, release, log.
#pragma once

#include <cstdint>

#include "core/log.h"
#include "link/registry.h"
#include "proto/packet.h"

namespace nax {

// Log context of every node command's lines.
inline constexpr const char* kCmd = "cmd";

// Holds a link for the duration of a command (link_get ... link_release).
class LinkHold {
 public:
  explicit LinkHold(int32_t link_id);
  ~LinkHold();
  LinkHold(const LinkHold&) = delete;
  LinkHold& operator=(const LinkHold&) = delete;

  uint32_t status() const { return status_; }  // 1 when the link is held
  Link* link() const { return link_; }
  bool p1() const;  // the link's packet protocol is 1 (any other value selects protocol 2)

 private:
  int32_t link_id_;
  Link* link_ = nullptr;
  uint32_t status_;
};

// The shape every exported node command shares, written once.  with_link takes the link,
// runs body(hold) while it is held and releases it; a link that cannot be taken gives the
// registry's status without running the body.
template <class Body>
uint32_t with_link(int32_t link_id, Body&& body) {
  LinkHold hold(link_id);
  const uint32_t status = hold.status();
  return status == NAX_OK ? body(hold) : status;
}

// with_link, then the exit line "<name> for link id = %d ret_val = %d" once the link is
// released.  For commands whose entry line is their own.
template <class Body>
uint32_t run_held(const char* name, int32_t link_id, Body&& body) {
  const uint32_t status = with_link(link_id, body);
  log_printf(3, kCmd, "%s for link id = %d ret_val = %d", name, link_id, static_cast<int>(status));
  return status;
}

// The whole shape: entry line "<name> for link id = %d from node = %d", run_held.
template <class Body>
uint32_t run_command(const char* name, int32_t link_id, uint16_t node, Body&& body) {
  log_printf(1, kCmd, "%s for link id = %d from node = %d", name, link_id, node);
  return run_held(name, link_id, body);
}

// Send the request to node and wait for its answer (transaction flags 3).
uint32_t exchange(Link* link, uint16_t node, const Packet& request, Packet& answer);
// Send only (transaction flags 1): answers to events.
uint32_t send_only(Link* link, uint16_t node, const Packet& request);

// Starts a request packet: zeroes it and sets the command code.
void begin_request(Packet& request, uint16_t cmd);
// Sets the request size from a cursor that started at request.data.
void end_request(Packet& request, const uint8_t* cursor);

// Protocol-1 answer whose first data byte is the verdict: returns that byte
// (1 = done), or 1029 when the answer is empty.
uint32_t decode_result_byte(const Packet& answer);

}  // namespace nax
