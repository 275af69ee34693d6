// Kinds and exports of binaries, read from bytes that a package may hold: also
// cut short or with offsets pointing anywhere, which must never read out of bounds.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "brixdev/checks/pe_elf_exports.h"
#include "tests/brixdev/workbench_support.h"

namespace {

using brixdev::BinaryKind;

TEST(BinaryExports, KindsAndExportNames) {
  const brixdev::BinaryInfo dll = brixdev::ReadBinary(wbtest::MakePe(true, {"A", "DllRegisterServer"}));
  EXPECT_EQ(dll.kind, BinaryKind::kWindowsLibrary);
  EXPECT_EQ(dll.exports, (std::vector<std::string>{"A", "DllRegisterServer"}));
  EXPECT_EQ(brixdev::ReadBinary(wbtest::MakePe(false, {})).kind, BinaryKind::kWindowsProgram);

  const brixdev::BinaryInfo so = brixdev::ReadBinary(wbtest::ReadFile(TESTREG_PATH));
  EXPECT_EQ(so.kind, BinaryKind::kSharedObject);
  EXPECT_NE(std::find(so.exports.begin(), so.exports.end(), "DllRegisterServer"), so.exports.end());
  // The test programs are built position-independent: a shared object no program can load.
  EXPECT_EQ(brixdev::ReadBinary(wbtest::ReadFile(RECORDER_PATH)).kind, BinaryKind::kHostProgram);
  EXPECT_EQ(brixdev::ReadBinary("#!/bin/sh\n").kind, BinaryKind::kOther);
  EXPECT_EQ(brixdev::ReadBinary("").kind, BinaryKind::kOther);
}

TEST(BinaryExports, DamagedFilesAreReadWithinTheirBytes) {
  const std::string pe = wbtest::MakePe(true, {"DllRegisterServer"});
  const std::string elf = wbtest::ReadFile(TESTREG_PATH);
  for (const std::string& whole : {pe, elf}) {
    const std::vector<std::string> all = brixdev::ReadBinary(whole).exports;
    // Every prefix: headers and tables cut off anywhere; no name is made up of what is missing.
    for (std::size_t size = 0; size < whole.size(); size += whole.size() > 4096 ? 97 : 1) {
      for (const std::string& name : brixdev::ReadBinary(std::string_view(whole).substr(0, size)).exports)
        EXPECT_NE(std::find(all.begin(), all.end(), name), all.end()) << name << " at size " << size;
    }
    // Every 4-byte field overwritten with a huge offset or count.
    for (std::size_t at = 0; at + 4 <= std::min<std::size_t>(whole.size(), 4096); at += 4) {
      std::string bent = whole;
      bent.replace(at, 4, "\xff\xff\xff\x7f", 4);
      brixdev::ReadBinary(bent);
    }
  }
  std::string header = pe.substr(0, 0x40);
  header.replace(0x3c, 4, "\x00\x00\x00\x00", 4);  // the PE header would be the DOS header itself
  EXPECT_EQ(brixdev::ReadBinary(header).kind, BinaryKind::kDamaged);
}

}  // namespace
