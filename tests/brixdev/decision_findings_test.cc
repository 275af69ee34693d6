// Every lenient decision of the importer and the installer becomes a finding:
// each kind shown on a line that makes it, with an id that docs/brixdev.md
// lists; the lines of a clean script make none.
#include <gtest/gtest.h>

#include <fstream>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "brixdev/checks/decision_findings.h"
#include "brixdev/commands/check_command.h"
#include "tests/brixdev/workbench_support.h"

namespace {

using wbtest::Finding;

const std::string kKey = "[HKEY_LOCAL_MACHINE\\Software\\T]\n";

// A list of n numbers: "01,01,...".
std::string Numbers(std::size_t n) {
  std::string list = "01";
  for (std::size_t i = 1; i < n; ++i) list += ",01";
  return list;
}

// Checks one script (a registry script, or an install script in a package with files); the findings.
std::vector<Finding> Check(const std::string& name, const std::string& script,
                           const std::vector<std::pair<std::string, std::string>>& files = {}) {
  wbtest::TempFolder folder;
  std::string path = folder.Write(name, script);
  for (const auto& [file, bytes] : files) folder.Write(file, bytes);
  if (name == "pkg/BrixCopy.inf") path = folder.path() + "/pkg";
  brixdev::CheckRequest request;
  request.paths = {path};
  request.importer = BRIXPARSE_PATH;
  std::string out, err;
  brixdev::RunCheck(request, &out, &err);
  const std::vector<Finding> found = wbtest::ParseFindings(out);
  EXPECT_EQ(err, wbtest::SummaryOf(found));
  return found;
}

bool HasFinding(const std::vector<Finding>& found, int line, const std::string& id) {
  for (const Finding& f : found)
    if (f.line == line && f.id == id) return true;
  return false;
}

std::string Shown(const std::vector<Finding>& found) {
  std::string all;
  for (const Finding& f : found) all += std::to_string(f.line) + ":" + std::to_string(f.column) + " " + f.id + ": " + f.message + "\n";
  return all;
}

struct ImporterCase {
  brixparse::Decision decision;
  std::string script;  // the decision is made on line 2 unless said otherwise
  const char* id;
  int line = 2;
};

using D = brixparse::Decision;

const ImporterCase kImporter[] = {
    {D::kCarriageReturn, kKey + "\"a\"=dword:1\r\"b\"=dword:2\n", "cr-line-end"},
    {D::kBlankAfterBackslash, kKey + "\"h\"=hex:01,\\\n02,\\ \n03\n", "blank-after-backslash", 3},
    {D::kBackslashAtEnd, kKey + "\"h\"=hex:01,\\\n02\\\n", "backslash-at-end", 3},
    {D::kLineTooLong, kKey + "\"s\"=\"" + std::string(4u << 20, 'x') + "\"\n", "line-too-long"},
    {D::kValueBeforeKey, "\"early\"=dword:1\n" + kKey, "value-before-key", 1},
    {D::kCommandLineFirst, "", "importer-command-line", 1},
    {D::kCommandLineRest, "", "importer-command-line", 1},
    {D::kValueAfterNoKey, "[HKEY_LOCAL_MACHINE\\A\n\"lost\"=dword:1\n", "value-after-no-key"},
    {D::kZeroCharacter, kKey + "\"z\"=\"v" + std::string(1, '\0') + "\"\n", "zero-character"},
    {D::kNoEntry, kKey + "garbage here\n", "no-entry"},
    {D::kTextBeforeEntry, kKey + "junk \"t\"=dword:1\n", "ignored-text"},
    {D::kKeyUnclosed, kKey + "[HKEY_LOCAL_MACHINE\\D\n", "no-key"},
    {D::kTextAfterKey, kKey + "[HKEY_LOCAL_MACHINE\\E] more\n", "ignored-text"},
    {D::kNameUnclosed, kKey + "\"open=dword:1\n", "no-entry"},
    {D::kNameTooLong, kKey + "\"" + std::string(256, 'n') + "\"=dword:1\n", "long-name"},
    {D::kNoEquals, kKey + "\"e\" = \"x\"\n", "equals-not-direct"},
    {D::kNoTypeWord, kKey + "\"w\"=dword 1\n", "unknown-type"},
    {D::kUnknownTypeWord, kKey + "\"u\"=DWORD:1\n", "upper-case-type"},
    {D::kShortTypeWord, kKey + "\"d\"=d:ff\n", "short-type"},
    {D::kTextBeforeValue, kKey + "\"a\"=junk\"x\"\n", "ignored-text"},
    {D::kTextAroundType, kKey + "\"a\"=dword x:1\n", "ignored-text"},
    {D::kTextAfterValue, kKey + "\"w\"=dword:1 junk\n", "text-after-value"},
    {D::kDataTooLarge, kKey + "\"big\"=hex(2):" + Numbers(524289) + "\n", "large-data"},
    {D::kStringUnclosed, kKey + "\"s1\"=\"unterminated\n", "unclosed-string"},
    {D::kQuoteInString, kKey + "\"e\"=\"a\" \"b\"\n", "quote-in-string"},
    {D::kListOpening, kKey + "\"m\"=multi_sz: \"ab\"\n", "ignored-text"},
    {D::kListTextSkipped, kKey + "\"m\"=multi_sz:\"a\",x\"b\"\n", "ignored-text"},
    {D::kNumberNotHex, kKey + "\"d1\"=dword:-1\n", "not-a-number"},
    {D::kNumberTooLong, kKey + "\"n\"=dword:0x123456789\n", "long-dword"},
    {D::kNumberForm, kKey + "\"n\"=dword:0x1f\n", "number-form"},
    {D::kByteNotHex, kKey + "\"h1\"=hex:01,02,zz\n", "byte-not-hex"},
    {D::kByteOverFF, kKey + "\"h2\"=hex:01,300\n", "byte-over-ff"},
    {D::kListSeparator, kKey + "\"h\"=hex:01,,02\n", "list-separator"},
};

TEST(DecisionFindings, EveryImporterDecisionHasAFindingOnItsLine) {
  std::set<int> shown;
  for (const ImporterCase& c : kImporter) {
    SCOPED_TRACE(c.id);
    shown.insert(static_cast<int>(c.decision));
    // Decisions about the importer's command line stand on the install script's run line.
    const bool commandLine = c.script.empty();
    const std::vector<Finding> found =
        commandLine ? Check("pkg/BrixCopy.inf",
                            "'\"\\Windows\\Brixparse.exe\" x\\Storage Card\\BrixCopy\\s.reg\" /s' -x\n",
                            {{"pkg/s.reg", kKey}})
                    : Check("s.reg", c.script);
    EXPECT_TRUE(HasFinding(found, c.line, c.id)) << Shown(found);
    bool listed = false;
    for (const char* id : brixdev::FindingIds(c.decision)) listed = listed || std::string(id) == c.id;
    EXPECT_TRUE(listed);
  }
  EXPECT_EQ(shown.size(), static_cast<std::size_t>(brixdev::kImporterDecisions));
}

struct InstallerCase {
  brixcopy::Decision decision;
  std::string script;
  std::vector<std::pair<std::string, std::string>> files;  // below pkg/
  const char* id;
};

using I = brixcopy::Decision;

const InstallerCase kInstaller[] = {
    {I::kTextBeforeSource, "x 'a.txt' '\\D'\n", {{"a.txt", "a"}}, "ignored-text"},
    {I::kTextBetweenFields, "'a.txt' y '\\D'\n", {{"a.txt", "a"}}, "ignored-text"},
    {I::kTextAfterFields, "'a.txt' \"\\D\"\n", {{"a.txt", "a"}}, "ignored-text"},
    {I::kNoDestination, "'\\drivers\\*'\n", {{"drivers/a.dll", "a"}}, "no-destination"},
    {I::kRelativeIntoFile, "'README.txt' '\\Program Files\\MyTool\\README.txt'\n", {{"README.txt", "r"}},
     "relative-into-file"},
    {I::kForwardSlash, "'\\Storage Card\\BrixCopy\\a.txt' '\\Data/Sub\\a.txt'\n", {{"a.txt", "a"}}, "forward-slash"},
    {I::kNoActionOptions, "'a.txt' '\\D' -R\n", {{"a.txt", "a"}}, "no-action-options"},
    {I::kSeveralActions, "'\\Windows\\Brixparse.exe' -x -e\n", {}, "option-order"},
    {I::kIgnoredOptionText, "'\\Windows\\Brixparse.exe' -x -q\n", {}, "ignored-text"},
    {I::kRelativeWildcard, "'drivers\\*' '\\Windows'\n", {{"drivers/a.dll", "a"}}, "relative-wildcard"},
    {I::kSkippedLine, "\r'a.txt' '\\D'\n", {{"a.txt", "a"}}, "cr-line-end"},
    {I::kWildcardNoMatch, "'\\none\\*' '\\D'\n", {}, "empty-wildcard"},
    {I::kFolderFromPath, "'\\Storage Card\\BrixCopy\\a.txt' '\\Data\\README'\n", {{"a.txt", "a"}}, "destination-folder"},
    {I::kQuoteNotFirst, "'\\Windows\\Brixparse.exe \"\\s.reg\"' -x\n", {}, "quoted-program"},
    {I::kAfterQuoteSkipped, "'\"\\Windows\\Brixparse.exe\"- \\s.reg' -x\n", {}, "quoted-program"},
    {I::kCabInEntry, "'\\Windows\\Brixparse.exe \\x.cab /q' -x\n", {}, "cab-installer"},
    {I::kVbInEntry, "'\\Windows\\Brixparse.exe \\x.vb /q' -x\n", {}, "vb-loader"},
};

TEST(DecisionFindings, EveryInstallerDecisionHasAFindingOnItsLine) {
  std::set<int> shown;
  for (const InstallerCase& c : kInstaller) {
    SCOPED_TRACE(c.script);
    shown.insert(static_cast<int>(c.decision));
    std::vector<std::pair<std::string, std::string>> files;
    for (const auto& [file, bytes] : c.files) files.emplace_back("pkg/" + file, bytes);
    const std::vector<Finding> found = Check("pkg/BrixCopy.inf", c.script, files);
    EXPECT_TRUE(HasFinding(found, 1, c.id)) << Shown(found);
    bool listed = false;
    for (const char* id : brixdev::FindingIds(c.decision)) listed = listed || std::string(id) == c.id;
    EXPECT_TRUE(listed);
  }
  EXPECT_EQ(shown.size(), static_cast<std::size_t>(brixdev::kInstallerDecisions));
}

TEST(DecisionFindings, EveryIdHasItsRowInTheDocumentation) {
  std::ifstream docs(SOURCE_DIR "/docs/brixdev.md");
  std::stringstream text;
  text << docs.rdbuf();
  const std::string table = text.str();
  ASSERT_FALSE(table.empty());
  std::set<std::string> ids;
  for (int k = 0; k < brixdev::kImporterDecisions; ++k)
    for (const char* id : brixdev::FindingIds(static_cast<brixparse::Decision>(k))) ids.insert(id);
  for (int k = 0; k < brixdev::kInstallerDecisions; ++k)
    for (const char* id : brixdev::FindingIds(static_cast<brixcopy::Decision>(k))) ids.insert(id);
  ids.insert("unreadable");
  for (const std::string& id : ids) EXPECT_NE(table.find("\n| `" + id + "` |"), std::string::npos) << id;
}

// The lines whose stored result differs from what they say each get a finding at
// their line; lines that store what they say get none.
TEST(DecisionFindings, LinesThatStoreSomethingElseAreFound) {
  const std::vector<std::string> surprising = {
      "\"s1\"=\"unterminated", "\"d1\"=dword:-1",  "\"d2\"=dword:zz",        "\"d3\"=dword:",
      "\"h1\"=hex:01,02,zz",   "\"h2\"=hex:1,2,300", "\"m1\"=multi_sz:\"a\",\"b", "\"w\"=dword:1 junk",
      "\"e\"=\"a\" \"b\""};
  std::string script = kKey;
  for (const std::string& line : surprising) script += line + "\n";
  script += "\"ok\"=\"fine\"\n\"n\"=dword:0000002a\n\"b\"=hex:01,02\n";
  const std::vector<Finding> found = Check("s.reg", script);
  for (std::size_t i = 0; i < surprising.size(); ++i) {
    bool any = false;
    for (const Finding& f : found) any = any || f.line == static_cast<int>(i) + 2;
    EXPECT_TRUE(any) << surprising[i] << "\n" << Shown(found);
  }
  for (const Finding& f : found) EXPECT_LE(f.line, static_cast<int>(surprising.size()) + 1) << Shown(found);

  const std::vector<Finding> install =
      Check("pkg/BrixCopy.inf", "'README.txt' '\\Program Files\\MyTool\\README.txt'\n", {{"pkg/README.txt", "r"}});
  ASSERT_EQ(install.size(), 1u) << Shown(install);
  EXPECT_EQ(install[0].id, "relative-into-file");
  EXPECT_NE(install[0].message.find("\\Program Files\\MyTool\\README.txt\\README.txt"), std::string::npos);
}

}  // namespace
