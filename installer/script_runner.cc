#include "installer/script_runner.h"

#include <cstddef>

#include "installer/file_ops.h"
#include "installer/handles.h"
#include "installer/inf_line.h"
#include "installer/launch.h"
#include "installer/line_rules.h"
#include "installer/wildcard_copy.h"
#include "platform/platform.h"
#include "platform/wstr.h"

namespace brixcopy {
namespace {

// The two paths the worker derives before the first line, written by it only;
// the line parser and the wildcard copy are handed the package directory.
char16_t g_packageDir[kPathChars];
char16_t g_scriptPath[kPathChars];

constexpr std::uintptr_t kWaitCursor = 32514;
constexpr char16_t kPackageName[] = u"\\BrixCopy";
constexpr char16_t kScriptName[] = u"\\BrixCopy.inf";

// Sets the package directory: the executable's directory with "\BrixCopy";
// when that directory is the bare root "\", the separator is not doubled.
// false, leaving it empty, when it does not fit.
bool ComposePackageDir(const char16_t* moduleDir) {
  const bool root = wstr::Cmp(moduleDir, u"\\") == 0;
  if (wstr::Copy(g_packageDir, kPathChars, root ? u"" : moduleDir) &&
      wstr::Cat(g_packageDir, kPathChars, kPackageName))
    return true;
  g_packageDir[0] = 0;
  return false;
}

// Sets the script path below the package directory; false, leaving it empty, when it does not fit.
bool ComposeScriptPath() {
  if (wstr::Copy(g_scriptPath, kPathChars, g_packageDir) &&
      wstr::Cat(g_scriptPath, kPathChars, kScriptName))
    return true;
  g_scriptPath[0] = 0;
  return false;
}

// What the package directory would be, printed whole from its parts when it
// does not fit its buffer, so that the message names it without cutting it.
void PrintCopyingFrom(bool packageFits, const char16_t* moduleDir) {
  if (packageFits) {
    plat::DebugPrint(u"Copying files from %s\r\n", g_packageDir);
  } else {
    plat::DebugPrint(u"Copying files from %s%s\r\n", moduleDir, kPackageName);
  }
}

// Carries out one parsed line; false when the line turns out malformed.
bool CarryOut(const char16_t* line, char16_t* source, const char16_t* destination,
              const char16_t* options, bool resolved) {
  switch (ActionOf(options)) {
    case LineAction::kRegister:
      RegisterDll(source);
      return true;
    case LineAction::kRun:
      RunProgram(source, 0);
      return true;
    case LineAction::kRunAndWait:
      RunProgram(source, 1);
      return true;
    case LineAction::kCopy:
      break;
  }

  const bool wildcard = IsWildcardSource(source);
  WildcardPlan plan;
  // Every path of a wildcard line is composed before anything is done, so
  // that a line whose paths do not fit is reported before it acts.
  if (wildcard && !PlanWildcardCopy(g_packageDir, source, destination, resolved, &plan)) {
    plat::DebugPrint(u"BrixCopy: Invalid INF line (path too long):\r\n%s\r\n", line);
    return false;
  }
  plat::DebugPrint(u"BrixCopy: Copying from '%s'\r\nBrixCopy:          to '%s'\r\n", source,
                   destination);
  if (wildcard) {
    CreatePath(plan.targetDir);
    RunWildcardCopy(plan, source);
  } else {
    CreatePath(destination);
    CopyOneFile(source, destination);
  }
  return true;
}

}  // namespace

const char16_t* PackageDir() { return g_packageDir; }

const char16_t* ScriptPath() { return g_scriptPath; }

void GetModuleDir(char16_t* dir) {
  char16_t path[kPathChars] = {};
  const std::uint32_t length = plat::ModuleFileName(path, kPathChars);
  if (length == 0 || length >= kPathChars) path[0] = 0;
  path[kPathChars - 1] = 0;
  char16_t* slash = wstr::RChr(path, u'\\');
  if (slash == nullptr) {
    wstr::Copy(dir, kPathChars, u"\\");
    return;
  }
  *slash = 0;
  wstr::Copy(dir, kPathChars, path);
}

std::uint32_t CopyThreadProc(void* /*parameter*/) {
  char16_t moduleDir[kPathChars];
  GetModuleDir(moduleDir);
  g_scriptPath[0] = 0;
  const bool packageFits = ComposePackageDir(moduleDir);
  const bool scriptFits = packageFits && ComposeScriptPath();
  PrintCopyingFrom(packageFits, moduleDir);

  if (!scriptFits) {
    // A package path too long for its buffer is reported as a script that
    // cannot be found, naming the full script path from its parts.
    plat::DebugPrint(u"BrixCopy: Can't find INF file: %s%s\r\nGetLastError returned: %d\r\n",
                     packageFits ? g_packageDir : moduleDir,
                     packageFits ? kScriptName : u"\\BrixCopy\\BrixCopy.inf", kErrorFilenameTooLong);
    plat::DebugPrint(kFinishedBanner);
    return kScriptNotFound;
  }

  StreamHandle script(plat::StreamOpen(g_scriptPath, u"rt"));
  if (!script) {
    plat::DebugPrint(u"BrixCopy: Can't find INF file: %s\r\nGetLastError returned: %d\r\n",
                     g_scriptPath, plat::LastError());
    plat::DebugPrint(kFinishedBanner);
    return kScriptNotFound;
  }
  plat::CursorSet(nullptr, kWaitCursor);

  for (;;) {
    char16_t buffer[kScriptReadCapacity];
    const char16_t* read = plat::StreamReadLine(buffer, kScriptReadCapacity, script.Get());
    if (plat::StreamHasError(script.Get())) {
      plat::DebugPrint(u"BrixCopy: Error Reading INF file: %s\r\nGetLastError returned: %d\r\n",
                       g_scriptPath, plat::LastError());
      script.Reset();
      plat::DebugPrint(kFinishedBanner);
      return kScriptReadError;
    }
    if (read == nullptr) break;

    const char16_t* line = ScriptLineText(buffer);
    if (line == nullptr) continue;

    char16_t source[kPathChars];
    char16_t destination[kPathChars];
    char16_t options[kPathChars];
    bool resolved = false;
    if (ParseInfLine(line, g_packageDir, source, destination, options, &resolved) == 0 ||
        !CarryOut(line, source, destination, options, resolved)) {
      plat::DebugPrint(kFinishedBanner);
      return kScriptMalformedLine;
    }
  }

  plat::CursorSet(nullptr, 0);
  return kScriptDone;
}

}  // namespace brixcopy
