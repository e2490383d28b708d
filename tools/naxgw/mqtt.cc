// libmosquitto behind a small class.
#include "mqtt.h"

#include <mosquitto.h>
#include <mqtt_protocol.h>

#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>

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
}

Broker::~Broker() {
  stop(0);
  mosquitto_destroy(mosq_);
}

void Broker::set_subscriptions(std::vector<std::string> filters) {
  std::lock_guard<std::mutex> lock(mutex_);
  filters_ = std::move(filters);
}

void Broker::start() {
  const int rc = mosquitto_connect_async(mosq_, config_.host.c_str(), config_.port,
                                         static_cast<int>(config_.keepalive_s));
  if (rc != MOSQ_ERR_SUCCESS) {
    // The loop keeps trying; a broker that comes up later is found.
    std::fprintf(stderr, "naxgw: broker %s:%u: %s; retrying\n", config_.host.c_str(),
                 unsigned{config_.port}, mosquitto_strerror(rc));
  }
  if (mosquitto_loop_start(mosq_) != MOSQ_ERR_SUCCESS) {
    throw std::runtime_error("mqtt: client thread could not be started");
  }
  started_ = true;
}

void Broker::stop(uint32_t wait_ms) {
  if (!started_) return;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
  while (connected_.load() && acknowledged_.load() < queued_.load() &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  mosquitto_disconnect_v5(mosq_, MQTT_RC_NORMAL_DISCONNECTION, nullptr);
  mosquitto_loop_stop(mosq_, false);
  started_ = false;
}

bool Broker::publish(const std::string& topic, const std::string& payload, int qos, bool retain,
                     const std::string* correlation) {
  mosquitto_property* props = nullptr;
  if (correlation && version_ == 5) {
    mosquitto_property_add_binary(
        &props, MQTT_PROP_CORRELATION_DATA, correlation->data(),
        static_cast<uint16_t>(std::min<std::size_t>(correlation->size(), 0xFFFF)));
  }
  if (qos > 0) queued_.fetch_add(1);
  const int rc =
      mosquitto_publish_v5(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                           payload.data(), qos, retain, props);
  mosquitto_property_free_all(&props);
  if (rc != MOSQ_ERR_SUCCESS && qos > 0) acknowledged_.fetch_add(1);
  return rc == MOSQ_ERR_SUCCESS;
}

void Broker::handle_connect(mosquitto* mosq, void* self_arg, int rc, int,
                            const mosquitto_property*) {
  auto* self = static_cast<Broker*>(self_arg);
  if (rc != 0) {
    std::fprintf(stderr, "naxgw: broker refused the connection: %s\n",
                 self->version_ == 5 ? mosquitto_reason_string(rc) : mosquitto_connack_string(rc));
    return;
  }
  std::vector<std::string> filters;
  {
    std::lock_guard<std::mutex> lock(self->mutex_);
    filters = self->filters_;
  }
  // In batches: a gateway of many nodes subscribes to two filters per node.
  constexpr std::size_t kBatch = 100;
  for (std::size_t i = 0; i < filters.size(); i += kBatch) {
    std::vector<char*> batch;
    for (std::size_t j = i; j < filters.size() && j < i + kBatch; ++j) {
      batch.push_back(filters[j].data());
    }
    mosquitto_subscribe_multiple(mosq, nullptr, static_cast<int>(batch.size()), batch.data(), 1, 0,
                                 nullptr);
  }
  self->connected_.store(true);
  if (self->connect_hook_) self->connect_hook_();
}

void Broker::handle_disconnect(mosquitto*, void* self_arg, int, const mosquitto_property*) {
  static_cast<Broker*>(self_arg)->connected_.store(false);
}

void Broker::handle_publish(mosquitto*, void* self_arg, int, int, const mosquitto_property*) {
  static_cast<Broker*>(self_arg)->acknowledged_.fetch_add(1);
}

void Broker::handle_message(mosquitto*, void* self_arg, const mosquitto_message* message,
                            const mosquitto_property* props) {
  auto* self = static_cast<Broker*>(self_arg);
  if (!self->message_handler_ || !message->topic) return;
  Incoming in;
  in.topic = message->topic;
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
