#include "brixdev/device/check_device.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <utility>

#include "brixdev/device/file_clone.h"
#include "brixdev/text.h"
#include "platform/platform.h"

namespace brixdev {

CheckDevice::~CheckDevice() {
  // The simulator lets go of the device (its registry committed) before the folder goes.
  scope_.reset();
  std::error_code ignored;
  if (!dir_.empty()) std::filesystem::remove_all(dir_, ignored);
}

bool CheckDevice::Create(const std::string& baseDevice, const std::string& importer, std::string* error) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/brixdev-check-XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    *error = "cannot create a temporary device folder in " + pattern;
    return false;
  }
  dir_ = pattern;
  root_ = dir_ + "/fs";
  if (baseDevice.empty()) return CreateDevice(dir_, importer, error);
  if (!IsHostFolder(baseDevice + "/fs")) {
    *error = "no device folder: " + baseDevice + " holds no fs/";
    return false;
  }
  return brixdev::Place(baseDevice + "/fs", root_, &placed_, error, kStandInSize);
}

bool CheckDevice::Place(const std::string& host, std::u16string_view devicePath, std::string* error) {
  return brixdev::Place(host, HostPath(devicePath), &placed_, error, kStandInSize);
}

void CheckDevice::Copied(std::u16string_view from, std::u16string_view to) {
  const auto source = placed_.standIns.find(HostPath(from));
  const std::string target = HostPath(to);
  if (source != placed_.standIns.end())
    placed_.standIns[target] = source->second;
  else
    placed_.standIns.erase(target);
}

void CheckDevice::Prepare(std::u16string_view devicePath) {
  const std::string host = HostPath(devicePath);
  const auto found = placed_.standIns.find(host);
  if (found == placed_.standIns.end()) return;
  const std::string origin = found->second;
  placed_.standIns.erase(found);
  // Only the stand-in itself is replaced: a file that a copy overwrote keeps what it got.
  struct stat st {};
  if (lstat(host.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size != 0) return;
  const std::string scratch = host + ".brixdev-content";
  CloneWay way = CloneWay::kCopy;
  std::string error;
  unlink(scratch.c_str());
  if (!CloneFile(origin, scratch, true, &way, &error) || rename(scratch.c_str(), host.c_str()) != 0) {
    unlink(scratch.c_str());
    if (prepareError_.empty()) prepareError_ = error.empty() ? "cannot place " + origin + " on the check device" : error;
  }
}

void CheckDevice::Activate(plat::posix::DebugSink debug) {
  scope_.reset();
  plat::posix::DeviceContext context;
  context.folder = dir_;
  context.debug = std::move(debug);
  scope_.emplace(std::move(context));
}

std::string CheckDevice::HostPath(std::u16string_view devicePath) const { return HostPathFor(root_, devicePath); }

std::string CheckDevice::PlacedFrom(const std::string& hostPath) const {
  const auto found = placed_.files.find(hostPath);
  return found == placed_.files.end() ? std::string() : found->second;
}

EntryKind LookUp(std::u16string_view devicePath) {
  const std::vector<std::u16string> names = PathNames(devicePath);
  if (names.empty()) return devicePath.empty() ? EntryKind::kInvalid : EntryKind::kFolder;
  if (names.back().find_first_of(u"*?") != std::u16string::npos) return EntryKind::kInvalid;
  const std::u16string path(devicePath);
  plat::FindData data{};
  plat::Find* find = plat::FindFirst(path.c_str(), &data);
  if (find == nullptr) {
    return plat::LastError() == plat::kErrorInvalidName ? EntryKind::kInvalid : EntryKind::kMissing;
  }
  plat::FindEnd(find);
  return (data.attributes & 0x10) != 0 ? EntryKind::kFolder : EntryKind::kFile;
}

std::vector<std::pair<std::u16string, bool>> Matches(std::u16string_view pattern) {
  std::vector<std::pair<std::u16string, bool>> found;
  const std::u16string text(pattern);
  plat::FindData data{};
  plat::Find* find = plat::FindFirst(text.c_str(), &data);
  if (find == nullptr) return found;
  do {
    data.name[plat::kMaxPath - 1] = 0;
    found.emplace_back(data.name, (data.attributes & 0x10) != 0);
  } while (plat::FindNextMatch(find, &data));
  plat::FindEnd(find);
  return found;
}

bool ReadDeviceFile(std::u16string_view devicePath, std::size_t limit, std::string* bytes) {
  const std::u16string path(devicePath);
  plat::File* file = plat::FileOpenRead(path.c_str());
  if (file == nullptr) return false;
  bytes->clear();
  char buffer[65536];
  bool ok = true;
  while (bytes->size() < limit) {
    std::uint32_t got = 0;
    if (!plat::FileRead(file, buffer, sizeof buffer, &got)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    bytes->append(buffer, got);
  }
  plat::FileClose(file);
  if (bytes->size() > limit) bytes->resize(limit);
  return ok;
}

}  // namespace brixdev
