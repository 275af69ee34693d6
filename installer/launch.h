// Registration of component DLLs and start of programs named by script lines.
#pragma once

#include <cstdint>

namespace brixcopy {

// Loads the DLL at path and calls its DllRegisterServer export; 1 when found and called, else 0.
std::int32_t RegisterDll(const char16_t* path);

// Starts the program the entry text names (CAB through wceload.exe, VB app through pvbload.exe,
// else directly with a split-off command line), waiting for it when wait is nonzero; 1 when started.
// entry (a 260-unit buffer) may be edited in place.
std::int32_t RunProgram(char16_t* entry, std::int32_t wait);

// 1 when text contains ".cab" or ".CAB", else 0.
std::int32_t IsCabFile(const char16_t* text);

// 1 when text contains ".vb" or ".VB", else 0.
std::int32_t IsVbApp(const char16_t* text);

}  // namespace brixcopy
