// nax_accept: claim a node that connected in to the listener.
#include <algorithm>

#include "commands/command.h"
#include "commands/num_cfg.h"
#include "core/lifecycle.h"
#include "link/link.h"

using namespace nax;

namespace {

constexpr uint16_t kAnyNode = 0xFFFF;
constexpr uint32_t kMinAcceptMs = 200;

}  // namespace

extern "C" NAX_API uint32_t NAX_CALL nax_accept(uint32_t* link_id, uint16_t* dest_node,
                                                uint16_t* port, uint8_t packet_protocol,
                                                uint16_t source_node, uint32_t accept_timeout,
                                                int32_t rcv_timeout) {
  log_printf(1, "cmd",
             "accept for link_id = %d, dest_node = %d, port = %d, packet_protocol = %d, "
             "source_node = %d, accept_timeout = %dmS, rcv_timeout = %d",
             *link_id, *dest_node, *port, packet_protocol, source_node, accept_timeout,
             rcv_timeout);
  uint32_t status = NAX_OK;
  if (packet_protocol != 1 && packet_protocol != 2) {
    status = NAX_ERR_BAD_PROTOCOL;
  } else {
    const bool given = *link_id != 0;
    uint32_t candidate = given ? *link_id : 1;
    uint32_t budget = std::max(accept_timeout, kMinAcceptMs) / kRetryPauseMs;
    for (; budget > 0; --budget) {
      Link* link = nullptr;
      status = is_initialised();
      if (status == NAX_OK) status = link_acquire(candidate, &link, {.states = LINK_INCOMING});
      if (status == NAX_ERR_NO_SUCH_LINK) {
        if (given) break;
        platform::sleep_ms(kRetryPauseMs);
        candidate = 1;
        continue;
      }
      if (status != NAX_OK) {
        if (given) break;
        ++candidate;
        continue;
      }
      if (*port != 0 && link->port != *port) {
        link_release(candidate);
        status = NAX_ERR_OTHER_PORT;
        if (given) break;
        ++candidate;
        continue;
      }
      link->source_node = source_node;
      link->packet_protocol = packet_protocol;
      link->rcv_timeout = static_cast<uint32_t>(rcv_timeout);
      uint32_t value = 0;
      uint32_t read = get_numeric_value(link, kAnyNode, 2, 0, &value);
      log_printf(3, "cmd", "accept link id = %d, get numeric value = %d, ret_val = %d", candidate,
                 value, read);
      if (read == NAX_OK && (*dest_node == 0 || value == *dest_node)) {
        *port = static_cast<uint16_t>(link->port);
        *dest_node = static_cast<uint16_t>(value);
        link->link_state = LINK_ACCEPTED;
        leave_unclaimed(link->unclaimed);
        link_release(candidate);
        *link_id = candidate;
        status = NAX_OK;
        break;
      }
      link_release(candidate);
      status = NAX_ERR_NODE_NUMBER;
      if (given) break;
      ++candidate;
    }
  }
  log_printf(3, "cmd", "accept link id = %d, ret_val = %d", *link_id, status);
  return status;
}
