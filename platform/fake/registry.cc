// The fake's registry: a key tree under the three roots, names case-insensitive
// and kept as first written, values with their type and exact bytes.
#include "platform/fake/state.h"
#include "platform/registry_rules.h"

namespace plat::fake::internal {

namespace {

constexpr std::int32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kCreatedNewKey = 1;
constexpr std::uint32_t kOpenedExistingKey = 2;

RegNode* RootNode(Data& d, RegKey root) {
  switch (root) {
    case kHkeyClassesRoot: return d.regRoots[0].get();
    case kHkeyCurrentUser: return d.regRoots[1].get();
    case kHkeyLocalMachine: return d.regRoots[2].get();
    default: return nullptr;
  }
}

// A predefined root or a key handle from RegKeyCreate.
RegNode* KeyNode(Data& d, RegKey key) {
  if (RegNode* root = RootNode(d, key)) return root;
  auto it = d.regKeys.find(key);
  return it == d.regKeys.end() ? nullptr : it->second;
}

// The root named by the first element of a key path, long or short form.
RegNode* RootByName(Data& d, std::u16string_view name) {
  const std::u16string folded = Fold(name);
  if (folded == u"hkey_classes_root" || folded == u"hkcr") return d.regRoots[0].get();
  if (folded == u"hkey_current_user" || folded == u"hkcu") return d.regRoots[1].get();
  if (folded == u"hkey_local_machine" || folded == u"hklm") return d.regRoots[2].get();
  return nullptr;
}

RegNode* FindKeyPath(Data& d, std::u16string_view keyPath) {
  const std::vector<std::u16string> parts = SplitPath(keyPath);
  if (parts.empty()) return nullptr;
  RegNode* node = RootByName(d, parts[0]);
  for (std::size_t i = 1; node != nullptr && i < parts.size(); ++i) {
    auto it = node->keys.find(Fold(parts[i]));
    node = it == node->keys.end() ? nullptr : it->second.get();
  }
  return node;
}

}  // namespace

}  // namespace plat::fake::internal

namespace plat {

using namespace fake::internal;

std::int32_t RegKeyCreate(RegKey root, const char16_t* subKey, std::uint32_t access, RegKey* key,
                          std::uint32_t* disposition) {
  FakeCall c("RegKeyCreate");
  Data& d = c.data();
  RegNode* base = KeyNode(d, root);
  std::u16string text = base != nullptr ? base->path : u"";
  if (subKey != nullptr && *subKey != 0) text += u"\\" + std::u16string(subKey);
  c.call().number = access;
  if (const std::uint32_t e = c.Start(text)) {
    c.Fail(e);
    return static_cast<std::int32_t>(e);
  }
  if (base == nullptr) return c.Fail(kErrorInvalidHandle), static_cast<std::int32_t>(kErrorInvalidHandle);
  if (key == nullptr) return c.Fail(kErrorInvalidParameter), kErrorInvalidParameter;
  if (const std::uint32_t e = registry_rules::CheckSubKey(View(subKey))) return c.Fail(e), static_cast<std::int32_t>(e);
  // Empty elements (doubled backslashes) are passed over, like runs in file paths.
  RegNode* node = base;
  bool created = false;
  for (const std::u16string& part : SplitPath(View(subKey))) {
    std::unique_ptr<RegNode>& slot = node->keys[Fold(part)];
    created = !slot;
    if (!slot) {
      slot = std::make_unique<RegNode>();
      slot->path = node->path + u"\\" + part;
    }
    node = slot.get();
  }
  const RegKey handle = d.nextRegKey;
  d.nextRegKey += 4;
  d.regKeys[handle] = node;
  *key = handle;
  if (disposition != nullptr) *disposition = created ? kCreatedNewKey : kOpenedExistingKey;
  return 0;
}

std::int32_t RegValueSet(RegKey key, const char16_t* name, std::uint32_t type, const void* data,
                         std::uint32_t size) {
  FakeCall c("RegValueSet");
  Data& d = c.data();
  RegNode* node = KeyNode(d, key);
  c.call().text2 = View(name);
  c.call().hasText2 = name != nullptr;
  c.call().number = type;
  if (const std::uint32_t e = c.Start(node != nullptr ? node->path : u"")) {
    c.Fail(e);
    return static_cast<std::int32_t>(e);
  }
  if (node == nullptr) return c.Fail(kErrorInvalidHandle), static_cast<std::int32_t>(kErrorInvalidHandle);
  if (const std::uint32_t e = registry_rules::CheckValue(View(name), data, size))
    return c.Fail(e), static_cast<std::int32_t>(e);
  fake::RegValue value;
  value.type = type;
  if (size > 0) value.data.assign(static_cast<const char*>(data), size);
  const std::u16string valueName(View(name));
  auto& slot = node->values[Fold(valueName)];
  // A value keeps the spelling it was first written with.
  if (slot.first.empty()) slot.first = valueName;
  slot.second = std::move(value);
  return 0;
}

std::int32_t RegKeyClose(RegKey key) {
  FakeCall c("RegKeyClose");
  Data& d = c.data();
  RegNode* node = KeyNode(d, key);
  if (const std::uint32_t e = c.Start(node != nullptr ? node->path : u"")) {
    c.Fail(e);
    return static_cast<std::int32_t>(e);
  }
  if (node == nullptr) return c.Fail(kErrorInvalidHandle), static_cast<std::int32_t>(kErrorInvalidHandle);
  d.regKeys.erase(key);
  return 0;
}

}  // namespace plat

namespace plat::fake {

using namespace internal;

std::optional<RegValue> GetRegValue(const std::u16string& keyPath, const std::u16string& name) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  RegNode* node = FindKeyPath(*s.data, keyPath);
  if (node == nullptr) return std::nullopt;
  auto it = node->values.find(Fold(name));
  if (it == node->values.end()) return std::nullopt;
  return it->second.second;
}

bool RegKeyExists(const std::u16string& keyPath) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  return FindKeyPath(*s.data, keyPath) != nullptr;
}

}  // namespace plat::fake
