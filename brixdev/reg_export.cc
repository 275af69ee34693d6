#include "brixdev/reg_export.h"

#include <sys/stat.h>

#include <vector>

#include "platform/posix/regstore/store.h"
#include "platform/posix/regstore/names.h"
#include "brixdev/export_format.h"

namespace brixdev {
namespace {

bool IsDirectory(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(const std::string& path) {
  struct stat st{};
  return ::stat(path.c_str(), &st) == 0;
}

// Splits "ROOT\sub\key" into its root (any case) and the subkey path; false for an unknown root.
bool SplitKeyArgument(const std::string& key, std::uint32_t* root, std::u16string* subKey) {
  const std::u16string text = regstore::FromUtf8(key);
  const std::size_t slash = text.find(u'\\');
  if (!regstore::RootFromName(text.substr(0, slash), root)) return false;
  *subKey = slash == std::u16string::npos ? std::u16string() : text.substr(slash + 1);
  return true;
}

}  // namespace

int RegExport(const std::string& deviceDir, const std::string& key, std::string* out, std::string* err) {
  if (!IsDirectory(deviceDir)) {
    *err = "brixdev: no device folder: " + deviceDir + "\n";
    return 2;
  }
  std::uint32_t root = regstore::kRootLocalMachine;
  std::u16string subKey;
  if (!key.empty() && !SplitKeyArgument(key, &root, &subKey)) {
    *err = "brixdev: no such key: " + key + "\n";
    return 1;
  }
  // A device whose registry was never written has an empty registry: it is
  // read as such, and nothing is created by looking at it.
  if (!FileExists(regstore::Store::DatabasePath(deviceDir))) {
    if (!regstore::SplitKeyPath(subKey).empty()) {
      *err = "brixdev: no such key: " + key + "\n";
      return 1;
    }
    *out = FormatExport({});
    return 0;
  }
  std::string error;
  std::unique_ptr<regstore::Store> store = regstore::Store::OpenExisting(deviceDir, &error);
  if (store == nullptr) {
    *err = "brixdev: cannot open the device registry: " + error + "\n";
    return 2;
  }
  regstore::KeyId start = regstore::Store::RootKey(root);
  std::vector<regstore::Key> keys;
  std::uint32_t result = key.empty() ? regstore::kOk : store->FindKey(start, subKey, &start);
  if (result == regstore::kErrorFileNotFound) {
    *err = "brixdev: no such key: " + key + "\n";
    return 1;
  }
  if (key.empty()) {
    for (std::uint32_t r : {regstore::kRootClasses, regstore::kRootCurrentUser, regstore::kRootLocalMachine}) {
      std::vector<regstore::Key> part;
      result = store->ReadSubtree(regstore::Store::RootKey(r), &part);
      if (result != regstore::kOk) break;
      keys.insert(keys.end(), part.begin(), part.end());
    }
  } else if (result == regstore::kOk) {
    result = store->ReadSubtree(start, &keys);
  }
  if (result != regstore::kOk) {
    *err = "brixdev: cannot read the device registry: " + store->LastMessage() + "\n";
    return 2;
  }
  *out = FormatExport(std::move(keys));
  return 0;
}

}  // namespace brixdev
