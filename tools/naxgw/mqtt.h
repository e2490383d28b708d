// The gateway's one client connection to the broker (libmosquitto, threaded loop).  It
// reconnects by itself with a capped exponential back-off, re-subscribes after every
// connect and leaves a last will on the gateway's status topic.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "config.h"

struct mosquitto;
struct mosquitto_message;
struct mqtt5__property;

namespace naxgw {

struct Incoming {
  std::string topic;
  std::string payload;
  std::string response_topic;  // MQTT 5 property; empty when absent
  std::string correlation;     // MQTT 5 correlation data, binary
  bool has_correlation = false;
};

class Broker {
 public:
  using MessageHandler = std::function<void(const Incoming&)>;
  using ConnectHook = std::function<void()>;

  // Throws std::runtime_error when the client cannot be set up (TLS files, memory).
  Broker(const MqttConfig& config, const std::string& will_topic, const std::string& will_payload);
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // Both must be set before start(); they run on the client's own thread.
  void on_message(MessageHandler handler) { message_handler_ = std::move(handler); }
  void on_connect(ConnectHook hook) { connect_hook_ = std::move(hook); }
  // Topic filters subscribed (QoS 1) after every connect.
  void set_subscriptions(std::vector<std::string> filters);

  void start();
  // Waits (up to wait_ms) for the QoS 1 messages in flight, then disconnects.
  void stop(uint32_t wait_ms);

  // False when the message could not even be queued.  correlation, when given, travels
  // as the MQTT 5 correlation data property.
  bool publish(const std::string& topic, const std::string& payload, int qos, bool retain,
               const std::string* correlation = nullptr);
  bool connected() const { return connected_.load(); }
  int version() const { return version_; }

 private:
  static void handle_connect(mosquitto*, void* self, int rc, int flags, const mqtt5__property*);
  static void handle_disconnect(mosquitto*, void* self, int rc, const mqtt5__property*);
  static void handle_message(mosquitto*, void* self, const mosquitto_message* message,
                             const mqtt5__property* props);
  static void handle_publish(mosquitto*, void* self, int mid, int reason, const mqtt5__property*);

  mosquitto* mosq_ = nullptr;
  MqttConfig config_;
  int version_ = 5;
  MessageHandler message_handler_;
  ConnectHook connect_hook_;
  std::mutex mutex_;
  std::vector<std::string> filters_;
  std::atomic<bool> connected_{false};
  std::atomic<uint64_t> queued_{0};
  std::atomic<uint64_t> acknowledged_{0};
  bool started_ = false;
};

}  // namespace naxgw
