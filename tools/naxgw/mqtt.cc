// libmosquitto behind a small class.
#include "mqtt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <stdexcept>

#include "log.h"

namespace naxgw {

Broker::Broker(const MqttConfig& config, const std::string& will_topic,
               const std::string& will_payload)
    : config_(config), version_(config.version) {
  mosq_ = mosquitto_new(config.client_id.c_str(), true, this);
  if (!mosq_) throw std::runtime_error("mqtt: client could not be created");
  mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION,
                       version_ == 5 ? MQTT_PROTOCOL_V5 : MQTT_PROTOCOL_V311);
  if (!config.username.empty()) {
    mosquitto_username_pw_set(mosq_, config.username.c_str(),
                              config.password.empty() ? nullptr : config.password.c_str());
  }
  if (!config.ca_file.empty()) {
    const int rc =
        mosquitto_tls_set(mosq_, config.ca_file.c_str(), nullptr,
                          config.cert_file.empty() ? nullptr : config.cert_file.c_str(),
                          config.key_file.empty() ? nullptr : config.key_file.c_str(), nullptr);
    if (rc != MOSQ_ERR_SUCCESS) {
      mosquitto_destroy(mosq_);
      throw std::runtime_error(std::string("mqtt: TLS files: ") + mosquitto_strerror(rc));
    }
  }
  mosquitto_will_set_v5(mosq_, will_topic.c_str(), static_cast<int>(will_payload.size()),
                        will_payload.data(), 1, true, nullptr);
  mosquitto_reconnect_delay_set(mosq_, 1, 30, true);
  mosquitto_connect_v5_callback_set(mosq_, (&Broker::handle_connect));
  mosquitto_disconnect_v5_callback_set(mosq_, (&Broker::handle_disconnect));
  mosquitto_message_v5_callback_set(mosq_, (&Broker::handle_message));
  mosquitto_publish_v5_callback_set(mosq_, (&Broker::handle_publish));
  mosquitto_log_callback_set(mosq_, (&Broker::handle_log));
}

Broker::~Broker() {
  stop(0);
  mosquitto_destroy(mosq_);
}

void Broker::set_subscriptions(std::vector<std::string> filters) {
  filters_ = std::move(filters);
}

void Broker::start() {
  const int rc = mosquitto_connect_async(mosq_, config_.host.c_str(), config_.port,
                                         static_cast<int>(config_.keepalive_s));
  if (rc != MOSQ_ERR_SUCCESS) {
    // The loop keeps trying; a broker that comes up later is found.
    log_warning("broker " + config_.host + ":" + std::to_string(config_.port) + ": " +
                mosquitto_strerror(rc) + "; retrying");
  }
  if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("mqtt: client thread could not be started");
  }
  started_ = true;
}

void Broker::stop(uint32_t wait_ms) {
  if (!started_) return;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    const bool idle = idle_.wait_for(lock, std::chrono::milliseconds(wait_ms), [&] {
      return connected_ && waiting_.empty() && in_flight_.empty();
    });
    if (!idle && wait_ms > 0) {
      log_warning("broker: stopped with " + std::to_string(waiting_.size() + in_flight_.size()) +
                  " messages not acknowledged");
    }
  }
  mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
  mosquitto_loop_stop(mosq_, false);
  started_ = false;
}

bool Broker::connected() {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

uint64_t Broker::dropped_events() {
  std::lock_guard<std::mutex> lock(mutex_);
  return dropped_;
}

bool Broker::send_locked(const std::string& topic, const std::string& payload, int qos, bool retain,
                         const std::string* correlation, int* mid_out, bool event) {
  if (!connected_) return false;
  mosquitto_property* props = nullptr;
  if (correlation && version_ == 5) {
    mosquitto_property_add_binary(
        &props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
        static_cast<uint16_t>(std::min<std::size_t>(correlation->size(), 0xFFFF)));
  }
  int mid = 0;
  const int rc = mosquitto_publish_v5(mosq_, &mid, topic.c_str(), static_cast<int>(payload.size()),
                                      payload.data(), qos, retain, props);
  mosquitto_property_free_all(&props);
  if (rc != MOSQ_ERR_SUCCESS) return false;
  // The acknowledgement cannot overtake this: its handler needs the mutex held here.
  if (qos > 0) {
    in_flight_[mid] = event;
    if (event) ++events_in_flight_;
  }
  if (mid_out) *mid_out = mid;
  return true;
}

bool Broker::publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                     const std::string* correlation, int* mid) {
  std::lock_guard<std::mutex> lock(mutex_);
  return send_locked(topic, payload, qos, retain, correlation, mid, false);
}

void Broker::publish_event(const std::string& topic, std::string payload) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (waiting_.empty() && events_in_flight_ < config_.max_queued &&
      send_locked(topic, payload, 1, false, nullptr, nullptr, true)) {
    return;
  }
  waiting_.emplace_back(topic, std::move(payload));
  if (waiting_.size() + events_in_flight_ > config_.max_queued) {
    waiting_.pop_front();
    if (dropped_++ == 0) log_warning("broker: event queue full; dropping the oldest events");
  }
}

void Broker::drain_locked() {
  while (connected_ && !waiting_.empty() && events_in_flight_ < config_.max_queued) {
    if (!send_locked(waiting_.front().first, waiting_.front().second, 1, false, nullptr, nullptr,
                     true)) {
      break;
    }
    waiting_.pop_front();
  }
  if (waiting_.empty() && in_flight_.empty()) idle_.notify_all();
}

void Broker::handle_connect(mosquitto* mosq, void* self_arg, int rc, int,
                            const mosquitto_property*) {
  auto* self = static_cast<Broker*>(self_arg);
  if (rc != 0) {
    log_error(std::string("broker refused the connection: ") +
              (self->version_ == 5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc)));
    return;
  }
  // In batches: a gateway of many nodes subscribes to two filters per node.
  constexpr std::size_t kBatch = 100;
  for (std::size_t i = 0; i < self->filters_.size(); i += kBatch) {
    std::vector<char*> batch;
    for (std::size_t j = i; j < self->filters_.size() && j < i + kBatch; ++j) {
      batch.push_back(self->filters_[j].data());
    }
    // Retain as published: a retained command arriving live must still be known as one.
    mosquitto_subscribe_multiple(mosq, nullptr, static_cast<int>(batch.size()), batch.data(), 1,
                                 self->version_ == 5 ? MQTT_SUB_OPT_RETAIN_AS_PUBLISHED : 0,
                                 nullptr);
  }
  log_info("broker: connected to " + self->config_.host + ":" + std::to_string(self->config_.port));
  {
    std::lock_guard<std::mutex> lock(self->log_mutex_);
    self->last_log_.clear();
  }
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    self->connected_ = true;
  }
  if (self->connect_hook_) self->connect_hook_();
  std::lock_guard<std::mutex> lock(self->mutex_);
  self->drain_locked();
}

void Broker::handle_disconnect(mosquitto*, void* self_arg, int rc, const mosquitto_property*) {
  auto* self = static_cast<Broker*>(self_arg);
  std::lock_guard<std::mutex> lock(self->mutex_);
  if (self->connected_ && rc != 0) {
    log_warning(std::string("broker: connection lost: ") + mosquitto_strerror(rc));
  }
  self->connected_ = false;
  // What was handed over and not acknowledged is gone with the session: events are not
  // sent again, marks stay unpublished in the database and go out after the reconnect.
  self->in_flight_.clear();
  self->events_in_flight_ = 0;
}

void Broker::handle_publish(mosquitto*, void* self_arg, int mid, int, const mosquitto_property*) {
  auto* self = static_cast<Broker*>(self_arg);
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    const auto it = self->in_flight_.find(mid);
    if (it == self->in_flight_.end()) return;
    if (it->second) --self->events_in_flight_;
    self->in_flight_.erase(it);
    self->drain_locked();
  }
  if (self->ack_hook_) self->ack_hook_(mid);
}

// The client library reports TLS and socket failures only here; each distinct one is
// logged once until the next successful connect.
void Broker::handle_log(mosquitto*, void* self_arg, int level, const char* text) {
  if (!(level & (MOSQ_LOG_ERR | MOSQ_LOG_WARNING)) || !text) return;
  auto* self = static_cast<Broker*>(self_arg);
  {
    // Its own lock: the client library may log from inside a publish made under mutex_.
    std::lock_guard<std::mutex> lock(self->log_mutex_);
    if (self->last_log_ == text) return;
    self->last_log_ = text;
  }
  log_error(std::string("broker: ") + text);
}

void Broker::handle_message(mosquitto*, void* self_arg, const mosquitto_message* message,
                            const mosquitto_property* props) {
  auto* self = static_cast<Broker*>(self_arg);
  if (!self->message_handler_ || !message->topic) return;
  Incoming in;
  in.topic = message->topic;
  in.retained = message->retain;
  if (message->payload && message->payloadlen > 0) {
    in.payload.assign(static_cast<const char*>(message->payload),
                      static_cast<std::size_t>(message->payloadlen));
  }
  char* response = nullptr;
  if (mosquitto_property_read_string(props, MQTT_PROP_RESPONSE_TOPIC, &response, false)) {
    in.response_topic = response;
    free(response);
  }
  void* data = nullptr;
  uint16_t length = 0;
  if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length, false)) {
    in.correlation.assign(static_cast<const char*>(data), length);
    in.has_correlation = true;
    free(data);
  }
  self->message_handler_(in);
}

}  // namespace naxgw
