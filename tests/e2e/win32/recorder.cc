// A stand-in for a device program on Windows (the CAB installer, the VB
// loader, any started application): it records the command line it received
// (the text behind its own name) as UTF-8 in "<own path>.cmdline". A program
// whose name begins with "slow" sleeps a second first, so that a waiting
// caller can be told from one that does not wait.
#include <windows.h>

#include <cwchar>
#include <string>

namespace {

std::string Utf8(const wchar_t* text) {
  const int length = static_cast<int>(std::wcslen(text));
  if (length == 0) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), bytes, nullptr, nullptr);
  return out;
}

}  // namespace

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR commandLine, int) {
  wchar_t self[MAX_PATH + 16];
  const DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (n == 0 || n >= MAX_PATH) return 1;
  const wchar_t* slash = std::wcsrchr(self, L'\\');
  const wchar_t* base = slash != nullptr ? slash + 1 : self;
  if (std::wcsncmp(base, L"slow", 4) == 0) Sleep(1000);
  const std::wstring target = std::wstring(self) + L".cmdline";
  const HANDLE file = CreateFileW(target.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return 1;
  const std::string text = Utf8(commandLine != nullptr ? commandLine : L"");
  DWORD written = 0;
  const BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(file);
  return ok && written == text.size() ? 0 : 1;
}
