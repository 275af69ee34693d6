#include "platform/posix/regstore/store.h"

#include <sqlite3.h>
#include <sys/statvfs.h>

#include "platform/posix/regstore/names.h"
#include "platform/posix/regstore/statements.h"

namespace regstore {
namespace {

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

}  // namespace

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

}  // namespace regstore
