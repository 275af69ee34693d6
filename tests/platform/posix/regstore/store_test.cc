#include "platform/posix/regstore/store.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/posix/regstore/names.h"
#include "tests/platform/posix/regstore/test_support.h"

namespace {

using regstore::Key;
using regstore::KeyId;
using regstore::Store;
using regstore::Value;

const KeyId kMachine = Store::RootKey(regstore::kRootLocalMachine);

class RegistryStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(device_.path().empty());
    std::string error;
    store_ = Store::Open(device_.path(), &error);
    ASSERT_NE(store_, nullptr) << error;
  }

  KeyId Create(KeyId parent, std::u16string_view path, bool* created = nullptr) {
    KeyId key = 0;
    bool made = false;
    EXPECT_EQ(store_->CreateKey(parent, path, &key, &made), regstore::kOk);
    if (created != nullptr) *created = made;
    return key;
  }

  std::vector<Key> Subtree(KeyId key) {
    std::vector<Key> keys;
    EXPECT_EQ(store_->ReadSubtree(key, &keys), regstore::kOk);
    return keys;
  }

  regtest::TempDevice device_;
  std::unique_ptr<Store> store_;
};

TEST_F(RegistryStoreTest, KeyNamesMatchInAnyCaseAndKeepTheirFirstSpelling) {
  bool created = false;
  const KeyId first = Create(kMachine, u"Software\\Vendor", &created);
  EXPECT_TRUE(created);
  const KeyId again = Create(kMachine, u"SOFTWARE\\vEnDoR", &created);
  EXPECT_FALSE(created);
  EXPECT_EQ(first, again);
  // Latin-1 letters fold too.
  const KeyId accented = Create(first, u"\u00C4rger", &created);
  EXPECT_EQ(Create(first, u"\u00E4RGER", &created), accented);
  EXPECT_FALSE(created);

  const std::vector<Key> keys = Subtree(first);
  ASSERT_EQ(keys.size(), 2u);
  for (const Key& key : keys) {
    EXPECT_EQ(key.root, regstore::kRootLocalMachine);
    ASSERT_GE(key.path.size(), 2u);
    EXPECT_EQ(key.path[0], u"Software");
    EXPECT_EQ(key.path[1], u"Vendor");
    if (key.path.size() == 3) {
      EXPECT_EQ(key.path[2], u"\u00C4rger");
    }
  }
}

TEST_F(RegistryStoreTest, SubkeyPathsCreateMissingParentsAndIgnoreEmptyNames) {
  struct Case {
    std::u16string path;
    std::u16string reached;  // the key the path leads to, in canonical form
  };
  const Case cases[] = {
      {u"A\\B\\C", u"A\\B\\C"}, {u"A\\\\B", u"A\\B"},       {u"\\A\\", u"A"},
      {u"a\\b\\c\\", u"A\\B\\C"}, {u"", u""}, {u"\\\\", u""},
  };
  for (const Case& c : cases) {
    const KeyId key = Create(kMachine, c.path);
    KeyId expected = 0;
    ASSERT_EQ(store_->FindKey(kMachine, c.reached, &expected), regstore::kOk);
    EXPECT_EQ(key, expected) << "path " << regstore::ToUtf8(c.path);
  }
  EXPECT_EQ(Create(kMachine, u""), kMachine);
  // Every parent exists as a key of its own.
  KeyId parent = 0;
  EXPECT_EQ(store_->FindKey(kMachine, u"A\\B", &parent), regstore::kOk);
  EXPECT_EQ(store_->FindKey(kMachine, u"A\\X", &parent), regstore::kErrorFileNotFound);
  EXPECT_EQ(Subtree(kMachine).size(), 4u);  // the root, A, A\B, A\B\C
}

TEST_F(RegistryStoreTest, RootsAreSeparateTrees) {
  const KeyId machine = Create(kMachine, u"Same");
  const KeyId user = Create(Store::RootKey(regstore::kRootCurrentUser), u"Same");
  EXPECT_NE(machine, user);
  EXPECT_EQ(store_->SetValue(machine, u"v", 4, std::string("\1\0\0\0", 4)), regstore::kOk);
  Value value;
  EXPECT_EQ(store_->GetValue(user, u"v", &value), regstore::kErrorFileNotFound);
  EXPECT_EQ(Store::RootKey(0x80000003u), 0);
}

TEST_F(RegistryStoreTest, ValuesKeepTypeAndBytesExactly) {
  const KeyId key = Create(kMachine, u"Values");
  struct Case {
    std::u16string name;
    std::uint32_t type;
    std::string data;
  };
  const Case cases[] = {
      {u"", 1, std::string("d\0\0\0", 4)},
      {u"sz", 1, std::string("a\0b\0\0\0", 6)},
      {u"binary", 3, std::string("\x00\xff\x80\xc3\x28\0", 6)},
      {u"dword", 4, std::string("\x0a\0\0\0", 4)},
      {u"multi", 7, std::string("a\0\0\0\0\0", 6)},
      {u"empty", 3, std::string()},
      {u"odd type", 0xFFFFFFFFu, std::string("\xff", 1)},
      {u"\u00FCml\u00E4ut \U0001F600", 2, std::string("%\0\0\0", 4)},
      {u"lone \xD800 surrogate", 11, std::string("\0", 1)},
  };
  for (const Case& c : cases) ASSERT_EQ(store_->SetValue(key, c.name, c.type, c.data), regstore::kOk);
  for (const Case& c : cases) {
    Value value;
    ASSERT_EQ(store_->GetValue(key, c.name, &value), regstore::kOk) << regstore::ToUtf8(c.name);
    EXPECT_EQ(value.name, c.name);
    EXPECT_EQ(value.type, c.type);
    EXPECT_EQ(value.data, c.data) << regstore::ToUtf8(c.name);
  }
  EXPECT_EQ(Subtree(key).at(0).values.size(), std::size(cases));
}

TEST_F(RegistryStoreTest, SettingAValueAgainReplacesTypeAndDataButKeepsTheFirstSpelling) {
  const KeyId key = Create(kMachine, u"Replace");
  ASSERT_EQ(store_->SetValue(key, u"Name", 1, std::string("x\0\0\0", 4)), regstore::kOk);
  ASSERT_EQ(store_->SetValue(key, u"NAME", 3, std::string("\1\2\3", 3)), regstore::kOk);
  const std::vector<Key> keys = Subtree(key);
  ASSERT_EQ(keys.at(0).values.size(), 1u);
  const Value& value = keys[0].values[0];
  EXPECT_EQ(value.name, u"Name");
  EXPECT_EQ(value.type, 3u);
  EXPECT_EQ(value.data, std::string("\1\2\3", 3));
}

TEST_F(RegistryStoreTest, RollbackDropsKeysAndValuesAndCommitKeepsThemAcrossReopening) {
  ASSERT_EQ(store_->Begin(), regstore::kOk);
  const KeyId dropped = Create(kMachine, u"Dropped\\Child");
  ASSERT_EQ(store_->SetValue(dropped, u"v", 4, std::string(4, '\0')), regstore::kOk);
  store_->Rollback();
  EXPECT_FALSE(store_->InTransaction());
  KeyId found = 0;
  EXPECT_EQ(store_->FindKey(kMachine, u"Dropped", &found), regstore::kErrorFileNotFound);

  ASSERT_EQ(store_->Begin(), regstore::kOk);
  const KeyId kept = Create(kMachine, u"Kept");
  ASSERT_EQ(store_->SetValue(kept, u"v", 4, std::string("\7\0\0\0", 4)), regstore::kOk);
  ASSERT_EQ(store_->Commit(), regstore::kOk);
  store_.reset();

  std::string error;
  std::unique_ptr<Store> reopened = Store::OpenExisting(device_.path(), &error);
  ASSERT_NE(reopened, nullptr) << error;
  ASSERT_EQ(reopened->FindKey(kMachine, u"kept", &found), regstore::kOk);
  Value value;
  ASSERT_EQ(reopened->GetValue(found, u"V", &value), regstore::kOk);
  EXPECT_EQ(value.data, std::string("\7\0\0\0", 4));
  EXPECT_EQ(reopened->IntegrityCheck(), "ok");
}

// Key paths share their first names with the path before them: a path made
// in a transaction that was rolled back must be made again, never taken over.
TEST_F(RegistryStoreTest, APathOfARolledBackTransactionIsMadeAgain) {
  const struct {
    const char* what;
    std::u16string dropped, next;
  } cases[] = {
      {"same path", u"A\\B", u"A\\B"},
      {"path below it", u"C\\D", u"C\\D\\E"},
      {"partly committed path", u"Kept\\F", u"Kept\\F\\G"},
  };
  Create(kMachine, u"Kept");
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    ASSERT_EQ(store_->Begin(), regstore::kOk);
    Create(kMachine, c.dropped);
    store_->Rollback();
    ASSERT_EQ(store_->Begin(), regstore::kOk);
    bool created = false;
    const KeyId key = Create(kMachine, c.next, &created);
    EXPECT_TRUE(created);
    ASSERT_EQ(store_->SetValue(key, u"v", 4, std::string(4, '\1')), regstore::kOk);
    ASSERT_EQ(store_->Commit(), regstore::kOk);
    KeyId found = 0;
    ASSERT_EQ(store_->FindKey(kMachine, c.next, &found), regstore::kOk);
    EXPECT_EQ(found, key);
  }
  EXPECT_EQ(store_->IntegrityCheck(), "ok");
}

TEST(RegistryStoreOpen, OpenExistingRefusesMissingAndForeignFiles) {
  regtest::TempDevice device;
  std::string error;
  EXPECT_EQ(Store::OpenExisting(device.path(), &error), nullptr);
  EXPECT_FALSE(std::filesystem::exists(Store::DatabasePath(device.path())));
  {
    std::ofstream(Store::DatabasePath(device.path())) << "this is no database, only some text";
  }
  error.clear();
  EXPECT_EQ(Store::OpenExisting(device.path(), &error), nullptr);
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(Store::Open(device.path(), &error), nullptr);
}

TEST(RegistryStoreOpen, RootNamesAndKeyPathSplitting) {
  std::uint32_t root = 0;
  EXPECT_TRUE(regstore::RootFromName(u"hkey_current_user", &root));
  EXPECT_EQ(root, regstore::kRootCurrentUser);
  EXPECT_FALSE(regstore::RootFromName(u"HKEY_USERS", &root));
  EXPECT_FALSE(regstore::RootFromName(u"", &root));
  EXPECT_EQ(regstore::SplitKeyPath(u"\\a\\\\b\\"), (std::vector<std::u16string>{u"a", u"b"}));
}

// Several processes write at once: each waits for the others and none fails.
TEST(RegistryStoreConcurrency, SeveralProcessesWritingAtOnceAllSucceed) {
  regtest::TempDevice device;
  constexpr int kProcesses = 4;
  constexpr int kKeys = 150;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(regtest::StartChild([&device, p]() {
      std::string error;
      std::unique_ptr<Store> store = Store::Open(device.path(), &error);
      if (store == nullptr) return 10;
      for (int k = 0; k < kKeys; ++k) {
        if (store->Begin() != regstore::kOk) return 11;
        KeyId key = 0;
        bool created = false;
        const std::u16string path = u"Shared\\P" + regstore::FromUtf8(std::to_string(p)) + u"\\K" +
                                    regstore::FromUtf8(std::to_string(k));
        if (store->CreateKey(kMachine, path, &key, &created) != regstore::kOk) return 12;
        if (store->SetValue(key, u"n", 4, std::string(reinterpret_cast<const char*>(&k), 4)) != regstore::kOk)
          return 13;
        if (store->Commit() != regstore::kOk) return 14;
      }
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(regtest::WaitChild(child), 0);

  std::string error;
  std::unique_ptr<Store> store = Store::OpenExisting(device.path(), &error);
  ASSERT_NE(store, nullptr) << error;
  KeyId shared = 0;
  ASSERT_EQ(store->FindKey(kMachine, u"Shared", &shared), regstore::kOk);
  std::vector<Key> keys;
  ASSERT_EQ(store->ReadSubtree(shared, &keys), regstore::kOk);
  int leaves = 0;
  for (const Key& key : keys) {
    if (key.path.size() != 3) continue;
    ++leaves;
    ASSERT_EQ(key.values.size(), 1u);
    EXPECT_EQ(u"K" + regstore::FromUtf8(std::to_string(*reinterpret_cast<const int*>(key.values[0].data.data()))),
              key.path[2]);
  }
  EXPECT_EQ(leaves, kProcesses * kKeys);
}

// A value needs its key and a key its parent, whatever the caller does, and
// the id of a key that was ever made, even rolled back, goes to no other key.
TEST_F(RegistryStoreTest, NoValueWithoutItsKeyAndNoKeyIdGivenTwice) {
  ASSERT_EQ(store_->Begin(), regstore::kOk);
  const KeyId dropped = Create(kMachine, u"Dropped");
  store_->Rollback();
  EXPECT_EQ(store_->SetValue(dropped, u"v", 4, std::string(4, '\1')), regstore::kErrorRegistryIoFailed);
  EXPECT_EQ(store_->SetValue(987654, u"v", 4, std::string(4, '\1')), regstore::kErrorRegistryIoFailed);
  KeyId orphan = 0;
  bool created = false;
  EXPECT_EQ(store_->CreateKey(dropped, u"Child", &orphan, &created), regstore::kErrorRegistryIoFailed);
  const KeyId next = Create(kMachine, u"Next");
  EXPECT_GT(next, dropped);
  EXPECT_EQ(store_->IntegrityCheck(), "ok");
}

// Layout 1 (no foreign keys, ids given again) as an earlier simulator wrote
// it, with the damage a failed write could leave: values whose key is gone,
// a key whose parent is gone.
void WriteLayout1(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const char* sql =
      "PRAGMA journal_mode=WAL;"
      "CREATE TABLE keys(id INTEGER PRIMARY KEY, parent INTEGER NOT NULL, fold TEXT NOT NULL,"
      " name TEXT NOT NULL, UNIQUE(parent, fold));"
      "CREATE TABLE vals(key INTEGER NOT NULL, fold TEXT NOT NULL, name TEXT NOT NULL,"
      " type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;"
      "INSERT INTO keys VALUES (1, 0, 'hkey_classes_root', 'HKEY_CLASSES_ROOT'),"
      " (2, 0, 'hkey_current_user', 'HKEY_CURRENT_USER'), (3, 0, 'hkey_local_machine', 'HKEY_LOCAL_MACHINE'),"
      " (4, 3, 'software', 'Software'), (5, 4, 'vendor', 'Vendor'), (7, 6, 'stray', 'Stray');"
      "INSERT INTO vals VALUES (5, 'n', 'N', 4, x'05000000'), (3, 'top', 'Top', 3, x'01'),"
      " (9, 'lost', 'Lost', 1, x'6c000000'), (7, 's', 'S', 3, x'07');"
      "PRAGMA user_version = 1;";
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

std::int64_t Count(const std::string& path, const char* sql) {
  sqlite3* db = nullptr;
  sqlite3_stmt* stmt = nullptr;
  std::int64_t count = -1;
  if (sqlite3_open(path.c_str(), &db) == SQLITE_OK && sqlite3_prepare_v2(db, sql, -1, &stmt, nullptr) == SQLITE_OK &&
      sqlite3_step(stmt) == SQLITE_ROW)
    count = sqlite3_column_int64(stmt, 0);
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return count;
}

TEST(RegistryStoreOpen, Layout1IsReadAsItIsAndUpgradedForWritingWithoutLosingARow) {
  regtest::TempDevice device;
  const std::string path = Store::DatabasePath(device.path());
  WriteLayout1(path);
  std::string error;
  {
    std::unique_ptr<Store> reader = Store::OpenExisting(device.path(), &error);
    ASSERT_NE(reader, nullptr) << error;
    KeyId vendor = 0;
    ASSERT_EQ(reader->FindKey(kMachine, u"software\\vendor", &vendor), regstore::kOk);
    EXPECT_EQ(reader->Notice(), "");
  }
  EXPECT_EQ(Count(path, "PRAGMA user_version"), 1);

  std::unique_ptr<Store> store = Store::Open(device.path(), &error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_NE(store->Notice().find("1 keys and 2 values"), std::string::npos) << store->Notice();
  EXPECT_EQ(store->IntegrityCheck(), "ok");
  KeyId vendor = 0;
  ASSERT_EQ(store->FindKey(kMachine, u"Software\\Vendor", &vendor), regstore::kOk);
  Value value;
  ASSERT_EQ(store->GetValue(vendor, u"n", &value), regstore::kOk);
  EXPECT_EQ(value.data, std::string("\5\0\0\0", 4));
  ASSERT_EQ(store->GetValue(kMachine, u"top", &value), regstore::kOk);
  // New keys take ids above every id the old file used, also those of lost rows.
  KeyId added = 0;
  bool created = false;
  ASSERT_EQ(store->CreateKey(kMachine, u"Added", &added, &created), regstore::kOk);
  EXPECT_GT(added, 9);
  store.reset();
  EXPECT_EQ(Count(path, "PRAGMA user_version"), 3);
  EXPECT_EQ(Count(path, "SELECT count(*) FROM lost_keys WHERE id = 7"), 1);
  EXPECT_EQ(Count(path, "SELECT count(*) FROM lost_values"), 2);

  // A file already upgraded opens without a word.
  store = Store::Open(device.path(), &error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_EQ(store->Notice(), "");
}

// Layout 2 as the previous simulator wrote it: key ids from SQLite's
// AUTOINCREMENT sequence, which had handed out ids up to 9 (6 to 9 in
// transactions that were rolled back).
void WriteLayout2(const std::string& path) {
  sqlite3* db = nullptr;
  ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
  const char* sql =
      "PRAGMA journal_mode=WAL;"
      "CREATE TABLE keys(id INTEGER PRIMARY KEY AUTOINCREMENT, parent INTEGER REFERENCES keys(id) ON DELETE CASCADE,"
      " fold TEXT NOT NULL, name TEXT NOT NULL, UNIQUE(parent, fold), CHECK(parent IS NOT NULL OR id <= 3));"
      "CREATE TABLE vals(key INTEGER NOT NULL REFERENCES keys(id) ON DELETE CASCADE, fold TEXT NOT NULL,"
      " name TEXT NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, PRIMARY KEY(key, fold)) WITHOUT ROWID;"
      "INSERT INTO keys VALUES (1, NULL, 'hkey_classes_root', 'HKEY_CLASSES_ROOT'),"
      " (2, NULL, 'hkey_current_user', 'HKEY_CURRENT_USER'), (3, NULL, 'hkey_local_machine', 'HKEY_LOCAL_MACHINE'),"
      " (4, 3, 'software', 'Software'), (5, 4, 'vendor', 'Vendor');"
      "INSERT INTO vals VALUES (5, 'n', 'N', 4, x'05000000'), (3, 'top', 'Top', 3, x'01');"
      "UPDATE sqlite_sequence SET seq = 9 WHERE name = 'keys';"
      "PRAGMA user_version = 2;";
  ASSERT_EQ(sqlite3_exec(db, sql, nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
  sqlite3_close(db);
}

TEST(RegistryStoreOpen, Layout2IsUpgradedWithItsIdsAndRowsAndNoIdGivenAgain) {
  regtest::TempDevice device;
  const std::string path = Store::DatabasePath(device.path());
  WriteLayout2(path);
  std::string error;
  {
    std::unique_ptr<Store> reader = Store::OpenExisting(device.path(), &error);
    ASSERT_NE(reader, nullptr) << error;
  }
  EXPECT_EQ(Count(path, "PRAGMA user_version"), 2);

  std::unique_ptr<Store> store = Store::Open(device.path(), &error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_EQ(store->Notice(), "registry.db upgraded to layout 3");
  EXPECT_EQ(store->IntegrityCheck(), "ok");
  KeyId vendor = 0;
  ASSERT_EQ(store->FindKey(kMachine, u"software\\vendor", &vendor), regstore::kOk);
  EXPECT_EQ(vendor, 5);
  Value value;
  ASSERT_EQ(store->GetValue(vendor, u"N", &value), regstore::kOk);
  EXPECT_EQ(value.data, std::string("\5\0\0\0", 4));
  ASSERT_EQ(store->GetValue(kMachine, u"top", &value), regstore::kOk);
  KeyId added = 0;
  bool created = false;
  ASSERT_EQ(store->CreateKey(vendor, u"Added", &added, &created), regstore::kOk);
  EXPECT_GT(added, 9);
  store.reset();
  EXPECT_EQ(Count(path, "PRAGMA user_version"), 3);
  // The values still refer to the key table, which no longer writes a sequence.
  EXPECT_EQ(Count(path, "SELECT count(*) FROM pragma_foreign_key_list('vals') WHERE \"table\" = 'keys'"), 1);
  EXPECT_EQ(Count(path, "SELECT count(*) FROM sqlite_sequence WHERE name = 'keys'"), 0);
  EXPECT_EQ(Count(path, "SELECT count(*) FROM vals"), 2);
}

// Writes to the write-ahead log are gathered per commit: every committed frame
// must be in the file when the commit returns (another connection reads it
// from there at once), also for a transaction too large to be gathered whole
// and for one that follows a rolled-back transaction that wrote to the log.
TEST_F(RegistryStoreTest, EveryCommitIsInTheLogFileWhenItReturns) {
  std::string error;
  std::unique_ptr<Store> reader = Store::OpenExisting(device_.path(), &error);
  ASSERT_NE(reader, nullptr) << error;
  const std::string wal = Store::DatabasePath(device_.path()) + "-wal";
  const auto frameBytes = static_cast<std::uintmax_t>(Count(Store::DatabasePath(device_.path()), "PRAGMA page_size") + 24);
  const struct {
    const char* what;
    std::size_t valueBytes;
    int values;
    bool rolledBackFirst;
  } cases[] = {
      {"small commit", 40, 3, false},
      {"commit of 6 MiB", 1 << 20, 6, false},
      {"commit after a rolled-back commit of 6 MiB", 100, 2, true},
  };
  int round = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.rolledBackFirst) {
      ASSERT_EQ(store_->Begin(), regstore::kOk);
      const KeyId dropped = Create(kMachine, u"Dropped");
      for (int v = 0; v < 6; ++v)
        ASSERT_EQ(store_->SetValue(dropped, regstore::FromUtf8(std::to_string(v)), 3, std::string(1 << 20, 'd')),
                  regstore::kOk);
      store_->Rollback();
    }
    for (int k = 0; k < 5; ++k, ++round) {
      const std::u16string path = u"Log\\K" + regstore::FromUtf8(std::to_string(round));
      ASSERT_EQ(store_->Begin(), regstore::kOk);
      const KeyId key = Create(kMachine, path);
      for (int v = 0; v < c.values; ++v)
        ASSERT_EQ(store_->SetValue(key, regstore::FromUtf8(std::to_string(v)), 3,
                                   std::string(c.valueBytes, static_cast<char>('a' + (round + v) % 26))),
                  regstore::kOk);
      ASSERT_EQ(store_->Commit(), regstore::kOk);
      // Nothing of the log is held back: it ends with the commit's last frame.
      const auto walBytes = std::filesystem::file_size(wal);
      EXPECT_EQ((walBytes - 32) % frameBytes, 0u) << walBytes;
      KeyId seen = 0;
      ASSERT_EQ(reader->FindKey(kMachine, path, &seen), regstore::kOk);
      for (int v = 0; v < c.values; ++v) {
        Value value;
        ASSERT_EQ(reader->GetValue(seen, regstore::FromUtf8(std::to_string(v)), &value), regstore::kOk);
        ASSERT_TRUE(value.data == std::string(c.valueBytes, static_cast<char>('a' + (round + v) % 26)));
      }
    }
  }
  KeyId dropped = 0;
  EXPECT_EQ(reader->FindKey(kMachine, u"Dropped", &dropped), regstore::kErrorFileNotFound);
  EXPECT_EQ(reader->IntegrityCheck(), "ok");
}

}  // namespace
