#include "platform/posix/regstore/store.h"

#include <sqlite3.h>
#include <sys/stat.h>

#include <chrono>
#include <map>
#include <thread>

#include "platform/posix/regstore/names.h"

namespace regstore {
namespace {

// Waiting time for a lock held by another process before a write gives up.
constexpr int kBusyTimeoutMs = 30000;
constexpr int kSchemaVersion = 1;

// Roots are the rows 1 to 3 of the key table, children of the pseudo-parent 0.
constexpr KeyId kLastRoot = 3;

constexpr const char* kSchema =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, fold TEXT NOT NULL,"
    " name TEXT NOT NULL, UNIQUE(parent, fold));"
    "CREATE TABLE vals(key INTEGER NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,"
    " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;"
    "INSERT INTO keys(id, parent, fold, name) VALUES"
    " (1, 0, 'hkey_classes_root', 'HKEY_CLASSES_ROOT'),"
    " (2, 0, 'hkey_current_user', 'HKEY_CURRENT_USER'),"
    " (3, 0, 'hkey_local_machine', 'HKEY_LOCAL_MACHINE');"
    "PRAGMA user_version = 1;";

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

void BindText(sqlite3_stmt* stmt, int index, const std::string& text) {
  sqlite3_bind_text(stmt, index, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
}

std::string ColumnText(sqlite3_stmt* stmt, int index) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt, index));
  return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

std::string ColumnBlob(sqlite3_stmt* stmt, int index) {
  const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt, index));
  return p == nullptr ? std::string() : std::string(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt, index)));
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

}  // namespace

struct Store::Statements {
  Statement findChild, insertKey, upsertValue, getValue, keyInfo, subtreeKeys, subtreeValues;
};

const char16_t* RootName(std::uint32_t root) {
  switch (root) {
    case kRootClasses: return u"HKEY_CLASSES_ROOT";
    case kRootCurrentUser: return u"HKEY_CURRENT_USER";
    case kRootLocalMachine: return u"HKEY_LOCAL_MACHINE";
    default: return nullptr;
  }
}

bool RootFromName(std::u16string_view name, std::uint32_t* root) {
  for (std::uint32_t r : {kRootClasses, kRootCurrentUser, kRootLocalMachine}) {
    if (Fold(name) == Fold(RootName(r))) {
      *root = r;
      return true;
    }
  }
  return false;
}

std::vector<std::u16string> SplitKeyPath(std::u16string_view subKey) {
  std::vector<std::u16string> names;
  std::size_t start = 0;
  while (start <= subKey.size()) {
    std::size_t end = subKey.find(u'\\', start);
    if (end == std::u16string_view::npos) end = subKey.size();
    if (end > start) names.emplace_back(subKey.substr(start, end - start));
    start = end + 1;
  }
  return names;
}

std::string Store::DatabasePath(const std::string& deviceDir) { return deviceDir + "/registry.db"; }

KeyId Store::RootKey(std::uint32_t root) {
  return RootName(root) == nullptr ? 0 : static_cast<KeyId>(root - kRootClasses) + 1;
}

Store::Store(sqlite3* db) : db_(db), stmts_(std::make_unique<Statements>()) {}

Store::~Store() {
  if (InTransaction()) Rollback();
  stmts_.reset();
  sqlite3_close_v2(db_);
}

std::unique_ptr<Store> Store::Open(const std::string& deviceDir, std::string* error) {
  sqlite3* db = nullptr;
  const std::string path = DatabasePath(deviceDir);
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
  std::unique_ptr<Store> store(new Store(db));
  if (rc != SQLITE_OK) {
    *error = path + ": " + sqlite3_errstr(rc);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  // Switching to WAL needs a moment of exclusive access; a second process
  // opening at the same instant may see SQLITE_BUSY, so try again briefly.
  std::uint32_t result = kOk;
  for (int attempt = 0;; ++attempt) {
    const int rc = sqlite3_exec(db, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) break;
    if ((rc != SQLITE_BUSY && rc != SQLITE_LOCKED) || attempt == 100) {
      result = store->Fail("journal mode");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // NORMAL in WAL mode syncs only at checkpoints: a commit per key stays
  // cheap, and a crash still leaves the last commits or fewer, never a torn one.
  if (result == kOk) result = store->Run("PRAGMA synchronous=NORMAL");
  if (result == kOk) result = store->CreateSchema();
  if (result == kOk) result = store->Prepare();
  if (result != kOk) {
    *error = path + ": " + store->message_;
    return nullptr;
  }
  return store;
}

std::unique_ptr<Store> Store::OpenExisting(const std::string& deviceDir, std::string* error) {
  const std::string path = DatabasePath(deviceDir);
  if (!FileExists(path)) {
    *error = path + ": no such file";
    return nullptr;
  }
  sqlite3* db = nullptr;
  const int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
  std::unique_ptr<Store> store(new Store(db));
  if (rc != SQLITE_OK) {
    *error = path + ": " + sqlite3_errstr(rc);
    return nullptr;
  }
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  const int version = store->SchemaVersion();
  if (version != kSchemaVersion) {
    *error = path + ": not a device registry database";
    return nullptr;
  }
  if (store->Prepare() != kOk) {
    *error = path + ": " + store->message_;
    return nullptr;
  }
  return store;
}

std::uint32_t Store::Run(const char* sql) {
  char* text = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &text);
  if (rc == SQLITE_OK) return kOk;
  message_ = std::string(sql) + ": " + (text != nullptr ? text : sqlite3_errstr(rc));
  sqlite3_free(text);
  return kErrorRegistryIoFailed;
}

std::uint32_t Store::Fail(const char* what) {
  message_ = std::string(what) + ": " + sqlite3_errmsg(db_);
  return kErrorRegistryIoFailed;
}

int Store::SchemaVersion() {
  sqlite3_stmt* stmt = nullptr;
  int version = -1;
  if (sqlite3_prepare_v2(db_, "PRAGMA user_version", -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    version = sqlite3_column_int(stmt, 0);
  sqlite3_finalize(stmt);
  return version;
}

std::uint32_t Store::CreateSchema() {
  // An existing registry opens without the write lock, so that opening never
  // waits for another process's writes.
  int version = SchemaVersion();
  if (version == kSchemaVersion) return kOk;
  std::uint32_t result = Begin();
  if (result != kOk) return result;
  version = SchemaVersion();
  if (version == 0) {
    result = Run(kSchema);
  } else if (version != kSchemaVersion) {
    message_ = "not a device registry database";
    result = kErrorRegistryIoFailed;
  }
  if (result != kOk) {
    Rollback();
    return result;
  }
  return Commit();
}

std::uint32_t Store::Prepare() {
  struct {
    Statement* stmt;
    const char* sql;
  } const list[] = {
      {&stmts_->findChild, "SELECT id FROM keys WHERE parent = ?1 AND fold = ?2"},
      {&stmts_->insertKey, "INSERT INTO keys(parent, fold, name) VALUES(?1, ?2, ?3)"},
      {&stmts_->upsertValue,
       "INSERT INTO vals(key, fold, name, type, data) VALUES(?1, ?2, ?3, ?4, ?5)"
       " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"},
      {&stmts_->getValue, "SELECT name, type, data FROM vals WHERE key = ?1 AND fold = ?2"},
      {&stmts_->keyInfo, "SELECT parent, name FROM keys WHERE id = ?1"},
      {&stmts_->subtreeKeys,
       "WITH RECURSIVE sub(id, parent, name) AS (SELECT id, parent, name FROM keys WHERE id = ?1"
       " UNION ALL SELECT k.id, k.parent, k.name FROM keys k JOIN sub ON k.parent = sub.id)"
       " SELECT id, parent, name FROM sub"},
      {&stmts_->subtreeValues,
       "WITH RECURSIVE sub(id) AS (SELECT ?1 UNION ALL SELECT k.id FROM keys k JOIN sub ON k.parent = sub.id)"
       " SELECT v.key, v.name, v.type, v.data FROM vals v JOIN sub ON v.key = sub.id"},
  };
  for (const auto& entry : list)
    if (entry.stmt->Prepare(db_, entry.sql) != SQLITE_OK) return Fail("prepare");
  return kOk;
}

std::uint32_t Store::Begin() {
  // IMMEDIATE takes the write lock at once (waiting through the busy timeout),
  // so that a transaction never fails later when it turns from reading to writing.
  return sqlite3_exec(db_, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr) == SQLITE_OK ? kOk : Fail("begin");
}

std::uint32_t Store::Commit() {
  if (sqlite3_exec(db_, "COMMIT", nullptr, nullptr, nullptr) == SQLITE_OK) return kOk;
  const std::uint32_t result = Fail("commit");
  Rollback();
  return result;
}

void Store::Rollback() {
  if (InTransaction()) sqlite3_exec(db_, "ROLLBACK", nullptr, nullptr, nullptr);
}

bool Store::InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

std::uint32_t Store::FindChild(KeyId parent, const std::string& fold, KeyId* child) {
  Use use(stmts_->findChild);
  sqlite3_bind_int64(*use, 1, parent);
  BindText(*use, 2, fold);
  const int rc = sqlite3_step(*use);
  if (rc == SQLITE_ROW) {
    *child = sqlite3_column_int64(*use, 0);
    return kOk;
  }
  return rc == SQLITE_DONE ? kErrorFileNotFound : Fail("find key");
}

std::uint32_t Store::CreateKey(KeyId parent, std::u16string_view subKey, KeyId* key, bool* created) {
  // Several inserts make one key path: outside a caller's transaction they get their own.
  const bool own = !InTransaction();
  if (own) {
    if (const std::uint32_t r = Begin(); r != kOk) return r;
  }
  KeyId current = parent;
  bool madeLast = false;
  std::uint32_t result = kOk;
  for (const std::u16string& name : SplitKeyPath(subKey)) {
    const std::string fold = ToUtf8(Fold(name));
    KeyId child = 0;
    result = FindChild(current, fold, &child);
    madeLast = result == kErrorFileNotFound;
    if (madeLast) {
      Use use(stmts_->insertKey);
      const std::string utf8 = ToUtf8(name);
      sqlite3_bind_int64(*use, 1, current);
      BindText(*use, 2, fold);
      BindText(*use, 3, utf8);
      result = sqlite3_step(*use) == SQLITE_DONE ? kOk : Fail("create key");
      child = sqlite3_last_insert_rowid(db_);
    }
    if (result != kOk) break;
    current = child;
  }
  if (own) {
    if (result != kOk) {
      Rollback();
      return result;
    }
    if (const std::uint32_t r = Commit(); r != kOk) return r;
  }
  if (result != kOk) return result;
  *key = current;
  *created = madeLast;
  return kOk;
}

std::uint32_t Store::FindKey(KeyId parent, std::u16string_view subKey, KeyId* key) {
  KeyId current = parent;
  for (const std::u16string& name : SplitKeyPath(subKey)) {
    KeyId child = 0;
    if (const std::uint32_t r = FindChild(current, ToUtf8(Fold(name)), &child); r != kOk) return r;
    current = child;
  }
  *key = current;
  return kOk;
}

std::uint32_t Store::SetValue(KeyId key, std::u16string_view name, std::uint32_t type, std::string_view data) {
  static const char kEmpty = 0;
  Use use(stmts_->upsertValue);
  const std::string utf8 = ToUtf8(name);
  const std::string fold = ToUtf8(Fold(name));
  sqlite3_bind_int64(*use, 1, key);
  BindText(*use, 2, fold);
  BindText(*use, 3, utf8);
  sqlite3_bind_int64(*use, 4, type);
  // An empty value is an empty blob, never NULL, so that its type stays exact.
  sqlite3_bind_blob(*use, 5, data.empty() ? &kEmpty : data.data(), static_cast<int>(data.size()), SQLITE_STATIC);
  return sqlite3_step(*use) == SQLITE_DONE ? kOk : Fail("set value");
}

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

std::uint32_t Store::ReadSubtree(KeyId key, std::vector<Key>* keys) {
  // The path of the starting key, walked up to its root.
  std::vector<std::u16string> top;
  KeyId walk = key;
  while (walk > kLastRoot) {
    Use use(stmts_->keyInfo);
    sqlite3_bind_int64(*use, 1, walk);
    const int rc = sqlite3_step(*use);
    if (rc == SQLITE_DONE) return kErrorFileNotFound;
    if (rc != SQLITE_ROW) return Fail("read key");
    walk = sqlite3_column_int64(*use, 0);
    top.insert(top.begin(), FromUtf8(ColumnText(*use, 1)));
  }
  if (walk < 1) return kErrorFileNotFound;
  const std::uint32_t root = kRootClasses + static_cast<std::uint32_t>(walk - 1);

  struct Row {
    KeyId parent;
    std::u16string name;
    std::size_t slot = 0;
    bool placed = false;
  };
  std::map<KeyId, Row> rows;
  {
    Use use(stmts_->subtreeKeys);
    sqlite3_bind_int64(*use, 1, key);
    int rc;
    while ((rc = sqlite3_step(*use)) == SQLITE_ROW)
      rows[sqlite3_column_int64(*use, 0)] = Row{sqlite3_column_int64(*use, 1), FromUtf8(ColumnText(*use, 2))};
    if (rc != SQLITE_DONE) return Fail("read subtree");
  }
  if (rows.find(key) == rows.end()) return kErrorFileNotFound;

  // Paths are built parent first, whatever order the rows arrived in.
  std::vector<Key> result;
  std::vector<KeyId> pending;
  for (auto& [id, row] : rows) {
    for (KeyId at = id; !rows[at].placed;) {
      const KeyId up = rows[at].parent;
      if (at != key && !rows[up].placed) {
        pending.push_back(at);
        at = up;
        continue;
      }
      Key entry;
      entry.root = root;
      entry.path = at == key ? top : result[rows[up].slot].path;
      if (at != key) entry.path.push_back(rows[at].name);
      rows[at].slot = result.size();
      rows[at].placed = true;
      result.push_back(std::move(entry));
      if (pending.empty()) break;
      at = pending.back();
      pending.pop_back();
    }
  }
  {
    Use use(stmts_->subtreeValues);
    sqlite3_bind_int64(*use, 1, key);
    int rc;
    while ((rc = sqlite3_step(*use)) == SQLITE_ROW) {
      const auto owner = rows.find(sqlite3_column_int64(*use, 0));
      if (owner == rows.end()) continue;
      Value value;
      value.name = FromUtf8(ColumnText(*use, 1));
      value.type = static_cast<std::uint32_t>(sqlite3_column_int64(*use, 2));
      value.data = ColumnBlob(*use, 3);
      result[owner->second.slot].values.push_back(std::move(value));
    }
    if (rc != SQLITE_DONE) return Fail("read subtree values");
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
  return verdict;
}

}  // namespace regstore
