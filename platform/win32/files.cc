// Files, directory search and directories on the program's drive.
#include "platform/backend.h"
#include "platform/win32/host.h"
#include "platform/wstr.h"

namespace plat::win32 {

const char16_t* ProgramDrive() {
  // The module path does not change while the program runs: read it once.
  static const struct Drive {
    char16_t text[3] = {0, 0, 0};
    Drive() {
      wchar_t path[kHostPathCapacity];
      const DWORD length = GetModuleFileNameW(nullptr, path, kHostPathCapacity);
      if (length > 0 && length < kHostPathCapacity) DriveOf(reinterpret_cast<char16_t*>(path), text);
    }
  } drive;
  return drive.text;
}

HostPath::HostPath(const char16_t* devicePath)
    : ok_(DeviceToHostPath(devicePath, ProgramDrive(), text_, kHostPathCapacity)) {
  if (!ok_) {
    text_[0] = 0;
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
  }
}

}  // namespace plat::win32

namespace plat {

using win32::HostPath;
using win32::ToHandle;
using win32::ToOpaque;

File* backend::OpenFile(const char16_t* path, Access access, Disposition disposition, Share share) {
  const HostPath host(path);
  if (!host.ok()) return nullptr;
  DWORD desired = GENERIC_READ;
  if (access == Access::Write) desired = GENERIC_WRITE;
  if (access == Access::ReadWrite) desired = GENERIC_READ | GENERIC_WRITE;
  const DWORD shareMode = share == Share::ReadWrite ? FILE_SHARE_READ | FILE_SHARE_WRITE : 0;
  const DWORD creation = disposition == Disposition::CreateAlways ? CREATE_ALWAYS : OPEN_EXISTING;
  const HANDLE file =
      CreateFileW(host.get(), desired, shareMode, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : ToOpaque<File>(file);
}

bool backend::SeekToStart(File* file) {
  // SetFilePointer reports failure as INVALID_SET_FILE_POINTER together with a
  // last error; the same value is a valid position only for files beyond 4 GiB.
  SetLastError(NO_ERROR);
  const DWORD position = SetFilePointer(ToHandle(file), 0, nullptr, FILE_BEGIN);
  return position != INVALID_SET_FILE_POINTER || GetLastError() == NO_ERROR;
}

bool FileRead(File* file, void* buffer, std::uint32_t n, std::uint32_t* got) {
  DWORD count = 0;
  const BOOL ok = ReadFile(ToHandle(file), buffer, n, &count, nullptr);
  *got = count;
  return ok != FALSE;
}

bool FileWrite(File* file, const void* buffer, std::uint32_t n, std::uint32_t* written) {
  DWORD count = 0;
  const BOOL ok = WriteFile(ToHandle(file), buffer, n, &count, nullptr);
  *written = count;
  return ok != FALSE;
}

bool FileClose(File* file) { return CloseHandle(ToHandle(file)) != FALSE; }

namespace {

bool IsDotEntry(const wchar_t* name) {
  return name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0));
}

// Copies one search result, normalising its attributes to directory or normal file.
bool Fill(const WIN32_FIND_DATAW& found, FindData* data) {
  if (!wstr::Copy(data->name, kMaxPath, reinterpret_cast<const char16_t*>(found.cFileName))) {
    return false;
  }
  data->attributes = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0
                         ? FILE_ATTRIBUTE_DIRECTORY
                         : FILE_ATTRIBUTE_NORMAL;
  return true;
}

// Advances past "." and ".." (a desktop host lists them; the device never does).
bool NextReal(HANDLE search, WIN32_FIND_DATAW* found) {
  while (IsDotEntry(found->cFileName)) {
    if (!FindNextFileW(search, found)) return false;
  }
  return true;
}

}  // namespace

Find* FindFirst(const char16_t* pattern, FindData* data) {
  const HostPath host(pattern);
  if (!host.ok()) return nullptr;
  WIN32_FIND_DATAW found;
  const HANDLE search = FindFirstFileW(host.get(), &found);
  if (search == INVALID_HANDLE_VALUE) return nullptr;
  if (!NextReal(search, &found)) {
    FindClose(search);
    SetLastError(ERROR_FILE_NOT_FOUND);
    return nullptr;
  }
  Fill(found, data);
  return ToOpaque<Find>(search);
}

bool FindNextMatch(Find* find, FindData* data) {
  WIN32_FIND_DATAW found;
  if (!FindNextFileW(ToHandle(find), &found)) return false;
  if (!NextReal(ToHandle(find), &found)) return false;
  return Fill(found, data);
}

bool FindEnd(Find* find) { return FindClose(ToHandle(find)) != FALSE; }

bool FileDelete(const char16_t* path) {
  const HostPath host(path);
  return host.ok() && DeleteFileW(host.get()) != FALSE;
}

bool MakeDirectory(const char16_t* path) {
  const HostPath host(path);
  return host.ok() && CreateDirectoryW(host.get(), nullptr) != FALSE;
}

}  // namespace plat
