// Opening the registry database: the device folder's file, never a link out
// of it, its layout created on first use and older layouts upgraded in place.
#include <sqlite3.h>
#include <sys/stat.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <thread>

#include "platform/posix/regstore/file_calls.h"
#include "platform/posix/regstore/store.h"

namespace regstore {
namespace {

// Waiting time for a lock held by another process before a write gives up.
constexpr int kBusyTimeoutMs = 30000;

// Roots are the rows 1 to 3 of the key table and the only keys without a
// parent. A value belongs to a key and a key to its parent: the database
// refuses anything else and removes a key's values and children with it.
// A new key gets the highest id in the table plus one, and keys are never
// deleted, so the id of a key that was ever committed goes to no other key.
// Ids handed out in a transaction that was rolled back are guarded by a
// placeholder row just above the highest of them (no parent, empty names: no
// key at all; see Store::Begin). (Layout 2 kept the highest id in SQLite's
// AUTOINCREMENT sequence instead, which every commit that makes a key writes
// again: one log page more per key.)
constexpr const char* kKeysTable =
    "CREATE TABLE keys(id INTEGER PRIMARY KEY,"
    " parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
    " fold TEXT NOT NULL, name TEXT NOT NULL, UNIQUE(parent, fold),"
    " CHECK(parent IS NOT NULL OR id <= 3 OR (fold = '' AND name = '')));";
constexpr const char* kTables =
    "%KEYS%"
    "CREATE TABLE vals(key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE,"
    " fold TEXT NOT NULL, name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL,"
    " PRIMARY KEY(key, fold)) WITHOUT ROWID;";

constexpr const char* kRoots =
    "INSERT INTO keys(id, parent, fold, name) VALUES"
    " (1, NULL, 'hkey_classes_root', 'HKEY_CLASSES_ROOT'),"
    " (2, NULL, 'hkey_current_user', 'HKEY_CURRENT_USER'),"
    " (3, NULL, 'hkey_local_machine', 'HKEY_LOCAL_MACHINE');"
    "PRAGMA user_version = 3;";

// Layout 1 had no foreign keys and reused ids, so a failed write could leave
// values whose key row was gone. Keys reachable from a root and their values
// move to the new tables; anything else is kept apart in lost_keys and
// lost_values (never deleted), and no id ever used is given out again.
constexpr const char* kUpgradeFrom1 =
    "ALTER TABLE keys RENAME TO keys_v1;"
    "ALTER TABLE vals RENAME TO vals_v1;"
    "%TABLES%"
    "INSERT INTO keys(id, parent, fold, name)"
    " WITH RECURSIVE r(id) AS (SELECT id FROM keys_v1 WHERE id BETWEEN 1 AND 3"
    "  UNION SELECT k.id FROM keys_v1 k JOIN r ON k.parent = r.id AND k.id > 3)"
    " SELECT id, CASE WHEN id <= 3 THEN NULL ELSE parent END, fold, name FROM keys_v1"
    " WHERE id IN r ORDER BY id;"
    "INSERT INTO vals SELECT * FROM vals_v1 WHERE key IN (SELECT id FROM keys);"
    "CREATE TABLE IF NOT EXISTS lost_keys AS SELECT * FROM keys_v1 WHERE 0;"
    "CREATE TABLE IF NOT EXISTS lost_values AS SELECT * FROM vals_v1 WHERE 0;"
    "INSERT INTO lost_keys SELECT * FROM keys_v1 WHERE id NOT IN (SELECT id FROM keys);"
    "INSERT INTO lost_values SELECT * FROM vals_v1 WHERE key NOT IN (SELECT id FROM keys);"
    "INSERT INTO keys(id, parent, fold, name) SELECT m + 1, NULL, '', '' FROM"
    " (SELECT max(coalesce((SELECT max(id) FROM keys_v1), 0), coalesce((SELECT max(key) FROM vals_v1), 0)) AS m)"
    " WHERE m >= (SELECT max(id) FROM keys);"
    "DROP TABLE vals_v1;"
    "DROP TABLE keys_v1;"
    "PRAGMA user_version = 3;";

// Layout 2 is layout 3 with the key ids in SQLite's AUTOINCREMENT sequence:
// the key table is made again without it, ids and rows unchanged, with a
// placeholder row above the sequence's highest id where no key is above it. The
// new table takes the old one's name only after the old one is gone, so that
// the values' references keep naming "keys" (renaming a table renames the
// references to it).
constexpr const char* kUpgradeFrom2 =
    "%KEYS_NEW%"
    "INSERT INTO keys_new SELECT id, parent, fold, name FROM keys ORDER BY id;"
    "INSERT INTO keys_new(id, parent, fold, name) SELECT seq + 1, NULL, '', '' FROM sqlite_sequence"
    " WHERE name = 'keys' AND seq >= (SELECT max(id) FROM keys_new);"
    "DROP TABLE keys;"
    "ALTER TABLE keys_new RENAME TO keys;"
    "PRAGMA user_version = 3;";

// Why path (or a companion file SQLite keeps beside it) must not be opened, or "".
// The open itself refuses links too; this names the reason.
std::string LinkProblem(const std::string& path) {
  for (const char* suffix : {"", "-wal", "-shm", "-journal"}) {
    const std::string file = path + suffix;
    struct stat st{};
    if (::lstat(file.c_str(), &st) != 0) continue;
    if (S_ISLNK(st.st_mode)) return file + ": is a symbolic link, refused";
    if (S_ISREG(st.st_mode) && st.st_nlink > 1) return file + ": has further hard links, refused";
  }
  return "";
}

std::string Replace(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The layout's SQL with the key table's definition in place.
std::string WithTables(const char* sql) {
  const std::string keys = kKeysTable;
  const std::string text = Replace(Replace(sql, "%TABLES%", kTables), "%KEYS%", keys);
  return Replace(text, "%KEYS_NEW%", Replace(keys, "CREATE TABLE keys(", "CREATE TABLE keys_new("));
}

}  // namespace

std::unique_ptr<Store> Store::Connect(const std::string& deviceDir, bool create, std::string* error) {
  // The device folder itself is the operator's choice and may be reached
  // through links; what lies inside it is device content and may not.
  char real[PATH_MAX];
  if (::realpath(deviceDir.c_str(), real) == nullptr) {
    *error = DatabasePath(deviceDir) + ": " + std::strerror(errno);
    return nullptr;
  }
  const std::string path = DatabasePath(real);
  // Settings of the library as a whole, taken only before its first use.
  static std::once_flag configured;
  std::call_once(configured, [] { sqlite3_config(SQLITE_CONFIG_MEMSTATUS, 0); });
  InstallFileCalls();
  if (const std::string problem = LinkProblem(path); !problem.empty()) {
    *error = problem;
    return nullptr;
  }
  sqlite3* db = nullptr;
  // A store is used by one thread at a time (its owner serialises the calls),
  // so the connection needs no mutex of its own.
  const int flags =
      SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOFOLLOW | SQLITE_OPEN_NOMUTEX | (create ? SQLITE_OPEN_CREATE : 0);
  const int rc = sqlite3_open_v2(path.c_str(), &db, flags, nullptr);
  std::unique_ptr<Store> store(new Store(db));
  if (rc != SQLITE_OK) {
    *error = path + ": " + (db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
    return nullptr;
  }
  sqlite3_extended_result_codes(db, 1);
  store->readOnly_ = sqlite3_db_readonly(db, "main") == 1;
  sqlite3_busy_timeout(db, kBusyTimeoutMs);
  if (store->Run("PRAGMA foreign_keys=ON") != kOk || store->PrepareTransactions() != kOk) {
    *error = path + ": " + store->message_;
    return nullptr;
  }
  return store;
}

std::unique_ptr<Store> Store::Open(const std::string& deviceDir, std::string* error) {
  std::unique_ptr<Store> store = Connect(deviceDir, true, error);
  if (store == nullptr) return nullptr;
  const std::string path = DatabasePath(deviceDir);
  // A new database gets 1 KiB pages: every commit appends each page it
  // changed to the log, and smaller pages make that log, and the disk writes
  // of its checkpoints, a third of the default's. (An existing file keeps its
  // pages; the setting does nothing there.)
  sqlite3_exec(store->db_, "PRAGMA page_size=1024", nullptr, nullptr, nullptr);
  // Switching to WAL needs a moment of exclusive access; a second process
  // opening at the same instant may see SQLITE_BUSY, so try again briefly.
  std::uint32_t result = kOk;
  for (int attempt = 0; !store->ReadOnly(); ++attempt) {
    const int rc = sqlite3_exec(store->db_, "PRAGMA journal_mode=WAL", nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK) break;
    if (((rc & 0xFF) != SQLITE_BUSY && (rc & 0xFF) != SQLITE_LOCKED) || attempt == 100) {
      result = store->Fail("journal mode");
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  // NORMAL in WAL mode syncs only at checkpoints: a commit per key stays
  // cheap, and a crash still leaves the last commits or fewer, never a torn one.
  if (result == kOk) result = store->Run("PRAGMA synchronous=NORMAL");
  if (result == kOk) {
    store->path_ = path;
    store->pageBytes_ = store->Count("PRAGMA page_size");
    sqlite3_wal_hook(store->db_, &Store::AfterCommit, store.get());
  }
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
  struct stat st{};
  if (::lstat(path.c_str(), &st) != 0) {
    *error = path + ": no such file";
    return nullptr;
  }
  std::unique_ptr<Store> store = Connect(deviceDir, false, error);
  if (store == nullptr) return nullptr;
  // Every layout reads alike; reading never upgrades.
  const int version = store->SchemaVersion();
  if (version < 1 || version > kSchemaVersion) {
    *error = path + ": not a device registry database";
    return nullptr;
  }
  if (store->Prepare() != kOk) {
    *error = path + ": " + store->message_;
    return nullptr;
  }
  return store;
}

std::uint32_t Store::CreateSchema() {
  // An existing registry opens without the write lock, so that opening never
  // waits for another process's writes.
  int version = SchemaVersion();
  if (version == kSchemaVersion || (version >= 0 && ReadOnly())) return kOk;
  // Making a table again must not take the rows that refer to the old one
  // with it: foreign keys are off while the layout changes (which can only be
  // set outside a transaction), and checked before the commit.
  std::uint32_t result = Run("PRAGMA foreign_keys=OFF");
  if (result == kOk) result = Begin();
  if (result == kOk) {
    version = SchemaVersion();
    if (version == 0 && Count("SELECT count(*) FROM sqlite_schema") == 0) {
      result = Run((WithTables(kTables) + kRoots).c_str());
    } else if (version == 1) {
      result = UpgradeFrom1();
    } else if (version == 2) {
      result = Run(WithTables(kUpgradeFrom2).c_str());
      notice_ = "registry.db upgraded to layout 3";
    } else if (version != kSchemaVersion) {
      message_ = "not a device registry database";
      result = kErrorRegistryIoFailed;
    }
    if (result == kOk && Count("SELECT count(*) FROM pragma_foreign_key_check") != 0) {
      message_ = "upgrade: rows without their key";
      result = kErrorRegistryIoFailed;
    }
    if (result == kOk) {
      result = Commit();
    } else {
      Rollback();
    }
  }
  if (const std::uint32_t on = Run("PRAGMA foreign_keys=ON"); result == kOk) result = on;
  return result;
}

std::uint32_t Store::UpgradeFrom1() {
  std::uint32_t result = Run(WithTables(kUpgradeFrom1).c_str());
  if (result != kOk) return result;
  const std::int64_t keys = Count("SELECT count(*) FROM lost_keys");
  const std::int64_t values = Count("SELECT count(*) FROM lost_values");
  if (keys == 0 && values == 0) {
    result = Run("DROP TABLE lost_keys; DROP TABLE lost_values;");
    notice_ = "registry.db upgraded to layout 3";
  } else {
    notice_ = "registry.db upgraded to layout 3; " + std::to_string(keys) + " keys and " +
              std::to_string(values) + " values that belonged to no key are kept in the tables lost_keys and lost_values";
  }
  return result;
}

}  // namespace regstore
