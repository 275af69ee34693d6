// A component library for tests on Windows: its registration export leaves
// a file "<own path>.registered" beside the library, proving it was called.
#include <windows.h>

#include <string>

namespace {
HMODULE self = nullptr;
}

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) self = instance;
  return TRUE;
}

extern "C" __declspec(dllexport) HRESULT WINAPI DllRegisterServer() {
  wchar_t path[MAX_PATH + 16];
  const DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return E_FAIL;
  const std::wstring target = std::wstring(path) + L".registered";
  const HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return E_FAIL;
  static const char kText[] = "registered\n";
  DWORD written = 0;
  const BOOL ok = WriteFile(file, kText, sizeof kText - 1, &written, nullptr);
  CloseHandle(file);
  return ok && written == sizeof kText - 1 ? S_OK : E_FAIL;
}
