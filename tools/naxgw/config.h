// naxgw's configuration: read from a TOML file and checked before anything starts.
#pragma once

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace naxgw {

// What the gateway sends back to a user event when no reply arrives on MQTT in time.
struct AnswerConfig {
  uint32_t timeout_ms = 1000;
  uint8_t st = 1;
  std::string text1;
  std::string text2;
};

struct NodeConfig {
  std::string name;
  std::string connection;  // empty for a node that connects in to the listener
  uint16_t node = 1;
  uint8_t protocol = 2;
  uint16_t source_node = 0x100;
  bool clock_sync = false;
  uint32_t timeout_ms = 3000;  // open and receive time-out
  std::optional<AnswerConfig> answer;
  int line = 0;  // where it was configured, for messages
};

struct MqttConfig {
  std::string host = "127.0.0.1";
  uint16_t port = 1883;
  std::string client_id = "naxgw";
  std::string prefix = "vedodiroz";
  std::string username;
  std::string password;
  int version = 5;  // 5, or 4 for MQTT 3.1.1
  uint32_t keepalive_s = 30;
  std::string ca_file;
  std::string cert_file;
  std::string key_file;
  uint32_t max_queued = 100000;     // events waiting for the broker; beyond it the oldest go
  uint32_t stop_timeout_ms = 5000;  // how long a clean stop waits to hand over what is queued
};

struct GatewayConfig {
  std::string name = "gateway";  // PREFIX/NAME/status carries the gateway's own state
  uint32_t keepalive_ms = 3000;  // library keepalive towards quiet nodes; 0 disables
  uint32_t keepalive_retries = 2;
  uint32_t retry_min_ms = 500;  // reconnection back-off, doubled per failure up to the max
  uint32_t retry_max_ms = 30000;
  uint32_t check_ms = 1000;  // how often a link that a node opened is checked for loss
  std::string log_path;      // library log; empty: none
  uint32_t log_level = 0;
};

// Exactly one of path (SQLite, the default) and url (PostgreSQL, a libpq URI).
struct DatabaseConfig {
  std::string path = "naxgw.db";
  std::string url;
  uint32_t retry_max_ms = 30000;  // back-off cap while the database cannot be reached
};

struct MarksConfig {
  uint32_t interval_s = 60;
  bool delete_after_store = false;
  uint8_t table = 1;   // the node's table number of its mark log
  uint16_t page = 32;  // marks asked for per request
};

struct ListenerConfig {
  uint16_t port = 0;
  uint8_t protocol = 2;
  uint16_t source_node = 0x100;
  uint32_t timeout_ms = 3000;
  std::vector<NodeConfig> nodes;  // the node numbers accepted and their names
};

struct Config {
  MqttConfig mqtt;
  GatewayConfig gateway;
  DatabaseConfig database;
  MarksConfig marks;
  // The commands MQTT may run; absent: every command, empty: none (read-only).
  std::optional<std::vector<std::string>> allow;
  std::string path;  // the file it was read from
  int password_line = 0;
  std::vector<NodeConfig> nodes;
  std::optional<ListenerConfig> listener;
};

// "FILE:LINE: reason"
class ConfigError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Throws ConfigError naming the file, the line and the reason.  known_commands, when
// given, are the names commands.allow may hold.
Config load_config(const std::string& path,
                   const std::vector<std::string>* known_commands = nullptr);
// The same for a text already in memory; path only names it in messages.
Config parse_config(const std::string& text, const std::string& path,
                    const std::vector<std::string>* known_commands = nullptr);

// Faults of the running system that the text alone cannot show: files that must exist,
// a database folder that must be usable, serial devices.  Throws ConfigError; returns
// warnings (a device not plugged in yet, a password other users may read).
std::vector<std::string> check_environment(const Config& config);

// A name usable as one MQTT topic level and as a database key.
bool valid_name(const std::string& name);

}  // namespace naxgw
