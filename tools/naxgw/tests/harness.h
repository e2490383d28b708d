// Real parts for the gateway's tests: a mosquitto broker on a free loopback port, naxsim
// and naxgw as child processes, an MQTT 5 client that records everything it sees, the
// gateway's SQLite file read back directly, and a PostgreSQL server of the tests' own.
#pragma once

#include <fcntl.h>
#include <glob.h>
#include <libpq-fe.h>
#include <mosquitto.h>
#include <mqtt_protocol.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sqlite3.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace naxgw_test {

using json = nlohmann::json;
using Clock = std::chrono::steady_clock;

// Generous: a loaded two-core machine under a sanitizer starts processes slowly.  Tests
// wait for conditions, never for fixed times.
inline constexpr int kWaitMs = 30000;

inline uint16_t free_port() {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof a;
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &length);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline bool port_open(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  ::close(fd);
  return ok;
}

inline bool wait_until(const std::function<bool()>& condition, int timeout_ms = kWaitMs) {
  const auto deadline = Clock::now() + std::chrono::milliseconds(timeout_ms);
  while (!condition()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  return true;
}

// A scratch folder removed at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/naxgw-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { std::system(("rm -rf '" + path_ + "'").c_str()); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name)) << text;
    return file(name);
  }

 private:
  std::string path_;
};

class Process {
 public:
  Process() = default;
  // stdout and stderr go to log_path.
  Process(const std::vector<std::string>& argv, const std::string& log_path) {
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, log_path.c_str(), O_WRONLY | O_CREAT | O_APPEND,
                                     0644);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  Process(Process&& other) noexcept : pid_(other.pid_) { other.pid_ = -1; }
  Process& operator=(Process&& other) noexcept {
    kill(SIGKILL);
    pid_ = other.pid_;
    other.pid_ = -1;
    return *this;
  }
  ~Process() { kill(SIGKILL); }

  bool running() const { return pid_ > 0; }
  // Sends signal and reaps the process; returns its exit status (-1 when killed).
  int kill(int signal) {
    if (pid_ <= 0) return -1;
    ::kill(pid_, signal);
    return wait();
  }
  int wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

 private:
  pid_t pid_ = -1;
};

inline std::string read_file(const std::string& path) {
  std::ifstream in(path);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// settings replace the default (anonymous clients welcome) after the first listener.
class Mosquitto {
 public:
  explicit Mosquitto(const TempDir& dir, const std::string& settings = "allow_anonymous true\n")
      : port_(free_port()), dir_(dir) {
    conf_ = dir.write("mosquitto.conf",
                      "per_listener_settings false\npersistence false\n"
                      "listener " +
                          std::to_string(port_) + " 127.0.0.1\n" + settings);
    start();
  }
  uint16_t port() const { return port_; }
  void start() {
    process_ = Process({MOSQUITTO_PATH, "-c", conf_}, dir_.file("mosquitto.log"));
    wait_until([&] { return port_open(port_); });
  }
  void stop() { process_.kill(SIGKILL); }

 private:
  uint16_t port_;
  const TempDir& dir_;
  std::string conf_;
  Process process_;
};

// naxsim on a known port (so that it can come back on the same one).
inline Process start_naxsim(const TempDir& dir, uint16_t port, std::vector<std::string> options,
                            const std::string& log = "naxsim.log") {
  std::vector<std::string> argv = {NAXSIM_PATH, "--port", std::to_string(port)};
  argv.insert(argv.end(), options.begin(), options.end());
  Process p(argv, dir.file(log));
  wait_until([&] { return port_open(port); });
  return p;
}

struct Message {
  std::string topic;
  std::string payload;
  bool retained = false;
  std::string correlation;  // MQTT 5 property
  json body() const { return json::parse(payload, nullptr, false); }
};

// An MQTT 5 client that subscribes to everything and keeps what arrives.
class Client {
 public:
  explicit Client(uint16_t port, int version = MQTT_PROTOCOL_V5, const std::string& user = "") {
    mosquitto_lib_init();
    mosq_ = mosquitto_new(nullptr, true, this);
    mosquitto_int_option(mosq_, MOSQ_OPT_PROTOCOL_VERSION, version);
    if (!user.empty()) mosquitto_username_pw_set(mosq_, user.c_str(), ("pw-" + user).c_str());
    mosquitto_publish_v5_callback_set(
        mosq_, [](mosquitto*, void* self, int, int, const mosquitto_property*) {
          ++static_cast<Client*>(self)->acknowledged_;
        });
    mosquitto_connect_v5_callback_set(
        mosq_, [](mosquitto* m, void* self, int rc, int, const mosquitto_property*) {
          if (rc == 0) mosquitto_subscribe(m, nullptr, "#", 1);
          static_cast<Client*>(self)->subscribed_ = true;
        });
    mosquitto_message_v5_callback_set(
        mosq_, [](mosquitto*, void* self_arg, const mosquitto_message* m,
                  const mosquitto_property* props) {
          auto* self = static_cast<Client*>(self_arg);
          Message msg;
          msg.topic = m->topic;
          if (m->payload) msg.payload.assign(static_cast<const char*>(m->payload), m->payloadlen);
          msg.retained = m->retain;
          void* data = nullptr;
          uint16_t length = 0;
          if (mosquitto_property_read_binary(props, MQTT_PROP_CORRELATION_DATA, &data, &length,
                                             false)) {
            msg.correlation.assign(static_cast<const char*>(data), length);
            free(data);
          }
          std::lock_guard<std::mutex> lock(self->mutex_);
          self->messages_.push_back(std::move(msg));
        });
    mosquitto_connect(mosq_, "127.0.0.1", port, 30);
    mosquitto_loop_start(mosq_);
    wait_until([&] { return subscribed_.load(); });
  }
  ~Client() {
    mosquitto_disconnect(mosq_);
    mosquitto_loop_stop(mosq_, false);
    mosquitto_destroy(mosq_);
    mosquitto_lib_cleanup();
  }

  std::vector<Message> messages() {
    std::lock_guard<std::mutex> lock(mutex_);
    return messages_;
  }
  std::vector<Message> on(const std::string& topic) {
    std::vector<Message> out;
    for (auto& m : messages()) {
      if (m.topic == topic) out.push_back(m);
    }
    return out;
  }
  // The first message on topic, from index `from` of that topic's list on, that satisfies
  // test.
  std::optional<Message> wait_for(const std::string& topic,
                                  const std::function<bool(const json&)>& test,
                                  int timeout_ms = kWaitMs) {
    std::optional<Message> found;
    wait_until(
        [&] {
          for (auto& m : on(topic)) {
            const json body = m.body();
            if (!body.is_discarded() && test(body)) {
              found = m;
              return true;
            }
          }
          return false;
        },
        timeout_ms);
    return found;
  }
  void forget() {
    std::lock_guard<std::mutex> lock(mutex_);
    messages_.clear();
  }
  // Returns once the broker acknowledged it (and so had applied its ACL to it).
  void publish(const std::string& topic, const std::string& payload,
               const std::string& response_topic = "", const std::string& correlation = "",
               bool retain = false) {
    const int before = acknowledged_.load();
    mosquitto_property* props = nullptr;
    if (!response_topic.empty()) {
      mosquitto_property_add_string(&props, MQTT_PROP_RESPONSE_TOPIC, response_topic.c_str());
    }
    if (!correlation.empty()) {
      mosquitto_property_add_binary(&props, MQTT_PROP_CORRELATION_DATA, correlation.data(),
                                    static_cast<uint16_t>(correlation.size()));
    }
    mosquitto_publish_v5(mosq_, nullptr, topic.c_str(), static_cast<int>(payload.size()),
                         payload.data(), 1, retain, props);
    mosquitto_property_free_all(&props);
    wait_until([&] { return acknowledged_.load() > before; });
  }

 private:
  mosquitto* mosq_ = nullptr;
  std::mutex mutex_;
  std::vector<Message> messages_;
  std::atomic<bool> subscribed_{false};
  std::atomic<int> acknowledged_{0};
};

// Reads the gateway's database while the gateway may be writing it.
class Database {
 public:
  explicit Database(const std::string& path) : path_(path) {}
  // -1 while the file or the table does not exist yet.
  int64_t scalar(const std::string& sql) const {
    sqlite3* db = nullptr;
    int64_t value = -1;
    if (sqlite3_open_v2(path_.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK) {
      sqlite3_busy_timeout(db, 5000);
      sqlite3_stmt* s = nullptr;
      if (sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
          sqlite3_step(s) == SQLITE_ROW) {
        value = sqlite3_column_int64(s, 0);
      }
      sqlite3_finalize(s);
    }
    sqlite3_close(db);
    return value;
  }

 private:
  std::string path_;
};

// A PostgreSQL server of the tests' own (initdb into a temporary folder, a free loopback
// port), shared by every test of the process; the server refuses root, so under root it
// runs as the postgres user.  nullptr when the server's programs are not installed.
class Postgres {
 public:
  static Postgres* shared() {
    static std::unique_ptr<Postgres> server = [] {
      glob_t found{};
      std::unique_ptr<Postgres> p;
      if (::glob("/usr/lib/postgresql/*/bin/initdb", 0, nullptr, &found) == 0) {
        std::string bin = found.gl_pathv[found.gl_pathc - 1];
        p.reset(new Postgres(bin.substr(0, bin.size() - 6)));
      }
      ::globfree(&found);
      return p;
    }();
    return server.get();
  }
  ~Postgres() {
    run("pg_ctl -D " + dir_ + "/data -m immediate stop");
    std::system(("rm -rf " + dir_).c_str());
  }

  bool start() {
    return run("pg_ctl -D " + dir_ + "/data -l " + dir_ + "/server.log -w -o '-p " +
               std::to_string(port_) + " -k " + dir_ +
               " -c listen_addresses=127.0.0.1 -c fsync=off' start");
  }
  bool stop() { return run("pg_ctl -D " + dir_ + "/data -m immediate stop"); }
  // A fresh database for one test.
  std::string create(const std::string& name) {
    query("postgres", "DROP DATABASE IF EXISTS " + name);
    query("postgres", "CREATE DATABASE " + name);
    return url(name);
  }
  std::string url(const std::string& db) const {
    return "postgresql://naxgw@127.0.0.1:" + std::to_string(port_) + "/" + db;
  }
  // The first value of the first row; -1 when there is none or the query failed.
  int64_t query(const std::string& db, const std::string& sql) const {
    PGconn* c = PQconnectdb(url(db).c_str());
    PQsetNoticeProcessor(
        c, [](void*, const char*) {}, nullptr);
    PGresult* r = PQexec(c, sql.c_str());
    const int64_t v = PQresultStatus(r) == PGRES_TUPLES_OK && PQntuples(r) > 0
                          ? std::atoll(PQgetvalue(r, 0, 0))
                          : -1;
    PQclear(r);
    PQfinish(c);
    return v;
  }

 private:
  explicit Postgres(std::string bin) : bin_(std::move(bin)), port_(free_port()) {
    char pattern[] = "/tmp/naxgw-pg-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    as_ = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
    if (!as_.empty()) std::system(("chown postgres " + dir_).c_str());
    run("initdb --no-sync -A trust -U naxgw -E UTF8 -D " + dir_ + "/data");
    start();
  }
  bool run(const std::string& command) const {
    return std::system((as_ + bin_ + command + " >>" + dir_ + "/ctl.log 2>&1").c_str()) == 0;
  }
  std::string bin_;
  uint16_t port_;
  std::string dir_;
  std::string as_;
};

// A gateway process with a configuration written from parts.
class Gateway {
 public:
  Gateway(const TempDir& dir, const std::string& config, const std::string& log = "naxgw.log")
      : dir_(dir), config_path_(dir.write(log + ".toml", config)), log_(log) {
    start();
  }
  void start() { process_ = Process({NAXGW_PATH, "--config", config_path_}, dir_.file(log_)); }
  void kill9() { process_.kill(SIGKILL); }
  int terminate() { return process_.kill(SIGTERM); }
  std::string log() const { return read_file(dir_.file(log_)); }

 private:
  const TempDir& dir_;
  std::string config_path_;
  std::string log_;
  Process process_;
};

// [mqtt], [gateway], [database] and [marks] for a test; nodes follow.
// database: the [database] section's body (default: marks.db in dir).
inline std::string base_config(const TempDir& dir, uint16_t broker, const std::string& marks = "",
                               const std::string& gateway = "", const std::string& database = "",
                               const std::string& mqtt = "") {
  return "[mqtt]\nhost = \"127.0.0.1\"\nport = " + std::to_string(broker) +
         "\nclient_id = \"naxgw-test\"\nprefix = \"t\"\n" + mqtt +
         "\n"
         "[gateway]\nkeepalive_ms = 500\nkeepalive_retries = 2\nretry_min_ms = 50\n"
         "retry_max_ms = 400\ncheck_ms = 100\n" +
         gateway +
         "\n"
         "[database]\n" +
         (database.empty() ? "path = \"" + dir.file("marks.db") + "\"\n" : database) +
         "\n[marks]\n" + (marks.empty() ? "interval_s = 1\n" : marks) + "\n";
}

inline std::string node_config(const std::string& name, uint16_t port, int protocol = 2,
                               const std::string& extra = "") {
  return "[[node]]\nname = \"" + name + "\"\nconnection = \"127.0.0.1:" + std::to_string(port) +
         "\"\nnode = 1\nprotocol = " + std::to_string(protocol) + "\nsource_node = 0x100\n" +
         "timeout_ms = 1000\n" + extra + "\n";
}

}  // namespace naxgw_test
