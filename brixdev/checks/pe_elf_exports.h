// What kind of binary a file is and which names it exports: Windows PE files
// (the device's programs and libraries) and ELF files (the simulator's).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brixdev {

enum class BinaryKind {
  kOther,           // neither a PE nor an ELF file
  kWindowsLibrary,  // a PE file marked as a DLL
  kWindowsProgram,  // a PE file not marked as a DLL
  kSharedObject,    // an ELF shared object a program can load
  kHostProgram,     // an ELF executable (also a position-independent one)
  kDamaged,         // starts like a PE or ELF file but its headers do not hold together
};

struct BinaryInfo {
  BinaryKind kind = BinaryKind::kOther;
  std::vector<std::string> exports;  // exported names, for the two library kinds
};

// Reads the headers and the export table (PE) or dynamic symbol table (ELF) of a file's bytes.
BinaryInfo ReadBinary(std::string_view bytes);

// True for the two kinds a device or simulator loads as a library.
bool IsLibrary(BinaryKind kind);

}  // namespace brixdev
