// The simulator's registry calls: handles, dispositions, error codes, the
// write batch from opening a key to closing it, and what a killed writer leaves.
#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <cstring>
#include <map>
#include <cstdlib>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/device_context.h"
#include "platform/posix/registry.h"
#include "platform/posix/regstore/store.h"
#include "platform/posix/regstore/names.h"
#include "tests/platform/posix/regstore/test_support.h"

namespace {

using regstore::Key;
using regstore::KeyId;
using regstore::Store;

constexpr std::uint32_t kFullAccess = 0xF003F;
const KeyId kMachine = Store::RootKey(regstore::kRootLocalMachine);

class RegistryPosixTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(device_.path().empty());
    scope_.emplace(plat::posix::DeviceContext{.folder = device_.path()});
    plat::posix::RegistryReset();
  }
  void TearDown() override { plat::posix::RegistryReset(); }

  // A second connection, as another process would see the database.
  std::unique_ptr<Store> Observer() {
    std::string error;
    std::unique_ptr<Store> store = Store::Open(device_.path(), &error);
    EXPECT_NE(store, nullptr) << error;
    return store;
  }

  regtest::TempDevice device_;
  std::optional<plat::posix::DeviceScope> scope_;
};

TEST_F(RegistryPosixTest, CreateReportsNewThenExistingKeysWithDistinctHandles) {
  plat::RegKey first = 0, second = 0;
  std::uint32_t disposition = 0;
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Software\\Vendor", kFullAccess, &first, &disposition), 0);
  EXPECT_EQ(disposition, 1u);
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"software\\VENDOR", kFullAccess, &second, &disposition), 0);
  EXPECT_EQ(disposition, 2u);
  EXPECT_NE(first, second);
  for (plat::RegKey handle : {first, second}) {
    EXPECT_NE(handle, 0u);
    EXPECT_TRUE(handle < plat::kHkeyClassesRoot || handle > plat::kHkeyLocalMachine);
  }
  // An open key serves as the parent of further keys.
  plat::RegKey child = 0;
  ASSERT_EQ(plat::RegKeyCreate(first, u"Child", kFullAccess, &child, &disposition), 0);
  EXPECT_EQ(disposition, 1u);
  for (plat::RegKey handle : {child, second, first}) EXPECT_EQ(plat::RegKeyClose(handle), 0);

  KeyId found = 0;
  std::unique_ptr<Store> observer = Observer();
  EXPECT_EQ(observer->FindKey(kMachine, u"Software\\Vendor\\Child", &found), regstore::kOk);
}

TEST_F(RegistryPosixTest, BadHandlesFailWithCodeSixAlsoAsLastError) {
  plat::RegKey key = 0;
  const std::uint8_t byte = 1;
  struct Case {
    const char* what;
    std::int32_t result;
  };
  const Case cases[] = {
      {"create below an unknown handle", plat::RegKeyCreate(0x1234567u, u"A", kFullAccess, &key, nullptr)},
      {"create below a fourth root", plat::RegKeyCreate(0x80000003u, u"A", kFullAccess, &key, nullptr)},
      {"set on an unknown handle", plat::RegValueSet(0x2000000u, u"v", 3, &byte, 1)},
      {"close an unknown handle", plat::RegKeyClose(0x2000000u)},
  };
  for (const Case& c : cases) EXPECT_EQ(c.result, 6) << c.what;
  plat::SetLastErrorCode(0);
  EXPECT_EQ(plat::RegKeyClose(0x2000000u), 6);
  EXPECT_EQ(plat::LastError(), 6u);

  // A closed handle is no longer valid.
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyCurrentUser, u"A", kFullAccess, &key, nullptr), 0);
  EXPECT_EQ(plat::RegKeyClose(key), 0);
  EXPECT_EQ(plat::RegValueSet(key, u"v", 3, &byte, 1), 6);
  EXPECT_EQ(plat::RegKeyClose(key), 6);
  // Closing a root is harmless.
  EXPECT_EQ(plat::RegKeyClose(plat::kHkeyLocalMachine), 0);
}

TEST_F(RegistryPosixTest, WithoutDeviceEveryCallFails) {
  scope_.emplace(plat::posix::DeviceContext{});
  plat::posix::RegistryReset();
  plat::RegKey key = 0;
  plat::SetLastErrorCode(0);
  const std::int32_t result = plat::RegKeyCreate(plat::kHkeyLocalMachine, u"A", kFullAccess, &key, nullptr);
  EXPECT_NE(result, 0);
  EXPECT_EQ(plat::LastError(), static_cast<std::uint32_t>(result));
}

TEST_F(RegistryPosixTest, ValuesOfAKeyReachTheDatabaseTogetherWhenTheLastKeyCloses) {
  plat::RegKey outer = 0, inner = 0;
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Batch", kFullAccess, &outer, nullptr), 0);
  ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, u"Batch\\Inner", kFullAccess, &inner, nullptr), 0);
  const char16_t text[] = u"abc";
  ASSERT_EQ(plat::RegValueSet(outer, u"s", 1, text, sizeof text), 0);
  ASSERT_EQ(plat::RegValueSet(inner, u"", 3, nullptr, 0), 0);

  std::unique_ptr<Store> observer = Observer();
  KeyId found = 0;
  EXPECT_EQ(observer->FindKey(kMachine, u"Batch", &found), regstore::kErrorFileNotFound);
  ASSERT_EQ(plat::RegKeyClose(inner), 0);
  EXPECT_EQ(observer->FindKey(kMachine, u"Batch", &found), regstore::kErrorFileNotFound);
  ASSERT_EQ(plat::RegKeyClose(outer), 0);

  ASSERT_EQ(observer->FindKey(kMachine, u"Batch", &found), regstore::kOk);
  regstore::Value value;
  ASSERT_EQ(observer->GetValue(found, u"S", &value), regstore::kOk);
  EXPECT_EQ(value.type, 1u);
  EXPECT_EQ(value.data, std::string(reinterpret_cast<const char*>(text), sizeof text));
  ASSERT_EQ(observer->FindKey(kMachine, u"Batch\\Inner", &found), regstore::kOk);
  ASSERT_EQ(observer->GetValue(found, u"", &value), regstore::kOk);
  EXPECT_EQ(value.type, 3u);
  EXPECT_TRUE(value.data.empty());
}

// Values set through open keys reach the database in groups: however the
// values fall into groups, each is stored under its own key, and a name set
// again keeps its first spelling and its last type and data.
TEST_F(RegistryPosixTest, ValuesSetThroughOpenKeysAreStoredInTheOrderSetWhateverTheirGrouping) {
  std::unique_ptr<Store> observer = Observer();
  for (int count : {1, 17, 40, 150}) {
    SCOPED_TRACE(count);
    const std::u16string base = u"Order\\N" + regstore::FromUtf8(std::to_string(count));
    struct Expected {
      std::u16string spelling;
      std::uint32_t type;
      std::string data;
    };
    std::map<std::u16string, Expected> expected[2];  // by folded name, for keys A and B
    plat::RegKey keys[2] = {0, 0};
    ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, (base + u"\\A").c_str(), kFullAccess, &keys[0], nullptr), 0);
    ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, (base + u"\\B").c_str(), kFullAccess, &keys[1], nullptr), 0);
    for (int i = 0; i < count; ++i) {
      const int k = i % 3 == 0 ? 1 : 0;
      // Names come back in another case, also within one group; some values are too large to wait in a group.
      const std::u16string name = (i % 2 == 0 ? u"v" : u"V") + regstore::FromUtf8(std::to_string(i % 5));
      const std::string data = i % 40 == 23 ? std::string(70 << 10, static_cast<char>('a' + i % 26)) : "d" + std::to_string(i);
      const std::uint32_t type = 3 + static_cast<std::uint32_t>(i % 2);
      ASSERT_EQ(plat::RegValueSet(keys[k], name.c_str(), type, data.data(), static_cast<std::uint32_t>(data.size())), 0);
      auto [entry, added] = expected[k].try_emplace(regstore::Fold(name), Expected{name, type, data});
      if (!added) entry->second.type = type, entry->second.data = data;
    }
    for (plat::RegKey key : keys) ASSERT_EQ(plat::RegKeyClose(key), 0);
    for (int k = 0; k < 2; ++k) {
      KeyId id = 0;
      ASSERT_EQ(observer->FindKey(kMachine, base + (k == 0 ? u"\\A" : u"\\B"), &id), regstore::kOk);
      std::vector<regstore::Value> stored;
      ASSERT_EQ(observer->Values(id, &stored), regstore::kOk);
      ASSERT_EQ(stored.size(), expected[k].size());
      for (const regstore::Value& value : stored) {
        const auto found = expected[k].find(regstore::Fold(value.name));
        ASSERT_NE(found, expected[k].end());
        EXPECT_EQ(value.name, found->second.spelling);
        EXPECT_EQ(value.type, found->second.type);
        EXPECT_TRUE(value.data == found->second.data) << regstore::ToUtf8(value.name);
      }
    }
  }
}

TEST_F(RegistryPosixTest, AValueSetOnARootWithNoKeyOpenIsCommittedByItself) {
  const std::uint8_t data[] = {1, 0, 0, 0};
  ASSERT_EQ(plat::RegValueSet(plat::kHkeyCurrentUser, u"Direct", 4, data, 4), 0);
  regstore::Value value;
  std::unique_ptr<Store> observer = Observer();
  EXPECT_EQ(observer->GetValue(Store::RootKey(regstore::kRootCurrentUser), u"direct", &value), regstore::kOk);
}

// A key is committed by its close, so another process sees it while the
// program stays on, and can write in between.
TEST_F(RegistryPosixTest, EachKeyIsCommittedByItsCloseWhileTheProgramStaysOn) {
  std::unique_ptr<Store> observer = Observer();
  KeyId found = 0;
  for (int round = 0; round < 3; ++round) {
    const std::u16string path = u"Idle\\R" + regstore::FromUtf8(std::to_string(round));
    plat::RegKey key = 0;
    ASSERT_EQ(plat::RegKeyCreate(plat::kHkeyLocalMachine, path.c_str(), kFullAccess, &key, nullptr), 0);
    ASSERT_EQ(plat::RegKeyClose(key), 0);
    EXPECT_EQ(observer->FindKey(kMachine, path, &found), regstore::kOk);
    // Another process can write in between.
    ASSERT_EQ(observer->Begin(), regstore::kOk);
    ASSERT_EQ(observer->Commit(), regstore::kOk);
  }
}

// Writes keys Kill\K<i>, each with kValuesPerKey values holding i, until killed.
int WriteForever(int valuesPerKey) {
  for (std::uint32_t i = 0;; ++i) {
    plat::RegKey key = 0;
    const std::u16string path = u"Kill\\K" + regstore::FromUtf8(std::to_string(i));
    if (plat::RegKeyCreate(plat::kHkeyLocalMachine, path.c_str(), kFullAccess, &key, nullptr) != 0) return 20;
    for (int v = 0; v < valuesPerKey; ++v) {
      const std::u16string name = u"v" + regstore::FromUtf8(std::to_string(v));
      if (plat::RegValueSet(key, name.c_str(), 4, &i, sizeof i) != 0) return 21;
    }
    if (plat::RegKeyClose(key) != 0) return 22;
  }
}

TEST_F(RegistryPosixTest, AWriterKilledMidwayLeavesASoundDatabaseWithWholeKeys) {
  constexpr int kValuesPerKey = 6;
  plat::posix::RegistryReset();
  const pid_t writer = regtest::StartChild([] { return WriteForever(kValuesPerKey); });
  ASSERT_GT(writer, 0);
  // Let it get well into its loop before killing it.
  std::unique_ptr<Store> observer = Observer();
  KeyId kill = 0;
  for (int wait = 0; wait < 500; ++wait) {
    std::vector<Key> keys;
    if (observer->FindKey(kMachine, u"Kill", &kill) == regstore::kOk && observer->ReadSubtree(kill, &keys) == 0 &&
        keys.size() > 200)
      break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  ::kill(writer, SIGKILL);
  EXPECT_EQ(regtest::WaitChild(writer), -1);  // it was killed, never gave up by itself
  observer.reset();

  std::string error;
  std::unique_ptr<Store> store = Store::OpenExisting(device_.path(), &error);
  ASSERT_NE(store, nullptr) << error;
  EXPECT_EQ(store->IntegrityCheck(), "ok");
  ASSERT_EQ(store->FindKey(kMachine, u"Kill", &kill), regstore::kOk);
  std::vector<Key> keys;
  ASSERT_EQ(store->ReadSubtree(kill, &keys), regstore::kOk);
  EXPECT_GT(keys.size(), 200u);
  for (const Key& key : keys) {
    if (key.path.size() != 2) continue;
    ASSERT_EQ(key.values.size(), static_cast<std::size_t>(kValuesPerKey)) << regstore::ToUtf8(key.path[1]);
    for (const regstore::Value& value : key.values) {
      ASSERT_EQ(value.data.size(), 4u);
      std::uint32_t number = 0;
      std::memcpy(&number, value.data.data(), 4);
      EXPECT_EQ(u"K" + regstore::FromUtf8(std::to_string(number)), key.path[1]);
    }
  }
}

TEST_F(RegistryPosixTest, SeveralSimulatedProgramsWritingAtOnceAllSucceed) {
  constexpr int kProcesses = 3;
  constexpr int kKeys = 100;
  std::vector<pid_t> children;
  for (int p = 0; p < kProcesses; ++p) {
    children.push_back(regtest::StartChild([p] {
      plat::posix::RegistryReset();
      for (int k = 0; k < kKeys; ++k) {
        plat::RegKey key = 0;
        const std::u16string path = u"Many\\P" + regstore::FromUtf8(std::to_string(p) + "_" + std::to_string(k));
        if (plat::RegKeyCreate(plat::kHkeyLocalMachine, path.c_str(), kFullAccess, &key, nullptr) != 0) return 30;
        if (plat::RegValueSet(key, u"k", 4, &k, sizeof k) != 0) return 31;
        if (plat::RegKeyClose(key) != 0) return 32;
      }
      plat::posix::RegistryReset();  // what the end of a program does
      return 0;
    }));
  }
  for (pid_t child : children) EXPECT_EQ(regtest::WaitChild(child), 0);
  KeyId many = 0;
  std::unique_ptr<Store> store = Observer();
  ASSERT_EQ(store->FindKey(kMachine, u"Many", &many), regstore::kOk);
  std::vector<Key> keys;
  ASSERT_EQ(store->ReadSubtree(many, &keys), regstore::kOk);
  EXPECT_EQ(keys.size(), static_cast<std::size_t>(kProcesses * kKeys + 1));
}

// Each device context has a registry connection of its own: two devices written
// side by side in one process each get their own keys, committed when their
// context ends.
TEST(RegistryContexts, DevicesSideBySideKeepTheirOwnRegistries) {
  regtest::TempDevice devices[2];
  std::vector<std::thread> writers;
  std::vector<int> results(2, -1);
  for (int i = 0; i < 2; ++i) {
    writers.emplace_back([&, i] {
      const plat::posix::DeviceScope scope({.folder = devices[i].path()});
      const std::u16string path = u"Own\\D" + regstore::FromUtf8(std::to_string(i));
      plat::RegKey key = 0;
      results[i] = plat::RegKeyCreate(plat::kHkeyLocalMachine, path.c_str(), kFullAccess, &key, nullptr);
      // Left open: the end of the scope commits it, as the end of a program does.
      if (results[i] == 0) results[i] = plat::RegValueSet(key, u"v", 4, &i, sizeof i);
    });
  }
  for (std::thread& writer : writers) writer.join();
  for (int i = 0; i < 2; ++i) {
    EXPECT_EQ(results[i], 0) << i;
    std::string error;
    std::unique_ptr<Store> store = Store::OpenExisting(devices[i].path(), &error);
    ASSERT_NE(store, nullptr) << error;
    KeyId own = 0, other = 0;
    EXPECT_EQ(store->FindKey(kMachine, u"Own\\D" + regstore::FromUtf8(std::to_string(i)), &own), regstore::kOk) << i;
    EXPECT_EQ(store->FindKey(kMachine, u"Own\\D" + regstore::FromUtf8(std::to_string(1 - i)), &other),
              regstore::kErrorFileNotFound) << i;
    regstore::Value value;
    ASSERT_EQ(store->GetValue(own, u"v", &value), regstore::kOk) << i;
    EXPECT_EQ(value.data, std::string(reinterpret_cast<const char*>(&i), sizeof i));
  }
}

}  // namespace
