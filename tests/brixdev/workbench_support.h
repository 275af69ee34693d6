// Helpers of the workbench tests: throw-away folders, files of test packages,
// small Windows PE files, and findings read back from a check's report.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <regex>
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
inline std::string MakePe(bool dll, const std::vector<std::string>& exports) {
  std::string file(0x400, '\0');
  auto put = [&](std::size_t at, std::uint32_t value, int size) {
    for (int i = 0; i < size; ++i) file[at + i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  };
  file[0] = 'M';
  file[1] = 'Z';
  put(0x3c, 0x40, 4);
  put(0x40, 0x00004550, 4);               // "PE\0\0"
  put(0x44, 0x01c0, 2);                   // ARM
  put(0x46, 1, 2);                        // one section
  put(0x54, 224, 2);                      // optional header size
  put(0x56, dll ? 0x2102 : 0x0102, 2);    // characteristics
  const std::size_t optional = 0x58;
  put(optional, 0x10b, 2);                // PE32
  put(optional + 92, 16, 4);              // data directories
  put(optional + 96, 0x1000, 4);          // export table RVA
  put(optional + 100, 0x200, 4);
  const std::size_t section = optional + 224;
  std::memcpy(&file[section], ".edata", 6);
  put(section + 8, 0x200, 4);             // virtual size
  put(section + 12, 0x1000, 4);           // virtual address
  put(section + 16, 0x200, 4);            // raw size
  put(section + 20, 0x200, 4);            // raw data at 0x200
  const std::size_t table = 0x200;
  put(table + 24, static_cast<std::uint32_t>(exports.size()), 4);
  put(table + 32, 0x1000 + 40, 4);        // the name pointers follow the table
  std::uint32_t text = 0x1000 + 40 + 4 * static_cast<std::uint32_t>(exports.size());
  for (std::size_t i = 0; i < exports.size(); ++i) {
    put(table + 40 + 4 * i, text, 4);
    std::memcpy(&file[table + (text - 0x1000)], exports[i].data(), exports[i].size());
    text += static_cast<std::uint32_t>(exports[i].size()) + 1;
  }
  return file;
}

// One finding of a check, as its report line gives it.
struct Finding {
  int line = 0;
  int column = 0;
  std::string severity;
  std::string id;
  std::string message;
  std::string file;
};

// The findings of a text report: FILE:LINE:COLUMN: SEVERITY: MESSAGE [ID].
inline std::vector<Finding> ParseFindings(const std::string& report) {
  static const std::regex kLine(R"(^(.*):(\d+):(\d+): (error|warning|note): (.*) \[([a-z0-9-]+)\]$)");
  std::vector<Finding> findings;
  std::size_t start = 0;
  while (start < report.size()) {
    const std::size_t end = report.find('\n', start);
    const std::string line = report.substr(start, end - start);
    std::smatch m;
    if (std::regex_match(line, m, kLine)) {
      findings.push_back({std::stoi(m[2]), std::stoi(m[3]), m[4], m[6], m[5], m[1]});
    } else {
      findings.push_back({0, 0, "unparsed", "", line, ""});
    }
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return findings;
}

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
inline void ExpectFindings(const std::vector<Finding>& found, const std::vector<Expected>& expected) {
  std::string all;
  for (const Finding& f : found)
    all += std::to_string(f.line) + ":" + std::to_string(f.column) + " " + f.severity + " " + f.id + ": " + f.message + "\n";
  ASSERT_EQ(found.size(), expected.size()) << all;
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Expected& e = expected[i];
    EXPECT_EQ(found[i].line, e.line) << all;
    EXPECT_EQ(found[i].column, e.column) << all;
    EXPECT_EQ(found[i].severity, e.severity) << all;
    EXPECT_EQ(found[i].id, e.id) << all;
    EXPECT_NE(found[i].message.find(e.fragment), std::string::npos) << e.fragment << "\n" << all;
  }
}

}  // namespace wbtest
