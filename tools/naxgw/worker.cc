// A node's worker: its link through named states (unclaimed, waiting, connecting,
// online), and the listener's hand-over of links that nodes open to the gateway.
#include <algorithm>

#include "gateway.h"
#include "log.h"

namespace naxgw {

using std::chrono::milliseconds;

namespace {

constexpr int kSilentLimit = 3;  // commands in a row without an answer before a reconnect

// Statuses after which the link no longer exists in the library: the reception thread
// closed and freed it, or the id belongs to nobody.
bool link_gone(uint32_t status) {
  switch (status) {
    case NAX_ERR_CONN_CLOSED:
    case NAX_ERR_NODE_LOST:
    case NAX_ERR_LINK_UNAVAILABLE:
    case NAX_ERR_NO_SUCH_LINK:
    case NAX_ERR_LINK_STATE:
    case NAX_ERR_SOCKET_NOT_OPEN:
      return true;
    default:
      return false;
  }
}

}  // namespace

bool Gateway::owns(const Worker& w, int32_t link) {
  std::lock_guard<std::mutex> lock(owners_mutex_);
  const auto it = owners_.find(link);
  return it != owners_.end() && it->second == &w;
}

void Gateway::claim_link(Worker& w, int32_t link) {
  std::lock_guard<std::mutex> lock(owners_mutex_);
  owners_[link] = &w;
}

// close: the link is still ours in the library and must be closed; otherwise the library
// closed and freed it already, and its id may be someone else's by now.
void Gateway::drop_link(Worker& w, uint32_t status, bool close) {
  const int32_t link = w.link.exchange(0);
  w.online.store(false);
  if (link != 0) {
    bool ours = false;
    {
      std::lock_guard<std::mutex> lock(owners_mutex_);
      const auto it = owners_.find(link);
      ours = it != owners_.end() && it->second == &w;
      if (ours) owners_.erase(it);
    }
    if (close && ours) nax_close(link);
  }
  if (set_state(w, "offline", status) && w.claimed.load()) publish_status(w);
}

void Gateway::on_conn(void* args, int32_t link, uint32_t state) {
  auto* w = static_cast<Worker*>(args);
  if (!w || (state != NAX_CONN_LOST && state != NAX_CONN_NO_KEEPALIVE)) return;
  {
    std::lock_guard<std::mutex> lock(w->mutex);
    if (w->link.load() != link) return;
    w->lost = true;
    w->lost_status = state == NAX_CONN_NO_KEEPALIVE ? NAX_ERR_NODE_LOST : NAX_ERR_CONN_CLOSED;
  }
  w->cv.notify_all();
}

void Gateway::on_listen_conn(void* args, int32_t link, uint32_t state) {
  auto* self = static_cast<Gateway*>(args);
  if (state != NAX_CONN_CONNECTED) return;
  {
    std::lock_guard<std::mutex> lock(self->accept_mutex_);
    self->incoming_.push_back(link);
  }
  self->accept_cv_.notify_one();
}

// Claims each link a node opened to the listener and hands it to the node's worker.
void Gateway::run_acceptor() {
  const ListenerConfig& l = *config_.listener;
  for (;;) {
    int32_t id = 0;
    {
      std::unique_lock<std::mutex> lock(accept_mutex_);
      accept_cv_.wait(lock, [&] { return stopping_.load() || !incoming_.empty(); });
      if (stopping_.load()) return;
      id = incoming_.front();
      incoming_.pop_front();
    }
    uint32_t link = static_cast<uint32_t>(id);
    uint16_t number = 0;
    uint16_t port = 0;
    const uint32_t status = nax_accept(&link, &number, &port, l.protocol, l.source_node, 0,
                                       static_cast<int32_t>(l.timeout_ms));
    if (status != NAX_OK) {
      log_warning("a node on port " + std::to_string(l.port) +
                  " was not accepted: " + std::to_string(status) + " " + nax_status_text(status));
      // A link left unclaimed is given up by the library's keepalive; closing it here
      // could close another node's link that got the freed id meanwhile.
      continue;
    }
    const auto it = by_listener_node_.find(number);
    if (it == by_listener_node_.end() || !it->second->claimed.load()) {
      log_warning("node " + std::to_string(number) +
                  (it == by_listener_node_.end() ? " connected in but is not configured; closed"
                                                 : " connected in but another gateway serves it; "
                                                   "closed"));
      nax_close(id);
      continue;
    }
    Worker& w = *it->second;
    nax_set_callback_args(id, &w);
    nax_set_user_callback(id, on_user);
    nax_set_aux_input_callback(id, on_aux);
    claim_link(w, id);
    int32_t replaced = 0;
    {
      std::lock_guard<std::mutex> lock(w.mutex);
      replaced = w.offered;
      w.offered = id;
    }
    if (replaced != 0 && owns(w, replaced)) {
      {
        std::lock_guard<std::mutex> lock(owners_mutex_);
        owners_.erase(replaced);
      }
      nax_close(replaced);
    }
    w.cv.notify_all();
  }
}

void Gateway::refuse_queued(Worker& w, uint32_t status, const char* why) {
  std::deque<Request> refused;
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    refused.swap(w.requests);
  }
  for (const Request& r : refused) reply(r, status, nullptr, why);
}

void Gateway::schedule_retry(Worker& w) {
  // Equal jitter: half the delay fixed, half random, so that many nodes lost together do
  // not all come back in the same instant.
  std::uniform_int_distribution<uint32_t> spread(0, w.backoff / 2);
  w.retry_at = Clock::now() + milliseconds(w.backoff - w.backoff / 2 + spread(w.rng));
  w.backoff = std::min(w.backoff * 2, config_.gateway.retry_max_ms);
  w.link_state = LinkState::waiting;
}

// After every exchange with the node: decides whether the link is still worth keeping.
void Gateway::after_exchange(Worker& w, uint32_t status) {
  if (link_gone(status)) {
    drop_link(w, status, false);
    schedule_retry(w);
  } else if (status == NAX_ERR_NO_ANSWER) {
    if (++w.silent >= kSilentLimit) {
      drop_link(w, status, true);
      schedule_retry(w);
    }
  } else {
    w.silent = 0;
  }
}

// A gateway talks to a node only while the database says it may; a lost claim ends the
// link at once, before another gateway can have taken the node.
bool Gateway::still_claimed(Worker& w) {
  if (store_->holds(w.cfg.name)) return true;
  log_warning(w.cfg.name + ": claim in the database lost; no longer serving the node");
  const int32_t link = w.link.exchange(0);
  w.online.store(false);
  if (link != 0 && owns(w, link)) {
    {
      std::lock_guard<std::mutex> lock(owners_mutex_);
      owners_.erase(link);
    }
    nax_close(link);
  }
  w.claimed.store(false);
  w.link_state = LinkState::unclaimed;
  refuse_queued(w, NAX_ERR_LINK_UNAVAILABLE, "node no longer served by this gateway");
  return false;
}

void Gateway::step_unclaimed(Worker& w) {
  try {
    if (store_->claim(w.cfg.name)) {
      set_database_error("");
      w.claimed.store(true);
      w.backoff = config_.gateway.retry_min_ms;
      w.retry_at = Clock::now();
      w.link_state = LinkState::waiting;
      log_info(w.cfg.name + ": serving the node");
      publish_status(w);
      return;
    }
  } catch (const StoreError& e) {
    set_database_error(e.what());
  }
  std::unique_lock<std::mutex> lock(w.mutex);
  w.cv.wait_for(lock, milliseconds(config_.gateway.check_ms), [&] { return stopping_.load(); });
}

void Gateway::step_waiting(Worker& w) {
  refuse_queued(w, NAX_ERR_LINK_UNAVAILABLE, "node offline");
  if (!still_claimed(w)) return;
  std::unique_lock<std::mutex> lock(w.mutex);
  if (w.connects_in) {
    w.cv.wait_for(lock, milliseconds(config_.gateway.check_ms),
                  [&] { return stopping_.load() || w.offered != 0 || !w.requests.empty(); });
    if (w.offered != 0) w.link_state = LinkState::connecting;
    return;
  }
  const auto until = std::min(w.retry_at, Clock::now() + milliseconds(config_.gateway.check_ms));
  w.cv.wait_until(lock, until, [&] { return stopping_.load() || !w.requests.empty(); });
  if (Clock::now() >= w.retry_at) w.link_state = LinkState::connecting;
}

void Gateway::step_connecting(Worker& w) {
  int32_t link = 0;
  uint32_t status = 0;
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    w.lost = false;
    if (w.connects_in) {
      link = w.offered;
      w.offered = 0;
    }
  }
  if (!w.connects_in) {
    link = static_cast<int32_t>(nax_open(&status, w.cfg.source_node, w.cfg.protocol,
                                         w.cfg.connection.c_str(), w.cfg.timeout_ms, &w, on_user,
                                         on_aux, on_conn));
    if (link == 0) {
      if (set_state(w, "offline", status)) publish_status(w);
      schedule_retry(w);
      return;
    }
    claim_link(w, link);
    nax_set_rcv_timeout(link, static_cast<int32_t>(w.cfg.timeout_ms));
  }
  w.link.store(link);
  // One exchange proves the node answers; a node that learns the link's protocol from the
  // first frame it receives sends no event before it.
  nax_date_time now{};
  status = nax_get_time(link, w.cfg.node, &now);
  if (status == NAX_OK && w.cfg.clock_sync) {
    nax_date_time host = local_now();
    status = nax_set_time(link, w.cfg.node, &host);
  }
  if (status != NAX_OK) {
    drop_link(w, status, !link_gone(status));
    schedule_retry(w);
    return;
  }
  w.silent = 0;
  w.backoff = config_.gateway.retry_min_ms;
  w.online.store(true);
  if (set_state(w, "online", NAX_OK)) publish_status(w);
  w.next_marks = Clock::now();
  w.next_check = Clock::now() + milliseconds(config_.gateway.check_ms);
  w.link_state = LinkState::online;
}

void Gateway::step_online(Worker& w) {
  Request request;
  bool have_request = false;
  bool lost = false;
  uint32_t lost_status = 0;
  bool replaced = false;
  {
    std::unique_lock<std::mutex> lock(w.mutex);
    w.cv.wait_until(lock, std::min(w.next_marks, w.next_check), [&] {
      return stopping_.load() || w.lost || !w.requests.empty() || w.offered != 0;
    });
    if (stopping_.load()) return;
    if (w.lost) {
      lost = true;
      lost_status = w.lost_status;
      w.lost = false;
    } else if (w.offered != 0) {
      replaced = true;
    } else if (!w.requests.empty()) {
      request = std::move(w.requests.front());
      w.requests.pop_front();
      have_request = true;
    }
  }
  if (lost) {
    drop_link(w, lost_status, false);
    schedule_retry(w);
    return;
  }
  if (replaced) {
    // The node connected in again: whatever is left of the old link is stale.
    drop_link(w, NAX_ERR_CONN_CLOSED, true);
    w.link_state = LinkState::connecting;
    return;
  }
  if (have_request) {
    run_request(w, request);
    return;
  }
  const auto now = Clock::now();
  if (now >= w.next_check) {
    w.next_check = now + milliseconds(config_.gateway.check_ms);
    if (!still_claimed(w)) return;
    const int32_t link = w.link.load();
    if (!owns(w, link) || nax_get_packet_protocol(link) == 0) {
      drop_link(w, NAX_ERR_LINK_UNAVAILABLE, false);
      schedule_retry(w);
      return;
    }
  }
  if (now >= w.next_marks) {
    w.next_marks = now + std::chrono::seconds(config_.marks.interval_s);
    after_exchange(w, download_marks(w));
  }
}

void Gateway::run_worker(Worker& w) {
  w.backoff = config_.gateway.retry_min_ms;
  while (!stopping_.load()) {
    switch (w.link_state) {
      case LinkState::unclaimed:
        step_unclaimed(w);
        break;
      case LinkState::waiting:
        step_waiting(w);
        break;
      case LinkState::connecting:
        step_connecting(w);
        break;
      case LinkState::online:
        step_online(w);
        break;
    }
  }
  const int32_t link = w.link.exchange(0);
  if (link != 0 && owns(w, link)) nax_close(link);
  refuse_queued(w, NAX_ERR_CONN_CLOSED, "node offline");
}

}  // namespace naxgw
