// SQLite side of the marks: one gateway's own file.
#include <sqlite3.h>

#include <cstring>
#include <memory>
#include <mutex>

#include "store.h"

namespace naxgw {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS marks (
  node TEXT NOT NULL,
  user_id INTEGER NOT NULL,
  time TEXT NOT NULL,
  event INTEGER NOT NULL,
  direction INTEGER NOT NULL,
  kind INTEGER NOT NULL,
  value INTEGER NOT NULL,
  code TEXT NOT NULL,
  idx INTEGER NOT NULL,
  flag INTEGER NOT NULL,
  mask INTEGER NOT NULL,
  stored_at TEXT NOT NULL,
  published INTEGER NOT NULL DEFAULT 0,
  UNIQUE (node, user_id, time, event, direction, kind, value, code, idx, flag)
);
CREATE TABLE IF NOT EXISTS mark_cursor (
  node TEXT PRIMARY KEY,
  position INTEGER NOT NULL
);
CREATE TABLE IF NOT EXISTS naxgw_schema (version INTEGER NOT NULL);
)sql";

// Version 2 added the outbox column; a file of version 1 had published every mark
// already (at most once), so its rows count as published.
constexpr const char* kMigrate = R"sql(
ALTER TABLE marks ADD COLUMN published INTEGER NOT NULL DEFAULT 1;
)sql";
constexpr const char* kOutboxIndex =
    "CREATE INDEX IF NOT EXISTS marks_outbox ON marks (published) WHERE published = 0";

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

std::string code_of(const nax_mark& m) {
  return std::string(m.code, strnlen(m.code, sizeof m.code));
}

std::string column_text(sqlite3_stmt* s, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(s, column))) : "";
}

class SqliteStore final : public Store {
 public:
  explicit SqliteStore(const std::string& path) {
    if (sqlite3_open_v2(path.c_str(), &db_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK) {
      const std::string reason = db_ ? sqlite3_errmsg(db_) : "out of memory";
      sqlite3_close(db_);
      db_ = nullptr;
      throw StoreError(path + ": " + reason);
    }
    sqlite3_busy_timeout(db_, 10000);
    try {
      // Write-ahead log with a sync at each commit: a committed page survives the process
      // being killed and the machine losing power.
      exec("PRAGMA journal_mode=WAL");
      exec("PRAGMA synchronous=FULL");
      exec("BEGIN IMMEDIATE");
      const bool had_marks = scalar("SELECT COUNT(*) FROM sqlite_master WHERE name = 'marks'") > 0;
      exec(kSchema);
      if (had_marks && scalar("SELECT COUNT(*) FROM pragma_table_info('marks') WHERE name = "
                              "'published'") == 0) {
        exec(kMigrate);
      }
      exec(kOutboxIndex);
      exec("DELETE FROM naxgw_schema; INSERT INTO naxgw_schema VALUES (2)");
      exec("COMMIT");
    } catch (const StoreError& e) {
      sqlite3_close(db_);
      db_ = nullptr;
      throw StoreError(path + ": " + e.what());
    }
  }
  ~SqliteStore() override { sqlite3_close(db_); }

  std::vector<nax_mark> store(const std::string& node, const nax_mark* marks, std::size_t count,
                              uint64_t cursor) override {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<nax_mark> fresh;
    exec("BEGIN IMMEDIATE");
    try {
      Statement s = prepare(
          "INSERT OR IGNORE INTO marks (node, user_id, time, event, direction, kind, value, code, "
          "idx, flag, mask, stored_at, published) "
          "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12, 0)");
      const std::string now = utc_now();
      for (std::size_t i = 0; i < count; ++i) {
        const nax_mark& m = marks[i];
        sqlite3_reset(s.get());
        bind_mark_key(s.get(), node, m);
        sqlite3_bind_int64(s.get(), 11, m.mask);
        sqlite3_bind_text(s.get(), 12, now.c_str(), -1, SQLITE_TRANSIENT);
        step_done(s.get());
        if (sqlite3_changes(db_) > 0) fresh.push_back(m);
      }
      write_cursor(node, cursor);
      exec("COMMIT");
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
    return fresh;
  }

  uint64_t cursor(const std::string& node) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s = prepare("SELECT position FROM mark_cursor WHERE node = ?1");
    sqlite3_bind_text(s.get(), 1, node.c_str(), -1, SQLITE_TRANSIENT);
    const int rc = sqlite3_step(s.get());
    if (rc == SQLITE_ROW) return static_cast<uint64_t>(sqlite3_column_int64(s.get(), 0));
    if (rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
    return 0;
  }

  void set_cursor(const std::string& node, uint64_t cursor) override {
    std::lock_guard<std::mutex> lock(mutex_);
    write_cursor(node, cursor);
  }

  bool contains(const std::string& node, const nax_mark& m) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s = prepare(
        "SELECT 1 FROM marks WHERE node = ?1 AND user_id = ?2 AND time = ?3 AND event = ?4 AND "
        "direction = ?5 AND kind = ?6 AND value = ?7 AND code = ?8 AND idx = ?9 AND flag = ?10");
    bind_mark_key(s.get(), node, m);
    const int rc = sqlite3_step(s.get());
    if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
    return rc == SQLITE_ROW;
  }

  uint64_t count(const std::string& node) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s = prepare("SELECT COUNT(*) FROM marks WHERE node = ?1");
    sqlite3_bind_text(s.get(), 1, node.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(s.get()) != SQLITE_ROW) throw StoreError(sqlite3_errmsg(db_));
    return static_cast<uint64_t>(sqlite3_column_int64(s.get(), 0));
  }

  std::vector<OutgoingMark> unpublished(const std::vector<std::string>& nodes,
                                        std::size_t limit) override {
    std::lock_guard<std::mutex> lock(mutex_);
    Statement s = prepare(
        "SELECT rowid, node, user_id, time, event, direction, kind, value, code, idx, flag, mask "
        "FROM marks WHERE published = 0 AND node IN (SELECT value FROM json_each(?1)) "
        "ORDER BY rowid LIMIT ?2");
    const std::string list = json(nodes).dump();
    sqlite3_bind_text(s.get(), 1, list.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(limit));
    std::vector<OutgoingMark> out;
    int rc = 0;
    while ((rc = sqlite3_step(s.get())) == SQLITE_ROW) {
      OutgoingMark m;
      m.id = sqlite3_column_int64(s.get(), 0);
      m.node = column_text(s.get(), 1);
      m.body = {{"user_id", sqlite3_column_int64(s.get(), 2)},
                {"time", column_text(s.get(), 3)},
                {"event", sqlite3_column_int64(s.get(), 4)},
                {"direction", sqlite3_column_int64(s.get(), 5)},
                {"kind", sqlite3_column_int64(s.get(), 6)},
                {"value", sqlite3_column_int64(s.get(), 7)},
                {"code", column_text(s.get(), 8)},
                {"index", sqlite3_column_int64(s.get(), 9)},
                {"flag", sqlite3_column_int64(s.get(), 10)},
                {"mask", sqlite3_column_int64(s.get(), 11)},
                {"node", m.node}};
      out.push_back(std::move(m));
    }
    if (rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
    return out;
  }

  void set_published(const std::vector<int64_t>& ids) override {
    if (ids.empty()) return;
    std::lock_guard<std::mutex> lock(mutex_);
    exec("BEGIN IMMEDIATE");
    try {
      Statement s = prepare("UPDATE marks SET published = 1 WHERE rowid = ?1");
      for (const int64_t id : ids) {
        sqlite3_reset(s.get());
        sqlite3_bind_int64(s.get(), 1, id);
        step_done(s.get());
      }
      exec("COMMIT");
    } catch (...) {
      sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
      throw;
    }
  }

  bool claim(const std::string&) override { return true; }
  void release(const std::string&) override {}
  bool holds(const std::string&) override { return true; }

 private:
  void exec(const char* sql) {
    char* error = nullptr;
    if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
      const std::string reason = error ? error : sqlite3_errmsg(db_);
      sqlite3_free(error);
      throw StoreError(reason);
    }
  }

  int64_t scalar(const char* sql) {
    Statement s = prepare(sql);
    if (sqlite3_step(s.get()) != SQLITE_ROW) throw StoreError(sqlite3_errmsg(db_));
    return sqlite3_column_int64(s.get(), 0);
  }

  Statement prepare(const char* sql) {
    sqlite3_stmt* raw = nullptr;
    sqlite3_prepare_v2(db_, sql, -1, &raw, nullptr);
    Statement s(raw);
    if (!s) throw StoreError(sqlite3_errmsg(db_));
    return s;
  }

  void step_done(sqlite3_stmt* s) {
    if (sqlite3_step(s) != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
  }

  // Binds the node and the mark's own fields, the table's uniqueness key, to parameters
  // 1 to 10.
  static void bind_mark_key(sqlite3_stmt* s, const std::string& node, const nax_mark& m) {
    const std::string time = iso_time(m.date_time);
    const std::string code = code_of(m);
    sqlite3_bind_text(s, 1, node.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s, 2, m.id);
    sqlite3_bind_text(s, 3, time.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 4, m.event);
    sqlite3_bind_int(s, 5, m.direction);
    sqlite3_bind_int(s, 6, m.kind);
    sqlite3_bind_int64(s, 7, m.value);
    sqlite3_bind_text(s, 8, code.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int(s, 9, m.index);
    sqlite3_bind_int(s, 10, m.flag);
  }

  void write_cursor(const std::string& node, uint64_t cursor) {
    Statement s = prepare(
        "INSERT INTO mark_cursor (node, position) VALUES (?1, ?2) "
        "ON CONFLICT(node) DO UPDATE SET position = excluded.position");
    sqlite3_bind_text(s.get(), 1, node.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(cursor));
    step_done(s.get());
  }

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace

std::unique_ptr<Store> open_sqlite(const std::string& path) {
  return std::make_unique<SqliteStore>(path);
}

std::unique_ptr<Store> open_store(const DatabaseConfig& config) {
  if (!config.url.empty()) return open_postgres(config.url, config.retry_max_ms);
  return open_sqlite(config.path);
}

}  // namespace naxgw
