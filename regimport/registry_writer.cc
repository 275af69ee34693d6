#include "platform/platform.h"
#include "platform/wstr.h"
#include "regimport/brixparse.h"

namespace brixparse {

namespace {

// Full access to a created or opened key.
constexpr std::uint32_t kKeyAllAccess = 0xF003F;

struct RootName {
  const char16_t* name;
  plat::RegKey handle;
};
constexpr RootName kRoots[] = {
    {u"HKEY_LOCAL_MACHINE", plat::kHkeyLocalMachine},
    {u"HKEY_CLASSES_ROOT", plat::kHkeyClassesRoot},
    {u"HKEY_CURRENT_USER", plat::kHkeyCurrentUser},
};

// The root handle named by rootName, or false when it names none.
bool FindRoot(const char16_t* rootName, plat::RegKey* root) {
  for (const RootName& entry : kRoots) {
    if (wstr::Cmp(rootName, entry.name) == 0) {
      *root = entry.handle;
      return true;
    }
  }
  return false;
}

// Bytes to write for a value. A string is measured afresh up to its first
// terminator, never beyond its stored block.
std::uint32_t ByteCount(const CValueNode& value) {
  if (value.type != kRegSz) return value.size;
  const std::uint32_t units = value.size / 2;
  std::uint32_t chars = 0;
  while (chars < units &&
         (value.data[2 * chars] != 0 || value.data[2 * chars + 1] != 0))
    ++chars;
  const std::uint64_t measured = (static_cast<std::uint64_t>(chars) + 1) * 2;
  return measured < value.size ? static_cast<std::uint32_t>(measured) : value.size;
}

// Sets every value of the key; a value that cannot be set is reported with
// the call's result and the next value is written as usual.
void WriteValues(plat::RegKey key, const CKeyNode& node) {
  static const std::uint8_t kEmptyString[2] = {0, 0};
  for (const CValueNode* value = node.values.get(); value != nullptr; value = value->next.get()) {
    // A string without data is written as the empty string.
    const bool empty = value->type == kRegSz && value->size == 0;
    const std::int32_t result =
        empty ? plat::RegValueSet(key, value->name.c_str(), value->type, kEmptyString, sizeof kEmptyString)
              : plat::RegValueSet(key, value->name.c_str(), value->type, value->data.get(), ByteCount(*value));
    if (result != 0)
      plat::DebugPrint(u"CBrixparse::UpdateRegistry::RegSetValueEx err = %d\r\n", result);
  }
}

}  // namespace

int CBrixparse::UpdateRegistry(CKeyNode* first) {
  for (CKeyNode* node = first; node != nullptr; node = node->next.get()) {
    char16_t* path = node->path.data();
    char16_t* separator = wstr::Chr(path, u'\\');
    if (separator == nullptr) continue;
    // The path is cut in place: from here on it reads as the root name, and
    // the subkey path (possibly empty) follows the cut.
    *separator = 0;
    const char16_t* subKey = separator + 1;
    plat::RegKey root = 0;
    if (!FindRoot(path, &root)) {
      plat::DebugPrint(u"CBrixparse::UpdateRegistry::unknown root key = %s\r\n",
                       static_cast<const char16_t*>(path));
      continue;
    }
    plat::RegKey key = 0;
    std::uint32_t disposition = 0;
    if (plat::RegKeyCreate(root, subKey, kKeyAllAccess, &key, &disposition) != 0) {
      plat::DebugPrint(u"CBrixparse::UpdateRegistry::RegCreateKeyEx err = %d\r\n",
                       plat::LastError());
      continue;
    }
    WriteValues(key, *node);
    // The registry may store a key's values only when it is closed: a failing
    // close can mean values lost, so it is reported too.
    if (const std::int32_t result = plat::RegKeyClose(key); result != 0)
      plat::DebugPrint(u"CBrixparse::UpdateRegistry::RegCloseKey err = %d\r\n", result);
  }
  return 1;
}

}  // namespace brixparse
