// Reading keys and values, and the consistency check.
#include <sqlite3.h>

#include <algorithm>

#include "platform/posix/regstore/names.h"
#include "platform/posix/regstore/statements.h"
#include "platform/posix/regstore/store.h"

namespace regstore {
namespace {

// Roots are the rows 1 to 3 of the key table.
constexpr KeyId kLastRoot = 3;

}  // namespace

std::uint32_t Store::GetValue(KeyId key, std::u16string_view name, Value* value) {
  Use use(stmts_->getValue);
  const std::string fold = ToUtf8(Fold(name));
  sqlite3_bind_int64(*use, 1, key);
  BindText(*use, 2, fold);
  const int rc = sqlite3_step(*use);
  if (rc == SQLITE_DONE) return kErrorFileNotFound;
  if (rc != SQLITE_ROW) return Fail("get value");
  value->name = FromUtf8(ColumnText(*use, 0));
  value->type = static_cast<std::uint32_t>(sqlite3_column_int64(*use, 1));
  value->data = ColumnBlob(*use, 2);
  return kOk;
}

std::uint32_t Store::Children(KeyId key, std::vector<Child>* children) {
  children->clear();
  Use use(stmts_->children);
  sqlite3_bind_int64(*use, 1, key);
  int rc;
  while ((rc = sqlite3_step(*use)) == SQLITE_ROW)
    children->push_back(Child{sqlite3_column_int64(*use, 0), FromUtf8(ColumnText(*use, 1))});
  return rc == SQLITE_DONE ? kOk : Fail("read keys");
}

std::uint32_t Store::Values(KeyId key, std::vector<Value>* values) {
  values->clear();
  Use use(stmts_->values);
  sqlite3_bind_int64(*use, 1, key);
  int rc;
  while ((rc = sqlite3_step(*use)) == SQLITE_ROW) {
    Value value;
    value.name = FromUtf8(ColumnText(*use, 0));
    value.type = static_cast<std::uint32_t>(sqlite3_column_int64(*use, 1));
    value.data = ColumnBlob(*use, 2);
    values->push_back(std::move(value));
  }
  return rc == SQLITE_DONE ? kOk : Fail("read values");
}

std::uint32_t Store::KeyPath(KeyId key, std::uint32_t* root, std::vector<std::u16string>* path) {
  path->clear();
  KeyId walk = key;
  while (walk > kLastRoot) {
    Use use(stmts_->keyInfo);
    sqlite3_bind_int64(*use, 1, walk);
    const int rc = sqlite3_step(*use);
    if (rc == SQLITE_DONE) return kErrorFileNotFound;
    if (rc != SQLITE_ROW) return Fail("read key");
    walk = sqlite3_column_int64(*use, 0);
    path->push_back(FromUtf8(ColumnText(*use, 1)));
  }
  if (walk < 1) return kErrorFileNotFound;
  // Collected from the key upwards: reversed once, so a deep key costs its depth, not its square.
  std::reverse(path->begin(), path->end());
  *root = kRootClasses + static_cast<std::uint32_t>(walk - 1);
  return kOk;
}

std::uint32_t Store::ReadSubtree(KeyId key, std::vector<Key>* keys) {
  Key top;
  if (const std::uint32_t r = KeyPath(key, &top.root, &top.path); r != kOk) return r;
  std::vector<Key> result;
  std::vector<std::pair<KeyId, Key>> pending;
  pending.emplace_back(key, std::move(top));
  std::vector<Child> children;
  while (!pending.empty()) {
    auto [id, entry] = std::move(pending.back());
    pending.pop_back();
    if (const std::uint32_t r = Values(id, &entry.values); r != kOk) return r;
    if (const std::uint32_t r = Children(id, &children); r != kOk) return r;
    for (Child& child : children) {
      Key below{entry.root, entry.path, {}};
      below.path.push_back(std::move(child.name));
      pending.emplace_back(child.id, std::move(below));
    }
    result.push_back(std::move(entry));
  }
  *keys = std::move(result);
  return kOk;
}

std::string Store::IntegrityCheck() {
  sqlite3_stmt* stmt = nullptr;
  std::string verdict;
  if (sqlite3_prepare_v2(db_, "PRAGMA integrity_check", -1, &stmt, nullptr) != SQLITE_OK) return sqlite3_errmsg(db_);
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    if (!verdict.empty()) verdict += '\n';
    verdict += ColumnText(stmt, 0);
  }
  sqlite3_finalize(stmt);
  // A row that names a missing key is no damage to the file, but it is to the registry.
  if (sqlite3_prepare_v2(db_, "PRAGMA foreign_key_check", -1, &stmt, nullptr) != SQLITE_OK) return sqlite3_errmsg(db_);
  while (sqlite3_step(stmt) == SQLITE_ROW)
    verdict += "\nforeign key: " + ColumnText(stmt, 0) + " row " + std::to_string(sqlite3_column_int64(stmt, 1));
  sqlite3_finalize(stmt);
  return verdict;
}

}  // namespace regstore
