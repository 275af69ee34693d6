// Registry exports of the desktop registry editors: "Windows Registry Editor
// Version 5.00" files in UTF-16 and REGEDIT4 files in ANSI or UTF-8, read into
// keys and values as the desktop registry would hold them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace brixdev {

struct DesktopValue {
  int line = 0;                // where the value begins in the export
  std::u16string name;         // empty for the default value
  bool isDefault = false;      // written as @=
  bool deletion = false;       // written as "name"=-
  std::uint32_t type = 0;      // registry type: 1 string, 4 dword, else the N of hex(N) (hex: is 3)
  std::string data;            // the bytes the desktop registry holds; texts as UTF-16LE
};

struct DesktopKey {
  int line = 0;
  std::u16string path;         // as written between the brackets (without a deletion's "-")
  bool deletion = false;       // written as [-path]
  std::vector<DesktopValue> values;
};

// A line the reader could not make sense of.
struct DesktopProblem {
  int line = 0;
  std::string text;
};

struct DesktopExport {
  bool version5 = false;       // the header names version 5 (else REGEDIT4)
  std::vector<DesktopKey> keys;
  std::vector<DesktopProblem> problems;
};

// Reads an export from its bytes (decoded by their byte order mark, else as UTF-8 when
// valid, else as Windows-1252); false with *error when it is no registry export.
bool ReadDesktopExport(const std::string& bytes, DesktopExport* out, std::string* error);

}  // namespace brixdev
