// PostgreSQL side of the marks: one database shared by several gateways.  The claim on a
// node is a session-level advisory lock, so the server itself hands a node to the standby
// when the serving gateway's session ends (process killed, machine gone, link cut).
#include <libpq-fe.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <set>

#include "log.h"
#include "store.h"

namespace naxgw {
namespace {

using Clock = std::chrono::steady_clock;

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS marks (
  id BIGSERIAL PRIMARY KEY,
  node TEXT NOT NULL,
  user_id BIGINT NOT NULL,
  time TEXT NOT NULL,
  event INTEGER NOT NULL,
  direction INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  value BIGINT NOT NULL,
  code TEXT NOT NULL,
  idx INTEGER NOT NULL,
  flag INTEGER NOT NULL,
  mask BIGINT NOT NULL,
  stored_at TEXT NOT NULL,
  published INTEGER NOT NULL DEFAULT 0,
  UNIQUE (node, user_id, time, event, direction, kind, value, code, idx, flag)
);
CREATE INDEX IF NOT EXISTS marks_outbox ON marks (node) WHERE published = 0;
CREATE TABLE IF NOT EXISTS mark_cursor (node TEXT PRIMARY KEY, position BIGINT NOT NULL);
CREATE TABLE IF NOT EXISTS naxgw_nodes (id SERIAL PRIMARY KEY, name TEXT UNIQUE NOT NULL);
CREATE TABLE IF NOT EXISTS naxgw_schema (version INTEGER NOT NULL);
INSERT INTO naxgw_schema SELECT 2 WHERE NOT EXISTS (SELECT 1 FROM naxgw_schema);
)sql";

// The first key of every advisory lock naxgw takes; the second is the node's row id, so
// that two node names never share a lock.
constexpr const char* kLockClass = "1851876199";  // "naxg"

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

class PostgresStore final : public Store {
 public:
  PostgresStore(std::string url, uint32_t retry_max_ms)
      : url_(std::move(url)), retry_max_ms_(retry_max_ms) {
    locks_.holds_locks = true;
  }
  ~PostgresStore() override {
    for (Session* session : {&data_, &locks_}) {
      if (session->conn) PQfinish(session->conn);
    }
  }

  std::vector<nax_mark> store(const std::string& node, const nax_mark* marks, std::size_t count,
                              uint64_t cursor) override {
    std::lock_guard<std::mutex> lock(data_.mutex);
    connected(data_);
    std::vector<nax_mark> fresh;
    run(data_, "BEGIN");
    try {
      const std::string now = utc_now();
      for (std::size_t i = 0; i < count; ++i) {
        const nax_mark& m = marks[i];
        std::vector<std::string> p = key_of(node, m);
        p.push_back(std::to_string(m.mask));
        p.push_back(now);
        Result r =
            run(data_,
                "INSERT INTO marks (node, user_id, time, event, direction, kind, value, code, idx, "
                "flag, mask, stored_at) VALUES ($1, $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12) "
                "ON CONFLICT DO NOTHING",
                p);
        if (std::strcmp(PQcmdTuples(r.get()), "1") == 0) fresh.push_back(m);
      }
      run(data_,
          "INSERT INTO mark_cursor (node, position) VALUES ($1, $2) ON CONFLICT (node) DO "
          "UPDATE SET position = excluded.position",
          {node, std::to_string(cursor)});
      run(data_, "COMMIT");
    } catch (...) {
      if (data_.conn) Result(PQexec(data_.conn, "ROLLBACK"));
      throw;
    }
    return fresh;
  }

  uint64_t cursor(const std::string& node) override {
    std::lock_guard<std::mutex> lock(data_.mutex);
    connected(data_);
    Result r = run(data_, "SELECT position FROM mark_cursor WHERE node = $1", {node});
    return PQntuples(r.get()) > 0 ? std::stoull(PQgetvalue(r.get(), 0, 0)) : 0;
  }

  void set_cursor(const std::string& node, uint64_t cursor) override {
    std::lock_guard<std::mutex> lock(data_.mutex);
    connected(data_);
    run(data_,
        "INSERT INTO mark_cursor (node, position) VALUES ($1, $2) ON CONFLICT (node) DO "
        "UPDATE SET position = excluded.position",
        {node, std::to_string(cursor)});
  }

  bool contains(const std::string& node, const nax_mark& m) override {
    std::lock_guard<std::mutex> lock(data_.mutex);
    connected(data_);
    Result r =
        run(data_,
            "SELECT 1 FROM marks WHERE node = $1 AND user_id = $2 AND time = $3 AND event = $4 AND "
            "direction = $5 AND kind = $6 AND value = $7 AND code = $8 AND idx = $9 AND flag = $10",
            key_of(node, m));
    return PQntuples(r.get()) > 0;
  }

  uint64_t count(const std::string& node) override {
    std::lock_guard<std::mutex> lock(data_.mutex);
    connected(data_);
    Result r = run(data_, "SELECT COUNT(*) FROM marks WHERE node = $1", {node});
    return std::stoull(PQgetvalue(r.get(), 0, 0));
  }

  std::vector<OutgoingMark> unpublished(const std::vector<std::string>& nodes,
                                        std::size_t limit) override {
    std::lock_guard<std::mutex> lock(data_.mutex);
    connected(data_);
    // Node names hold only letters, digits, '-', '_' and '.': safe inside an array literal.
    std::string list = "{";
    for (const std::string& n : nodes) list += (list.size() > 1 ? ",\"" : "\"") + n + "\"";
    list += "}";
    Result r =
        run(data_,
            "SELECT id, node, user_id, time, event, direction, kind, value, code, idx, flag, mask "
            "FROM marks WHERE published = 0 AND node = ANY($1::text[]) ORDER BY id LIMIT $2",
            {list, std::to_string(limit)});
    std::vector<OutgoingMark> out;
    for (int i = 0; i < PQntuples(r.get()); ++i) {
      auto number = [&](int c) { return std::stoll(PQgetvalue(r.get(), i, c)); };
      OutgoingMark m;
      m.id = number(0);
      m.node = PQgetvalue(r.get(), i, 1);
      m.body = {{"user_id", number(2)},
                {"time", PQgetvalue(r.get(), i, 3)},
                {"event", number(4)},
                {"direction", number(5)},
                {"kind", number(6)},
                {"value", number(7)},
                {"code", PQgetvalue(r.get(), i, 8)},
                {"index", number(9)},
                {"flag", number(10)},
                {"mask", number(11)},
                {"node", m.node}};
      out.push_back(std::move(m));
    }
    return out;
  }

  void set_published(const std::vector<int64_t>& ids) override {
    if (ids.empty()) return;
    std::lock_guard<std::mutex> lock(data_.mutex);
    connected(data_);
    std::string list = "{";
    for (const int64_t id : ids) list += (list.size() > 1 ? "," : "") + std::to_string(id);
    list += "}";
    run(data_, "UPDATE marks SET published = 1 WHERE id = ANY($1::bigint[])", {list});
  }

  bool claim(const std::string& node) override {
    std::lock_guard<std::mutex> lock(locks_.mutex);
    connected(locks_);
    if (held_.count(node)) return true;
    auto id = ids_.find(node);
    if (id == ids_.end()) {
      run(locks_, "INSERT INTO naxgw_nodes (name) VALUES ($1) ON CONFLICT DO NOTHING", {node});
      Result r = run(locks_, "SELECT id FROM naxgw_nodes WHERE name = $1", {node});
      id = ids_.emplace(node, PQgetvalue(r.get(), 0, 0)).first;
    }
    Result r = run(locks_, std::string("SELECT pg_try_advisory_lock(") + kLockClass + ", $1::int)",
                   {id->second});
    if (PQgetvalue(r.get(), 0, 0)[0] != 't') return false;
    held_.insert(node);
    return true;
  }

  void release(const std::string& node) override {
    std::lock_guard<std::mutex> lock(locks_.mutex);
    if (!held_.erase(node) || !locks_.conn) return;
    try {
      run(locks_, std::string("SELECT pg_advisory_unlock(") + kLockClass + ", $1::int)",
          {ids_[node]});
    } catch (const StoreError&) {
      // A session that failed has let go of every lock already.
    }
  }

  bool holds(const std::string& node) override {
    std::lock_guard<std::mutex> lock(locks_.mutex);
    if (!held_.count(node) || !locks_.conn) return false;
    // One round trip a second proves the session (and with it every lock) is alive.
    if (Clock::now() - last_ping_ > std::chrono::seconds(1)) {
      try {
        run(locks_, "SELECT 1");
        last_ping_ = Clock::now();
      } catch (const StoreError&) {
        return false;
      }
    }
    return held_.count(node) > 0;
  }

 private:
  static std::vector<std::string> key_of(const std::string& node, const nax_mark& m) {
    return {node,
            std::to_string(m.id),
            iso_time(m.date_time),
            std::to_string(m.event),
            std::to_string(m.direction),
            std::to_string(m.kind),
            std::to_string(m.value),
            std::string(m.code, strnlen(m.code, sizeof m.code)),
            std::to_string(m.index),
            std::to_string(m.flag)};
  }

  // Two sessions: the claims live on one that only ever runs short queries, so that a
  // flood of mark pages on the other never delays a takeover or a liveness check.
  struct Session {
    std::mutex mutex;
    PGconn* conn = nullptr;
    std::string last_error = "database: not connected";
    uint32_t backoff_ms = 0;
    Clock::time_point retry_at{};
    bool holds_locks = false;
  };

  // The session, opened again when it failed, but not more often than the back-off allows.
  void connected(Session& session) {
    if (session.conn) return;
    if (Clock::now() < session.retry_at) throw StoreError(session.last_error + " (retrying)");
    // Defaults first: the URL given may override each of them.  Keepalives and a user
    // time-out make a cut link fail in seconds, here and on the server.
    const char* keys[] = {"connect_timeout",
                          "keepalives_idle",
                          "keepalives_interval",
                          "keepalives_count",
                          "tcp_user_timeout",
                          "application_name",
                          "dbname",
                          nullptr};
    const char* values[] = {"5", "5", "1", "3", "4000", "naxgw", url_.c_str(), nullptr};
    PGconn* conn = PQconnectdbParams(keys, values, 1);
    if (PQstatus(conn) != CONNECTION_OK) {
      session.last_error = std::string("database: ") + PQerrorMessage(conn);
      while (!session.last_error.empty() && session.last_error.back() == '\n') {
        session.last_error.pop_back();
      }
      PQfinish(conn);
      session.backoff_ms =
          std::min<uint32_t>(std::max<uint32_t>(session.backoff_ms * 2, 250), retry_max_ms_);
      session.retry_at = Clock::now() + std::chrono::milliseconds(session.backoff_ms);
      throw StoreError(session.last_error);
    }
    session.conn = conn;
    session.backoff_ms = 0;
    try {
      run(session,
          "SET tcp_keepalives_idle = 5; SET tcp_keepalives_interval = 1; "
          "SET tcp_keepalives_count = 3; SET client_min_messages = warning");
      // Several gateways may start at once: one creates the tables, the others wait.
      run(session, "BEGIN; SELECT pg_advisory_xact_lock(" + std::string(kLockClass) + ", 0);" +
                       kSchema + "COMMIT");
    } catch (const StoreError&) {
      if (session.conn) PQfinish(session.conn);
      session.conn = nullptr;
      session.retry_at = Clock::now() + std::chrono::milliseconds(retry_max_ms_ / 4);
      throw;
    }
    if (session.holds_locks) log_info("database: connected");
  }

  Result run(Session& session, const std::string& sql,
             const std::vector<std::string>& params = {}) {
    if (!session.conn) throw StoreError(session.last_error);
    std::vector<const char*> values;
    for (const std::string& p : params) values.push_back(p.c_str());
    Result r(params.empty()
                 ? PQexec(session.conn, sql.c_str())
                 : PQexecParams(session.conn, sql.c_str(), static_cast<int>(values.size()), nullptr,
                                values.data(), nullptr, nullptr, 0));
    const ExecStatusType status = r ? PQresultStatus(r.get()) : PGRES_FATAL_ERROR;
    if (status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK) return r;
    std::string reason = std::string("database: ") + PQerrorMessage(session.conn);
    while (!reason.empty() && reason.back() == '\n') reason.pop_back();
    if (PQstatus(session.conn) != CONNECTION_OK) {
      PQfinish(session.conn);
      session.conn = nullptr;
      session.last_error = reason;
      if (session.holds_locks) {
        held_.clear();  // gone with the session
        log_error(reason + "; session lost");
      }
    } else if (PQtransactionStatus(session.conn) == PQTRANS_INERROR) {
      Result(PQexec(session.conn, "ROLLBACK"));
    }
    throw StoreError(reason);
  }

  std::string url_;
  uint32_t retry_max_ms_;
  Session data_;
  Session locks_;  // guards what follows too
  Clock::time_point last_ping_{};
  std::map<std::string, std::string> ids_;
  std::set<std::string> held_;
};

}  // namespace

std::unique_ptr<Store> open_postgres(const std::string& url, uint32_t retry_max_ms) {
  return std::make_unique<PostgresStore>(url, retry_max_ms);
}

}  // namespace naxgw
