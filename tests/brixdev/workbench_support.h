// Helpers of the workbench tests: throw-away folders, files of test packages,
// small Windows PE files, and findings read back from a check's report.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "brixdev/checks/diagnostics.h"
#include "tests/platform/posix/regstore/test_support.h"

namespace wbtest {

// A fresh folder under /tmp, removed with its contents at the end of the test,
// into which a test writes the files of its packages.
class TempFolder : public regtest::TempDevice {
 public:
  // Writes a file below the folder (relative path with '/'), creating its folders.
  std::string Write(const std::string& relative, const std::string& bytes) const {
    const std::string file = path() + "/" + relative;
    std::filesystem::create_directories(std::filesystem::path(file).parent_path());
    std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
    return file;
  }
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A minimal 32-bit Windows PE file: a DLL or a program, exporting the given names.
std::string MakePe(bool dll, const std::vector<std::string>& exports);

// One finding of a check, as its report line gives it.
struct Finding {
  int line = 0;
  int column = 0;
  std::string severity;
  std::string id;
  std::string message;
  std::string file;
};

// The findings of a text report: FILE:LINE:COLUMN: SEVERITY: MESSAGE [ID]; a line that is no finding
// comes back with the severity "unparsed".
std::vector<Finding> ParseFindings(const std::string& report);

// The summary line a text report of these findings ends with, counted from them.
inline std::string SummaryOf(const std::vector<Finding>& found) {
  brixdev::Counts counts;
  for (const Finding& f : found) ++(f.severity == "error" ? counts.errors : f.severity == "warning" ? counts.warnings : counts.notes);
  return brixdev::SummaryLine(counts) + "\n";
}

// A finding a check must report, in report order.
struct Expected {
  int line;
  int column;
  const char* severity;
  const char* id;
  const char* fragment;  // a part of the message that must be there
};

// Expects exactly the findings expected, in their order.
void ExpectFindings(const std::vector<Finding>& found, const std::vector<Expected>& expected);

}  // namespace wbtest
