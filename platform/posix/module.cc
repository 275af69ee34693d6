// Module path and library loading of the device simulator. A device library is
// a host shared library placed in the device folder.
#include "platform/posix/module.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string_view>

#include "platform/backend.h"
#include "platform/posix/device.h"
#include "platform/posix/error.h"
#include "platform/posix/text.h"
#include "platform/wstr.h"

namespace plat {
namespace posix {

Module* InstanceModule() {
  static Module instance;
  return &instance;
}

bool ProgramDevicePath(std::u16string* devicePath, std::string* problem) {
  if (OpenDevice(problem) == nullptr) return false;
  char exe[PATH_MAX];
  if (realpath("/proc/self/exe", exe) == nullptr) {
    *problem = "cannot resolve /proc/self/exe";
    return false;
  }
  if (!DevicePathOf(exe, devicePath)) {
    *problem = std::string("the program ") + exe + " does not lie inside the device root " + DeviceRoot();
    return false;
  }
  return true;
}

}  // namespace posix

namespace {

// The device error of a failed dlopen(): 193 (not a library) unless the
// loader could not read or map the file, which it says only in its message,
// ending in the text of the host error.
std::uint32_t LoadError(const char* message) {
  if (message == nullptr) return kErrorBadExeFormat;
  const std::string_view text(message);
  for (const int err : {EIO, ENOMEM, EACCES, EPERM, ENFILE, EMFILE, EAGAIN, ENOSPC, EFBIG}) {
    const std::string_view reason(std::strerror(err));
    if (text.size() > reason.size() + 2 && text.substr(text.size() - reason.size()) == reason &&
        text.substr(text.size() - reason.size() - 2, 2) == ": ")
      return posix::ErrorFromErrno(err);
  }
  return kErrorBadExeFormat;
}

}  // namespace

std::uint32_t ModuleFileName(char16_t* buffer, std::uint32_t capacity) try {
  std::u16string path;
  std::string problem;
  if (!posix::ProgramDevicePath(&path, &problem)) {
    SetLastErrorCode(kErrorPathNotFound);
    return 0;
  }
  // The device would truncate; a truncated path names the wrong file, so refuse instead.
  if (buffer == nullptr || !wstr::Copy(buffer, capacity, path.c_str())) {
    SetLastErrorCode(posix::kErrorInsufficientBuffer);
    return 0;
  }
  return static_cast<std::uint32_t>(path.size());
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(std::uint32_t{0});
}

Module* LibraryLoad(const char16_t* path) try {
  posix::HostPath host;
  if (const std::uint32_t error = posix::MapPath(path, &host); error != 0) {
    SetLastErrorCode(error == kErrorPathNotFound ? kErrorModNotFound : error);
    return nullptr;
  }
  posix::Fd file(posix::OpenMapped(host, O_RDONLY | O_NONBLOCK));
  if (!file) {
    const int err = errno;
    SetLastErrorCode(err == ENOENT || err == ENOTDIR ? kErrorModNotFound : posix::PathError(host, err));
    return nullptr;
  }
  struct stat st {};
  if (fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode)) {
    SetLastErrorCode(kErrorAccessDenied);
    return nullptr;
  }
  // Loaded by its path, just checked to hold no link: a library finds its own
  // file by the name it was loaded with, which a descriptor's name would hide.
  void* library = dlopen(host.Full().c_str(), RTLD_NOW | RTLD_LOCAL);
  if (library == nullptr) {
    SetLastErrorCode(LoadError(dlerror()));
    return nullptr;
  }
  return new Module{library};
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<Module*>(nullptr));
}

ExportProc LibraryExport(Module* library, const char16_t* name) try {
  if (library == nullptr || library->library == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return nullptr;
  }
  std::string symbol;
  if (name == nullptr || !posix::ToUtf8(name, &symbol)) {
    SetLastErrorCode(kErrorProcNotFound);
    return nullptr;
  }
  void* address = dlsym(library->library, symbol.c_str());
  if (address == nullptr) {
    SetLastErrorCode(kErrorProcNotFound);
    return nullptr;
  }
  return reinterpret_cast<ExportProc>(address);
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<ExportProc>(nullptr));
}

bool LibraryFree(Module* library) {
  if (library == nullptr || library->library == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  const int closed = dlclose(library->library);
  delete library;
  if (closed != 0) {
    SetLastErrorCode(posix::kErrorGenFailure);
    return false;
  }
  return true;
}

}  // namespace plat
