// SQLite side of the marks.
#include "store.h"

#include <sqlite3.h>

#include <cstring>
#include <memory>

#include "records.h"

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
  UNIQUE (node, user_id, time, event, direction, kind, value, code, idx, flag)
);
CREATE TABLE IF NOT EXISTS mark_cursor (
  node TEXT PRIMARY KEY,
  position INTEGER NOT NULL
);
)sql";

struct StatementDeleter {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementDeleter>;

std::string code_of(const nax_mark& m) {
  return std::string(m.code, strnlen(m.code, sizeof m.code));
}

Statement prepare(sqlite3* db, const char* sql) {
  sqlite3_stmt* raw = nullptr;
  sqlite3_prepare_v2(db, sql, -1, &raw, nullptr);
  Statement s(raw);
  if (!s) throw StoreError(sqlite3_errmsg(db));
  return s;
}

// Binds the node and the mark's own fields, the table's uniqueness key, to
// parameters 1 to 10.
void bind_mark_key(sqlite3_stmt* s, const std::string& node, const nax_mark& m) {
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

}  // namespace

Store::Store(const std::string& path) {
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
    exec(kSchema);
  } catch (const StoreError& e) {
    sqlite3_close(db_);
    db_ = nullptr;
    throw StoreError(path + ": " + e.what());
  }
}

Store::~Store() {
  sqlite3_close(db_);
}

void Store::exec(const char* sql) {
  char* error = nullptr;
  if (sqlite3_exec(db_, sql, nullptr, nullptr, &error) != SQLITE_OK) {
    const std::string reason = error ? error : sqlite3_errmsg(db_);
    sqlite3_free(error);
    throw StoreError(reason);
  }
}

void Store::write_cursor(const std::string& node, uint64_t cursor) {
  Statement s = prepare(db_,
                        "INSERT INTO mark_cursor (node, position) VALUES (?1, ?2) "
                        "ON CONFLICT(node) DO UPDATE SET position = excluded.position");
  sqlite3_bind_text(s.get(), 1, node.c_str(), -1, SQLITE_TRANSIENT);
  sqlite3_bind_int64(s.get(), 2, static_cast<sqlite3_int64>(cursor));
  if (sqlite3_step(s.get()) != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
}

std::vector<nax_mark> Store::store(const std::string& node, const nax_mark* marks,
                                   std::size_t count, uint64_t cursor) {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<nax_mark> fresh;
  exec("BEGIN IMMEDIATE");
  try {
    Statement s =
        prepare(db_,
                "INSERT OR IGNORE INTO marks (node, user_id, time, event, direction, kind, "
                "value, code, idx, flag, mask, stored_at) "
                "VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11, ?12)");
    const std::string now = utc_now();
    for (std::size_t i = 0; i < count; ++i) {
      const nax_mark& m = marks[i];
      sqlite3_reset(s.get());
      bind_mark_key(s.get(), node, m);
      sqlite3_bind_int64(s.get(), 11, m.mask);
      sqlite3_bind_text(s.get(), 12, now.c_str(), -1, SQLITE_TRANSIENT);
      if (sqlite3_step(s.get()) != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
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

uint64_t Store::cursor(const std::string& node) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s = prepare(db_, "SELECT position FROM mark_cursor WHERE node = ?1");
  sqlite3_bind_text(s.get(), 1, node.c_str(), -1, SQLITE_TRANSIENT);
  const int rc = sqlite3_step(s.get());
  if (rc == SQLITE_ROW) return static_cast<uint64_t>(sqlite3_column_int64(s.get(), 0));
  if (rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
  return 0;
}

void Store::set_cursor(const std::string& node, uint64_t cursor) {
  std::lock_guard<std::mutex> lock(mutex_);
  write_cursor(node, cursor);
}

bool Store::contains(const std::string& node, const nax_mark& m) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s = prepare(db_,
                        "SELECT 1 FROM marks WHERE node = ?1 AND user_id = ?2 AND time = ?3 AND "
                        "event = ?4 AND direction = ?5 AND kind = ?6 AND value = ?7 AND code = ?8 "
                        "AND idx = ?9 AND flag = ?10");
  bind_mark_key(s.get(), node, m);
  const int rc = sqlite3_step(s.get());
  if (rc != SQLITE_ROW && rc != SQLITE_DONE) throw StoreError(sqlite3_errmsg(db_));
  return rc == SQLITE_ROW;
}

uint64_t Store::count(const std::string& node) {
  std::lock_guard<std::mutex> lock(mutex_);
  Statement s = prepare(db_, "SELECT COUNT(*) FROM marks WHERE node = ?1");
  sqlite3_bind_text(s.get(), 1, node.c_str(), -1, SQLITE_TRANSIENT);
  if (sqlite3_step(s.get()) != SQLITE_ROW) throw StoreError(sqlite3_errmsg(db_));
  return static_cast<uint64_t>(sqlite3_column_int64(s.get(), 0));
}

}  // namespace naxgw
