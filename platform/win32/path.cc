#include "platform/win32/path.h"

#include "platform/wstr.h"

namespace plat::win32 {

namespace {

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool HasDrive(const char16_t* path) { return IsDriveLetter(path[0]) && path[1] == u':'; }

}  // namespace

bool DeviceToHostPath(const char16_t* devicePath, const char16_t* drive, char16_t* out,
                      std::size_t capacity) {
  // A run of leading backslashes is the root, never a network name: on the
  // device "\\\\Windows" names the same folder as "\\Windows", and a host
  // lookup of a server called Windows must never happen.
  const char16_t* rest = devicePath;
  while (*rest == u'\\') ++rest;
  const std::size_t driveLength = wstr::Len(drive);
  const std::size_t restLength = wstr::Len(rest);
  const std::size_t total = driveLength + 1 + restLength;
  if (total + 1 > capacity) return false;
  for (std::size_t i = 0; i < driveLength; ++i) out[i] = drive[i];
  out[driveLength] = u'\\';
  for (std::size_t i = 0; i < restLength; ++i) out[driveLength + 1 + i] = rest[i];
  out[total] = 0;
  return true;
}

void DriveOf(const char16_t* hostPath, char16_t out[3]) {
  if (HasDrive(hostPath)) {
    out[0] = hostPath[0];
    out[1] = u':';
    out[2] = 0;
  } else {
    out[0] = 0;
  }
}

const char16_t* WithoutDrive(const char16_t* hostPath) {
  return HasDrive(hostPath) ? hostPath + 2 : hostPath;
}

}  // namespace plat::win32
