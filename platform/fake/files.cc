// The fake's device file system: files, folders, sharing, directory search.
#include <algorithm>
#include <cstring>

#include "platform/fake/state.h"

namespace plat::fake::internal {

namespace {

constexpr std::uint32_t kErrorNoMoreFiles = 18;
constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeNormal = 0x80;

bool ValidName(std::u16string_view name) {
  if (name == u"." || name == u"..") return false;
  for (char16_t c : name) {
    if (c < 0x20 || c == u'*' || c == u'?' || c == u'<' || c == u'>' || c == u'|' || c == u'"') {
      return false;
    }
  }
  return true;
}

Node* Child(Node* dir, std::u16string_view name) {
  auto it = dir->children.find(Fold(name));
  return it == dir->children.end() ? nullptr : it->second.get();
}

Node* AddChild(Node* dir, std::u16string_view name, bool isDir) {
  auto node = std::make_unique<Node>();
  node->name = std::u16string(name);
  node->dir = isDir;
  Node* raw = node.get();
  dir->children[Fold(name)] = std::move(node);
  return raw;
}

// Where a path leads: its folder, the node itself when it exists, or the error of a bad path.
struct Resolved {
  Node* parent = nullptr;
  Node* node = nullptr;
  std::u16string leaf;
  std::uint32_t error = 0;
};

Resolved Resolve(Data& d, std::u16string_view path) {
  Resolved r;
  const std::vector<std::u16string> parts = SplitPath(path);
  if (parts.empty()) {
    r.node = d.root.get();
    return r;
  }
  for (const std::u16string& part : parts) {
    if (!ValidName(part)) {
      r.error = kErrorInvalidName;
      return r;
    }
  }
  Node* dir = d.root.get();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    dir = Child(dir, parts[i]);
    if (dir == nullptr || !dir->dir) {
      r.error = kErrorPathNotFound;
      return r;
    }
  }
  r.parent = dir;
  r.leaf = parts.back();
  r.node = Child(dir, r.leaf);
  return r;
}

// Creates missing folders along parts[0..count); nullptr when a file is in the way.
Node* EnsureFolders(Data& d, const std::vector<std::u16string>& parts, std::size_t count) {
  Node* dir = d.root.get();
  for (std::size_t i = 0; i < count; ++i) {
    Node* next = Child(dir, parts[i]);
    if (next == nullptr) next = AddChild(dir, parts[i], true);
    if (!next->dir) return nullptr;
    dir = next;
  }
  return dir;
}

// Wildcard match of a folded name against a folded pattern: * any run, ? one character.
bool Matches(std::u16string_view name, std::u16string_view pattern) {
  std::size_t n = 0, p = 0, starP = std::u16string_view::npos, starN = 0;
  while (n < name.size()) {
    if (p < pattern.size() && (pattern[p] == u'?' || pattern[p] == name[n])) {
      ++n;
      ++p;
    } else if (p < pattern.size() && pattern[p] == u'*') {
      starP = p++;
      starN = n;
    } else if (starP != std::u16string_view::npos) {
      p = starP + 1;
      n = ++starN;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == u'*') ++p;
  return p == pattern.size();
}

bool FillFindData(FindData* data, const std::pair<std::u16string, bool>& match) {
  if (match.first.size() + 1 > kMaxPath) return false;
  std::memset(data->name, 0, sizeof data->name);
  std::copy(match.first.begin(), match.first.end(), data->name);
  data->attributes = match.second ? kAttributeDirectory : kAttributeNormal;
  return true;
}

void CollectTree(const Node* dir, const std::u16string& prefix, std::vector<std::u16string>& out) {
  for (const auto& [key, child] : dir->children) {
    const std::u16string path = prefix + u"\\" + child->name;
    if (child->dir) {
      out.push_back(path + u"\\");
      CollectTree(child.get(), path, out);
    } else {
      out.push_back(path);
    }
  }
}

template <typename T>
T* Lookup(std::map<const void*, std::unique_ptr<T>>& handles, const T* handle) {
  auto it = handles.find(handle);
  return it == handles.end() ? nullptr : it->second.get();
}

}  // namespace

}  // namespace plat::fake::internal

namespace plat::backend {

using namespace fake::internal;

File* OpenFile(const char16_t* path, Access access, Disposition disposition, Share share) {
  FakeCall c("OpenFile");
  if (const std::uint32_t e = c.Start(View(path))) return c.Fail(e), nullptr;
  if (path == nullptr) return c.Fail(kErrorInvalidParameter), nullptr;
  Data& d = c.data();
  Resolved r = Resolve(d, path);
  if (r.error != 0) return c.Fail(r.error), nullptr;
  const bool exclusive = share == Share::None;
  Node* node = r.node;
  if (node == nullptr) {
    if (disposition == Disposition::OpenExisting) return c.Fail(kErrorFileNotFound), nullptr;
    node = AddChild(r.parent, r.leaf, false);
  } else {
    if (node->dir) return c.Fail(kErrorAccessDenied), nullptr;
    // Sharing is settled before anything is truncated.
    const bool busy = exclusive ? node->sharedOpens + node->exclusiveOpens > 0 : node->exclusiveOpens > 0;
    if (busy) return c.Fail(kErrorSharingViolation), nullptr;
    if (disposition == Disposition::CreateAlways) node->data.clear();
  }
  auto file = std::make_unique<File>();
  file->node = node;
  file->path = path;
  file->access = access;
  file->exclusive = exclusive;
  ++(exclusive ? node->exclusiveOpens : node->sharedOpens);
  File* raw = file.get();
  d.files[raw] = std::move(file);
  return raw;
}

bool SeekToStart(File* file) {
  FakeCall c("SeekToStart");
  File* f = Lookup(c.data().files, file);
  if (const std::uint32_t e = c.Start(f != nullptr ? f->path : u"")) return c.Fail(e), false;
  if (f == nullptr) return c.Fail(kErrorInvalidHandle), false;
  f->pos = 0;
  return true;
}

}  // namespace plat::backend

namespace plat {

using namespace fake::internal;

bool FileRead(File* file, void* buffer, std::uint32_t n, std::uint32_t* got) {
  FakeCall c("FileRead");
  File* f = Lookup(c.data().files, file);
  if (got != nullptr) *got = 0;
  if (const std::uint32_t e = c.Start(f != nullptr ? f->path : u"")) return c.Fail(e), false;
  if (f == nullptr) return c.Fail(kErrorInvalidHandle), false;
  if (got == nullptr || (buffer == nullptr && n > 0)) return c.Fail(kErrorInvalidParameter), false;
  if (f->access == backend::Access::Write) return c.Fail(kErrorAccessDenied), false;
  const std::string& data = f->node->data;
  const std::size_t left = f->pos < data.size() ? data.size() - f->pos : 0;
  const std::size_t take = std::min<std::size_t>(left, n);
  if (take > 0) std::memcpy(buffer, data.data() + f->pos, take);
  f->pos += take;
  *got = static_cast<std::uint32_t>(take);
  c.call().number = static_cast<std::int64_t>(take);
  return true;
}

bool FileWrite(File* file, const void* buffer, std::uint32_t n, std::uint32_t* written) {
  FakeCall c("FileWrite");
  File* f = Lookup(c.data().files, file);
  if (written != nullptr) *written = 0;
  c.call().number = n;
  if (const std::uint32_t e = c.Start(f != nullptr ? f->path : u"")) return c.Fail(e), false;
  if (f == nullptr) return c.Fail(kErrorInvalidHandle), false;
  if (written == nullptr || (buffer == nullptr && n > 0)) return c.Fail(kErrorInvalidParameter), false;
  if (f->access == backend::Access::Read) return c.Fail(kErrorAccessDenied), false;
  std::string& data = f->node->data;
  if (data.size() < f->pos + n) data.resize(f->pos + n);
  if (n > 0) std::memcpy(data.data() + f->pos, buffer, n);
  f->pos += n;
  *written = n;
  return true;
}

bool FileClose(File* file) {
  FakeCall c("FileClose");
  Data& d = c.data();
  File* f = Lookup(d.files, file);
  const std::uint32_t e = c.Start(f != nullptr ? f->path : u"");
  if (f == nullptr) return c.Fail(kErrorInvalidHandle), false;
  // Even a close reported as failed releases the handle, so the file does not stay locked.
  --(f->exclusive ? f->node->exclusiveOpens : f->node->sharedOpens);
  d.files.erase(file);
  if (e != 0) return c.Fail(e), false;
  return true;
}

bool FileDelete(const char16_t* path) {
  FakeCall c("FileDelete");
  if (const std::uint32_t e = c.Start(View(path))) return c.Fail(e), false;
  if (path == nullptr) return c.Fail(kErrorInvalidParameter), false;
  Resolved r = Resolve(c.data(), path);
  if (r.error != 0) return c.Fail(r.error), false;
  if (r.node == nullptr) return c.Fail(kErrorFileNotFound), false;
  if (r.node->dir) return c.Fail(kErrorAccessDenied), false;
  if (r.node->sharedOpens + r.node->exclusiveOpens > 0) return c.Fail(kErrorSharingViolation), false;
  r.parent->children.erase(Fold(r.leaf));
  return true;
}

Find* FindFirst(const char16_t* pattern, FindData* data) {
  FakeCall c("FindFirst");
  if (const std::uint32_t e = c.Start(View(pattern))) return c.Fail(e), nullptr;
  if (pattern == nullptr || data == nullptr) return c.Fail(kErrorInvalidParameter), nullptr;
  Data& d = c.data();
  std::vector<std::u16string> parts = SplitPath(pattern);
  if (parts.empty()) return c.Fail(kErrorFileNotFound), nullptr;
  std::u16string leaf = Fold(parts.back());
  // As on the device, *.* also matches names without a dot.
  if (leaf == u"*.*") leaf = u"*";
  Node* dir = d.root.get();
  for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
    if (!ValidName(parts[i])) return c.Fail(kErrorInvalidName), nullptr;
    dir = Child(dir, parts[i]);
    if (dir == nullptr || !dir->dir) return c.Fail(kErrorPathNotFound), nullptr;
  }
  auto find = std::make_unique<Find>();
  find->pattern = pattern;
  // Children are kept by folded name, so this order is case-insensitive.
  for (const auto& [key, child] : dir->children) {
    if (Matches(key, leaf) && child->name.size() < kMaxPath) find->matches.emplace_back(child->name, child->dir);
  }
  if (find->matches.empty()) return c.Fail(kErrorFileNotFound), nullptr;
  FillFindData(data, find->matches[0]);
  find->next = 1;
  c.call().text2 = find->matches[0].first;
  c.call().hasText2 = true;
  Find* raw = find.get();
  d.finds[raw] = std::move(find);
  return raw;
}

bool FindNextMatch(Find* find, FindData* data) {
  FakeCall c("FindNextMatch");
  Find* f = Lookup(c.data().finds, find);
  if (const std::uint32_t e = c.Start(f != nullptr ? f->pattern : u"")) return c.Fail(e), false;
  if (f == nullptr) return c.Fail(kErrorInvalidHandle), false;
  if (data == nullptr) return c.Fail(kErrorInvalidParameter), false;
  if (f->next >= f->matches.size()) return c.Fail(kErrorNoMoreFiles), false;
  FillFindData(data, f->matches[f->next]);
  c.call().text2 = f->matches[f->next].first;
  c.call().hasText2 = true;
  ++f->next;
  return true;
}

bool FindEnd(Find* find) {
  FakeCall c("FindEnd");
  Data& d = c.data();
  Find* f = Lookup(d.finds, find);
  const std::uint32_t e = c.Start(f != nullptr ? f->pattern : u"");
  if (f == nullptr) return c.Fail(kErrorInvalidHandle), false;
  d.finds.erase(find);
  if (e != 0) return c.Fail(e), false;
  return true;
}

bool MakeDirectory(const char16_t* path) {
  FakeCall c("MakeDirectory");
  if (const std::uint32_t e = c.Start(View(path))) return c.Fail(e), false;
  if (path == nullptr) return c.Fail(kErrorInvalidParameter), false;
  if (*path == 0) return c.Fail(kErrorPathNotFound), false;
  Resolved r = Resolve(c.data(), path);
  if (r.error != 0) return c.Fail(r.error), false;
  if (r.node != nullptr) return c.Fail(kErrorAlreadyExists), false;
  AddChild(r.parent, r.leaf, true);
  return true;
}

}  // namespace plat

namespace plat::fake {

using namespace internal;

void AddDirectory(const std::u16string& path) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  const std::vector<std::u16string> parts = SplitPath(path);
  EnsureFolders(*s.data, parts, parts.size());
}

void AddFile(const std::u16string& path, const std::string& bytes) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  const std::vector<std::u16string> parts = SplitPath(path);
  if (parts.empty()) return;
  Node* dir = EnsureFolders(*s.data, parts, parts.size() - 1);
  if (dir == nullptr) return;
  Node* node = Child(dir, parts.back());
  if (node == nullptr) node = AddChild(dir, parts.back(), false);
  if (!node->dir) node->data = bytes;
}

std::optional<std::string> FileContents(const std::u16string& path) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  Resolved r = Resolve(*s.data, path);
  if (r.error != 0 || r.node == nullptr || r.node->dir) return std::nullopt;
  return r.node->data;
}

bool IsDirectory(const std::u16string& path) {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  Resolved r = Resolve(*s.data, path);
  return r.error == 0 && r.node != nullptr && r.node->dir;
}

std::vector<std::u16string> ListTree() {
  State& s = GlobalState();
  std::lock_guard lock(s.mu);
  std::vector<std::u16string> out;
  CollectTree(s.data->root.get(), u"", out);
  std::sort(out.begin(), out.end());
  return out;
}

}  // namespace plat::fake
