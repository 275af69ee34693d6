#include "platform/posix/device.h"

#include <dirent.h>
#include <limits.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/error.h"
#include "platform/posix/text.h"

namespace plat::posix {
namespace {

constexpr std::size_t kHostNameMax = 255;

bool IsFolder(const std::string& path) {
  struct stat st {};
  return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

// Characters the device refuses in a name; * and ? are wildcards where allowed.
bool IsForbidden(char16_t c, bool wildcardsAllowed) {
  if (c < 0x20) return true;
  switch (c) {
    case u'*':
    case u'?':
      return !wildcardsAllowed;
    case u'<':
    case u'>':
    case u'|':
    case u'"':
    case u':':
      return true;
    default:
      return false;
  }
}

// Checks one raw element and converts it to UTF-8; 0 or an error code.
std::uint32_t ConvertElement(std::u16string_view element, bool wildcardsAllowed, std::string* out) {
  for (char16_t c : element)
    if (IsForbidden(c, wildcardsAllowed)) return kErrorInvalidName;
  const std::u16string copy(element);
  if (!ToUtf8(copy.c_str(), out)) return kErrorInvalidName;
  if (out->size() > kHostNameMax) return kErrorFilenameTooLong;
  return 0;
}

// Splits text into elements: runs of separators count as one, "." is dropped and
// ".." removes the element before it but never climbs above the root.
std::uint32_t SplitElements(std::u16string_view text, std::vector<std::string>* elements) {
  std::size_t i = 0;
  while (i < text.size()) {
    if (IsSeparator(text[i])) {
      ++i;
      continue;
    }
    std::size_t end = i;
    while (end < text.size() && !IsSeparator(text[end])) ++end;
    const std::u16string_view element = text.substr(i, end - i);
    i = end;
    if (element == u".") continue;
    if (element == u"..") {
      if (!elements->empty()) elements->pop_back();
      continue;
    }
    std::string name;
    if (const std::uint32_t error = ConvertElement(element, false, &name); error != 0) return error;
    elements->push_back(std::move(name));
  }
  return 0;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

// What a folder held when it was last read: for each case-folded name the
// spelling to use (the first in byte order). Reading a folder for every lookup
// of a missing name made filling a folder of n files cost n squared entry reads,
// so listings are kept, checked against the folder's change time, and updated
// for the names this process creates itself.
struct FolderListing {
  struct timespec changed {};
  ino_t inode = 0;
  std::unordered_map<std::string, std::string> names;
};

std::mutex g_listingMutex;
std::unordered_map<std::string, FolderListing> g_listings;

bool SameChangeTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The current listing of folder (read again when the folder changed); nullptr when unreadable.
const FolderListing* Listing(const std::string& folder) {
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) return nullptr;
  auto found = g_listings.find(folder);
  if (found != g_listings.end() && found->second.inode == st.st_ino &&
      SameChangeTime(found->second.changed, st.st_mtim))
    return &found->second;
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return nullptr;
  FolderListing listing;
  listing.changed = st.st_mtim;
  listing.inode = st.st_ino;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    std::string& best = listing.names[Folded(name)];
    if (best.empty() || name < best) best = name;
  }
  if (g_listings.size() > 256) g_listings.clear();
  return &(g_listings[folder] = std::move(listing));
}

// The name of folder's entry matching name: the exact name when present, else the
// first (bytewise) entry equal to it ignoring case; empty when there is none.
std::string FindEntry(const std::string& folder, const std::string& name) {
  struct stat st {};
  const std::string exact = folder + "/" + name;
  if (lstat(exact.c_str(), &st) == 0) return name;
  const std::lock_guard<std::mutex> lock(g_listingMutex);
  const FolderListing* listing = Listing(folder);
  if (listing == nullptr) return {};
  const auto match = listing->names.find(Folded(name));
  return match == listing->names.end() ? std::string() : match->second;
}

// Joins the elements onto the root, using the existing spelling of every element
// that exists; elements below the first missing one are kept as written.
std::string Resolve(const std::string& root, const std::vector<std::string>& elements) {
  std::string host = root;
  for (const std::string& element : elements) {
    host += '/';
    host += element;
  }
  // Most paths are written as they are stored: one look-up settles them.
  struct stat st {};
  if (elements.empty() || lstat(host.c_str(), &st) == 0) return host;
  host = root;
  bool exists = true;
  for (const std::string& element : elements) {
    std::string name;
    if (exists) {
      name = FindEntry(host, element);
      if (name.empty()) exists = false;
    }
    host += '/';
    host += exists ? name : element;
  }
  return host;
}

}  // namespace

void NoteCreated(const std::string& hostPath) {
  const std::size_t slash = hostPath.rfind('/');
  if (slash == std::string::npos) return;
  const std::string folder = hostPath.substr(0, slash);
  const std::string name = hostPath.substr(slash + 1);
  const std::lock_guard<std::mutex> lock(g_listingMutex);
  auto found = g_listings.find(folder);
  if (found == g_listings.end()) return;
  struct stat st {};
  if (stat(folder.c_str(), &st) != 0) {
    g_listings.erase(found);
    return;
  }
  std::string& best = found->second.names[Folded(name)];
  if (best.empty() || name < best) best = name;
  found->second.changed = st.st_mtim;
}

std::string DeviceFolder() {
  const char* value = std::getenv(kDeviceVariable);
  if (value == nullptr || *value == 0) return {};
  // Every path mapping asks for the folder; resolving it once per setting of the
  // variable spares a realpath walk per file operation.
  static std::mutex cacheMutex;
  static std::string cachedValue;
  static std::string cachedFolder;
  const std::lock_guard<std::mutex> lock(cacheMutex);
  if (!cachedFolder.empty() && cachedValue == value) return cachedFolder;
  char resolved[PATH_MAX];
  if (realpath(value, resolved) == nullptr) return {};
  std::string folder(resolved);
  if (!IsFolder(folder + "/fs")) return {};
  cachedValue = value;
  cachedFolder = folder;
  return folder;
}

std::string DeviceRoot() {
  const std::string folder = DeviceFolder();
  return folder.empty() ? folder : folder + "/fs";
}

std::string RunFolder() {
  const std::string folder = DeviceFolder();
  if (folder.empty()) return folder;
  const std::string run = folder + "/run";
  if (mkdir(run.c_str(), 0777) != 0 && errno != EEXIST) return {};
  return IsFolder(run) ? run : std::string();
}

std::uint32_t MapPath(const char16_t* devicePath, std::string* hostPath) {
  const std::string root = DeviceRoot();
  if (root.empty() || devicePath == nullptr || *devicePath == 0) return kErrorPathNotFound;
  std::vector<std::string> elements;
  if (const std::uint32_t error = SplitElements(devicePath, &elements); error != 0) return error;
  *hostPath = Resolve(root, elements);
  return 0;
}

std::uint32_t MapPattern(const char16_t* devicePattern, std::string* hostFolder, std::string* lastElement) {
  const std::string root = DeviceRoot();
  if (root.empty() || devicePattern == nullptr || *devicePattern == 0) return kErrorPathNotFound;
  const std::u16string_view text(devicePattern);
  std::size_t cut = text.size();
  while (cut > 0 && !IsSeparator(text[cut - 1])) --cut;
  std::vector<std::string> elements;
  if (const std::uint32_t error = SplitElements(text.substr(0, cut), &elements); error != 0) return error;
  if (const std::uint32_t error = ConvertElement(text.substr(cut), true, lastElement); error != 0) return error;
  *hostFolder = Resolve(root, elements);
  return 0;
}

std::uint32_t MissingError(const std::string& hostPath) {
  const std::size_t slash = hostPath.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : hostPath.substr(0, slash);
  return IsFolder(folder) ? kErrorFileNotFound : kErrorPathNotFound;
}

bool DevicePathOf(const std::string& hostPath, std::u16string* devicePath) {
  const std::string root = DeviceRoot();
  if (root.empty()) return false;
  char resolved[PATH_MAX];
  if (realpath(hostPath.c_str(), resolved) == nullptr) return false;
  const std::string_view path(resolved);
  if (path.size() <= root.size() + 1 || path.substr(0, root.size()) != root || path[root.size()] != '/')
    return false;
  std::string device(path.substr(root.size()));
  for (char& c : device)
    if (c == '/') c = '\\';
  *devicePath = ToUtf16Lenient(device);
  return true;
}

int CompareNames(std::string_view a, std::string_view b) {
  const std::size_t n = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < n; ++i) {
    const auto x = static_cast<unsigned char>(FoldAscii(a[i]));
    const auto y = static_cast<unsigned char>(FoldAscii(b[i]));
    if (x != y) return x < y ? -1 : 1;
  }
  if (a.size() != b.size()) return a.size() < b.size() ? -1 : 1;
  return a.compare(b) < 0 ? -1 : (a == b ? 0 : 1);
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

}  // namespace plat::posix
