// Finds the installer's progress dialog among the top-level windows and
// prints what it shows, as UTF-8 lines on standard output:
//   dialog <client width>x<client height>
//   control <id> <text>          (one line per control, in creation order)
//   later <text of control 1000> (read again once it has changed)
// Window texts are read without messages (the installer runs no message loop).
//
//   dlgprobe.exe [SECONDS]   waits up to SECONDS (default 20) for the dialog;
//   exits with 1 when no dialog appeared, 2 when its dashes never changed.
#include <windows.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kDashesId = 1000;

void WriteOut(const std::wstring& text) {
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), out.data(), static_cast<DWORD>(out.size()), &written,
            nullptr);
}

std::wstring TextOf(HWND window) {
  wchar_t text[512];
  const int n = GetWindowTextW(window, text, 512);
  return std::wstring(text, n > 0 ? static_cast<std::size_t>(n) : 0);
}

BOOL CALLBACK FindDialog(HWND window, LPARAM found) {
  wchar_t name[64];
  if (GetClassNameW(window, name, 64) > 0 && std::wstring(name) == L"#32770" &&
      GetDlgItem(window, kDashesId) != nullptr) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

BOOL CALLBACK CollectChild(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const int seconds = argc > 1 ? std::wcstol(argv[1], nullptr, 10) : 20;
  const DWORD deadline = GetTickCount() + static_cast<DWORD>(seconds) * 1000;
  HWND dialog = nullptr;
  while (dialog == nullptr && GetTickCount() < deadline) {
    EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&dialog));
    if (dialog == nullptr) Sleep(50);
  }
  if (dialog == nullptr) return 1;
  RECT client{};
  GetClientRect(dialog, &client);
  WriteOut(L"dialog " + std::to_wstring(client.right - client.left) + L"x" +
           std::to_wstring(client.bottom - client.top) + L"\n");
  std::vector<HWND> children;
  EnumChildWindows(dialog, CollectChild, reinterpret_cast<LPARAM>(&children));
  for (HWND child : children) {
    WriteOut(L"control " + std::to_wstring(static_cast<short>(GetDlgCtrlID(child))) + L" " +
             TextOf(child) + L"\n");
  }
  const HWND dashes = GetDlgItem(dialog, kDashesId);
  const std::wstring first = TextOf(dashes);
  while (GetTickCount() < deadline && IsWindow(dashes)) {
    const std::wstring now = TextOf(dashes);
    if (now != first) {
      WriteOut(L"later " + now + L"\n");
      return 0;
    }
    Sleep(50);
  }
  return 2;
}
