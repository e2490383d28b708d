// The marks database, SQLite (one gateway's own file) or PostgreSQL (shared by several
// gateways): one row per mark, written in transactions so that a gateway killed at any
// moment leaves either all of a page or none of it, and published from there (an outbox).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "config.h"
#include "records.h"
#include "vedodiroz.h"

namespace naxgw {

class StoreError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// A stored mark not yet acknowledged by the broker, as published on PREFIX/NAME/mark.
struct OutgoingMark {
  int64_t id = 0;
  std::string node;
  json body;
};

// Table marks: node, user_id, time, event, direction, kind, value, code, idx, flag, mask,
// stored_at, published; unique over every field the node sends.  Table mark_cursor: per
// node, how many marks at the front of its log are already stored.  Table naxgw_schema:
// the schema's version.  Thread-safe; every call throws StoreError when the database fails.
class Store {
 public:
  virtual ~Store() = default;

  // In one transaction: inserts the marks not stored yet and sets the node's cursor.
  // Returns the marks that were new (a repeated download returns none).
  virtual std::vector<nax_mark> store(const std::string& node, const nax_mark* marks,
                                      std::size_t count, uint64_t cursor) = 0;
  virtual uint64_t cursor(const std::string& node) = 0;
  virtual void set_cursor(const std::string& node, uint64_t cursor) = 0;
  virtual bool contains(const std::string& node, const nax_mark& mark) = 0;
  virtual uint64_t count(const std::string& node) = 0;

  // The outbox: the oldest marks of these nodes not yet published, and marking them so.
  virtual std::vector<OutgoingMark> unpublished(const std::vector<std::string>& nodes,
                                                std::size_t limit) = 0;
  virtual void set_published(const std::vector<int64_t>& ids) = 0;

  // Serving a node: a gateway talks to a node only while it holds the node's claim.  A
  // database shared by several gateways grants each claim to one of them at a time and
  // takes it back when that gateway's session ends; a gateway's own file always grants.
  virtual bool claim(const std::string& node) = 0;
  virtual void release(const std::string& node) = 0;
  // False once the claim is lost (the session ended); never throws.
  virtual bool holds(const std::string& node) = 0;
};

// SQLite for config.path, PostgreSQL for config.url.  Throws StoreError when an SQLite
// file cannot be opened; a PostgreSQL server that cannot be reached yet is tried again on
// use, with back-off.
std::unique_ptr<Store> open_store(const DatabaseConfig& config);
std::unique_ptr<Store> open_sqlite(const std::string& path);
std::unique_ptr<Store> open_postgres(const std::string& url, uint32_t retry_max_ms);

}  // namespace naxgw
