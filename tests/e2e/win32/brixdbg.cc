// Runs a program under the Win32 debugging interface and writes everything it
// and the programs it starts send to the debug output, as UTF-8, to standard
// output. Exits with the program's exit code once every debugged process has
// ended, so that output of programs started without waiting is complete too.
//
//   brixdbg.exe APPLICATION [COMMANDLINE]
//
// The program receives COMMANDLINE as the text behind its own name, the way
// the device hands a started program its command line.
#include <windows.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Raised by OutputDebugStringW on hosts that hand wide text to debuggers.
constexpr DWORD kPrintExceptionWide = 0x4001000A;
// Raised for narrow (or narrowed) debug text.
constexpr DWORD kPrintExceptionNarrow = 0x40010006;

void WriteOut(const std::string& bytes) {
  const HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  std::size_t done = 0;
  while (done < bytes.size()) {
    DWORD written = 0;
    if (!WriteFile(out, bytes.data() + done, static_cast<DWORD>(bytes.size() - done), &written,
                   nullptr) ||
        written == 0) {
      return;
    }
    done += written;
  }
}

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  const int bytes = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(bytes), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), bytes,
                      nullptr, nullptr);
  return out;
}

// Reads units of text from the debugged process, up to its terminator.
template <typename Unit>
std::vector<Unit> ReadText(HANDLE process, const void* address, std::size_t units) {
  std::vector<Unit> text(units);
  SIZE_T got = 0;
  if (units == 0 ||
      !ReadProcessMemory(process, address, text.data(), units * sizeof(Unit), &got)) {
    return {};
  }
  text.resize(got / sizeof(Unit));
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == 0) {
      text.resize(i);
      break;
    }
  }
  return text;
}

void EmitWide(HANDLE process, const void* address, std::size_t units) {
  const auto text = ReadText<wchar_t>(process, address, units);
  WriteOut(ToUtf8(std::wstring(text.begin(), text.end())));
}

void EmitNarrow(HANDLE process, const void* address, std::size_t bytes) {
  const auto text = ReadText<char>(process, address, bytes);
  if (text.empty()) return;
  const int units = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()),
                                        nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(units), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), units);
  WriteOut(ToUtf8(wide));
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2 || argc > 3) {
    WriteOut("usage: brixdbg.exe APPLICATION [COMMANDLINE]\n");
    return 125;
  }
  std::wstring line = L"\"" + std::wstring(argv[1]) + L"\"";
  if (argc == 3) line += L" " + std::wstring(argv[2]);
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(argv[1], line.data(), nullptr, nullptr, FALSE, DEBUG_PROCESS, nullptr, nullptr,
                      &startup, &started)) {
    return 126;
  }
  CloseHandle(started.hThread);

  std::map<DWORD, HANDLE> processes;  // live debugged processes by id
  std::map<DWORD, bool> sawBreakpoint;
  DWORD exitCode = 127;
  bool mainEnded = false;
  for (;;) {
    DEBUG_EVENT event{};
    if (!WaitForDebugEvent(&event, INFINITE)) break;
    DWORD status = DBG_CONTINUE;
    switch (event.dwDebugEventCode) {
      case CREATE_PROCESS_DEBUG_EVENT:
        processes[event.dwProcessId] = event.u.CreateProcessInfo.hProcess;
        if (event.u.CreateProcessInfo.hFile != nullptr) CloseHandle(event.u.CreateProcessInfo.hFile);
        break;
      case LOAD_DLL_DEBUG_EVENT:
        if (event.u.LoadDll.hFile != nullptr) CloseHandle(event.u.LoadDll.hFile);
        break;
      case EXIT_PROCESS_DEBUG_EVENT:
        processes.erase(event.dwProcessId);
        if (event.dwProcessId == started.dwProcessId) {
          exitCode = event.u.ExitProcess.dwExitCode;
          mainEnded = true;
        }
        break;
      case OUTPUT_DEBUG_STRING_EVENT: {
        const auto& info = event.u.DebugString;
        const HANDLE process = processes[event.dwProcessId];
        if (info.fUnicode) {
          EmitWide(process, info.lpDebugStringData, info.nDebugStringLength);
        } else {
          EmitNarrow(process, info.lpDebugStringData, info.nDebugStringLength);
        }
        break;
      }
      case EXCEPTION_DEBUG_EVENT: {
        const EXCEPTION_RECORD& record = event.u.Exception.ExceptionRecord;
        if (record.ExceptionCode == kPrintExceptionWide && record.NumberParameters >= 2) {
          // Taking the wide text here keeps it from being narrowed to the code page.
          EmitWide(processes[event.dwProcessId],
                   reinterpret_cast<const void*>(record.ExceptionInformation[1]),
                   record.ExceptionInformation[0]);
        } else if (record.ExceptionCode == kPrintExceptionNarrow && record.NumberParameters >= 2) {
          EmitNarrow(processes[event.dwProcessId],
                     reinterpret_cast<const void*>(record.ExceptionInformation[1]),
                     record.ExceptionInformation[0]);
        } else if (record.ExceptionCode == EXCEPTION_BREAKPOINT && !sawBreakpoint[event.dwProcessId]) {
          sawBreakpoint[event.dwProcessId] = true;  // the loader's initial break
        } else {
          status = DBG_EXCEPTION_NOT_HANDLED;
        }
        break;
      }
      default:
        break;
    }
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    if (mainEnded && processes.empty()) break;
  }
  CloseHandle(started.hProcess);
  return static_cast<int>(exitCode);
}
