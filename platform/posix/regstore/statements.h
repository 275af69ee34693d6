// The registry store's prepared statements and the helpers that use them,
// shared by the files that make up Store (store.cc, store_values.cc,
// store_read.cc). Not for use outside the store.
#pragma once

#include <sqlite3.h>

#include <cstddef>
#include <string>

#include "platform/posix/regstore/store.h"

namespace regstore {

// The most values set by one statement.
inline constexpr std::size_t kRowsPerStatement = 16;

// One prepared statement, finalized with its owner.
class Statement {
 public:
  ~Statement() { sqlite3_finalize(stmt_); }
  int Prepare(sqlite3* db, const char* sql) { return sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &stmt_, nullptr); }
  sqlite3_stmt* get() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_ = nullptr;
};

// Resets a statement and its bindings when a use of it ends, whatever the outcome.
class Use {
 public:
  explicit Use(const Statement& s) : stmt_(s.get()) {}
  ~Use() {
    sqlite3_reset(stmt_);
    sqlite3_clear_bindings(stmt_);
  }
  sqlite3_stmt* operator*() const { return stmt_; }

 private:
  sqlite3_stmt* stmt_;
};

// Binds text that outlives the statement's use, without a copy.
inline void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

// A text or blob column's bytes; empty for NULL.
inline std::string ColumnText(sqlite3_stmt* stmt, int index) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
  return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

inline std::string ColumnBlob(sqlite3_stmt* stmt, int index) {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, index));
  return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

// Every statement of a store, prepared once per connection.
struct Store::Statements {
  Statement begin, commit, rollback, findChild, insertKey, upsertValue, getValue, keyInfo, children, values;
  Statement dropPlaceholders, keepIssued;
  Statement setRows[kRowsPerStatement + 1];  // [n] sets n values; prepared when first needed
};

}  // namespace regstore
