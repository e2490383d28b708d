// The gateway's life cycle and the statuses it keeps retained on the broker.
#include "gateway.h"

#include <stdexcept>

#include "log.h"

namespace naxgw {

namespace {

// Bounds on nodes that connect in and are not claimed yet: anyone who reaches the
// listener's port can open links, each with a thread of the library.
constexpr int32_t kMaxUnclaimed = 1000;
constexpr int32_t kClaimTimeoutMs = 60000;

}  // namespace

Gateway::Gateway(Config config) : config_(std::move(config)), store_(open_store(config_.database)) {
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
  gateway_since_ = utc_now();
}

Gateway::~Gateway() {
  stop();
}

std::string Gateway::topic(const std::string& name, const std::string& rest) const {
  return config_.mqtt.prefix + "/" + name + "/" + rest;
}

void Gateway::publish_gateway() {
  json body;
  {
    std::lock_guard<std::mutex> lock(gateway_mutex_);
    dropped_published_ = broker_->dropped_events();
    body = {{"state", gateway_state_},
            {"since", gateway_since_},
            {"client_id", config_.mqtt.client_id},
            {"nodes", workers_.size()},
            {"dropped_events", dropped_published_}};
    if (!gateway_reason_.empty()) body["reason"] = gateway_reason_;
    if (!database_error_.empty()) body["error"] = database_error_;
    if (dropped_published_ > 0) {
      body["warning"] = "events dropped while the broker could not take them";
    }
  }
  broker_->publish(topic(config_.gateway.name, "status"), to_text(body), 1, true);
}

void Gateway::set_database_error(const std::string& error) {
  {
    std::lock_guard<std::mutex> lock(gateway_mutex_);
    if (database_error_ == error) return;
    database_error_ = error;
  }
  if (error.empty()) {
    log_info("database: working again");
  } else {
    log_error(error);
  }
  if (broker_) publish_gateway();
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
  for (const auto& w : workers_) {
    filters_.push_back(topic(w->cfg.name, "cmd/+"));
    if (w->cfg.answer) filters_.push_back(topic(w->cfg.name, "answer"));
  }
  broker_->set_subscriptions(filters_);
  broker_->on_message([this](const Incoming& in) { handle_message(in); });
  broker_->on_connect([this] {
    // A broker that restarted without persistence forgot the retained states.
    publish_gateway();
    for (const auto& w : workers_) {
      if (w->claimed.load()) publish_status(*w);
    }
    std::lock_guard<std::mutex> lock(outbox_mutex_);
    outbox_wake_ = true;
    outbox_cv_.notify_all();
  });
  broker_->on_ack([this](int mid) { acknowledged(mid); });
  broker_->start();
  started_ = true;

  answerer_ = std::thread([this] { run_answers(); });
  outbox_ = std::thread([this] { run_outbox(); });
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
  for (std::mutex* m : {&accept_mutex_, &answers_mutex_, &outbox_mutex_}) {
    std::lock_guard<std::mutex> lock(*m);
  }
  accept_cv_.notify_all();
  answers_cv_.notify_all();
  outbox_cv_.notify_all();
  for (const auto& w : workers_) {
    { std::lock_guard<std::mutex> lock(w->mutex); }
    w->cv.notify_all();
  }
  if (acceptor_.joinable()) acceptor_.join();
  if (answerer_.joinable()) answerer_.join();
  if (outbox_.joinable()) outbox_.join();
  for (const auto& w : workers_) {
    if (w->thread.joinable()) w->thread.join();
  }
  nax_uninit();
  library_up_ = false;
  for (const auto& w : workers_) {
    if (!w->claimed.load()) continue;
    set_state(*w, "offline", w->status);
    publish_status(*w);
    store_->release(w->cfg.name);
  }
  {
    std::lock_guard<std::mutex> lock(gateway_mutex_);
    gateway_state_ = "offline";
    gateway_reason_ = "stopped";
    gateway_since_ = utc_now();
  }
  publish_gateway();
  broker_->stop(config_.mqtt.stop_timeout_ms);
  log_info("stopped");
}

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
    if (!w.warning.empty()) body["warning"] = w.warning;
    if (!w.error.empty()) body["error"] = w.error;
  }
  if (broker_) broker_->publish(topic(w.cfg.name, "status"), to_text(body), 1, true);
}

// True when anything changed that the retained status shows.
bool Gateway::set_state(Worker& w, const char* state, uint32_t status) {
  bool went = false;
  {
    std::lock_guard<std::mutex> lock(w.status_mutex);
    if (w.state == state && w.status == status) return false;
    if (w.state != state) {
      w.since = utc_now();
      went = true;
    }
    w.state = state;
    w.status = status;
  }
  if (went && std::string(state) == "online") {
    log_info(w.cfg.name + ": online");
  } else if (went || std::string(state) == "offline") {
    log_warning(w.cfg.name + ": " + state + ": " + std::to_string(status) + " " +
                (status == 0 ? "" : nax_status_text(status)));
  }
  return true;
}

}  // namespace naxgw
