// The simulated device: the folder named by BRIX_DEVICE, whose fs/ subfolder is
// the device's root "\", and the mapping of device paths onto host paths below it.
// Every device path is opened beneath the root without following a symbolic link.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/posix/beneath.h"

namespace plat::posix {

// Name of the environment variable that names the device folder.
inline constexpr const char* kDeviceVariable = "BRIX_DEVICE";

// The open folders of a device.
struct Device {
  std::string folder;  // canonical absolute host path of the device folder
  Fd dir;              // the device folder
  Fd root;             // its fs/ subfolder, the device root "\" (never a link)
};

// The device named by BRIX_DEVICE, opened once per setting; nullptr when there is none.
std::shared_ptr<const Device> OpenDevice();
// The device named by BRIX_DEVICE, or nullptr with why not (one line, the host's
// reason included) in *problem; asking once keeps the two from different attempts.
std::shared_ptr<const Device> OpenDevice(std::string* problem);
// Why BRIX_DEVICE names no usable device, in one line; empty when it names one.
std::string DeviceProblem();
// The device folder as a canonical absolute host path; empty when there is no device.
std::string DeviceFolder();
// The host folder of the device root "\" (DeviceFolder() + "/fs"); empty when there is no device.
std::string DeviceRoot();
// Opens the folder for simulator state (DIR/run), created for every user when missing;
// -1 with a device error in *error on failure (a link is refused).
int OpenRunFolder(const Device& device, std::uint32_t* error);

// A device path mapped below the device root: the folder holding it, open
// beneath the root, and its last element.
struct HostPath {
  std::shared_ptr<const Device> device;
  std::string relative;            // below the root, '/'-separated, in its host spelling; empty for the root
  std::string name;                // the last element in its host spelling; empty for the root
  std::string folderHost;          // the full host path of the folder holding it
  SharedFd parent;                 // the folder holding it (O_PATH); none for the root or when unreachable
  int parentErrno = 0;             // why the folder is unreachable (ENOENT, ENOTDIR, ELOOP, ...)
  struct stat parentNow {};        // the folder's status as it was checked, when parentChecked
  bool parentChecked = false;
  bool trailingSeparator = false;  // the device path ended in a separator after a name
  bool nameSettled = true;         // false: name is as written, its spelling not yet looked up
  int nameErrno = 0;               // why the folder could not be read to settle the spelling, 0 when it could
  // The full host path, for messages and folder listings.
  std::string Full() const;
};

// Maps a device path below the device root; 0 or a device error code
// (3 no device or empty path, 123 forbidden character, 206 name too long).
// With settleName false the last element keeps its spelling as written, for an
// opener that tries it first and calls SettleName when it is missing.
std::uint32_t MapPath(const char16_t* devicePath, HostPath* hostPath, bool settleName = true);
// Looks up the host spelling of the last element of a path mapped without it;
// true when the spelling differs from the one tried.
bool SettleName(HostPath* path);
// Like MapPath, but the last element is not resolved and may hold * and ?: yields the
// mapped folder and the last element in UTF-8.
std::uint32_t MapPattern(const char16_t* devicePattern, HostPath* folder, std::string* lastElement);

// Opens a mapped path beneath the root without following links; -1 with errno (ELOOP for a link).
int OpenMapped(const HostPath& path, int flags, mode_t mode = 0);
// The device error for errno from a failed operation on path: 1921 for a link (recorded
// as a diagnostic), 2 or 3 for a missing name, else the closest device error.
std::uint32_t PathError(const HostPath& path, int err);
// The error for opening a file by a path ending in a separator: 5 for a folder, 3 when
// the folder above is missing, 123 otherwise.
std::uint32_t TrailingSeparatorError(const HostPath& path);

// Records that this process created the entry at path, keeping the folder listings used for case-insensitive lookups current.
void NoteCreated(const HostPath& path);
// The device path ("\Windows\x.exe") of a host path inside the device root; false when it lies outside.
bool DevicePathOf(const std::string& hostPath, std::u16string* devicePath);

// ASCII case-insensitive three-way comparison of two names, ties broken byte by byte.
int CompareNames(std::string_view a, std::string_view b);
// True when the two names are equal ignoring ASCII case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace plat::posix
