// The simulator's registry when writes fail: a full disk at any point of an
// import, a read-only or linked database, and the names the device refuses.
// Whatever fails, a key is stored with all its values or a call reports it.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/device_context.h"
#include "platform/posix/registry.h"
#include "platform/posix/regstore/names.h"
#include "platform/posix/regstore/store.h"
#include "tests/platform/posix/regstore/fault_vfs.h"
#include "tests/platform/posix/regstore/test_support.h"

namespace {

using regstore::Key;
using regstore::KeyId;
using regstore::Store;

constexpr std::uint32_t kFullAccess = 0xF003F;
const KeyId kMachine = Store::RootKey(regstore::kRootLocalMachine);

std::u16string KeyName(int i) { return u"K" + regstore::FromUtf8(std::to_string(i)); }
std::u16string ValueName(int v) { return u"v" + regstore::FromUtf8(std::to_string(v)); }
// The data of value v of key i names both, so a value under another key shows.
std::string ValueData(int i, int v) { return "K" + std::to_string(i) + ":v" + std::to_string(v); }

class RegistryFailureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    regtest::InstallFaultVfs();
    ASSERT_FALSE(device_.path().empty());
    scope_.emplace(plat::posix::DeviceContext{.folder = device_.path()});
    plat::posix::RegistryReset();
  }
  void TearDown() override {
    regtest::DiskHasRoom();
    plat::posix::RegistryReset();
  }

  // Writes keys Full\K<first>.. as an import does, going on after failures;
  // for each key, whether any call on it reported a failure.
  std::vector<bool> WriteKeys(int first, int count, int values) {
    std::vector<bool> reported;
    for (int i = first; i < first + count; ++i) {
      const std::u16string path = u"Full\\" + KeyName(i);
      plat::RegKey key = 0;
      if (plat::RegKeyCreate(plat::kHkeyLocalMachine, path.c_str(), kFullAccess, &key, nullptr) != 0) {
        reported.push_back(true);
        continue;
      }
      bool failed = false;
      for (int v = 0; v < values; ++v) {
        const std::string data = ValueData(i, v);
        const std::int32_t r = plat::RegValueSet(key, ValueName(v).c_str(), 3, data.data(), static_cast<std::uint32_t>(data.size()));
        if (r != 0) {
          EXPECT_EQ(plat::LastError(), static_cast<std::uint32_t>(r));
          failed = true;
        }
      }
      if (plat::RegKeyClose(key) != 0) failed = true;
      reported.push_back(failed);
    }
    return reported;
  }

  // Checks, with the disk writable again, that every key not reported holds
  // all its values, and that no value anywhere belongs to another key.
  void ExpectWholeOrReported(int first, const std::vector<bool>& reported, int values) {
    std::string error;
    std::unique_ptr<Store> store = Store::Open(device_.path(), &error);
    ASSERT_NE(store, nullptr) << error;
    EXPECT_EQ(store->IntegrityCheck(), "ok");
    for (std::size_t k = 0; k < reported.size(); ++k) {
      const int i = first + static_cast<int>(k);
      KeyId id = 0;
      const bool present = store->FindKey(kMachine, u"Full\\" + KeyName(i), &id) == regstore::kOk;
      if (reported[k]) continue;
      ASSERT_TRUE(present) << "key K" << i << " was reported stored";
      std::vector<regstore::Value> stored;
      ASSERT_EQ(store->Values(id, &stored), regstore::kOk);
      EXPECT_EQ(stored.size(), static_cast<std::size_t>(values)) << "key K" << i;
    }
    KeyId full = 0;
    if (store->FindKey(kMachine, u"Full", &full) != regstore::kOk) return;
    std::vector<Key> keys;
    ASSERT_EQ(store->ReadSubtree(full, &keys), regstore::kOk);
    for (const Key& key : keys) {
      if (key.path.size() != 2) continue;
      const std::string owner = regstore::ToUtf8(key.path[1]) + ":";
      for (const regstore::Value& value : key.values) EXPECT_EQ(value.data.rfind(owner, 0), 0u) << value.data;
    }
  }

  regtest::TempDevice device_;
  std::optional<plat::posix::DeviceScope> scope_;
};

// Disk full before the database exists, within the first keys, and later:
// afterwards, with room again, later keys are whole and adopt nothing.
TEST_F(RegistryFailureTest, OnAFullDiskEveryKeyIsStoredWholeOrReported) {
  constexpr int kKeys = 32, kValues = 6;
  for (std::int64_t budget : {0, 8000, 30000, 70000}) {
    SCOPED_TRACE(budget);
    plat::posix::RegistryReset();
    std::filesystem::remove_all(device_.path());
    std::filesystem::create_directory(device_.path());
    regtest::DiskFullAfter(budget);
    const std::vector<bool> first = WriteKeys(0, kKeys, kValues);
    EXPECT_GT(regtest::RefusedWrites(), 0);
    EXPECT_TRUE(first.back()) << "the disk never filled up";
    regtest::DiskHasRoom();
    const std::vector<bool> second = WriteKeys(kKeys, kKeys, kValues);
    for (bool failed : second) EXPECT_FALSE(failed);
    plat::posix::RegistryReset();
    ExpectWholeOrReported(0, first, kValues);
    ExpectWholeOrReported(kKeys, second, kValues);
  }
}

TEST_F(RegistryFailureTest, ACommitThatFailsIsReportedByTheCloseThatMakesIt) {
  ASSERT_EQ(WriteKeys(0, 1, 1), std::vector<bool>{false});  // the database exists
  plat::RegKey key = 0;
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Full\\K1", kFullAccess, &key, nullptr), 0);
  const std::string data = ValueData(1, 0);
  // Nothing reaches the disk before the commit, so the values are taken...
  regtest::DiskFullAfter(0);
  EXPECT_EQ(plat::RegValueSet(key, u"v0", 3, data.data(), static_cast<std::uint32_t>(data.size())), 0);
  // ...and the close says that they were not kept.
  plat::SetLastErrorCode(0);
  EXPECT_EQ(plat::RegKeyClose(key), 112);
  EXPECT_EQ(plat::LastError(), 112u);
  EXPECT_EQ(plat::RegKeyClose(key), 6);
  // A value set on a root with no key open is committed, or refused, by its own call.
  const std::uint8_t one[] = {1, 0, 0, 0};
  EXPECT_EQ(plat::RegValueSet(plat::kHkeyLocalMachine, u"root", 4, one, 4), 112);
  regtest::DiskHasRoom();
  plat::posix::RegistryReset();
  ExpectWholeOrReported(0, {false, true}, 1);
  std::string error;
  std::unique_ptr<Store> store = Store::OpenExisting(device_.path(), &error);
  ASSERT_NE(store, nullptr) << error;
  KeyId id = 0;
  EXPECT_EQ(store->FindKey(kMachine, u"Full\\K1", &id), regstore::kErrorFileNotFound);
  regstore::Value value;
  EXPECT_EQ(store->GetValue(kMachine, u"root", &value), regstore::kErrorFileNotFound);
}

// Values too large for the page cache reach the disk while they are set:
// once one of them fails, the key's transaction is gone, and every later
// call on the key, its close included, says so.
TEST_F(RegistryFailureTest, AValueThatCannotBeWrittenTakesItsWholeKeyAndEveryLaterCallSaysSo) {
  ASSERT_EQ(WriteKeys(0, 1, 1), std::vector<bool>{false});
  plat::RegKey key = 0, child = 0, grandchild = 0;
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Full\\K1", kFullAccess, &key, nullptr), 0);
  ASSERT_EQ(plat::RegKeyCreate(key, u"Child", kFullAccess, &child, nullptr), 0);
  const std::string big(1 << 20, 'x');
  regtest::DiskFullAfter(1 << 20);
  std::vector<std::int32_t> results;
  for (int v = 0; v < 6; ++v)
    results.push_back(plat::RegValueSet(key, ValueName(v).c_str(), 3, big.data(), static_cast<std::uint32_t>(big.size())));
  const auto failed = std::find_if(results.begin(), results.end(), [](std::int32_t r) { return r != 0; });
  ASSERT_NE(failed, results.end()) << "no write reached the disk before the commit";
  for (auto r = failed; r != results.end(); ++r) EXPECT_EQ(*r, 112);
  const std::uint8_t one[] = {1, 0, 0, 0};
  EXPECT_EQ(plat::RegValueSet(child, u"c", 4, one, 4), 112);
  EXPECT_EQ(plat::RegKeyCreate(child, u"Grandchild", kFullAccess, &grandchild, nullptr), 112);
  EXPECT_EQ(plat::RegKeyClose(child), 112);
  EXPECT_EQ(plat::RegKeyClose(key), 112);
  regtest::DiskHasRoom();
  // The next key starts afresh.
  EXPECT_EQ(WriteKeys(2, 1, 1), std::vector<bool>{false});
  plat::posix::RegistryReset();
  ExpectWholeOrReported(0, {false, true, false}, 1);
}

TEST_F(RegistryFailureTest, NamesTheDeviceRefusesCreateNothing) {
  struct Case {
    const char* what;
    std::u16string subKey;
    std::int32_t result;
  };
  const Case cases[] = {
      {"name of 255", u"Names\\" + std::u16string(255, u'a'), 0},
      {"name of 256", u"Names\\" + std::u16string(256, u'b'), 87},
      {"long name before a short one", u"Names\\" + std::u16string(300, u'c') + u"\\short", 87},
      {"leading backslash", u"\\Names\\lead", 161},
      {"backslash alone", u"\\", 161},
      {"runs inside and at the end", u"Names\\\\run\\", 0},
  };
  for (const Case& c : cases) {
    plat::RegKey key = 0;
    plat::SetLastErrorCode(0);
    const std::int32_t result = plat::RegKeyCreate(plat::kHkeyLocalMachine, c.subKey.c_str(), kFullAccess, &key, nullptr);
    EXPECT_EQ(result, c.result) << c.what;
    if (result == 0) {
      EXPECT_EQ(plat::RegKeyClose(key), 0);
    } else {
      EXPECT_EQ(plat::LastError(), static_cast<std::uint32_t>(result)) << c.what;
    }
  }
  const std::uint8_t one[] = {1, 0, 0, 0};
  const struct {
    const char* what;
    std::u16string name;
    const void* data;
    std::uint32_t size;
    std::int32_t result;
  } values[] = {
      {"name of 16383", std::u16string(16383, u'n'), one, 4, 0},
      {"name of 16384", std::u16string(16384, u'm'), one, 4, 87},
      {"no data for 4 bytes", u"nodata", nullptr, 4, 998},
      {"no data for no bytes", u"empty", nullptr, 0, 0},
  };
  for (const auto& v : values)
    EXPECT_EQ(plat::RegValueSet(plat::kHkeyLocalMachine, v.name.c_str(), 3, v.data, v.size), v.result) << v.what;
  plat::posix::RegistryReset();

  std::string error;
  std::unique_ptr<Store> store = Store::OpenExisting(device_.path(), &error);
  ASSERT_NE(store, nullptr) << error;
  KeyId names = 0;
  ASSERT_EQ(store->FindKey(kMachine, u"Names", &names), regstore::kOk);
  std::vector<Key> keys;
  ASSERT_EQ(store->ReadSubtree(names, &keys), regstore::kOk);
  std::vector<std::u16string> made;
  for (const Key& key : keys) made.push_back(key.path.back());
  std::sort(made.begin(), made.end());
  EXPECT_EQ(made, (std::vector<std::u16string>{u"Names", std::u16string(255, u'a'), u"run"}));
  std::vector<regstore::Value> stored;
  ASSERT_EQ(store->Values(kMachine, &stored), regstore::kOk);
  EXPECT_EQ(stored.size(), 2u);
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

// The database and the files SQLite keeps beside it are device content: a
// link out of the device folder is refused, and the file behind it stays as it was.
TEST_F(RegistryFailureTest, ADatabaseReachedThroughALinkIsRefusedNeverFollowed) {
  regtest::TempDevice outside;
  const std::string target = outside.path() + "/host.db";
  {
    std::string error;
    ASSERT_NE(Store::Open(outside.path(), &error), nullptr) << error;
    std::filesystem::rename(Store::DatabasePath(outside.path()), target);
  }
  const std::string before = ReadAll(target);
  const std::string db = Store::DatabasePath(device_.path());
  const struct {
    const char* what;
    std::string link;
    bool hard;
  } cases[] = {
      {"symbolic link", db, false},
      {"hard link", db, true},
      {"log file as a symbolic link", db + "-wal", false},
      {"shared memory file as a symbolic link", db + "-shm", false},
  };
  for (const auto& c : cases) {
    plat::posix::RegistryReset();
    std::filesystem::remove_all(device_.path());
    std::filesystem::create_directory(device_.path());
    if (c.link != db) {
      ASSERT_EQ(WriteKeys(0, 1, 1), std::vector<bool>{false});
    }
    plat::posix::RegistryReset();
    if (c.hard) {
      std::filesystem::create_hard_link(target, c.link);
    } else {
      std::filesystem::create_symlink(target, c.link);
    }
    plat::RegKey key = 0;
    EXPECT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Linked", kFullAccess, &key, nullptr), 1016) << c.what;
    EXPECT_EQ(plat::LastError(), 1016u) << c.what;
    plat::posix::RegistryReset();
    EXPECT_TRUE(ReadAll(target) == before) << c.what;
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(outside.path()), {}), 1) << c.what;
  }
}

}  // namespace
