#include "installer/launch.h"

#include <cstddef>

#include "installer/handles.h"
#include "installer/messages.h"
#include "platform/platform.h"
#include "platform/wstr.h"

namespace brixcopy {
namespace {

constexpr char16_t kCabInstaller[] = u"\\Windows\\wceload.exe";
constexpr char16_t kVbLoader[] = u"\\Windows\\pvbload.exe";
constexpr char16_t kFailedToRun[] = u"BrixCopy: failed to run: %s\r\nGetLastError returned: %d\r\n";

// Splits "program arguments" in place: entry keeps the program path, commandLine
// (260 units) gets the arguments. false, entry untouched, when a quoted program
// path has no closing double quote.
bool SplitCommandLine(char16_t* entry, char16_t* commandLine) {
  char16_t* open = wstr::Chr(entry, u'"');
  if (open == nullptr) {
    char16_t* space = wstr::Chr(entry, u' ');
    wstr::Copy(commandLine, kPathChars, space + 1);
    *space = 0;
    return true;
  }
  char16_t* close = wstr::Chr(open + 1, u'"');
  if (close == nullptr) return false;
  // The quote and one separator are skipped; a closing quote at the very end
  // leaves no arguments, and nothing past the text is read.
  wstr::Copy(commandLine, kPathChars, close[1] == 0 ? u"" : close + 2);
  *close = 0;
  // The first character (normally the opening quote) goes, the rest moves up.
  for (std::size_t i = 0; entry[i] != 0; ++i) entry[i] = entry[i + 1];
  return true;
}

// Starts application with commandLine (nullptr for none) and waits for it when asked;
// on failure writes failureFormat with what and the last-error code.
std::int32_t Start(const char16_t* application, const char16_t* commandLine, std::int32_t wait,
                   const char16_t* failureFormat, const char16_t* what) {
  ObjectHandle process(plat::ProcessStart(application, commandLine));
  if (!process) {
    plat::DebugPrint(failureFormat, what, plat::LastError());
    return 0;
  }
  if (wait != 0) plat::WaitObject(process.Get(), plat::kInfinite);
  return 1;
}

}  // namespace

std::int32_t RegisterDll(const char16_t* path) {
  LibraryHandle library(plat::LibraryLoad(path));
  if (!library) {
    plat::DebugPrint(u"BrixCopy: Failed to register file: %s\r\nGetLastError returned: %d\r\n",
                     path, plat::LastError());
    return 0;
  }
  const plat::ExportProc registerServer = plat::LibraryExport(library.Get(), u"DllRegisterServer");
  if (registerServer == nullptr) {
    plat::DebugPrint(u"BrixCopy: Failed to register file: %s\r\nGetLastError returned: %d\r\n",
                     path, plat::LastError());
    return 0;
  }
  // The export's own status is not examined: being called is what counts.
  registerServer();
  plat::DebugPrint(u"BrixCopy: Successfully registered %s\r\n", path);
  return 1;
}

std::int32_t IsCabFile(const char16_t* text) {
  return wstr::Str(text, u".cab") != nullptr || wstr::Str(text, u".CAB") != nullptr ? 1 : 0;
}

std::int32_t IsVbApp(const char16_t* text) {
  return wstr::Str(text, u".vb") != nullptr || wstr::Str(text, u".VB") != nullptr ? 1 : 0;
}

std::int32_t RunProgram(char16_t* entry, std::int32_t wait) {
  if (IsCabFile(entry) != 0) {
    plat::DebugPrint(u"BrixCopy: installing CAB '%s'\r\n", entry);
    return Start(kCabInstaller, entry, wait,
                 u"BrixCopy: install failed: %s\r\nGetLastError returned: %d\r\n", entry);
  }
  if (IsVbApp(entry) != 0) {
    plat::DebugPrint(u"BrixCopy: starting VB app '%s'\r\n", entry);
    return Start(kVbLoader, entry, wait, kFailedToRun, entry);
  }
  if (wstr::Chr(entry, u' ') == nullptr) {
    plat::DebugPrint(u"BrixCopy: starting app '%s'\r\n", entry);
    return Start(entry, nullptr, wait, kFailedToRun, entry);
  }
  char16_t commandLine[kPathChars] = {};
  if (!SplitCommandLine(entry, commandLine)) {
    plat::DebugPrint(u"BrixCopy: Invalid INF line: missing double quote\r\n");
    return 0;
  }
  plat::DebugPrint(u"BrixCopy: starting app '%s' with command line '%s'\r\n", entry, commandLine);
  return Start(entry, commandLine, wait, kFailedToRun, entry);
}

}  // namespace brixcopy
