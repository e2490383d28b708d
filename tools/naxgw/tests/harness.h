// Real parts for the gateway's tests: a mosquitto broker on a free loopback port, naxsim
// and naxgw as child processes, an MQTT 5 client that records everything it sees, the
// gateway's SQLite file read back directly, and a PostgreSQL server of the tests' own.
#pragma once

#include <glob.h>
#include <signal.h>
#include <sqlite3.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "support/process.h"

namespace naxgw_test {

using json = nlohmann::json;

// Generous: a loaded two-core machine under a sanitizer starts processes slowly.  Tests
// wait for conditions, never for fixed times.
inline bool wait_until(const std::function<bool()>& condition) {
  return test_support::eventually(condition, 30000);
}

using test_support::free_port;
using test_support::loopback;
using test_support::read_file;

// A scratch folder removed at the end.
class TempDir {
 public:
  TempDir() {
    char pattern[] = "/tmp/naxgw-test-XXXXXX";
    path_ = ::mkdtemp(pattern);
  }
  ~TempDir() { std::filesystem::remove_all(path_); }
  std::string file(const std::string& name) const { return path_ + "/" + name; }
  std::string write(const std::string& name, const std::string& text) const {
    std::ofstream(file(name)) << text;
    return file(name);
  }

 private:
  std::string path_;
};

inline std::vector<std::string> joined(std::vector<std::string> a,
                                       const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A child process with stdout and stderr appended to a log, run again by start() and
// killed when dropped; await is a loopback port that start() waits for it to open.
class Process : public test_support::Process {
 public:
  Process(std::vector<std::string> argv, std::string log, uint16_t await = 0)
      : test_support::Process(std::move(argv), log), log_(std::move(log)), await_(await) {
    awaited();
  }
  bool start() {
    test_support::Process::start();
    return awaited();
  }
  std::string log() const { return read_file(log_); }

 private:
  bool awaited() {
    return await_ == 0 || wait_until([&] { return loopback(await_) != 0; });
  }
  std::string log_;
  uint16_t await_;
};

// A broker on a free loopback port; settings follow its first listener.
struct Mosquitto : Process {
  explicit Mosquitto(const TempDir& dir, const std::string& settings = "allow_anonymous true\n",
                     uint16_t listen = free_port())
      : Process({MOSQUITTO_PATH, "-c",
                 dir.write("mosquitto.conf",
                           "per_listener_settings false\npersistence false\nlistener " +
                               std::to_string(listen) + " 127.0.0.1\n" + settings)},
                dir.file("mosquitto.log"), listen),
        port(listen) {}
  const uint16_t port;
};

// naxsim on a known port (so that it can come back on the same one).
struct Naxsim : Process {
  Naxsim(const TempDir& dir, uint16_t port, const std::vector<std::string>& options = {})
      : Process(joined({NAXSIM_PATH, "--port", std::to_string(port)}, options),
                dir.file("naxsim.log"), port) {}
};

// A gateway with its configuration written beside its log.
struct Gateway : Process {
  Gateway(const TempDir& dir, const std::string& config, const std::string& log = "naxgw.log")
      : Process({NAXGW_PATH, "--config", dir.write(log + ".toml", config)}, dir.file(log)) {}
};

struct Message {
  std::string topic;
  std::string payload;
  bool retained = false;
  std::string correlation;  // MQTT 5 property
  json body() const { return json::parse(payload, nullptr, false); }
};

// An MQTT 5 client made of the broker's own command-line tools: mosquitto_sub records every
// message (topic, retained flag, payload in hex, correlation data) in a file, line by line
// so that its subscription shows at once, and mosquitto_pub returns once the broker
// acknowledged (and so had applied its ACL).
class Client {
 public:
  Client(const TempDir& dir, uint16_t port, const std::string& user = "")
      : login_(joined({"-h", "127.0.0.1", "-p", std::to_string(port), "-V", "5", "-q", "1"},
                      user.empty() ? std::vector<std::string>{}
                                   : std::vector<std::string>{"-u", user, "-P", "pw-" + user})),
        log_(dir.file("mqtt" + std::to_string(++made_) + ".log")),
        sub_(joined({"stdbuf", "-oL", "mosquitto_sub", "-d", "-t", "#", "-F", "%t\\t%r\\t%x\\t%D"},
                    login_),
             log_) {
    wait_until([&] { return read_file(log_).find("received SUBACK") != std::string::npos; });
  }

  std::vector<Message> on(const std::string& topic) const {
    std::vector<Message> out;
    std::istringstream lines(read_file(log_).substr(forgotten_));
    for (std::string line; std::getline(lines, line);) {
      const size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1), t3 = line.find('\t', t2 + 1);
      if (t3 == std::string::npos || line.substr(0, t1) != topic) continue;
      Message m{topic, "", line[t1 + 1] == '1', line.substr(t3 + 1)};
      for (size_t i = t2 + 1; i + 1 < t3; i += 2) {
        m.payload += static_cast<char>(std::stoi(line.substr(i, 2), nullptr, 16));
      }
      out.push_back(m);
    }
    return out;
  }
  // The first message on topic whose JSON body satisfies test (any message by default).
  std::optional<Message> wait_for(
      const std::string& topic,
      const std::function<bool(const json&)>& test = [](const json&) { return true; }) {
    std::optional<Message> found;
    wait_until([&] {
      for (auto& m : on(topic)) {
        if (!m.body().is_discarded() && test(m.body())) return (found = m).has_value();
      }
      return false;
    });
    return found;
  }
  void forget() {
    std::error_code error;
    forgotten_ = std::filesystem::file_size(log_, error);
    if (error) forgotten_ = 0;
  }
  void publish(const std::string& topic, const std::string& payload,
               const std::string& response_topic = "", const std::string& correlation = "",
               bool retain = false) {
    std::vector<std::string> pub = joined({"mosquitto_pub", "-t", topic, "-m", payload}, login_);
    if (!response_topic.empty())
      pub.insert(pub.end(), {"-D", "publish", "response-topic", response_topic});
    if (!correlation.empty())
      pub.insert(pub.end(), {"-D", "publish", "correlation-data", correlation});
    if (retain) pub.push_back("-r");
    Process(pub, "/dev/null").wait();
  }

 private:
  static inline int made_ = 0;
  std::vector<std::string> login_;
  std::string log_;
  size_t forgotten_ = 0;
  Process sub_;
};

// The first value of a query on the gateway's SQLite file, read while the gateway may be
// writing it; -1 while the file or the table does not exist yet.
inline int64_t sqlite_value(const std::string& path, const std::string& sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* s = nullptr;
  int64_t value = -1;
  if (sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK &&
      sqlite3_busy_timeout(db, 5000) == SQLITE_OK &&
      sqlite3_prepare_v2(db, sql.c_str(), -1, &s, nullptr) == SQLITE_OK &&
      sqlite3_step(s) == SQLITE_ROW) {
    value = sqlite3_column_int64(s, 0);
  }
  sqlite3_finalize(s);
  sqlite3_close(db);
  return value;
}

// A PostgreSQL server of the tests' own (initdb into a temporary folder, a free loopback
// port), shared by every test of the process; the server refuses root, so under root it
// runs as the postgres user.  shared() is nullptr when the server's programs are missing.
class Postgres {
 public:
  static Postgres* shared() {
    static Postgres server;
    return server.bin_.empty() ? nullptr : &server;
  }
  ~Postgres() {
    if (!bin_.empty() && stop()) std::filesystem::remove_all(dir_);
  }
  bool start() {
    return run("pg_ctl -D " + dir_ + "/data -l " + dir_ + "/server.log -w -o '-p " +
               std::to_string(port_) + " -k " + dir_ +
               " -c listen_addresses=127.0.0.1 -c fsync=off' start");
  }
  bool stop() { return run("pg_ctl -D " + dir_ + "/data -m immediate stop"); }
  // A fresh database for one test; returns its URL.
  std::string create(const std::string& name) {
    query("postgres", "DROP DATABASE IF EXISTS " + name);
    query("postgres", "CREATE DATABASE " + name);
    return url(name);
  }
  // The first value of the first row; -1 when there is none or the query failed.
  int64_t query(const std::string& db, const std::string& sql) const {
    FILE* out = ::popen(("psql -XqtA -c \"" + sql + "\" " + url(db) + " 2>/dev/null").c_str(), "r");
    char line[32] = "";
    const bool got = std::fgets(line, sizeof line, out) != nullptr;
    ::pclose(out);
    return got ? std::atoll(line) : -1;
  }

 private:
  Postgres() {
    glob_t found{};
    if (::glob("/usr/lib/postgresql/*/bin/", GLOB_MARK, nullptr, &found) == 0) {
      bin_ = found.gl_pathv[found.gl_pathc - 1];
    }
    ::globfree(&found);
    if (bin_.empty()) return;
    char pattern[] = "/tmp/naxgw-pg-XXXXXX";
    dir_ = ::mkdtemp(pattern);
    as_ = ::geteuid() == 0 ? "runuser -u postgres -- " : "";
    if (!as_.empty()) std::system(("chown postgres " + dir_).c_str());
    if (run("initdb --no-sync -A trust -U naxgw -E UTF8 -D " + dir_ + "/data")) start();
  }
  std::string url(const std::string& db) const {
    return "postgresql://naxgw@127.0.0.1:" + std::to_string(port_) + "/" + db;
  }
  bool run(const std::string& command) const {
    return std::system((as_ + bin_ + command + " >>" + dir_ + "/ctl.log 2>&1").c_str()) == 0;
  }
  std::string bin_, dir_, as_;
  uint16_t port_ = free_port();
};

// [mqtt], [gateway], [database] and [marks] for a test; nodes follow.
// database: the [database] section's body (default: marks.db in dir).
inline std::string base_config(const TempDir& dir, uint16_t broker, const std::string& marks = "",
                               const std::string& gateway = "", const std::string& database = "",
                               const std::string& mqtt = "") {
  return "[mqtt]\nhost = \"127.0.0.1\"\nport = " + std::to_string(broker) + "\nprefix = \"t\"\n" +
         (mqtt.find("client_id") == std::string::npos ? "client_id = \"naxgw-test\"\n" : "") +
         mqtt +
         "\n[gateway]\nkeepalive_ms = 500\nkeepalive_retries = 2\nretry_min_ms = 50\n"
         "retry_max_ms = 400\ncheck_ms = 100\n" +
         gateway + "\n[database]\n" +
         (database.empty() ? "path = \"" + dir.file("marks.db") + "\"\n" : database) +
         "\n[marks]\n" + (marks.empty() ? "interval_s = 1\n" : marks) + "\n";
}

inline std::string node_config(const std::string& name, uint16_t port, int protocol = 2,
                               const std::string& extra = "") {
  return "[[node]]\nname = \"" + name + "\"\nconnection = \"127.0.0.1:" + std::to_string(port) +
         "\"\nnode = 1\nprotocol = " + std::to_string(protocol) +
         "\nsource_node = 0x100\ntimeout_ms = 1000\n" + extra + "\n";
}

}  // namespace naxgw_test
