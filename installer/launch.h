// Registration of component DLLs and start of programs named by script lines.
#pragma once

#include <cstdint>

#include "installer/decisions.h"
#include "installer/messages.h"

namespace brixcopy {

// How RunProgram starts an entry.
enum class StartKind {
  kCabInstaller,  // the entry holds ".cab" or ".CAB": the CAB installer gets it as its command line
  kVbLoader,      // the entry holds ".vb" or ".VB": the VB loader gets it as its command line
  kProgram,       // the entry names the program itself, with or without a split-off command line
  kMissingQuote,  // a quoted program path without closing double quote: nothing is started
};

// What RunProgram starts for one entry.
struct StartPlan {
  StartKind kind = StartKind::kProgram;
  char16_t program[kPathChars] = {};      // the program started
  char16_t commandLine[kPathChars] = {};  // its command line, when hasCommandLine
  bool hasCommandLine = false;            // false: started without a command line
};

// Fills plan with what RunProgram starts for entry, writing nothing; false when entry exceeds 259 characters.
// observer, when not nullptr, is told what of the entry is dropped or read otherwise than it looks.
bool PlanStart(const char16_t* entry, StartPlan* plan, LineObserver* observer = nullptr);

// Loads the DLL at path and calls its DllRegisterServer export; 1 when found and called, else 0.
std::int32_t RegisterDll(const char16_t* path);

// Starts the program the entry text names (CAB through wceload.exe, VB app through pvbload.exe,
// else directly with a split-off command line), waiting for it when wait is nonzero; 1 when started.
std::int32_t RunProgram(const char16_t* entry, std::int32_t wait);

// 1 when text contains ".cab" or ".CAB", else 0.
std::int32_t IsCabFile(const char16_t* text);

// 1 when text contains ".vb" or ".VB", else 0.
std::int32_t IsVbApp(const char16_t* text);

}  // namespace brixcopy
