// The simulated device registry: keys and typed values kept in a SQLite
// database, DIR/registry.db beside the device folder DIR/fs.
//
// Key and value names are compared case-insensitively (FoldUnit) and keep
// the spelling they were first created with. Values keep their type and bytes
// exactly. Several processes may write at once: a writer waits for the others
// instead of failing. Every change is made inside a transaction, so a process
// killed while writing leaves the last committed state behind. A value always
// belongs to an existing key (enforced by the database), and a key id is
// never given to another key.
//
// Store is implemented in store.cc (connection, transactions, keys),
// store_values.cc (setting values), store_read.cc (reading keys and values)
// and schema.cc (opening, creating and upgrading the database).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct sqlite3;
struct sqlite3_stmt;

namespace regstore {

inline constexpr std::uint32_t kRootClasses = 0x80000000u;
inline constexpr std::uint32_t kRootCurrentUser = 0x80000001u;
inline constexpr std::uint32_t kRootLocalMachine = 0x80000002u;

// Result codes, numbered as the device numbers them.
inline constexpr std::uint32_t kOk = 0;
inline constexpr std::uint32_t kErrorFileNotFound = 2;         // no such key or value
inline constexpr std::uint32_t kErrorAccessDenied = 5;         // the database is read-only
inline constexpr std::uint32_t kErrorInvalidHandle = 6;        // not a root or open key
inline constexpr std::uint32_t kErrorInvalidParameter = 87;    // missing pointer argument, name too long
inline constexpr std::uint32_t kErrorDiskFull = 112;           // no room left for the database
inline constexpr std::uint32_t kErrorBadPathname = 161;        // subkey path starting with a backslash
inline constexpr std::uint32_t kErrorNoAccess = 998;           // data pointer missing for a byte count
inline constexpr std::uint32_t kErrorRegistryIoFailed = 1016;  // the database failed otherwise

// Version of the database layout written and read; versions 1 and 2 are upgraded when opened for writing.
inline constexpr int kSchemaVersion = 3;

using KeyId = std::int64_t;

struct Value {
  std::u16string name;
  std::uint32_t type = 0;
  std::string data;  // the value's bytes, exactly as set
};

struct Child {
  KeyId id = 0;
  std::u16string name;
};

struct Key {
  std::uint32_t root = 0;             // one of the three roots
  std::vector<std::u16string> path;   // names below the root; empty for the root itself
  std::vector<Value> values;          // in no particular order
};

// Name of a root ("HKEY_LOCAL_MACHINE"), or nullptr for any other number.
const char16_t* RootName(std::uint32_t root);
// The root whose name matches, case-insensitively; false when none does.
bool RootFromName(std::u16string_view name, std::uint32_t* root);
// Splits a subkey path at backslashes, dropping empty names (runs, leading and trailing backslashes).
std::vector<std::u16string> SplitKeyPath(std::u16string_view subKey);

class Store {
 public:
  // Opens DIR/registry.db for writing, creating the file and its tables when
  // absent and upgrading an older layout; nullptr and *error on failure. A
  // database file (or -wal, -shm, -journal file) that is a symbolic link or
  // has further hard links is refused, never followed.
  static std::unique_ptr<Store> Open(const std::string& deviceDir, std::string* error);
  // Opens an existing DIR/registry.db for reading, as it is, without ever creating
  // or upgrading it; nullptr and *error on failure. Links are refused as by Open.
  static std::unique_ptr<Store> OpenExisting(const std::string& deviceDir, std::string* error);
  // Path of the database file of a device folder.
  static std::string DatabasePath(const std::string& deviceDir);
  // The key id of a root, or 0 when root is none of the three.
  static KeyId RootKey(std::uint32_t root);

  ~Store();
  Store(const Store&) = delete;
  Store& operator=(const Store&) = delete;

  // Starts a write transaction, waiting while another process writes; 0 or an error code.
  std::uint32_t Begin();
  // Sets the queued values, then makes the changes since Begin durable and visible to others; 0 or an error code.
  std::uint32_t Commit();
  // Drops the changes since Begin, queued values included.
  void Rollback();
  // True between Begin and Commit or Rollback; false also once the database
  // has dropped a transaction by itself after a failure (disk full, I/O error).
  bool InTransaction() const;
  // True when the database file can only be read.
  bool ReadOnly() const;
  // Moves committed changes into the database file, without waiting for readers; 0 or an error code.
  std::uint32_t Checkpoint();

  // Creates or opens subKey below parent, creating missing keys on the way;
  // *created tells whether the last key was new. 0 or an error code.
  std::uint32_t CreateKey(KeyId parent, std::u16string_view subKey, KeyId* key, bool* created);
  // Finds subKey below parent without creating anything; 0, kErrorFileNotFound or an error code.
  std::uint32_t FindKey(KeyId parent, std::u16string_view subKey, KeyId* key);
  // Sets a value; an existing value of the same name (any case) gets the new type and bytes and keeps its first spelling.
  std::uint32_t SetValue(KeyId key, std::u16string_view name, std::uint32_t type, std::string_view data);
  // Queues a value to be set as SetValue sets it, by WriteQueued or Commit,
  // in the order queued; reads do not see it before. A value of 64 KiB or
  // more is set at once, after the queue. 0, or the error of writing the
  // queue or the value now (the queue is then empty).
  std::uint32_t QueueValue(KeyId key, std::u16string_view name, std::uint32_t type, std::string_view data);
  // Sets the queued values in order, several to a statement; 0 or an error code. Empties the queue.
  std::uint32_t WriteQueued();
  // Reads one value; 0, kErrorFileNotFound or an error code.
  std::uint32_t GetValue(KeyId key, std::u16string_view name, Value* value);
  // The direct children of key, in no particular order; 0 or an error code.
  std::uint32_t Children(KeyId key, std::vector<Child>* children);
  // The values of key, in no particular order; 0 or an error code.
  std::uint32_t Values(KeyId key, std::vector<Value>* values);
  // The root and the names from the root down to key; 0, kErrorFileNotFound or an error code.
  std::uint32_t KeyPath(KeyId key, std::uint32_t* root, std::vector<std::u16string>* path);
  // Every key at and below key, with its values, parents before children; 0 or an error code.
  std::uint32_t ReadSubtree(KeyId key, std::vector<Key>* keys);
  // Result of SQLite's own consistency and foreign key checks: "ok" when the file is sound.
  std::string IntegrityCheck();

  // Text of the last database failure.
  const std::string& LastMessage() const { return message_; }
  // What opening the database changed besides the connection (an upgrade), or "".
  const std::string& Notice() const { return notice_; }

 private:
  explicit Store(sqlite3* db);
  struct Statements;
  static std::unique_ptr<Store> Connect(const std::string& deviceDir, bool create, std::string* error);
  std::uint32_t PrepareTransactions();
  std::uint32_t Prepare();
  sqlite3_stmt* SetRows(std::size_t rows);
  std::uint32_t CreateSchema();
  std::uint32_t UpgradeFrom1();
  int SchemaVersion();
  std::uint32_t Fail(const char* what);
  std::uint32_t FindChild(KeyId parent, const std::string& fold, KeyId* child);
  void ForgetPath();
  std::uint32_t Run(const char* sql);
  std::int64_t Count(const char* sql);
  static int AfterCommit(void* self, sqlite3* db, const char* name, int frames);

  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> stmts_;
  std::string message_;
  std::string notice_;
  KeyId issued_ = 0;  // the highest key id this connection has handed out, committed or not
  bool uncommittedIds_ = false;  // ids were handed out since the last commit
  bool readOnly_ = false;
  std::string name_, fold_;  // UTF-8 of the name in use and of its folded form, kept to spare allocations
  // Values queued by QueueValue: the first queued_ entries (later ones keep their buffers for reuse).
  struct Queued {
    KeyId key = 0;
    std::uint32_t type = 0;
    std::string name, fold, data;
  };
  std::vector<Queued> queue_;
  std::size_t queued_ = 0;
  std::size_t queuedBytes_ = 0;
  // The last key path CreateKey walked: below lastParent_, each name's folded
  // UTF-8 and key id. Keys are never deleted, so ids found or committed stay
  // right; the path is forgotten when a transaction is not committed.
  struct PathStep {
    std::string fold;
    KeyId id = 0;
  };
  std::vector<PathStep> lastPath_;
  KeyId lastParent_ = 0;
  std::string path_;  // the database file, for the free space beside it
  std::int64_t pageBytes_ = 4096;
  std::int64_t nextSpaceCheck_ = 0;  // log size at which free space is looked at next
  std::int64_t lastLogBytes_ = 0;
};

}  // namespace regstore
