// Every platform call of a representative import (30 keys of three values of
// three types) fails in turn: each run ends as the clean run did, or its debug
// output differs from the clean run's. No failure passes in silence.
#include "tests/platform/fake/fault_sweep.h"

#include <cstdio>

#include "import_test_util.h"
#include "platform/platform.h"

namespace brixparse {
namespace {

constexpr int kKeys = 30;

std::u16string KeyPath(int k) { return u"HKEY_LOCAL_MACHINE\\Software\\Sweep\\K" + regtest::Widen(std::to_string(k)); }

void ImportDevice() {
  std::string script = "REGEDIT4\r\n\r\n";
  for (int k = 0; k < kKeys; ++k) {
    script += "[HKEY_LOCAL_MACHINE\\Software\\Sweep\\K" + std::to_string(k) + "]\r\n";
    script += "\"Name\"=\"key " + std::to_string(k) + "\"\r\n\"Count\"=dword:" + std::to_string(k % 10) +
              "\r\n\"Data\"=hex:01,02,03\r\n\r\n";
  }
  plat::fake::AddFile(regtest::kScriptPath, script);
}

faultsweep::Outcome RunImporter() {
  plat::AppMain(nullptr, regtest::kScriptPath);
  faultsweep::Outcome outcome{plat::fake::DebugTextUtf8(), {}};
  for (int k = 0; k < kKeys; ++k) {
    std::string line = std::to_string(k) + (plat::fake::RegKeyExists(KeyPath(k)) ? " key" : " none");
    for (const char16_t* name : {u"Name", u"Count", u"Data"}) {
      const auto value = plat::fake::GetRegValue(KeyPath(k), name);
      line += value ? " " + std::to_string(value->type) + ":" + value->data : " -";
    }
    outcome.state.push_back(line);
  }
  return outcome;
}

TEST(ImporterFaultSweep, EveryFailedCallIsHarmlessOrSaid) {
  // Platform calls whose failure may pass unsaid. None: a value that is not
  // set, a key that is not created or closed, and a script that is not read
  // each have their line.
  const std::vector<faultsweep::Exception> silentByDesign = {};
  const faultsweep::Figures figures = faultsweep::Sweep(&ImportDevice, &RunImporter, 31, silentByDesign);
  std::printf("import: %d runs, %d clean, %d reported, %d excepted\n", figures.runs, figures.clean,
              figures.reported, figures.excepted);
  EXPECT_GT(figures.runs, 4 * kKeys);
  EXPECT_GT(figures.reported, 3 * kKeys);
  EXPECT_TRUE(figures.silent.empty()) << ::testing::PrintToString(figures.silent);
}

}  // namespace
}  // namespace brixparse
