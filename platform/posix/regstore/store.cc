#include "platform/posix/regstore/store.h"

#include <sqlite3.h>
#include <sys/statvfs.h>

#include <algorithm>

#include "platform/posix/regstore/names.h"

namespace regstore {
namespace {

// Roots are the rows 1 to 3 of the key table.
constexpr KeyId kLastRoot = 3;

// Log sizes at which a commit is followed by a checkpoint: always, or when free space runs short.
constexpr std::int64_t kCheckpointLogBytes = std::int64_t{16} << 20;
constexpr std::int64_t kSpaceCheckBytes = std::int64_t{128} << 10;
constexpr std::int64_t kSpareBytes = std::int64_t{256} << 10;

// The device's error number for a failure of the database.
std::uint32_t DeviceError(int code) {
  switch (code & 0xFF) {
    case SQLITE_FULL: return kErrorDiskFull;
    case SQLITE_READONLY: return kErrorAccessDenied;
    default: return kErrorRegistryIoFailed;
  }
}

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

}  // namespace

// Values queued before they are set: the most set by one statement, and the
// most held before they are written.
constexpr std::size_t kRowsPerStatement = 16;
constexpr std::size_t kMaxQueued = 64;
constexpr std::size_t kMaxQueuedBytes = std::size_t{64} << 10;

constexpr const char* kSetValueRow = "(?, ?, ?, ?, ?)";
constexpr const char* kSetValueEnd = " ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data";

struct Store::Statements {
  Statement begin, commit, rollback, findChild, insertKey, upsertValue, getValue, keyInfo, children, values;
  Statement dropPlaceholders, keepIssued;
  Statement setRows[kRowsPerStatement + 1];  // [n] sets n values; prepared when first needed
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

std::uint32_t Store::Run(const char* sql) {
  char* text = nullptr;
  const int rc = sqlite3_exec(db_, sql, nullptr, nullptr, &text);
  if (rc == SQLITE_OK) return kOk;
  message_ = std::string(sql).substr(0, 60) + ": " + (text != nullptr ? text : sqlite3_errstr(rc));
  sqlite3_free(text);
  return DeviceError(sqlite3_extended_errcode(db_));
}

std::uint32_t Store::Fail(const char* what) {
  message_ = std::string(what) + ": " + sqlite3_errmsg(db_);
  return DeviceError(sqlite3_extended_errcode(db_));
}

std::int64_t Store::Count(const char* sql) {
  sqlite3_stmt* stmt = nullptr;
  std::int64_t count = -1;
  if (sqlite3_prepare_v2(db_, sql, -1, &stmt, nullptr) == SQLITE_OK && sqlite3_step(stmt) == SQLITE_ROW)
    count = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  return count;
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

std::uint32_t Store::PrepareTransactions() {
  // Prepared once: a commit per key would otherwise parse these words each time.
  if (stmts_->begin.Prepare(db_, "BEGIN IMMEDIATE") != SQLITE_OK || stmts_->commit.Prepare(db_, "COMMIT") != SQLITE_OK ||
      stmts_->rollback.Prepare(db_, "ROLLBACK") != SQLITE_OK)
    return Fail("prepare");
  return kOk;
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
      {&stmts_->children, "SELECT id, name FROM keys WHERE parent = ?1"},
      {&stmts_->values, "SELECT name, type, data FROM vals WHERE key = ?1"},
      {&stmts_->dropPlaceholders,
       "DELETE FROM keys WHERE parent IS NULL AND id > 3 AND id < (SELECT max(id) FROM keys)"},
      {&stmts_->keepIssued,
       "INSERT INTO keys(id, parent, fold, name) SELECT ?1 + 1, NULL, '', '' WHERE ?1 >= (SELECT max(id) FROM keys)"},
  };
  for (const auto& entry : list)
    if (entry.stmt->Prepare(db_, entry.sql) != SQLITE_OK) return Fail("prepare");
  return kOk;
}

std::uint32_t Store::Begin() {
  // A transaction the database dropped by itself, with no Rollback after it,
  // may have made keys of the remembered path.
  if (uncommittedIds_) ForgetPath();
  // IMMEDIATE takes the write lock at once (waiting through the busy timeout),
  // so that a transaction never fails later when it turns from reading to writing.
  {
    Use use(stmts_->begin);
    if (sqlite3_step(*use) != SQLITE_DONE) return Fail("begin");
  }
  // Only ids handed out in a transaction that was not committed need keeping.
  if (!uncommittedIds_) return kOk;
  // A rolled-back transaction takes the keys it made back with it, and the
  // next key would get the first of their ids again: a placeholder row (no
  // parent, empty names, no key) just above the highest id handed out keeps
  // them all below the next key's. (Not at that id itself, which would make a
  // row for a dropped key to hold children or values.) Older placeholders
  // below the table's highest id are no longer needed.
  for (Statement* stmt : {&stmts_->dropPlaceholders, &stmts_->keepIssued}) {
    Use use(*stmt);
    if (sqlite3_bind_parameter_count(*use) == 1) sqlite3_bind_int64(*use, 1, issued_);
    if (sqlite3_step(*use) != SQLITE_DONE) {
      const std::uint32_t result = Fail("keep key ids");
      Rollback();
      return result;
    }
  }
  return kOk;
}

std::uint32_t Store::Commit() {
  std::uint32_t result = WriteQueued();
  if (result != kOk) {
    Rollback();
    return result;
  }
  {
    Use use(stmts_->commit);
    if (sqlite3_step(*use) == SQLITE_DONE) {
      uncommittedIds_ = false;
      return kOk;
    }
    result = Fail("commit");
  }
  Rollback();
  return result;
}

void Store::Rollback() {
  // Keys of the remembered path may have been made in the dropped transaction.
  ForgetPath();
  queued_ = 0;
  queuedBytes_ = 0;
  if (!InTransaction()) return;
  Use use(stmts_->rollback);
  sqlite3_step(*use);
}

bool Store::InTransaction() const { return db_ != nullptr && sqlite3_get_autocommit(db_) == 0; }

bool Store::ReadOnly() const { return readOnly_; }

std::uint32_t Store::Checkpoint() {
  // PASSIVE never waits for readers; what they still use is copied next time.
  const int rc = sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_PASSIVE, nullptr, nullptr);
  return rc == SQLITE_OK ? kOk : Fail("checkpoint");
}

int Store::AfterCommit(void* self, sqlite3*, const char*, int frames) {
  // Each commit appends every page it changed to the log, so a commit per key
  // makes the log many times larger than the data it adds. Checkpoints (each
  // a wait for the disk) come every 16 MiB of log, and sooner when the disk
  // would not hold the log and the pages a checkpoint adds to the database:
  // otherwise a nearly full disk would fill with log and take no more keys.
  auto* store = static_cast<Store*>(self);
  const std::int64_t logBytes = static_cast<std::int64_t>(frames) * (store->pageBytes_ + 24);
  bool now = logBytes >= kCheckpointLogBytes;
  // The free space is looked at again after every kSpaceCheckBytes of log,
  // and at once when the log has started over.
  if (logBytes < store->lastLogBytes_) store->nextSpaceCheck_ = 0;
  store->lastLogBytes_ = logBytes;
  if (!now && logBytes >= store->nextSpaceCheck_) {
    store->nextSpaceCheck_ = logBytes + kSpaceCheckBytes;
    struct statvfs fs{};
    if (::statvfs(store->path_.c_str(), &fs) == 0) {
      const std::int64_t free = static_cast<std::int64_t>(fs.f_bavail) * static_cast<std::int64_t>(fs.f_frsize);
      now = free < 2 * logBytes + kSpareBytes + kSpaceCheckBytes;
    }
  }
  if (now) {
    store->Checkpoint();
    store->nextSpaceCheck_ = 0;
  }
  return SQLITE_OK;
}

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
  // Consecutive keys mostly share their path's first names: those are taken
  // from the last path walked instead of being looked up again.
  std::size_t depth = 0;
  bool samePath = parent == lastParent_;
  for (std::size_t start = 0; start <= subKey.size();) {
    std::size_t end = subKey.find(u'\\', start);
    if (end == std::u16string_view::npos) end = subKey.size();
    const std::u16string_view name = subKey.substr(start, end - start);
    start = end + 1;
    if (name.empty()) continue;
    ToUtf8Into(name, true, &fold_);
    samePath = samePath && depth < lastPath_.size() && lastPath_[depth].fold == fold_;
    KeyId child = 0;
    if (samePath) {
      child = lastPath_[depth].id;
      madeLast = false;
    } else {
      lastPath_.resize(depth);
      result = FindChild(current, fold_, &child);
      madeLast = result == kErrorFileNotFound;
      if (madeLast) {
        Use use(stmts_->insertKey);
        ToUtf8Into(name, false, &name_);
        sqlite3_bind_int64(*use, 1, current);
        BindText(*use, 2, fold_);
        BindText(*use, 3, name_);
        result = sqlite3_step(*use) == SQLITE_DONE ? kOk : Fail("create key");
        child = sqlite3_last_insert_rowid(db_);
        if (result == kOk) {
          uncommittedIds_ = true;
          if (child > issued_) issued_ = child;
        }
      }
      if (result != kOk) break;
      lastPath_.push_back(PathStep{fold_, child});
    }
    current = child;
    ++depth;
  }
  lastParent_ = parent;
  if (result != kOk) ForgetPath();
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

void Store::ForgetPath() {
  lastPath_.clear();
  lastParent_ = 0;
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
