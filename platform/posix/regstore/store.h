// The simulated device registry: keys and typed values kept in a SQLite
// database, DIR/registry.db beside the device folder DIR/fs.
//
// Key and value names are compared case-insensitively (FoldUnit) and keep
// the spelling they were first created with. Values keep their type and bytes
// exactly. Several processes may write at once: a writer waits for the others
// instead of failing. Every change is made inside a transaction, so a process
// killed while writing leaves the last committed state behind.
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
inline constexpr std::uint32_t kErrorInvalidHandle = 6;        // not a root or open key
inline constexpr std::uint32_t kErrorInvalidParameter = 87;    // missing pointer argument
inline constexpr std::uint32_t kErrorRegistryIoFailed = 1016;  // the database failed

using KeyId = std::int64_t;

struct Value {
  std::u16string name;
  std::uint32_t type = 0;
  std::string data;  // the value's bytes, exactly as set
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
  // Opens DIR/registry.db, creating the file and its tables when absent; nullptr and *error on failure.
  static std::unique_ptr<Store> Open(const std::string& deviceDir, std::string* error);
  // Opens an existing DIR/registry.db without ever creating it; nullptr and *error on failure.
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
  // Makes the changes since Begin durable and visible to others; 0 or an error code.
  std::uint32_t Commit();
  // Drops the changes since Begin.
  void Rollback();
  // True between Begin and Commit or Rollback.
  bool InTransaction() const;

  // Creates or opens subKey below parent, creating missing keys on the way;
  // *created tells whether the last key was new. 0 or an error code.
  std::uint32_t CreateKey(KeyId parent, std::u16string_view subKey, KeyId* key, bool* created);
  // Finds subKey below parent without creating anything; 0, kErrorFileNotFound or an error code.
  std::uint32_t FindKey(KeyId parent, std::u16string_view subKey, KeyId* key);
  // Sets a value; an existing value of the same name (any case) gets the new type and bytes and keeps its first spelling.
  std::uint32_t SetValue(KeyId key, std::u16string_view name, std::uint32_t type, std::string_view data);
  // Reads one value; 0, kErrorFileNotFound or an error code.
  std::uint32_t GetValue(KeyId key, std::u16string_view name, Value* value);
  // Every key at and below key, with its values; 0 or an error code.
  std::uint32_t ReadSubtree(KeyId key, std::vector<Key>* keys);
  // Result of SQLite's own consistency check: "ok" when the file is sound.
  std::string IntegrityCheck();

  // Text of the last database failure.
  const std::string& LastMessage() const { return message_; }

 private:
  explicit Store(sqlite3* db);
  struct Statements;
  std::uint32_t Prepare();
  std::uint32_t CreateSchema();
  int SchemaVersion();
  std::uint32_t Fail(const char* what);
  std::uint32_t FindChild(KeyId parent, const std::string& fold, KeyId* child);
  std::uint32_t Run(const char* sql);

  sqlite3* db_ = nullptr;
  std::unique_ptr<Statements> stmts_;
  std::string message_;
};

}  // namespace regstore
