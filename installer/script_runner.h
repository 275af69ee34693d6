// The installer's worker: finds the package and its install script and carries out each line.
#pragma once

#include <cstdint>

#include "installer/messages.h"

namespace brixcopy {

// The package directory the worker derived: the executable's directory followed by
// "\BrixCopy"; empty when it does not fit or before the worker ran.
const char16_t* PackageDir();
// The install script the worker derived: the package directory followed by "\BrixCopy.inf".
const char16_t* ScriptPath();

// Worker exit codes.
inline constexpr std::uint32_t kScriptDone = 0;
inline constexpr std::uint32_t kScriptNotFound = 3;
inline constexpr std::uint32_t kScriptReadError = 4;
inline constexpr std::uint32_t kScriptMalformedLine = 5;

// Fills dir (260 units) with the running executable's directory, without a trailing backslash.
void GetModuleDir(char16_t* dir);

// Worker thread: carries out the install script; 0 done, 3 no script, 4 read error, 5 malformed line.
std::uint32_t CopyThreadProc(void* parameter);

}  // namespace brixcopy
