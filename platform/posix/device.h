// The simulated device: the folder named by BRIX_DEVICE, whose fs/ subfolder is
// the device's root "\", and the mapping of device paths onto host paths below it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace plat::posix {

// Name of the environment variable that names the device folder.
inline constexpr const char* kDeviceVariable = "BRIX_DEVICE";

// The device folder as a canonical absolute host path; empty when BRIX_DEVICE is unset or names no folder holding fs/.
std::string DeviceFolder();
// The host folder of the device root "\" (DeviceFolder() + "/fs"); empty when there is no device.
std::string DeviceRoot();
// The folder for simulator state that is not device content (DeviceFolder() + "/run"), created when missing; empty on failure.
std::string RunFolder();

// Maps a device path to a host path below the device root; 0 or a device error code
// (3 no device or empty path, 123 forbidden character, 206 name too long).
std::uint32_t MapPath(const char16_t* devicePath, std::string* hostPath);
// Like MapPath, but the last element is not resolved and may hold * and ?: yields the
// mapped folder and the last element in UTF-8.
std::uint32_t MapPattern(const char16_t* devicePattern, std::string* hostFolder, std::string* lastElement);

// Records that this process created the entry at hostPath, keeping the folder listings used for case-insensitive lookups current.
void NoteCreated(const std::string& hostPath);
// The error for a host path that does not exist: 2 when its folder exists, else 3.
std::uint32_t MissingError(const std::string& hostPath);
// The device path ("\Windows\x.exe") of a host path inside the device root; false when it lies outside.
bool DevicePathOf(const std::string& hostPath, std::u16string* devicePath);

// ASCII case-insensitive three-way comparison of two names, ties broken byte by byte.
int CompareNames(std::string_view a, std::string_view b);
// True when the two names are equal ignoring ASCII case.
bool SameNameIgnoringCase(std::string_view a, std::string_view b);

}  // namespace plat::posix
