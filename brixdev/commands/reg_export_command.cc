#include "brixdev/commands/reg_export_command.h"

#include <sys/stat.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "brixdev/registry/dialect_writer.h"
#include "platform/posix/regstore/names.h"
#include "platform/posix/regstore/store.h"

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

// The root names of the desktop tools' short forms, in capitals.
constexpr std::pair<const char16_t*, const char16_t*> kShortRoots[] = {
    {u"HKLM", u"HKEY_LOCAL_MACHINE"},
    {u"HKCU", u"HKEY_CURRENT_USER"},
    {u"HKCR", u"HKEY_CLASSES_ROOT"},
    {u"HKU", u"HKEY_USERS"},
};

// Splits "ROOT\sub\key" into its root (any case, or its short form) and the subkey path; false for a
// root the device lacks, with the reason in *why when the root is one of the desktop's.
bool SplitKeyArgument(const std::string& key, std::uint32_t* root, std::u16string* subKey, std::string* why) {
  const std::u16string text = regstore::FromUtf8(key);
  const std::size_t slash = text.find(u'\\');
  std::u16string name = text.substr(0, slash);
  for (const auto& [shortName, fullName] : kShortRoots)
    if (regstore::Fold(name) == regstore::Fold(shortName)) name = fullName;
  if (!regstore::RootFromName(name, root)) {
    if (regstore::Fold(name) == regstore::Fold(u"HKEY_USERS")) *why = ": a device has no HKEY_USERS";
    return false;
  }
  *subKey = slash == std::u16string::npos ? std::u16string() : text.substr(slash + 1);
  return true;
}

// The children of a key in export order, each with its name folded once.
std::uint32_t SortedChildren(regstore::Store& store, regstore::KeyId key, std::vector<regstore::Child>* children) {
  if (const std::uint32_t r = store.Children(key, children); r != regstore::kOk) return r;
  std::vector<std::pair<std::u16string, regstore::Child>> keyed;
  keyed.reserve(children->size());
  for (regstore::Child& child : *children) keyed.emplace_back(regstore::Fold(child.name), std::move(child));
  std::sort(keyed.begin(), keyed.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  children->clear();
  for (auto& entry : keyed) children->push_back(std::move(entry.second));
  return regstore::kOk;
}

// Writes the key start, whose names below its root are path, and every key
// below it, depth first, siblings in name order. One key is read and written
// at a time: the walk holds the path and the siblings still to come, never the
// export, so a deep or wide tree costs what it prints.
std::uint32_t WriteSubtree(regstore::Store& store, regstore::KeyId start, std::uint32_t root,
                           std::vector<std::u16string> path, const ExportSink& out, bool* sinkFull) {
  struct Level {
    std::vector<regstore::Child> children;
    std::size_t next = 0;
  };
  std::vector<Level> levels;
  std::vector<regstore::Value> values;
  regstore::KeyId key = start;
  for (;;) {
    if (const std::uint32_t r = store.Values(key, &values); r != regstore::kOk) return r;
    if (!out(FormatKeyBlock(root, path, std::move(values)))) {
      *sinkFull = true;
      return regstore::kOk;
    }
    levels.emplace_back();
    if (const std::uint32_t r = SortedChildren(store, key, &levels.back().children); r != regstore::kOk) return r;
    // Up to the deepest level with a sibling still to come, leaving the names of finished keys.
    while (!levels.empty() && levels.back().next == levels.back().children.size()) {
      levels.pop_back();
      if (!levels.empty()) path.pop_back();
    }
    if (levels.empty()) return regstore::kOk;
    regstore::Child& child = levels.back().children[levels.back().next++];
    key = child.id;
    path.push_back(std::move(child.name));
  }
}

}  // namespace

int RegExport(const std::string& deviceDir, const std::string& key, const ExportSink& out, std::string* err) {
  if (!IsDirectory(deviceDir)) {
    *err = "brixdev: no device folder: " + deviceDir + "\n";
    return 2;
  }
  // As check and try do: a folder is a device by its file system, so that a mistyped -d
  // is not read as a device with an empty registry.
  if (!IsDirectory(deviceDir + "/fs")) {
    *err = "brixdev: no device folder: " + deviceDir + " holds no fs/\n";
    return 2;
  }
  std::uint32_t root = regstore::kRootLocalMachine;
  std::u16string subKey;
  std::string why;
  if (!key.empty() && !SplitKeyArgument(key, &root, &subKey, &why)) {
    *err = "brixdev: no such key: " + key + why + "\n";
    return 1;
  }
  // A device whose registry was never written has an empty registry: it is
  // read as such, and nothing is created by looking at it.
  if (!FileExists(regstore::Store::DatabasePath(deviceDir))) {
    if (!regstore::SplitKeyPath(subKey).empty()) {
      *err = "brixdev: no such key: " + key + "\n";
      return 1;
    }
    return out(kExportHeader) ? 0 : (*err = "brixdev: cannot write the export\n", 2);
  }
  std::string error;
  std::unique_ptr<regstore::Store> store = regstore::Store::OpenExisting(deviceDir, &error);
  if (store == nullptr) {
    *err = "brixdev: cannot open the device registry: " + error + "\n";
    return 2;
  }
  std::vector<std::pair<regstore::KeyId, std::uint32_t>> starts;
  std::vector<std::u16string> path;
  if (key.empty()) {
    for (std::uint32_t r : {regstore::kRootClasses, regstore::kRootCurrentUser, regstore::kRootLocalMachine})
      starts.emplace_back(regstore::Store::RootKey(r), r);
  } else {
    regstore::KeyId start = 0;
    std::uint32_t result = store->FindKey(regstore::Store::RootKey(root), subKey, &start);
    if (result == regstore::kOk) result = store->KeyPath(start, &root, &path);
    if (result == regstore::kErrorFileNotFound) {
      *err = "brixdev: no such key: " + key + "\n";
      return 1;
    }
    if (result != regstore::kOk) {
      *err = "brixdev: cannot read the device registry: " + store->LastMessage() + "\n";
      return 2;
    }
    starts.emplace_back(start, root);
  }
  bool sinkFull = !out(kExportHeader);
  for (const auto& [start, startRoot] : starts) {
    if (sinkFull) break;
    if (WriteSubtree(*store, start, startRoot, key.empty() ? std::vector<std::u16string>() : path, out, &sinkFull) !=
        regstore::kOk) {
      *err = "brixdev: cannot read the device registry: " + store->LastMessage() + "\n";
      return 2;
    }
  }
  if (sinkFull) {
    *err = "brixdev: cannot write the export\n";
    return 2;
  }
  return 0;
}

}  // namespace brixdev
