// Keepalive: the library-wide settings, the keepalive request and the
// reception thread's clock that decides when a quiet link sends one.
#include "core/lifecycle.h"
#include "core/log.h"
#include "link/link.h"

namespace nax {
namespace {

// Sends one keepalive without waiting for its answer, which the reception
// thread absorbs like any keepalive.  A link that a command holds is skipped.
uint32_t send_keepalive(uint32_t link_id, uint16_t des_node) {
  log_printf(1, "cmd", "send keepalive for link id = %d from node = %d", link_id, des_node);
  Link* link = nullptr;
  uint32_t status = link_acquire(link_id, &link, {.states = kStatesCommands});
  if (status == NAX_OK) {
    Packet request{};
    if (link->packet_protocol.load() == 1) {
      request.cmd = kP1Keepalive;
      request.size = 1;  // one zero byte
    } else {
      request.cmd = kP2Keepalive;
    }
    status = transaction(link, des_node, request, nullptr, kTxSend);
    link_release(link_id);
  }
  log_printf(3, "cmd", "send keepalive for link id = %d ret_val = %d", link_id, status);
  return status;
}

}  // namespace

KeepaliveSettings& keepalive() {
  static KeepaliveSettings settings;
  return settings;
}

KeepaliveClock::KeepaliveClock() : last_activity_ms_(platform::monotonic_ms()) {}

uint32_t KeepaliveClock::read_timeout() {
  const uint32_t period = keepalive().timeout_ms.load();
  return period == 0 ? platform::kWaitForever : period;
}

void KeepaliveClock::frame_received() {
  last_activity_ms_ = platform::monotonic_ms();
  retries_done_ = 0;
}

uint32_t KeepaliveClock::quiet(uint32_t link_id, uint32_t read_status) {
  const KeepaliveSettings& k = keepalive();
  const uint32_t period = k.timeout_ms.load();
  if (period == 0) return NAX_OK;
  // A read that timed out waited a whole period; any other failure may come early.
  if (read_status != NAX_ERR_TIMEOUT && platform::monotonic_ms() - last_activity_ms_ < period) {
    return NAX_OK;
  }
  if (retries_done_ >= k.retries.load()) return NAX_ERR_NODE_LOST;
  ++retries_done_;
  if (send_keepalive(link_id, k.dest_node.load()) == NAX_OK) {
    last_activity_ms_ = platform::monotonic_ms();
  }
  return NAX_OK;
}

}  // namespace nax

using namespace nax;

extern "C" {

NAX_API uint32_t NAX_CALL nax_set_keepalive(int32_t timeout, int32_t retries, uint16_t dest_node) {
  log_printf(1, "cmd", "set keepalive - timeout = %d, retry = %d, dest node = %d", timeout, retries,
             dest_node);
  KeepaliveSettings& k = keepalive();
  uint32_t status = NAX_OK;
  if (is_initialised() == NAX_OK) {
    status = NAX_ERR_ALREADY_INIT;
  } else if (timeout != 0 && retries == 0) {
    status = NAX_ERR_INVALID_ARG;
  } else {
    k.timeout_ms = static_cast<uint32_t>(timeout);
    k.retries = static_cast<uint32_t>(retries);
    k.dest_node = dest_node;
  }
  log_printf(3, "cmd", "set keepalive - timeout = %d, retry = %d, dest_node = %d, ret_val = %d",
             static_cast<int32_t>(k.timeout_ms.load()), static_cast<int32_t>(k.retries.load()),
             k.dest_node.load(), status);
  return status;
}

}  // extern "C"
