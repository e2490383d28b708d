// The marks database: one SQLite file, one row per mark, written in transactions so that
// a gateway killed at any moment leaves either all of a page or none of it.
#pragma once

#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <string>
#include <vector>

#include "vedodiroz.h"

struct sqlite3;

namespace naxgw {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Table marks: node, user_id, time, event, direction, kind, value, code, idx, flag, mask,
// stored_at; unique over every field the node sends.  Table mark_cursor: per node, how many
// marks at the front of its log are already stored, so that a growing log is not read
// from its start each time.  Thread-safe.
class Store {
 public:
  explicit Store(const std::string& path);  // creates the tables; throws StoreError
  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // In one transaction: inserts the marks not stored yet and sets the node's cursor.
  // Returns the marks that were new (a repeated download returns none).
  std::vector<nax_mark> store(const std::string& node, const nax_mark* marks, std::size_t count,
                              uint64_t cursor);
  uint64_t cursor(const std::string& node);
  void set_cursor(const std::string& node, uint64_t cursor);
  bool contains(const std::string& node, const nax_mark& mark);
  uint64_t count(const std::string& node);

 private:
  void exec(const char* sql);
  void write_cursor(const std::string& node, uint64_t cursor);

  std::mutex mutex_;
  sqlite3* db_ = nullptr;
};

}  // namespace naxgw
