// Device paths on a Windows host. The device has one file tree and no drive
// letters or current directory; on a Windows host that tree is the drive the
// program runs from. Pure text work: no OS header, testable on any host.
#pragma once

#include <cstddef>

namespace plat::win32 {

// Units of a host path buffer: a device path of up to 260 units plus a drive.
inline constexpr std::size_t kHostPathCapacity = 2 * 260 + 3;

// Writes drive + the device path taken from the root into out (capacity units).
// Leading backslashes collapse to one; a path without one is taken from the root.
// False (out untouched) when the result does not fit.
bool DeviceToHostPath(const char16_t* devicePath, const char16_t* drive, char16_t* out,
                      std::size_t capacity);

// Copies the drive ("X:") of a host path into out (3 units); "" when it has none.
void DriveOf(const char16_t* hostPath, char16_t out[3]);

// The device form of a host path on a drive: the text behind "X:", else the path itself.
const char16_t* WithoutDrive(const char16_t* hostPath);

}  // namespace plat::win32
