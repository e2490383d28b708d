// The gateway's one client connection to the broker (libmosquitto, threaded loop).  It
// reconnects by itself with a capped exponential back-off, re-subscribes after every
// connect and leaves a last will on the gateway's status topic.  Nothing is handed to
// the client library while the broker is away: events wait in a bounded queue of our
// own (the oldest dropped and counted beyond it), statuses are republished on connect.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
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
  bool retained = false;
  std::string response_topic;  // MQTT 5 property; empty when absent
  std::string correlation;     // MQTT 5 correlation data, binary
  bool has_correlation = false;
};

class Broker {
 public:
  using MessageHandler = std::function<void(const Incoming&)>;
  using ConnectHook = std::function<void()>;
  using AckHook = std::function<void(int mid)>;

  // Throws std::runtime_error when the client cannot be set up (TLS files, memory).
  Broker(const MqttConfig& config, const std::string& will_topic, const std::string& will_payload);
  ~Broker();
  Broker(const Broker&) = delete;
  Broker& operator=(const Broker&) = delete;

  // All must be set before start(); they run on the client's own thread.
  void on_message(MessageHandler handler) { message_handler_ = std::move(handler); }
  void on_connect(ConnectHook hook) { connect_hook_ = std::move(hook); }
  void on_ack(AckHook hook) { ack_hook_ = std::move(hook); }
  // Topic filters subscribed (QoS 1) after every connect.
  void set_subscriptions(std::vector<std::string> filters);

  void start();
  // Waits (up to wait_ms, the broker coming back meanwhile) until every queued event and
  // every QoS 1 message handed over is acknowledged, then disconnects.
  void stop(uint32_t wait_ms);

  // Straight to the broker while connected; false (nothing kept) otherwise.  mid, when
  // given, receives the message id whose acknowledgement on_ack reports.
  bool publish(const std::string& topic, const std::string& payload, int qos, bool retain,
               const std::string* correlation = nullptr, int* mid = nullptr);
  // A QoS 1 event: handed over at once or queued, within max_queued.
  void publish_event(const std::string& topic, std::string payload);
  bool connected();
  uint64_t dropped_events();
  int version() const { return version_; }

 private:
  static void handle_connect(mosquitto*, void* self, int rc, int flags, const mqtt5__property*);
  static void handle_disconnect(mosquitto*, void* self, int rc, const mqtt5__property*);
  static void handle_message(mosquitto*, void* self, const mosquitto_message* message,
                             const mqtt5__property* props);
  static void handle_publish(mosquitto*, void* self, int mid, int reason, const mqtt5__property*);
  static void handle_log(mosquitto*, void* self, int level, const char* text);
  bool send_locked(const std::string& topic, const std::string& payload, int qos, bool retain,
                   const std::string* correlation, int* mid, bool event);
  void drain_locked();

  mosquitto* mosq_ = nullptr;
  MqttConfig config_;
  int version_ = 5;
  MessageHandler message_handler_;
  ConnectHook connect_hook_;
  AckHook ack_hook_;
  std::vector<std::string> filters_;
  bool started_ = false;

  std::mutex mutex_;  // guards what follows
  std::condition_variable idle_;
  bool connected_ = false;
  std::deque<std::pair<std::string, std::string>> waiting_;  // events not handed over yet
  std::map<int, bool> in_flight_;                            // mid -> is an event
  std::size_t events_in_flight_ = 0;
  uint64_t dropped_ = 0;
  std::mutex log_mutex_;
  std::string last_log_;
};

}  // namespace naxgw
