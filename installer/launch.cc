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

// Splits "program arguments": program gets the program path, commandLine the
// arguments (both 260 units; entry fits them). false when a quoted program
// path has no closing double quote.
bool SplitCommandLine(const char16_t* entry, char16_t* program, char16_t* commandLine) {
  const char16_t* open = wstr::Chr(entry, u'"');
  if (open == nullptr) {
    const char16_t* space = wstr::Chr(entry, u' ');
    wstr::Copy(commandLine, kPathChars, space + 1);
    wstr::CopyN(program, kPathChars, entry, static_cast<std::size_t>(space - entry));
    return true;
  }
  const char16_t* close = wstr::Chr(open + 1, u'"');
  if (close == nullptr) return false;
  // The quote and one separator are skipped; a closing quote at the very end
  // leaves no arguments, and nothing past the text is read.
  wstr::Copy(commandLine, kPathChars, close[1] == 0 ? u"" : close + 2);
  // The first character (normally the opening quote) goes; the path ends at the closing quote.
  wstr::CopyN(program, kPathChars, entry + 1, static_cast<std::size_t>(close - entry - 1));
  return true;
}

// The first place of ".cab"/".CAB" (or ".vb"/".VB") in entry when the entry does not end in it:
// the text that goes to the CAB installer (VB loader) names more than the package.
const char16_t* InsideEntry(const char16_t* entry, const char16_t* lower, const char16_t* upper) {
  const std::size_t length = wstr::Len(entry);
  const std::size_t tail = wstr::Len(lower);
  if (length >= tail && (wstr::Cmp(entry + length - tail, lower) == 0 || wstr::Cmp(entry + length - tail, upper) == 0))
    return nullptr;
  const char16_t* first = wstr::Str(entry, lower);
  const char16_t* other = wstr::Str(entry, upper);
  return other != nullptr && (first == nullptr || other < first) ? other : first;
}

// What the split of a quoted program path drops: the entry's first unit when it
// is no double quote, and the unit behind the closing one when it is no blank.
void ReportQuoting(const char16_t* entry, LineObserver& observer) {
  const char16_t* open = wstr::Chr(entry, u'"');
  if (open == nullptr) return;
  if (open != entry) observer.Decided(Decision::kQuoteNotFirst, entry, 1);
  const char16_t* close = wstr::Chr(open + 1, u'"');
  if (close != nullptr && close[1] != 0 && close[1] != u' ') observer.Decided(Decision::kAfterQuoteSkipped, close + 1, 1);
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

bool PlanStart(const char16_t* entry, StartPlan* plan, LineObserver* observer) {
  *plan = StartPlan{};
  if (wstr::Len(entry) >= kPathChars) return false;
  if (IsCabFile(entry) != 0) {
    plan->kind = StartKind::kCabInstaller;
    wstr::Copy(plan->program, kPathChars, kCabInstaller);
    if (const char16_t* at = InsideEntry(entry, u".cab", u".CAB"); at != nullptr && observer != nullptr)
      observer->Decided(Decision::kCabInEntry, at, 4);
  } else if (IsVbApp(entry) != 0) {
    plan->kind = StartKind::kVbLoader;
    wstr::Copy(plan->program, kPathChars, kVbLoader);
    if (const char16_t* at = InsideEntry(entry, u".vb", u".VB"); at != nullptr && observer != nullptr)
      observer->Decided(Decision::kVbInEntry, at, 3);
  } else if (wstr::Chr(entry, u' ') == nullptr) {
    wstr::Copy(plan->program, kPathChars, entry);
    return true;
  } else {
    if (observer != nullptr) ReportQuoting(entry, *observer);
    if (!SplitCommandLine(entry, plan->program, plan->commandLine)) plan->kind = StartKind::kMissingQuote;
    plan->hasCommandLine = plan->kind != StartKind::kMissingQuote;
    return true;
  }
  // The CAB installer and the VB loader get the whole entry text, unchanged.
  wstr::Copy(plan->commandLine, kPathChars, entry);
  plan->hasCommandLine = true;
  return true;
}

std::int32_t RunProgram(const char16_t* entry, std::int32_t wait) {
  StartPlan plan;
  if (!PlanStart(entry, &plan)) {
    plat::DebugPrint(kFailedToRun, entry, kErrorFilenameTooLong);
    return 0;
  }
  const char16_t* commandLine = plan.hasCommandLine ? plan.commandLine : nullptr;
  switch (plan.kind) {
    case StartKind::kCabInstaller:
      plat::DebugPrint(u"BrixCopy: installing CAB '%s'\r\n", entry);
      return Start(plan.program, commandLine, wait,
                   u"BrixCopy: install failed: %s\r\nGetLastError returned: %d\r\n", entry);
    case StartKind::kVbLoader:
      plat::DebugPrint(u"BrixCopy: starting VB app '%s'\r\n", entry);
      return Start(plan.program, commandLine, wait, kFailedToRun, entry);
    case StartKind::kMissingQuote:
      plat::DebugPrint(u"BrixCopy: Invalid INF line: missing double quote\r\n");
      return 0;
    case StartKind::kProgram:
      break;
  }
  if (commandLine == nullptr) {
    plat::DebugPrint(u"BrixCopy: starting app '%s'\r\n", entry);
  } else {
    plat::DebugPrint(u"BrixCopy: starting app '%s' with command line '%s'\r\n", plan.program,
                     commandLine);
  }
  return Start(plan.program, commandLine, wait, kFailedToRun, plan.program);
}

}  // namespace brixcopy
