// Helpers shared by the Win32 backend files: text and handle conversions
// between the platform interface and the wide-character Win32 API.
#pragma once

#include <windows.h>

#include "platform/platform.h"
#include "platform/win32/path.h"

namespace plat::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "Win32 wide text is UTF-16");

inline const wchar_t* Wide(const char16_t* text) { return reinterpret_cast<const wchar_t*>(text); }
inline wchar_t* Wide(char16_t* text) { return reinterpret_cast<wchar_t*>(text); }

// Handles travel through the platform interface as opaque pointers.
template <typename Opaque>
Opaque* ToOpaque(HANDLE handle) {
  return reinterpret_cast<Opaque*>(handle);
}
template <typename Opaque>
HANDLE ToHandle(Opaque* opaque) {
  return reinterpret_cast<HANDLE>(opaque);
}

// The drive the running program was started from ("X:"), or "" when it has none.
const char16_t* ProgramDrive();

// A device path converted to the host path on the program's drive.
class HostPath {
 public:
  explicit HostPath(const char16_t* devicePath);
  // False when the path was too long; the last error is then ERROR_FILENAME_EXCED_RANGE.
  bool ok() const { return ok_; }
  const wchar_t* get() const { return Wide(text_); }

 private:
  char16_t text_[kHostPathCapacity];
  bool ok_;
};

}  // namespace plat::win32
