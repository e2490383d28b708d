// Links, events, commands and marks of every configured node.
#include "gateway.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <random>
#include <stdexcept>

#include "commands.h"

namespace naxgw {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// Bounds on nodes that connect in and are not claimed yet: anyone who reaches the
// listener's port can open links, each with a thread of the library.
constexpr int32_t kMaxUnclaimed = 1000;
constexpr int32_t kClaimTimeoutMs = 60000;

struct Gateway::Worker {
  Gateway* gateway = nullptr;
  NodeConfig cfg;
  bool connects_in = false;
  std::thread thread;
  std::atomic<int32_t> link{0};
  std::atomic<bool> online{false};

  std::mutex mutex;  // guards what follows up to the status fields
  std::condition_variable cv;
  std::deque<Request> requests;
  int32_t offered = 0;  // a link the listener claimed for this node
  bool lost = false;
  uint32_t lost_status = 0;

  std::mutex status_mutex;
  std::string state = "offline";
  std::string since;
  uint32_t status = 0;
  bool status_published = false;

  std::mt19937 rng{std::random_device{}()};
};

namespace {

constexpr std::size_t kMaxQueued = 256;
constexpr std::size_t kMaxPayload = 64 * 1024;
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

bool usable_reply_topic(const std::string& topic) {
  return !topic.empty() && topic.size() <= 1024 && topic.find_first_of("+#") == std::string::npos &&
         topic.find('\0') == std::string::npos;
}

}  // namespace

Gateway::Gateway(Config config) : config_(std::move(config)), store_(config_.database) {
  auto add = [&](const NodeConfig& cfg, bool connects_in) {
    auto w = std::make_unique<Worker>();
    w->gateway = this;
    w->cfg = cfg;
    w->connects_in = connects_in;
    w->since = utc_now();
    by_name_[cfg.name] = w.get();
    if (connects_in) by_listener_node_[cfg.node] = w.get();
    workers_.push_back(std::move(w));
  };
  for (const NodeConfig& n : config_.nodes) add(n, false);
  if (config_.listener) {
    for (const NodeConfig& n : config_.listener->nodes) add(n, true);
  }
}

Gateway::~Gateway() {
  stop();
}

std::string Gateway::topic(const std::string& name, const std::string& rest) const {
  return config_.mqtt.prefix + "/" + name + "/" + rest;
}

void Gateway::publish_gateway(const char* state) {
  const json body = {{"state", state},
                     {"since", utc_now()},
                     {"client_id", config_.mqtt.client_id},
                     {"nodes", workers_.size()}};
  broker_->publish(topic(config_.gateway.name, "status"), to_text(body), 1, true);
}

void Gateway::start() {
  const GatewayConfig& g = config_.gateway;
  uint32_t status = nax_set_keepalive(static_cast<int32_t>(g.keepalive_ms),
                                      static_cast<int32_t>(g.keepalive_retries), 0xFFFF);
  if (status != NAX_OK)
    throw std::runtime_error(std::string("keepalive: ") + nax_status_text(status));
  status = nax_init(g.log_path.empty() ? nullptr : g.log_path.c_str(),
                    static_cast<int32_t>(g.log_level));
  if (status != NAX_OK)
    throw std::runtime_error(std::string("nax_init: ") + nax_status_text(status));
  library_up_ = true;

  const json will = {
      {"state", "offline"}, {"client_id", config_.mqtt.client_id}, {"reason", "lost"}};
  broker_ = std::make_unique<Broker>(config_.mqtt, topic(g.name, "status"), to_text(will));
  std::vector<std::string> filters;
  for (const auto& w : workers_) {
    filters.push_back(topic(w->cfg.name, "cmd/+"));
    if (w->cfg.answer) filters.push_back(topic(w->cfg.name, "answer"));
  }
  broker_->set_subscriptions(std::move(filters));
  broker_->on_message([this](const Incoming& in) { handle_message(in); });
  broker_->on_connect([this] {
    // A broker that restarted without persistence forgot the retained states.
    publish_gateway("online");
    for (const auto& w : workers_) publish_status(*w);
  });
  broker_->start();
  started_ = true;

  answerer_ = std::thread([this] { run_answers(); });
  for (const auto& w : workers_) {
    Worker* worker = w.get();
    worker->thread = std::thread([this, worker] { run_worker(*worker); });
  }
  if (config_.listener) {
    acceptor_ = std::thread([this] { run_acceptor(); });
    nax_set_listen_limits(kMaxUnclaimed, kClaimTimeoutMs);
    nax_listen(&status, config_.listener->port, 1000, this, on_listen_conn);
    if (status != NAX_OK) {
      throw std::runtime_error("listen on port " + std::to_string(config_.listener->port) + ": " +
                               nax_status_text(status));
    }
    listening_ = true;
  }
}

void Gateway::stop() {
  if (!started_) {
    if (library_up_) nax_uninit();
    library_up_ = false;
    return;
  }
  started_ = false;
  stopping_.store(true);
  if (listening_) nax_close_listen(1);
  listening_ = false;
  // Taking each lock once orders the flag before any waiter's next check of it.
  { std::lock_guard<std::mutex> lock(accept_mutex_); }
  accept_cv_.notify_all();
  { std::lock_guard<std::mutex> lock(answers_mutex_); }
  answers_cv_.notify_all();
  for (const auto& w : workers_) {
    { std::lock_guard<std::mutex> lock(w->mutex); }
    w->cv.notify_all();
  }
  if (acceptor_.joinable()) acceptor_.join();
  if (answerer_.joinable()) answerer_.join();
  for (const auto& w : workers_) {
    if (w->thread.joinable()) w->thread.join();
  }
  nax_uninit();
  library_up_ = false;
  for (const auto& w : workers_) {
    std::lock_guard<std::mutex> lock(w->status_mutex);
    if (w->state != "offline") {
      w->state = "offline";
      w->since = utc_now();
    }
  }
  for (const auto& w : workers_) publish_status(*w);
  publish_gateway("offline");
  broker_->stop(3000);
}

// ---- status ---------------------------------------------------------------------------

void Gateway::publish_status(Worker& w) {
  json body;
  {
    std::lock_guard<std::mutex> lock(w.status_mutex);
    body = {{"state", w.state},
            {"since", w.since},
            {"status", w.status},
            {"text", w.status == 0 ? "not connected yet" : nax_status_text(w.status)},
            {"node", w.cfg.node},
            {"gateway", config_.gateway.name}};
    w.status_published = true;
  }
  if (broker_) broker_->publish(topic(w.cfg.name, "status"), to_text(body), 1, true);
}

namespace {

// True when anything changed that the retained status shows.
bool set_state(std::mutex& mutex, std::string& state, std::string& since, uint32_t& status,
               const char* new_state, uint32_t new_status) {
  std::lock_guard<std::mutex> lock(mutex);
  if (state == new_state && status == new_status) return false;
  if (state != new_state) since = utc_now();
  state = new_state;
  status = new_status;
  return true;
}

}  // namespace

// ---- links ----------------------------------------------------------------------------

bool Gateway::owns(const Worker& w, int32_t link) {
  std::lock_guard<std::mutex> lock(owners_mutex_);
  const auto it = owners_.find(link);
  return it != owners_.end() && it->second == &w;
}

void Gateway::claim(Worker& w, int32_t link) {
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
  if (set_state(w.status_mutex, w.state, w.since, w.status, "offline", status)) publish_status(w);
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
      std::fprintf(stderr, "naxgw: a node on port %u was not accepted: %u %s\n", unsigned{l.port},
                   status, nax_status_text(status));
      // A link left unclaimed is given up at its claim time-out (or by the keepalive);
      // closing it here could close another node's link that got the freed id meanwhile.
      continue;
    }
    const auto it = by_listener_node_.find(number);
    if (it == by_listener_node_.end()) {
      std::fprintf(stderr, "naxgw: node %u connected in but is not configured; closed\n",
                   unsigned{number});
      nax_close(id);
      continue;
    }
    Worker& w = *it->second;
    nax_set_callback_args(id, &w);
    nax_set_user_callback(id, on_user);
    nax_set_aux_input_callback(id, on_aux);
    claim(w, id);
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

void Gateway::run_worker(Worker& w) {
  const GatewayConfig& g = config_.gateway;
  uint32_t backoff = g.retry_min_ms;
  Clock::time_point retry_at = Clock::now();
  Clock::time_point next_marks = Clock::now();
  Clock::time_point next_check = Clock::now();
  int silent = 0;

  auto refuse_queued = [&](uint32_t status) {
    std::deque<Request> refused;
    {
      std::lock_guard<std::mutex> lock(w.mutex);
      refused.swap(w.requests);
    }
    for (const Request& r : refused) reply(r, status, nullptr, "node offline");
  };
  auto schedule_retry = [&] {
    // Equal jitter: half the delay fixed, half random, so that many nodes lost together
    // do not all come back in the same instant.
    std::uniform_int_distribution<uint32_t> spread(0, backoff / 2);
    retry_at = Clock::now() + milliseconds(backoff - backoff / 2 + spread(w.rng));
    backoff = std::min(backoff * 2, g.retry_max_ms);
  };
  // After every exchange with the node: decides whether the link is still worth keeping.
  auto after = [&](uint32_t status) {
    if (link_gone(status)) {
      drop_link(w, status, false);
      schedule_retry();
    } else if (status == NAX_ERR_NO_ANSWER) {
      if (++silent >= kSilentLimit) {
        drop_link(w, status, true);
        schedule_retry();
      }
    } else {
      silent = 0;
    }
  };

  while (!stopping_.load()) {
    if (w.link.load() == 0) {
      refuse_queued(NAX_ERR_LINK_UNAVAILABLE);
      int32_t link = 0;
      uint32_t status = 0;
      if (w.connects_in) {
        std::unique_lock<std::mutex> lock(w.mutex);
        w.cv.wait_for(lock, milliseconds(g.check_ms),
                      [&] { return stopping_.load() || w.offered != 0 || !w.requests.empty(); });
        if (w.offered == 0) continue;
        link = w.offered;
        w.offered = 0;
        w.lost = false;
      } else {
        {
          std::unique_lock<std::mutex> lock(w.mutex);
          w.cv.wait_until(lock, retry_at, [&] { return stopping_.load() || !w.requests.empty(); });
        }
        if (stopping_.load()) break;
        if (Clock::now() < retry_at) continue;
        {
          std::lock_guard<std::mutex> lock(w.mutex);
          w.lost = false;
        }
        link = static_cast<int32_t>(nax_open(&status, w.cfg.source_node, w.cfg.protocol,
                                             w.cfg.connection.c_str(), w.cfg.timeout_ms, &w,
                                             on_user, on_aux, on_conn));
        if (link == 0) {
          if (set_state(w.status_mutex, w.state, w.since, w.status, "offline", status)) {
            publish_status(w);
          }
          schedule_retry();
          continue;
        }
        claim(w, link);
        nax_set_rcv_timeout(link, static_cast<int32_t>(w.cfg.timeout_ms));
      }
      w.link.store(link);
      // One exchange proves the node answers; a node that learns the link's protocol from
      // the first frame it receives sends no event before it.
      nax_date_time now{};
      status = nax_get_time(link, w.cfg.node, &now);
      if (status == NAX_OK && w.cfg.clock_sync) {
        nax_date_time host = local_now();
        status = nax_set_time(link, w.cfg.node, &host);
      }
      if (status != NAX_OK) {
        drop_link(w, status, !link_gone(status));
        schedule_retry();
        continue;
      }
      silent = 0;
      backoff = g.retry_min_ms;
      w.online.store(true);
      if (set_state(w.status_mutex, w.state, w.since, w.status, "online", NAX_OK)) {
        publish_status(w);
      }
      next_marks = Clock::now();
      next_check = Clock::now() + milliseconds(g.check_ms);
      continue;
    }

    Request request;
    bool have_request = false;
    bool lost = false;
    uint32_t lost_status = 0;
    bool replaced = false;
    {
      std::unique_lock<std::mutex> lock(w.mutex);
      w.cv.wait_until(lock, std::min(next_marks, next_check), [&] {
        return stopping_.load() || w.lost || !w.requests.empty() || w.offered != 0;
      });
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
    if (stopping_.load()) break;
    if (lost) {
      drop_link(w, lost_status, false);
      schedule_retry();
      continue;
    }
    if (replaced) {
      // The node connected in again: whatever is left of the old link is stale.
      drop_link(w, NAX_ERR_CONN_CLOSED, true);
      continue;
    }
    if (have_request) {
      json result;
      uint32_t status = 0;
      try {
        status =
            run_command(Target{w.link.load(), w.cfg.node}, request.command, request.args, result);
      } catch (const BadRequest& e) {
        reply(request, NAX_ERR_INVALID_ARG, nullptr, e.what());
        continue;
      } catch (const std::exception& e) {
        reply(request, NAX_ERR_INVALID_ARG, nullptr,
              std::string("request not understood: ") + e.what());
        continue;
      }
      reply(request, status, result);
      after(status);
      continue;
    }
    const auto now = Clock::now();
    if (now >= next_check) {
      next_check = now + milliseconds(g.check_ms);
      const int32_t link = w.link.load();
      if (!owns(w, link) || nax_get_packet_protocol(link) == 0) {
        drop_link(w, NAX_ERR_LINK_UNAVAILABLE, false);
        schedule_retry();
        continue;
      }
    }
    if (now >= next_marks) {
      next_marks = now + std::chrono::seconds(config_.marks.interval_s);
      after(download_marks(w));
    }
  }
  const int32_t link = w.link.exchange(0);
  if (link != 0 && owns(w, link)) nax_close(link);
  refuse_queued(NAX_ERR_CONN_CLOSED);
}

// ---- commands -------------------------------------------------------------------------

void Gateway::reply(const Request& request, uint32_t status, const json& result,
                    const std::string& error) {
  if (request.reply_to.empty()) return;
  json body = {{"status", status}, {"text", nax_status_text(status)}, {"result", result}};
  if (!request.correlation.is_null()) body["correlation"] = request.correlation;
  if (!error.empty()) body["error"] = error;
  broker_->publish(request.reply_to, to_text(body), 1, false,
                   request.has_correlation_data ? &request.correlation_data : nullptr);
}

void Gateway::handle_message(const Incoming& in) {
  const std::string head = config_.mqtt.prefix + "/";
  if (in.topic.compare(0, head.size(), head) != 0) return;
  const std::string rest = in.topic.substr(head.size());
  const std::size_t slash = rest.find('/');
  if (slash == std::string::npos) return;
  const auto it = by_name_.find(rest.substr(0, slash));
  if (it == by_name_.end()) return;
  Worker& w = *it->second;
  const std::string kind = rest.substr(slash + 1);

  Request request;
  request.correlation_data = in.correlation;
  request.has_correlation_data = in.has_correlation;
  if (usable_reply_topic(in.response_topic)) request.reply_to = in.response_topic;
  json body =
      in.payload.size() > kMaxPayload
          ? json(json::value_t::discarded)
          : json::parse(in.payload.empty() ? std::string("{}") : in.payload, nullptr, false);
  if (body.is_object()) {
    const auto reply_to = body.find("reply_to");
    if (request.reply_to.empty() && reply_to != body.end() && reply_to->is_string() &&
        usable_reply_topic(reply_to->get<std::string>())) {
      request.reply_to = reply_to->get<std::string>();
    }
    const auto correlation = body.find("correlation");
    if (correlation != body.end()) request.correlation = *correlation;
  }

  if (kind == "answer") {
    if (!body.is_object() || !body.contains("answer_id") ||
        !body["answer_id"].is_number_unsigned()) {
      return;
    }
    {
      std::lock_guard<std::mutex> lock(answers_mutex_);
      const auto pending = answers_.find(body["answer_id"].get<uint64_t>());
      if (pending == answers_.end() || pending->second.worker != &w) return;
      pending->second.replied = true;
      pending->second.reply = body;
    }
    answers_cv_.notify_all();
    return;
  }
  if (kind.compare(0, 4, "cmd/") != 0) return;
  request.command = kind.substr(4);
  if (!body.is_object()) {
    reply(request, NAX_ERR_INVALID_ARG, nullptr,
          body.is_discarded() ? "the request is not valid JSON (or larger than 64 KiB)"
                              : "the request must be a JSON object");
    return;
  }
  const std::vector<std::string> names = command_names();
  if (std::find(names.begin(), names.end(), request.command) == names.end()) {
    reply(request, NAX_ERR_INVALID_ARG, nullptr, "unknown command \"" + request.command + "\"");
    return;
  }
  if (!w.online.load()) {
    reply(request, NAX_ERR_LINK_UNAVAILABLE, nullptr, "node offline");
    return;
  }
  request.args = std::move(body);
  {
    std::lock_guard<std::mutex> lock(w.mutex);
    if (w.requests.size() >= kMaxQueued) {
      request.args = nullptr;
    } else {
      w.requests.push_back(std::move(request));
      request.reply_to.clear();
    }
  }
  if (!request.reply_to.empty()) {
    reply(request, NAX_ERR_LINK_BUSY, nullptr, "too many requests queued for this node");
    return;
  }
  w.cv.notify_all();
}

// ---- events and answers ---------------------------------------------------------------

void Gateway::on_user(void* args, int32_t link, uint32_t node, nax_user_event* event) {
  auto* w = static_cast<Worker*>(args);
  if (!w || !event) return;
  Gateway& self = *w->gateway;
  json body = user_event_to_json(*event);
  body["node"] = node;
  if (w->cfg.answer) {
    PendingAnswer pending;
    pending.worker = w;
    pending.link = link;
    pending.node = node;
    pending.event = *event;
    pending.deadline = Clock::now() + milliseconds(w->cfg.answer->timeout_ms);
    {
      std::lock_guard<std::mutex> lock(self.answers_mutex_);
      const uint64_t id = self.next_answer_id_++;
      self.answers_[id] = pending;
      body["answer_id"] = id;
    }
    self.answers_cv_.notify_all();
  }
  self.broker_->publish(self.topic(w->cfg.name, "event/user"), to_text(body), 1, false);
}

void Gateway::on_aux(void* args, int32_t, uint32_t node, nax_aux_input_event* event) {
  auto* w = static_cast<Worker*>(args);
  if (!w || !event) return;
  json body = aux_event_to_json(*event);
  body["node"] = node;
  w->gateway->broker_->publish(w->gateway->topic(w->cfg.name, "event/aux"), to_text(body), 1,
                               false);
}

// Answers each user event once: with the reply that came on MQTT, or with the node's
// configured default when none came in time.
void Gateway::run_answers() {
  std::unique_lock<std::mutex> lock(answers_mutex_);
  while (!stopping_.load()) {
    const auto now = Clock::now();
    auto next = Clock::time_point::max();
    std::vector<PendingAnswer> due;
    for (auto it = answers_.begin(); it != answers_.end();) {
      if (it->second.replied || it->second.deadline <= now) {
        due.push_back(std::move(it->second));
        it = answers_.erase(it);
      } else {
        next = std::min(next, it->second.deadline);
        ++it;
      }
    }
    if (due.empty()) {
      if (next == Clock::time_point::max()) {
        answers_cv_.wait(lock);
      } else {
        answers_cv_.wait_until(lock, next);
      }
      continue;
    }
    lock.unlock();
    for (const PendingAnswer& p : due) send_answer(p, p.replied ? &p.reply : nullptr);
    lock.lock();
  }
}

namespace {

void copy_field(char* out, std::size_t capacity, const std::string& text) {
  const std::size_t n = std::min(text.size(), capacity - 1);
  std::copy_n(text.data(), n, out);
  out[n] = '\0';
}

}  // namespace

void Gateway::send_answer(const PendingAnswer& pending, const json* reply) {
  const AnswerConfig& fallback = *pending.worker->cfg.answer;
  nax_user_event_answer answer{};
  answer.date_time = local_now();
  answer.user.mask = NAX_USER_ID | NAX_USER_ST;
  answer.user.id = pending.event.id;
  uint8_t st = fallback.st;
  std::string text1 = fallback.text1;
  std::string text2 = fallback.text2;
  if (reply) {
    try {
      st = static_cast<uint8_t>(get_uint(*reply, "st", 0xFF, fallback.st));
      if (reply->contains("text1")) text1 = get_text(*reply, "text1", 254);
      if (reply->contains("text2")) text2 = get_text(*reply, "text2", 254);
      if (reply->contains("print")) {
        if (!(*reply)["print"].is_boolean()) throw BadRequest("field \"print\" must be a boolean");
        answer.print_enable = (*reply)["print"].get<bool>() ? 1 : 0;
      }
      if (reply->contains("aux")) {
        const json& lines = get_array(*reply, "aux", 10);
        char* fields[] = {answer.aux0, answer.aux1, answer.aux2, answer.aux3, answer.aux4,
                          answer.aux5, answer.aux6, answer.aux7, answer.aux8, answer.aux9};
        for (std::size_t i = 0; i < lines.size(); ++i) {
          if (!lines[i].is_string()) throw BadRequest("aux lines must be strings");
          copy_field(fields[i], sizeof answer.aux0, lines[i].get<std::string>());
        }
      }
    } catch (const BadRequest& e) {
      std::fprintf(stderr, "naxgw: %s: answer refused (%s); default sent\n",
                   pending.worker->cfg.name.c_str(), e.what());
      answer = nax_user_event_answer{};
      answer.date_time = local_now();
      answer.user.mask = NAX_USER_ID | NAX_USER_ST;
      answer.user.id = pending.event.id;
      st = fallback.st;
      text1 = fallback.text1;
      text2 = fallback.text2;
    }
  }
  answer.user.st = st;
  if (!text1.empty()) {
    answer.user.mask |= NAX_USER_TEXT1;
    copy_field(answer.user.text1, sizeof answer.user.text1, text1);
  }
  if (!text2.empty()) {
    answer.user.mask |= NAX_USER_TEXT2;
    copy_field(answer.user.text2, sizeof answer.user.text2, text2);
  }
  nax_answer_user_event(pending.link, static_cast<uint16_t>(pending.node), &answer);
}

// ---- marks ----------------------------------------------------------------------------

void Gateway::publish_marks(Worker& w, const std::vector<nax_mark>& marks) {
  for (const nax_mark& m : marks) {
    json body = mark_to_json(m);
    body["node"] = w.cfg.name;
    broker_->publish(topic(w.cfg.name, "mark"), to_text(body), 1, false);
  }
}

uint32_t Gateway::download_marks(Worker& w) {
  try {
    return w.cfg.protocol == 1 ? download_p1(w) : download_p2(w);
  } catch (const StoreError& e) {
    std::fprintf(stderr, "naxgw: %s: marks not stored: %s\n", w.cfg.name.c_str(), e.what());
    return NAX_OK;
  }
}

uint32_t Gateway::download_p2(Worker& w) {
  const bool remove = config_.marks.delete_after_store;
  const int32_t link = w.link.load();
  uint64_t cursor = remove ? 0 : store_.cursor(w.cfg.name);
  std::vector<nax_mark> page(config_.marks.page);
  uint16_t stored = 0;
  uint32_t status = 0;
  if (cursor > 0) {
    // The mark before the cursor must be one already stored; if not, the log was
    // emptied or replaced behind the gateway's back, and is read again from its start.
    status = nax_list_marks(link, w.cfg.node, static_cast<uint32_t>(cursor - 1), 1, page.data(),
                            &stored);
    if (status != NAX_OK && status != 8) return status;
    if (stored == 0 || !store_.contains(w.cfg.name, page[0])) cursor = 0;
  }
  for (;;) {
    if (cursor > 0xFFFF) break;  // positions travel in 16 bits
    status = nax_list_marks(link, w.cfg.node, static_cast<uint32_t>(cursor),
                            static_cast<uint16_t>(page.size()), page.data(), &stored);
    if (status != NAX_OK && status != 8) return status;
    stored = std::min<uint16_t>(stored, static_cast<uint16_t>(page.size()));
    if (stored > 0) {
      cursor += stored;
      publish_marks(w, store_.store(w.cfg.name, page.data(), stored, remove ? 0 : cursor));
    }
    if (status == 8 || stored == 0) break;
  }
  // Only now, with every mark read committed, may the node forget them.  Marks the node
  // took since are behind them in its log and stay.
  while (remove && cursor > 0) {
    const auto count = static_cast<uint16_t>(std::min<uint64_t>(cursor, 0xFFFF));
    uint16_t deleted = 0;
    status = nax_del_records(link, w.cfg.node, config_.marks.table, count, &deleted);
    if (status != NAX_OK) return status;
    if (deleted == 0) break;
    cursor -= std::min<uint64_t>(cursor, deleted);
  }
  return NAX_OK;
}

// Protocol 1 reads the log one mark at a time from its start; the cursor says how many
// of the first ones are stored already.
uint32_t Gateway::download_p1(Worker& w) {
  const int32_t link = w.link.load();
  const uint64_t skip = store_.cursor(w.cfg.name);
  std::vector<nax_mark> batch;
  uint64_t position = 0;
  auto flush = [&] {
    if (batch.empty()) return;
    publish_marks(w, store_.store(w.cfg.name, batch.data(), batch.size(), position));
    batch.clear();
  };
  nax_mark mark{};
  uint16_t stored = 0;
  uint32_t status = nax_list_marks(link, w.cfg.node, 0, 1, &mark, &stored);
  while (status == NAX_OK && stored == 1) {
    if (position >= skip) batch.push_back(mark);
    ++position;
    if (batch.size() >= config_.marks.page) flush();
    status = nax_list_marks(link, w.cfg.node, 1, 1, &mark, &stored);
  }
  flush();
  if (status != 21 && status != 8 && status != NAX_OK) return status;
  if (position < skip) {
    // The log is shorter than what was stored from it: it was emptied; start over.
    store_.set_cursor(w.cfg.name, 0);
    return download_p1(w);
  }
  return NAX_OK;
}

}  // namespace naxgw
