// Setting values: one at a time, or queued and set several to a statement.
#include <sqlite3.h>

#include <algorithm>

#include "platform/posix/regstore/names.h"
#include "platform/posix/regstore/statements.h"
#include "platform/posix/regstore/store.h"

namespace regstore {
namespace {

// Values queued before they are set: the most held before they are written.
constexpr std::size_t kMaxQueued = 64;
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 10;

constexpr const char* kSetValueRow = "(?, ?, ?, ?, ?)";
constexpr const char* kSetValueEnd = " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";

}  // namespace

std::uint32_t Store::SetValue(KeyId key, std::u16string_view name, std::uint32_t type, std::string_view data) {
  static const char kEmpty = 0;
  Use use(stmts_->upsertValue);
  ToUtf8Into(name, false, &name_);
  ToUtf8Into(name, true, &fold_);
  sqlite3_bind_int64(*use, 1, key);
  BindText(*use, 2, fold_);
  BindText(*use, 3, name_);
  sqlite3_bind_int64(*use, 4, type);
  // An empty value is an empty blob, never NULL, so that its type stays exact.
  sqlite3_bind_blob(*use, 5, data.empty() ? &kEmpty : data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
  return sqlite3_step(*use) == SQLITE_DONE ? kOk : Fail("set value");
}

std::uint32_t Store::QueueValue(KeyId key, std::u16string_view name, std::uint32_t type, std::string_view data) {
  // A value as large as a whole group is set at once, after the values queued
  // before it, and never copied: the queue holds no more than its limit.
  if (data.size() >= kMaxQueuedBytes) {
    const std::uint32_t result = WriteQueued();
    return result != kOk ? result : SetValue(key, name, type, data);
  }
  if (queued_ == queue_.size()) queue_.emplace_back();
  Queued& entry = queue_[queued_++];
  entry.key = key;
  entry.type = type;
  ToUtf8Into(name, false, &entry.name);
  ToUtf8Into(name, true, &entry.fold);
  entry.data.assign(data.data(), data.size());
  queuedBytes_ += data.size() + entry.name.size();
  return queued_ == kMaxQueued || queuedBytes_ >= kMaxQueuedBytes ? WriteQueued() : kOk;
}

sqlite3_stmt* Store::SetRows(std::size_t rows) {
  Statement& stmt = stmts_->setRows[rows];
  if (stmt.get() == nullptr) {
    std::string sql = "INSERT INTO vals(key, fold, name, type, data) VALUES";
    for (std::size_t r = 0; r < rows; ++r) sql += r == 0 ? kSetValueRow : std::string(",") + kSetValueRow;
    if (stmt.Prepare(db_, (sql + kSetValueEnd).c_str()) != SQLITE_OK) return nullptr;
  }
  return stmt.get();
}

std::uint32_t Store::WriteQueued() {
  // One statement per group of values spares each value the start and end
  // of a statement of its own; rows of one statement are set in their order,
  // so a later value of the same name still wins.
  static const char kEmpty = 0;
  std::uint32_t result = kOk;
  for (std::size_t first = 0; first < queued_ && result == kOk; first += kRowsPerStatement) {
    const std::size_t rows = std::min(kRowsPerStatement, queued_ - first);
    sqlite3_stmt* stmt = SetRows(rows);
    if (stmt == nullptr) {
      result = Fail("prepare");
      break;
    }
    for (std::size_t r = 0; r < rows; ++r) {
      const Queued& entry = queue_[first + r];
      const int at = static_cast<int>(r * 5);
      sqlite3_bind_int64(stmt, at + 1, entry.key);
      BindText(stmt, at + 2, entry.fold);
      BindText(stmt, at + 3, entry.name);
      sqlite3_bind_int64(stmt, at + 4, entry.type);
      sqlite3_bind_blob(stmt, at + 5, entry.data.empty() ? &kEmpty : entry.data.data(),
                        static_cast<int>(entry.data.size()), SQLITE_STATIC);
    }
    if (sqlite3_step(stmt) != SQLITE_DONE) result = Fail("set value");
    sqlite3_reset(stmt);
  }
  queued_ = 0;
  queuedBytes_ = 0;
  return result;
}

}  // namespace regstore
