// Checks of install scripts: each finding shown by a package whose script has it,
// checked on a fresh device (the package in \Storage Card\BrixCopy) or on a given one.
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "brixdev/commands/check_command.h"
#include "brixdev/device/device_folder.h"
#include "tests/brixdev/workbench_support.h"

namespace {

using wbtest::Expected;
using wbtest::ExpectFindings;
using wbtest::Finding;

struct InfCase {
  const char* name;
  std::string script;
  std::vector<std::pair<std::string, std::string>> files;  // package files beside the script
  std::vector<Expected> expected;
};

// Checks the package folder pkg below folder; the findings and the exit status.
std::vector<Finding> Check(const std::string& path, const std::string& device, int* status) {
  brixdev::CheckRequest request;
  request.paths = {path};
  request.device = device;
  request.importer = BRIXPARSE_PATH;
  std::string out, err;
  *status = brixdev::RunCheck(request, &out, &err);
  const std::vector<Finding> found = wbtest::ParseFindings(out);
  EXPECT_EQ(err, wbtest::SummaryOf(found));
  return found;
}

const std::string kDll = wbtest::MakePe(true, {"DllGetClassObject", "DllRegisterServer"});

const InfCase kCases[] = {
    {"CleanPackage",
     "; comment\n   ; indented with spaces\n\r\n'a.txt' '\\Program Files\\App'\n'\\sub\\*' '\\Windows'\n"
     "'x.dll' '\\Windows'\n'\\Windows\\x.dll' -r\n'\\Windows\\Brixparse.exe \\Storage Card\\BrixCopy\\s.reg' -x\n",
     {{"a.txt", "a"}, {"sub/b.txt", "b"}, {"x.dll", kDll}, {"s.reg", "[HKEY_LOCAL_MACHINE\\A]\n\"v\"=dword:1\n"}},
     {}},
    {"SplitLine", "'a.txt' '\\Dest'" + std::string(250, ' ') + "-x\n'a.txt' '\\Other'\n", {{"a.txt", "a"}},
     {{1, 260, "error", "split-line", "line of 267 characters"},
      {1, 266, "error", "malformed-line", "no apostrophe opens a source"},
      {1, 266, "note", "never-run", "line 2 never runs"}}},
    {"CarriageReturnAlone", "'a.txt' '\\D1'\r'a.txt' '\\D2'\n", {{"a.txt", "a"}},
     {{1, 14, "error", "cr-line-end", "carriage return without line feed"},
      {1, 15, "warning", "ignored-text", "'a.txt' '\\D2'"}}},
    {"TabIndentedComment", "\t; a comment\n'a.txt' '\\D'\n", {{"a.txt", "a"}},
     {{1, 1, "error", "tab-comment", "only spaces may stand before its ';'"},
      {1, 1, "note", "never-run", "line 2 never runs"}}},
    {"SectionHeader", "[Files]\n", {}, {{1, 1, "error", "section-header", "section header [Files]"}}},
    {"MalformedLines", "copy a.txt\n", {}, {{1, 1, "error", "malformed-line", "no apostrophe opens a source"}}},
    {"NoSourceEndingQuote", "  'a.txt\n", {}, {{1, 3, "error", "malformed-line", "no apostrophe closes the source"}}},
    {"NoDestinationEndingQuote", "'a.txt' '\\D\n", {}, {{1, 1, "error", "malformed-line", "closes the destination"}}},
    {"NeverRunRanges", "'a.txt' '\\D'\n[x]\n'a.txt' '\\E'\n\n; c\n'a.txt' '\\F'\n'a.txt' '\\G'\n", {{"a.txt", "a"}},
     {{2, 1, "error", "section-header", "[x]"}, {2, 1, "note", "never-run", "lines 3, 6-7 never run"}}},
    {"FieldTooLong", "'" + std::string(240, 'a') + "' '\\D'\n", {},
     {{1, 1, "error", "path-too-long", "longer than 259 characters"}}},
    {"WildcardPathTooLong", "'\\" + std::string(236, 'a') + "\\*' '\\D'\n", {},
     {{1, 2, "error", "path-too-long", "composed for this wildcard"}}},
    {"TextOutsideTheFields", "x 'a.txt' y '\\D' z\n", {{"a.txt", "a"}},
     {{1, 1, "warning", "ignored-text", "before the source is ignored: 'x'"},
      {1, 11, "warning", "ignored-text", "between source and destination is ignored: 'y'"},
      {1, 18, "warning", "ignored-text", "behind the fields is ignored: 'z'"}}},
    {"OptionsThatSelectNothing", "'a.txt' '\\D' -R\n", {{"a.txt", "a"}},
     {{1, 14, "warning", "no-action-options", "options '-R' select no action"}}},
    {"SeveralActions", "'x.dll' '\\Windows'\n'\\Windows\\x.dll' -x -r -q\n", {{"x.dll", kDll}},
     {{2, 18, "warning", "option-order", "only -r is carried out"},
      {2, 18, "warning", "ignored-text", "option text '-q' is ignored"}}},
    {"RelativeWildcard", "'drivers\\*' '\\Windows'\n", {{"drivers/a.dll", "a"}},
     {{1, 2, "warning", "relative-wildcard",
       "the files of \\Storage Card\\BrixCopy\\drivers go to \\Windows\\drivers"}}},
    // Names the device refuses, found by a wildcard: a character it does not
    // take, and host bytes that are no UTF-8 (shown as U+FFFD).
    {"WildcardNamesTheDeviceCannotHold", "'\\set\\*' '\\Windows'\n",
     {{"set/a:b.txt", "b"}, {"set/c\xff.txt", "c"}, {"set/ok.txt", "ok"}},
     {{1, 2, "error", "invalid-name", "the copy of 'a:b.txt' fails: it is no name the device accepts"},
      {1, 2, "error", "invalid-name", "the copy of 'c\xef\xbf\xbd.txt' fails"}}},
    {"WildcardWithoutDestination", "'\\drivers\\*'\n", {{"drivers/a.dll", "a"}},
     {{1, 2, "warning", "no-destination", "the files go to the root folder"}}},
    {"WildcardMatchingNothing", "'\\none\\*' '\\D'\n", {},
     {{1, 2, "warning", "empty-wildcard", "\\Storage Card\\BrixCopy\\none\\* matches nothing"}}},
    {"WildcardMatchingAFolder", "'\\set\\*' '\\D'\n", {{"set/a.txt", "a"}, {"set/inner/b.txt", "b"}},
     {{1, 2, "warning", "wildcard-folder", "\\Storage Card\\BrixCopy\\set\\inner is a folder"}}},
    {"WildcardMatchTooLong", "'\\sub\\*' '\\D'\n", {{"sub/" + std::string(240, 'm'), "m"}, {"sub/short.txt", "s"}},
     {{1, 2, "warning", "path-too-long", "its path would be longer than 259 characters"}}},
    {"SourceMissingFromThePackage", "'gone.txt' '\\D'\n", {},
     {{1, 2, "error", "missing-source", "\\Storage Card\\BrixCopy\\gone.txt is not in the package"}}},
    {"SourceMissingFromTheDevice", "'\\Windows\\gone.txt' '\\D\\x.txt'\n", {},
     {{1, 2, "error", "missing-source", "neither on the device nor copied by an earlier line"}}},
    {"RelativeSourceWithoutDestination", "'a.txt'\n", {{"a.txt", "a"}},
     {{1, 2, "error", "missing-source", "taken from the package only on a line with a destination"}}},
    {"SourceIsAFolder", "'\\Windows' '\\D\\x.txt'\n", {}, {{1, 2, "error", "source-folder", "only a wildcard source"}}},
    {"SourceNameTheDeviceRefuses", "'\\a<b.txt' '\\D\\x.txt'\n", {}, {{1, 2, "error", "invalid-name", "'\\a<b.txt'"}}},
    {"CopyWithoutDestination", "'\\Storage Card\\BrixCopy\\a.txt'\n", {{"a.txt", "a"}},
     {{1, 2, "error", "no-destination", "the root folder: the copy fails"}}},
    {"DestinationIsAFolder", "'\\Storage Card\\BrixCopy\\a.txt' '\\Windows'\n", {{"a.txt", "a"}},
     {{1, 33, "error", "destination-folder", "the destination names the file itself"}}},
    {"DestinationWithoutDot", "'\\Storage Card\\BrixCopy\\a.txt' '\\Data\\README'\n", {{"a.txt", "a"}},
     {{1, 33, "error", "destination-folder", "creates it as a folder before the copy"}}},
    {"CopyThatFails", "'\\Storage Card\\BrixCopy\\a.txt' '\\Windows\\Brixparse.exe\\x.txt'\n", {{"a.txt", "a"}},
     {{1, 33, "error", "copy-fails", "fails on the device with error 3, the path does not exist"}}},
    {"SameDestinationTwice", "'a.txt' '\\D'\n'\\Storage Card\\BrixCopy\\b.txt' '\\d\\A.TXT'\n",
     {{"a.txt", "a"}, {"b.txt", "b"}},
     {{2, 33, "warning", "same-destination", "also written by line 1: the later copy wins"}}},
    {"RegisterLineWithDestination", "'x.dll' '\\Windows' -r\n", {{"x.dll", kDll}},
     {{1, 10, "warning", "ignored-destination", "taken from the package: \\Storage Card\\BrixCopy\\x.dll"}}},
    {"LibraryMissing", "'\\Windows\\gone.dll' -r\n", {}, {{1, 2, "error", "missing-library", "\\Windows\\gone.dll"}}},
    {"NotALibrary", "'\\Storage Card\\BrixCopy\\a.txt' -r\n'\\Storage Card\\BrixCopy\\p.exe' -r\n",
     {{"a.txt", "a"}, {"p.exe", wbtest::MakePe(false, {})}},
     {{1, 2, "error", "not-a-library", "neither a Windows program or library"},
      {2, 2, "error", "not-a-library", "is a Windows program, not a library"}}},
    {"LibraryWithoutRegistrationExport", "'\\Storage Card\\BrixCopy\\n.dll' -r\n",
     {{"n.dll", wbtest::MakePe(true, {"DllGetClassObject"})}},
     {{1, 2, "error", "no-register-export", "has no DllRegisterServer export"}}},
    {"SimulatorLibraries", "'\\Storage Card\\BrixCopy\\t.dll' -r\n'\\Storage Card\\BrixCopy\\r.exe' -r\n",
     {{"t.dll", wbtest::ReadFile(TESTREG_PATH)}, {"r.exe", wbtest::ReadFile(RECORDER_PATH)}},
     {{2, 2, "error", "not-a-library", "is a program, not a library"}}},
    {"QuotedProgramPathNotClosed", "'\"\\Program Files\\x.exe -s' -e\n", {},
     {{1, 2, "error", "missing-quote", "nothing is started"}}},
    {"CabFile", "'\\Storage Card\\BrixCopy\\setup.cab' -x\n", {{"setup.cab", "cab"}},
     {{1, 2, "note", "cab-installer", "CAB installer \\Windows\\wceload.exe gets '\\Storage Card\\BrixCopy\\setup.cab'"}}},
    {"CabByAccident", "'\\Windows\\Brixparse.exe \\x.cab /q' -x\n", {},
     {{1, 2, "warning", "cab-installer", "the entry holds '.cab'"}}},
    {"VbAppMissing", "'\\Windows\\game.vb' -e\n", {},
     {{1, 2, "note", "vb-loader", "VB loader \\Windows\\pvbload.exe"},
      {1, 2, "error", "missing-file", "VB application \\Windows\\game.vb is neither"}}},
    {"ProgramPathCutAtABlank", "'\\Storage Card\\BrixCopy\\My Tool\\t.exe' -e\n",
     {{"My Tool/t.exe", wbtest::ReadFile(RECORDER_PATH)}},
     {{1, 2, "error", "missing-program",
       "program \\Storage is neither on the device nor copied by an earlier line (the first blank ends the program "
       "path; write \"\\Storage Card\\BrixCopy\\My Tool\\t.exe\" in double quotes)"}}},
    {"NotAProgram", "'\"\\Storage Card\\BrixCopy\\a.txt\"' -e\n'\"\\Storage Card\\BrixCopy\\x.dll\" /s' -x\n",
     {{"a.txt", "a"}, {"x.dll", kDll}},
     {{1, 2, "error", "not-a-program", "not a program"}, {2, 2, "error", "not-a-program", "a Windows library"}}},
    {"MissingAfterAWaitedProgram", "'\\Windows\\Brixparse.exe' -x\n'\\Windows\\made.txt' '\\D\\x.txt'\n", {},
     {{1, 2, "warning", "missing-registry-script", "without a command line"},
      {2, 2, "warning", "missing-source", "the program that line 1 waits for may create it"}}},
    {"ImporterWithoutScript", "'\\Windows\\Brixparse.exe \\nowhere.reg' -x\n", {},
     {{1, 2, "error", "missing-registry-script", "from its command line '\\nowhere.reg'"}}},
    {"QuoteInsideTheEntry", "'\\Windows\\Brixparse.exe \"\\s.reg\"' -x\n", {},
     {{1, 2, "warning", "quoted-program", "drops its first character '\\' all the same"},
      {1, 2, "error", "invalid-name", "a double quote anywhere in the entry"}}},
};

class InstallScriptCheck : public ::testing::TestWithParam<InfCase> {};

TEST_P(InstallScriptCheck, ReportsWhatTheScriptShows) {
  const InfCase& c = GetParam();
  wbtest::TempFolder folder;
  folder.Write("pkg/BrixCopy.inf", c.script);
  for (const auto& [name, bytes] : c.files) folder.Write("pkg/" + name, bytes);
  int status = -1;
  const std::vector<Finding> found = Check(folder.path() + "/pkg", "", &status);
  ExpectFindings(found, c.expected);
  bool error = false;
  for (const Expected& e : c.expected) error = error || std::string(e.severity) == "error";
  EXPECT_EQ(status, error ? 1 : 0);
  for (const Finding& f : found) EXPECT_EQ(f.file, folder.path() + "/pkg/BrixCopy.inf");
}

INSTANTIATE_TEST_SUITE_P(Findings, InstallScriptCheck, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<InfCase>& info) { return std::string(info.param.name); });

TEST(InstallScriptCheckPaths, RegistryScriptsHandedToTheImporterAreCheckedUnderTheirOwnName) {
  wbtest::TempFolder folder;
  folder.Write("pkg/BrixCopy.inf",
               "'conf\\s.reg' '\\Temp'\n'\\Windows\\Brixparse.exe \\Temp\\conf\\s.reg' -x\n"
               "'\"\\Windows\\Brixparse.exe\" \"\\Storage Card\\BrixCopy\\conf\\s.reg\"' -x\n");
  folder.Write("pkg/conf/s.reg", "[HKEY_LOCAL_MACHINE\\A]\n@=\"x\"\n");
  int status = -1;
  const std::vector<Finding> found = Check(folder.path() + "/pkg", "", &status);
  // The copy and the original are one script: checked once, named by the package file.
  ASSERT_EQ(found.size(), 1u);
  EXPECT_EQ(found[0].file, folder.path() + "/pkg/conf/s.reg");
  EXPECT_EQ(found[0].line, 2);
  EXPECT_EQ(found[0].id, "default-value");
  EXPECT_EQ(status, 0);
}

TEST(InstallScriptCheckPaths, LargeFilesAreCheckedByTheirContentWhereTheCheckReadsIt) {
  // Files of a megabyte or more stand in empty on the check device until the
  // check reads them: a registry script copied before the importer reads it,
  // a library copied before it is registered, an install script, a data file.
  const std::string padding = std::string(1 << 20, ';') + "\n";
  std::string comments;  // 6000 comment lines, 1.2 MB
  for (int i = 0; i < 6000; ++i) comments += "; " + std::string(197, 'c') + "\n";
  wbtest::TempFolder folder;
  folder.Write("pkg/BrixCopy.inf", comments +
                                       "'big.reg' '\\Temp'\n'\\Temp\\big.reg' '\\Temp\\again.reg'\n"
                                       "'\\Windows\\Brixparse.exe \\Temp\\again.reg' -x\n'\\big\\*' '\\Windows'\n"
                                       "'\\Windows\\none.dll' -r\n'\\Windows\\yes.dll' -r\n'data.bin' '\\Data'\n");
  folder.Write("pkg/big.reg", padding + "[HKEY_LOCAL_MACHINE\\A]\n\"w\"=dword:1 junk\n");
  folder.Write("pkg/big/none.dll", wbtest::MakePe(true, {"DllGetClassObject"}) + std::string(1 << 20, '\0'));
  folder.Write("pkg/big/yes.dll", wbtest::MakePe(true, {"DllRegisterServer"}) + std::string(1 << 20, '\0'));
  folder.Write("pkg/data.bin", std::string(3 << 20, 'd'));
  int status = -1;
  const std::vector<Finding> found = Check(folder.path() + "/pkg", "", &status);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].file, folder.path() + "/pkg/BrixCopy.inf");
  EXPECT_EQ(found[0].line, 6005);
  EXPECT_EQ(found[0].id, "no-register-export");
  EXPECT_EQ(found[1].file, folder.path() + "/pkg/big.reg");
  EXPECT_EQ(found[1].line, 3);
  EXPECT_EQ(found[1].id, "text-after-value");
  EXPECT_EQ(status, 1);
  // The package is as it was.
  EXPECT_EQ(wbtest::ReadFile(folder.path() + "/pkg/data.bin"), std::string(3 << 20, 'd'));
}

TEST(InstallScriptCheckPaths, AnInstallScriptOfAnyNameHasItsFolderAsPackage) {
  wbtest::TempFolder folder;
  const std::string script = folder.Write("other/setup.inf", "'a.txt' '\\D'\n'gone.txt' '\\D'\n");
  folder.Write("other/a.txt", "a");
  int status = -1;
  const std::vector<Finding> found = Check(script, "", &status);
  ExpectFindings(found, {{2, 2, "error", "missing-source", "\\Storage Card\\BrixCopy\\gone.txt is not in the package"}});
  EXPECT_EQ(found[0].file, script);
  EXPECT_EQ(status, 1);
}

TEST(InstallScriptCheckPaths, APackageInsideTheGivenDeviceIsCheckedWhereItLies) {
  wbtest::TempFolder device;
  std::string error;
  ASSERT_TRUE(brixdev::CreateDevice(device.path(), BRIXPARSE_PATH, &error)) << error;
  device.Write("fs/Storage/BrixCopy/BrixCopy.inf", "'a.txt' '\\D'\n'\\Storage\\BrixCopy\\setup.cab' -x\n'\\Windows\\game.vb' -e\n");
  device.Write("fs/Storage/BrixCopy/a.txt", "a");
  device.Write("fs/Storage/BrixCopy/setup.cab", "cab");
  device.Write("fs/Windows/pvbload.exe", wbtest::ReadFile(RECORDER_PATH));
  device.Write("fs/Windows/game.vb", "vb");
  int status = -1;
  const std::vector<Finding> found = Check(device.path() + "/fs/Storage/BrixCopy", device.path(), &status);
  // A given device holds only what it holds: here no CAB installer.
  ExpectFindings(found, {{2, 2, "note", "cab-installer", "'\\Storage\\BrixCopy\\setup.cab'"},
                         {2, 2, "error", "missing-program", "the device's CAB installer \\Windows\\wceload.exe"},
                         {3, 2, "note", "vb-loader", "\\Windows\\game.vb"}});
  EXPECT_EQ(status, 1);
  // The check worked on a copy: the device is as it was.
  EXPECT_FALSE(std::filesystem::exists(device.path() + "/fs/D"));
}

TEST(InstallScriptCheckPaths, LinksInThePackageAreLeftOutAndUnreadableInputFailsWithTwo) {
  wbtest::TempFolder folder;
  folder.Write("pkg/BrixCopy.inf", "'link.txt' '\\D'\n");
  ASSERT_EQ(symlink("/etc/hostname", (folder.path() + "/pkg/link.txt").c_str()), 0);
  int status = -1;
  const std::vector<Finding> found = Check(folder.path() + "/pkg", "", &status);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[1].id, "not-a-file");
  EXPECT_EQ(found[0].id, "missing-source");

  brixdev::CheckRequest request;
  request.importer = BRIXPARSE_PATH;
  std::string out, err;
  for (const std::string& bad : {folder.path() + "/absent", folder.path()}) {
    request.paths = {bad};
    err.clear();
    EXPECT_EQ(brixdev::RunCheck(request, &out, &err), 2) << bad;
    EXPECT_NE(err, "") << bad;
  }
}

// Each check works on a device of its own, in force on its own thread: checks
// of packages at different places run side by side in one process and give
// what they give one after another.
TEST(InstallScriptCheckPaths, ChecksRunSideBySideInOneProcess) {
  wbtest::TempFolder folder;
  const std::string script = "'drivers\\*' '\\Windows'\n'gone.txt' '\\D'\n"
                             "'\\Windows\\Brixparse.exe \\Storage Card\\BrixCopy\\s.reg' -x\n";
  folder.Write("pkg/BrixCopy.inf", script);
  folder.Write("pkg/drivers/a.dll", "a");
  folder.Write("pkg/s.reg", "[HKEY_LOCAL_MACHINE\\A]\n\"d\"=DWORD:1\n");
  const std::u16string places[] = {u"\\Storage Card", u"\\My Documents"};
  const auto check = [&](int which) {
    brixdev::CheckRequest request;
    request.paths = {folder.path() + "/pkg"};
    request.at = places[which];
    request.importer = BRIXPARSE_PATH;
    std::string out, err;
    const int status = brixdev::RunCheck(request, &out, &err);
    return std::to_string(status) + "\n" + out + err;
  };
  const std::string alone[] = {check(0), check(1)};
  ASSERT_NE(alone[0], alone[1]);  // the package directory shows in the findings
  EXPECT_NE(alone[1].find("\\My Documents\\BrixCopy\\drivers"), std::string::npos) << alone[1];
  std::string sideBySide[2][8];
  std::thread threads[2];
  for (int which = 0; which < 2; ++which)
    threads[which] = std::thread([&, which] {
      for (std::string& result : sideBySide[which]) result = check(which);
    });
  for (std::thread& thread : threads) thread.join();
  for (int which = 0; which < 2; ++which)
    for (const std::string& result : sideBySide[which]) EXPECT_EQ(result, alone[which]) << which;
}

}  // namespace
