// Device paths are resolved as names below the device root and opened through
// its descriptor, beneath it and without following any symbolic link: the
// device folder may come from anywhere (an unpacked archive, a package made
// elsewhere), and a link in it must never lead a program out of it.
#include "platform/posix/device.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/platform.h"
#include "platform/posix/diagnostics.h"
#include "platform/posix/error.h"
#include "platform/posix/folder_cache.h"
#include "platform/posix/listing.h"
#include "platform/posix/text.h"

namespace plat::posix {
namespace {

constexpr std::size_t kHostNameMax = 255;
constexpr const char* kRunFolder = "run";

bool IsSeparator(char16_t c) { return c == u'\\' || c == u'/'; }

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

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
  if (!ToUtf8(element, out)) return kErrorInvalidName;
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

// The first count elements joined by '/'.
std::string Joined(const std::vector<std::string>& elements, std::size_t count) {
  std::string joined;
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) joined += '/';
    joined += elements[i];
  }
  return joined;
}

// Walks elements below the root matching each existing one ignoring case, the
// exact spelling first; elements below the first missing one are kept as
// written. Yields their path in host spelling and, when every element is an
// existing folder, that folder open in *folder; otherwise errno says why not.
std::string WalkIgnoringCase(const Device& device, const std::vector<std::string>& elements, Fd* folder) {
  std::string relative;
  std::string hostFolder = device.folder + "/fs";
  Fd held;
  int at = device.root.get();
  int failure = 0;
  for (const std::string& element : elements) {
    std::string name = element;
    if (failure == 0) {
      std::string found = FindEntry(at, hostFolder, name);
      if (found.empty()) {
        failure = errno != 0 ? errno : ENOENT;
      } else {
        name = std::move(found);
        Fd next(OpenBeneath(at, name, O_PATH | O_DIRECTORY));
        if (next) {
          held = std::move(next);
          at = held.get();
        } else {
          failure = errno;
        }
      }
    }
    if (!relative.empty()) relative += '/';
    relative += name;
    hostFolder += '/';
    hostFolder += name;
  }
  if (failure == 0) *folder = std::move(held);
  errno = failure;
  return relative;
}

// Maps elements below the root: opens the folder holding the last one and,
// when settleName is set, settles the last one's spelling there.
void Resolve(const Device& device, const std::vector<std::string>& elements, bool settleName, HostPath* out) {
  out->relative.clear();
  out->name.clear();
  out->folderHost.clear();
  out->parent.Reset();
  out->parentErrno = 0;
  out->parentChecked = false;
  out->nameErrno = 0;
  if (elements.empty()) return;
  const std::string written = Joined(elements, elements.size() - 1);
  std::string folder;
  SharedFd parent = FindKeptFolder(out->device, written, &folder, &out->folderHost, &out->parentNow);
  out->parentChecked = static_cast<bool>(parent);
  if (!parent) {
    // Most paths are written as they are stored: one look-up settles the folder.
    folder = written;
    Fd opened(OpenBeneath(device.root.get(), folder, O_PATH | O_DIRECTORY));
    if (!opened && (errno == ENOENT || errno == ENOTDIR)) {
      const std::vector<std::string> above(elements.begin(), elements.end() - 1);
      folder = WalkIgnoringCase(device, above, &opened);
    }
    out->parentErrno = opened ? 0 : errno;
    parent = SharedFd(std::move(opened));
    out->folderHost = device.folder + "/fs" + (folder.empty() ? "" : "/" + folder);
    if (parent) KeepFolder(out->device, written, folder, out->folderHost, parent);
  }
  out->name = elements.back();
  out->relative = folder.empty() ? out->name : folder + "/" + out->name;
  out->parent = std::move(parent);
  out->nameSettled = false;
  if (settleName) SettleName(out);
}

struct Opened {
  std::shared_ptr<const Device> device;
  std::string problem;
};

Opened OpenNamedDevice(const char* value) {
  Opened result;
  if (value == nullptr || *value == 0) {
    result.problem = std::string(kDeviceVariable) + " is not set; it must name a device folder holding fs/";
    return result;
  }
  const std::string notDevice = std::string(kDeviceVariable) + "=" + value + " is not a device folder holding fs/";
  // The host's reason ends each problem: a missing folder and one that cannot
  // be read call for different mends.
  const auto because = [](int err) { return std::string(": ") + std::strerror(err); };
  char resolved[PATH_MAX];
  if (realpath(value, resolved) == nullptr) {
    result.problem = notDevice + because(errno);
    return result;
  }
  auto device = std::make_shared<Device>();
  device->folder = resolved;
  device->dir.Reset(open(resolved, O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!device->dir) {
    result.problem = notDevice + because(errno);
    return result;
  }
  device->root.Reset(openat(device->dir.get(), "fs", O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  struct stat st {};
  if (!device->root) {
    const int err = errno;
    const bool link = fstatat(device->dir.get(), "fs", &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
    result.problem = link ? std::string(kDeviceVariable) + "=" + value + ": " + resolved +
                                "/fs is a symbolic link; the device root must be a folder of its own"
                          : notDevice + because(err);
    return result;
  }
  result.device = std::move(device);
  return result;
}

// Every path mapping asks for the device; opening it once per setting of the
// variable spares a realpath walk and two opens per file operation.
Opened CurrentDevice() {
  static std::mutex cacheMutex;
  static std::string cachedValue;
  static Opened cached;
  const char* value = std::getenv(kDeviceVariable);
  const std::string text = value == nullptr ? std::string() : std::string(value);
  const std::lock_guard<std::mutex> lock(cacheMutex);
  if (cached.device != nullptr && cachedValue == text) return cached;
  Opened opened = OpenNamedDevice(value);
  if (opened.device != nullptr) {
    cachedValue = text;
    cached = opened;
  }
  return opened;
}

}  // namespace

std::shared_ptr<const Device> OpenDevice() { return CurrentDevice().device; }

std::string DeviceProblem() { return CurrentDevice().problem; }

std::shared_ptr<const Device> OpenDevice(std::string* problem) {
  Opened opened = CurrentDevice();
  *problem = std::move(opened.problem);
  return std::move(opened.device);
}

std::string DeviceFolder() {
  const auto device = OpenDevice();
  return device == nullptr ? std::string() : device->folder;
}

std::string DeviceRoot() {
  const auto device = OpenDevice();
  return device == nullptr ? std::string() : device->folder + "/fs";
}

int OpenRunFolder(const Device& device, std::uint32_t* error) {
  // Like /tmp: every user of the device may add lock files, none may remove another's.
  if (mkdirat(device.dir.get(), kRunFolder, 01777) == 0) {
    // The umask may have taken bits away.
    Fd created(openat(device.dir.get(), kRunFolder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (created) fchmod(created.get(), 01777);
  }
  const int fd = openat(device.dir.get(), kRunFolder, O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd >= 0) return fd;
  const int err = errno;
  struct stat st {};
  const bool link = fstatat(device.dir.get(), kRunFolder, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode);
  *error = link ? kErrorCantResolveFilename : ErrorFromErrno(err);
  Diagnose(device.folder + "/" + kRunFolder + (link ? ": a symbolic link, not followed" : ": not a usable folder"));
  return -1;
}

std::string HostPath::Full() const {
  const std::string root = device == nullptr ? std::string() : device->folder + "/fs";
  return relative.empty() ? root : root + "/" + relative;
}

std::uint32_t MapPath(const char16_t* devicePath, HostPath* hostPath, bool settleName) {
  auto device = OpenDevice();
  if (device == nullptr || devicePath == nullptr || *devicePath == 0) return kErrorPathNotFound;
  std::vector<std::string> elements;
  if (const std::uint32_t error = SplitElements(devicePath, &elements); error != 0) return error;
  const std::u16string_view text(devicePath);
  hostPath->trailingSeparator = !elements.empty() && IsSeparator(text.back());
  hostPath->device = std::move(device);
  Resolve(*hostPath->device, elements, settleName, hostPath);
  return 0;
}

bool SettleName(HostPath* path) {
  if (path->nameSettled) return false;
  path->nameSettled = true;
  if (!path->parent || path->device == nullptr) return false;
  std::string found = FindLastEntry(path->parent.get(), path->folderHost, path->name,
                                    path->parentChecked ? &path->parentNow : nullptr);
  // A folder that cannot be read leaves the spelling unknown: its error, not
  // "no such file", is what a failing operation on the name reports.
  if (found.empty()) path->nameErrno = errno;
  if (found.empty() || found == path->name) return false;
  const std::size_t cut = path->relative.size() - path->name.size();
  path->name = std::move(found);
  path->relative = cut == 0 ? path->name : path->relative.substr(0, cut) + path->name;
  return true;
}

std::uint32_t MapPattern(const char16_t* devicePattern, HostPath* folder, std::string* lastElement) {
  auto device = OpenDevice();
  if (device == nullptr || devicePattern == nullptr || *devicePattern == 0) return kErrorPathNotFound;
  const std::u16string_view text(devicePattern);
  std::size_t cut = text.size();
  while (cut > 0 && !IsSeparator(text[cut - 1])) --cut;
  std::vector<std::string> elements;
  if (const std::uint32_t error = SplitElements(text.substr(0, cut), &elements); error != 0) return error;
  if (const std::uint32_t error = ConvertElement(text.substr(cut), true, lastElement); error != 0) return error;
  folder->trailingSeparator = false;
  folder->device = std::move(device);
  Resolve(*folder->device, elements, true, folder);
  return 0;
}

int OpenMapped(const HostPath& path, int flags, mode_t mode) {
  if (path.name.empty()) return OpenBeneath(path.device->root.get(), "", flags, mode);
  if (!path.parent) {
    errno = path.parentErrno;
    return -1;
  }
  return OpenBeneath(path.parent.get(), path.name, flags, mode);
}

std::uint32_t PathError(const HostPath& path, int err) {
  if (err == ELOOP) {
    Diagnose(path.Full() + ": a symbolic link on the path, not followed");
    return kErrorCantResolveFilename;
  }
  if (err == ENOENT && path.nameErrno != 0) return ErrorFromErrno(path.nameErrno);
  if (err != ENOENT) return ErrorFromErrno(err);
  return path.parent || path.name.empty() ? kErrorFileNotFound : kErrorPathNotFound;
}

std::uint32_t TrailingSeparatorError(const HostPath& path) {
  Fd target(OpenMapped(path, O_PATH));
  struct stat st {};
  if (target) return fstat(target.get(), &st) == 0 && S_ISDIR(st.st_mode) ? kErrorAccessDenied : kErrorInvalidName;
  const std::uint32_t error = PathError(path, errno);
  return error == kErrorFileNotFound ? kErrorInvalidName : error;
}

void NoteCreated(const HostPath& path) {
  if (!path.parent) return;
  NoteEntryCreated(path.parent.get(), path.folderHost, path.name);
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
