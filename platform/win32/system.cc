// Debug output, last error, modules, processes, threads, mutex and registry
// on Win32, through calls that the device's core library also offers.
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/win32/host.h"
#include "platform/wstr.h"

namespace plat {

using win32::HostPath;
using win32::ToHandle;
using win32::ToOpaque;
using win32::Wide;

void DebugOutput(const char16_t* text) {
  // A message must not change the error code that the next message reports.
  const DWORD error = GetLastError();
  OutputDebugStringW(Wide(text));
  SetLastError(error);
}

std::uint32_t LastError() { return GetLastError(); }

void SetLastErrorCode(std::uint32_t code) { SetLastError(code); }

std::uint32_t ModuleFileName(char16_t* buffer, std::uint32_t capacity) {
  wchar_t host[win32::kHostPathCapacity];
  const DWORD length = GetModuleFileNameW(nullptr, host, win32::kHostPathCapacity);
  if (length == 0) return 0;
  if (length >= win32::kHostPathCapacity) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  // The program sees the device's view: its drive is the device root.
  const char16_t* device = win32::WithoutDrive(reinterpret_cast<const char16_t*>(host));
  if (!wstr::Copy(buffer, capacity, device)) {
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    return 0;
  }
  return static_cast<std::uint32_t>(wstr::Len(buffer));
}

Module* LibraryLoad(const char16_t* path) {
  const HostPath host(path);
  if (!host.ok()) return nullptr;
  return ToOpaque<Module>(LoadLibraryW(host.get()));
}

ExportProc LibraryExport(Module* library, const char16_t* name) {
  // Export names are ASCII; the desktop lookup takes them as bytes (the
  // device has a wide lookup). A name that is not ASCII cannot be exported.
  char narrow[256];
  std::size_t i = 0;
  for (; name[i] != 0; ++i) {
    if (name[i] > 0x7F || i + 1 >= sizeof narrow) {
      SetLastError(ERROR_PROC_NOT_FOUND);
      return nullptr;
    }
    narrow[i] = static_cast<char>(name[i]);
  }
  narrow[i] = 0;
  const FARPROC proc = GetProcAddress(static_cast<HMODULE>(ToHandle(library)), narrow);
  // Through void(*)(): the one function pointer type that converts to any other without warning.
  return reinterpret_cast<ExportProc>(reinterpret_cast<void (*)()>(proc));
}

bool LibraryFree(Module* library) {
  return FreeLibrary(static_cast<HMODULE>(ToHandle(library))) != FALSE;
}

Object* ProcessStart(const char16_t* application, const char16_t* commandLine) {
  const HostPath host(application);
  if (!host.ok()) return nullptr;
  // The device hands the child the command line as given; a desktop child
  // takes the text behind its own name, so the name goes in front.
  std::wstring line = L"\"";
  line += host.get();
  line += L"\"";
  if (commandLine != nullptr) {
    line += L" ";
    line += Wide(commandLine);
  }
  // The desktop requires startup information; the device takes none (it must
  // be null there), nor security attributes, environment or directory.
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(host.get(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    return nullptr;
  }
  CloseHandle(process.hThread);
  return ToOpaque<Object>(process.hProcess);
}

std::uint32_t WaitObject(Object* object, std::uint32_t timeoutMs) {
  return WaitForSingleObject(ToHandle(object), timeoutMs);
}

bool ObjectClose(Object* object) { return CloseHandle(ToHandle(object)) != FALSE; }

namespace {

struct ThreadStartInfo {
  ThreadProc proc;
  void* parameter;
};

DWORD WINAPI ThreadTrampoline(LPVOID raw) {
  const std::unique_ptr<ThreadStartInfo> info(static_cast<ThreadStartInfo*>(raw));
  const ThreadProc proc = info->proc;
  void* const parameter = info->parameter;
  return proc(parameter);
}

}  // namespace

Object* ThreadStart(ThreadProc proc, void* parameter) {
  auto info = std::make_unique<ThreadStartInfo>(ThreadStartInfo{proc, parameter});
  const HANDLE thread = CreateThread(nullptr, 0, ThreadTrampoline, info.get(), 0, nullptr);
  if (thread == nullptr) return nullptr;
  info.release();  // the thread owns it now
  return ToOpaque<Object>(thread);
}

Object* MutexCreateNamed(const char16_t* name, bool initiallyOwned) {
  // Only an existing name may leave 183 behind, never an earlier call.
  SetLastError(NO_ERROR);
  return ToOpaque<Object>(CreateMutexW(nullptr, initiallyOwned ? TRUE : FALSE, Wide(name)));
}

namespace {

HKEY ToHkey(RegKey key) {
  switch (key) {
    case kHkeyClassesRoot: return HKEY_CLASSES_ROOT;
    case kHkeyCurrentUser: return HKEY_CURRENT_USER;
    case kHkeyLocalMachine: return HKEY_LOCAL_MACHINE;
    default: return reinterpret_cast<HKEY>(key);
  }
}

// A failing registry call reports its result; the device also leaves it as the last error.
std::int32_t Result(LONG result) {
  if (result != ERROR_SUCCESS) SetLastError(static_cast<DWORD>(result));
  return result;
}

}  // namespace

std::int32_t RegKeyCreate(RegKey root, const char16_t* subKey, std::uint32_t access, RegKey* key,
                          std::uint32_t* disposition) {
  // The device ignores the access mask (it has no registry security); the
  // desktop grants what it asks for.
  HKEY created = nullptr;
  DWORD how = 0;
  const LONG result = RegCreateKeyExW(ToHkey(root), Wide(subKey), 0, nullptr, 0, access, nullptr,
                                      &created, &how);
  *key = reinterpret_cast<RegKey>(created);
  if (disposition != nullptr) *disposition = how;
  return Result(result);
}

std::int32_t RegValueSet(RegKey key, const char16_t* name, std::uint32_t type, const void* data,
                         std::uint32_t size) try {
  const bool text = type == REG_SZ || type == REG_EXPAND_SZ || type == REG_MULTI_SZ;
  if (!text || data == nullptr || size == 0)
    return Result(RegSetValueExW(ToHkey(key), Wide(name), 0, type, static_cast<const BYTE*>(data), size));
  // The desktop adds a terminator to text whose last unit is not zero when the
  // unit behind the data happens to be zero (it reads it, and the unit before
  // the data for a single byte); the device stores exactly what it is given.
  // The data goes from a copy framed by bytes that are never zero, so that
  // both store the bytes the script gave.
  std::vector<BYTE> framed(size + 5, 0xFF);
  std::memcpy(framed.data() + 2, data, size);
  return Result(RegSetValueExW(ToHkey(key), Wide(name), 0, type, framed.data() + 2, size));
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<std::int32_t>(ERROR_NOT_ENOUGH_MEMORY));
}

std::int32_t RegKeyClose(RegKey key) { return Result(RegCloseKey(ToHkey(key))); }

}  // namespace plat
