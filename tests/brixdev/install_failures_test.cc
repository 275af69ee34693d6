// The failures an install reported, read from its debug output.
#include "brixdev/device/install_failures.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using brixdev::FailureKind;

struct Case {
  const char* name;
  std::string debug;
  std::vector<FailureKind> kinds;
  std::string summary;
};

const Case kCases[] = {
    {"CleanInstall",
     "\r\n----- BrixCopy Starting -----\r\nThis is the first execution\r\nCopying files from \\S\\BrixCopy\r\n"
     "BrixCopy: Copying from '\\S\\BrixCopy\\a.txt'\r\nBrixCopy:          to '\\D\\a.txt'\r\n"
     "BrixCopy: Successfully registered \\Windows\\x.dll\r\n----- BrixCopy Finished ----- \r\n\n",
     {},
     ""},
    {"FailedCopiesCountOnceInAWildcard",
     "BrixCopy: cannot open source file: \\a\r\nGetLastError returned: 2\r\n"
     "BrixCopy: cannot create destination file: \\W\\x\r\nGetLastError returned: 5\r\n"
     "BrixCopy: Failed to copy file: \\set\\*\r\nGetLastError returned: 5\r\n"
     "BrixCopy: Failed to copy file: \\locked\\*\r\nGetLastError returned: 5\r\n",
     {FailureKind::kCopy, FailureKind::kCopy, FailureKind::kFolder},
     "2 copies failed, 1 wildcard folder failed"},
    {"TheQuotedLineIsNoMessage",
     "BrixCopy: Invalid INF line (no source starting quote):\r\nBrixCopy: failed to run: quoted\r\n"
     "----- BrixCopy Finished ----- \r\n\n",
     {FailureKind::kScript},
     "the script stopped at a malformed line"},
    {"StartsRegistrationsAndTheImporter",
     "BrixCopy: installing CAB '\\x.cab'\r\nBrixCopy: install failed: \\x.cab\r\nGetLastError returned: 2\r\n"
     "BrixCopy: Invalid INF line: missing double quote\r\nBrixCopy: Failed to register file: \\y.dll\r\n"
     "GetLastError returned: 126\r\nCScriptFile::Open::cannot open script = \\s.reg err = 2\r\n"
     "CBrixparse::UpdateRegistry::unknown root key = HKLM\r\n",
     {FailureKind::kStart, FailureKind::kStart, FailureKind::kRegister, FailureKind::kImporter, FailureKind::kImporter},
     "2 programs not started, 1 library not registered, 2 importer reports on a registry script"},
    {"NoScriptAndNoRun",
     "BrixCopy: Can't find INF file: \\S\\BrixCopy\\BrixCopy.inf\r\nGetLastError returned: 3\r\n"
     "Another instance is running!\r\n",
     {FailureKind::kScript, FailureKind::kRunControl},
     "the installer did not install (it could not take its mutex or counter file, or another one ran), the install "
     "script was not found"},
};

class InstallFailures : public ::testing::TestWithParam<Case> {};

TEST_P(InstallFailures, AreReadFromTheDebugOutput) {
  const std::vector<brixdev::Failure> failures = brixdev::FailuresIn(GetParam().debug);
  std::vector<FailureKind> kinds;
  for (const brixdev::Failure& f : failures) kinds.push_back(f.kind);
  EXPECT_EQ(kinds, GetParam().kinds);
  EXPECT_EQ(brixdev::FailureSummary(failures), GetParam().summary);
}

INSTANTIATE_TEST_SUITE_P(Outputs, InstallFailures, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

}  // namespace
