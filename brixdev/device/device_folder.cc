#include "brixdev/device/device_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

#include "brixdev/device/file_clone.h"
#include "brixdev/text.h"

namespace brixdev {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

struct FdCloser {
  int fd;
  ~FdCloser() {
    if (fd >= 0) close(fd);
  }
};

std::string Why(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

bool MakeFolders(const std::string& path, std::string* error) {
  std::string prefix;
  std::size_t i = 0;
  while (i <= path.size()) {
    const std::size_t slash = path.find('/', i);
    const std::size_t end = slash == std::string::npos ? path.size() : slash;
    prefix = path.substr(0, end);
    i = end + 1;
    if (prefix.empty()) continue;
    if (mkdir(prefix.c_str(), 0777) != 0 && errno != EEXIST) {
      *error = Why("cannot create folder", prefix);
      return false;
    }
  }
  if (!IsHostFolder(path)) {
    *error = "not a folder: " + path;
    return false;
  }
  return true;
}

// A new file target with the content of the regular file source, runnable as every file on a device.
bool CopyFile(const std::string& source, const std::string& target, std::string* error) {
  unlink(target.c_str());
  CloneWay way = CloneWay::kCopy;
  return CloneFile(source, target, false, &way, error);
}

// An empty file target standing in for source (see CheckDevice).
bool PlaceStandIn(const std::string& target, std::string* error) {
  unlink(target.c_str());
  FdCloser out{open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755)};
  if (out.fd < 0) {
    *error = Why("cannot create", target);
    return false;
  }
  return true;
}

bool PlaceTree(const std::string& source, const std::string& target, Placed* placed,
               std::string* error, std::uint64_t standInSize) {
  struct stat st {};
  if (lstat(source.c_str(), &st) != 0) {
    *error = Why("cannot read", source);
    return false;
  }
  if (S_ISREG(st.st_mode)) {
    if (standInSize != 0 && static_cast<std::uint64_t>(st.st_size) >= standInSize) {
      if (!PlaceStandIn(target, error)) return false;
      placed->standIns[target] = source;
    } else if (!CopyFile(source, target, error)) {
      return false;
    }
    placed->files[target] = source;
    return true;
  }
  if (!IsHostFolder(source)) {
    placed->skipped.push_back(source);
    return true;
  }
  if (mkdir(target.c_str(), 0777) != 0 && errno != EEXIST) {
    *error = Why("cannot create folder", target);
    return false;
  }
  std::unique_ptr<DIR, DirCloser> dir(opendir(source.c_str()));
  if (!dir) {
    *error = Why("cannot read folder", source);
    return false;
  }
  std::vector<std::string> names;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  for (const std::string& name : names) {
    if (!PlaceTree(source + "/" + name, target + "/" + name, placed, error, standInSize)) return false;
  }
  return true;
}

// The entry of folder whose name equals name ignoring ASCII case: the exact one
// first, else the first in byte order; empty when there is none.
std::string MatchingEntry(const std::string& folder, const std::string& name) {
  struct stat st {};
  if (lstat((folder + "/" + name).c_str(), &st) == 0) return name;
  std::unique_ptr<DIR, DirCloser> dir(opendir(folder.c_str()));
  if (!dir) return {};
  std::string best;
  while (const dirent* entry = readdir(dir.get())) {
    const std::string candidate = entry->d_name;
    if (candidate == "." || candidate == "..") continue;
    if (SameIgnoringCase(Utf16(candidate), Utf16(name)) && (best.empty() || candidate < best)) best = candidate;
  }
  return best;
}

}  // namespace

bool IsHostFolder(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool IsHostFile(const std::string& path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool CreateDevice(const std::string& dir, const std::string& importer, std::string* error) {
  for (const char* folder : kDeviceFolders) {
    if (!MakeFolders(dir + "/fs/" + folder, error)) return false;
  }
  if (importer.empty()) return true;
  Placed placed;
  return Place(importer, HostPathFor(dir + "/fs", kDeviceImporter), &placed, error);
}

std::string HostPathFor(const std::string& root, std::u16string_view devicePath) {
  std::string host = root;
  bool exists = true;
  for (const std::u16string& name : PathNames(devicePath)) {
    const std::string written = Utf8(name);
    std::string found = exists ? MatchingEntry(host, written) : std::string();
    if (found.empty()) exists = false;
    host += "/" + (found.empty() ? written : found);
    // A device has no links: one would lead out of the device folder.
    struct stat st {};
    if (exists && lstat(host.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) return {};
  }
  return host;
}

bool Place(const std::string& source, const std::string& target, Placed* placed,
           std::string* error, std::uint64_t standInSize) {
  if (target.empty()) {
    *error = "the place on the device passes a symbolic link";
    return false;
  }
  const std::size_t slash = target.rfind('/');
  if (slash != std::string::npos && slash > 0 && !MakeFolders(target.substr(0, slash), error)) return false;
  return PlaceTree(source, target, placed, error, standInSize);
}

bool IsEmptyFolder(const std::string& path) {
  if (!IsHostFolder(path)) return false;
  std::error_code error;
  return std::filesystem::is_empty(path, error) && !error;
}

std::string Absolute(const std::string& path) {
  char resolved[PATH_MAX];
  return realpath(path.c_str(), resolved) != nullptr ? std::string(resolved) : path;
}

}  // namespace brixdev
