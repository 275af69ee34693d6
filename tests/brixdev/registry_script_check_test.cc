// Checks of registry scripts: each finding shown by a script that has it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "brixdev/commands/check_command.h"
#include "tests/brixdev/workbench_support.h"

namespace {

using wbtest::Expected;
using wbtest::Finding;

struct RegCase {
  const char* name;
  std::string script;
  std::vector<Expected> expected;
};

const std::string kKey = "[HKEY_LOCAL_MACHINE\\Software\\A]\n";

const RegCase kCases[] = {
    {"CleanScript",
     "REGEDIT4\n\n; settings\n" + kKey +
         "\"Path\"=\"\\Windows\\app.exe\"\n\"Dir\"=\"\\Temp\\\"\n\"n\"=dword:0000000a\n\"b\"=hex:01,02,\\\n  03\n"
         "\"l\"=hex(7):41,00,42,00,00\n\"m\"=multi_sz:\"a\",\"b\"\n\"Semi\"=\"a;b\" ; note\n"
         "[HKEY_CURRENT_USER\\X]   ; trailing comment\n[HKEY_CLASSES_ROOT\\.x]\n",
     {}},
    {"ValueBeforeTheFirstKey", "\"early\"=dword:1\n" + kKey,
     {{1, 1, "warning", "value-before-key", "not stored"}}},
    {"BackslashEscapes", kKey + "\"p\"=\"C:\\\\Program Files\"\n\"q\"=\"say \\\"hi\\\"\"\n",
     {{2, 8, "warning", "backslash-escape", "'\\\\' is stored as written"},
      {3, 10, "warning", "backslash-escape", "it stands for '\"'"},
      {3, 11, "warning", "quote-in-string", "stores one string 'say \\\"hi\\\"'"}}},
    {"DefaultValue", kKey + "@=\"x\"\n", {{2, 1, "warning", "default-value", "no default values"}}},
    {"DeletedKeyAndValue", kKey + "\"v\"=-\n[-HKEY_LOCAL_MACHINE\\Software\\Old]\n",
     {{2, 5, "warning", "deletion", "cannot delete and ignores the line"},
      {3, 2, "warning", "deletion", "root '-HKEY_LOCAL_MACHINE' for unknown"}}},
    {"UpperCaseTypeWord", kKey + "\"d\"=DWORD:1\n", {{2, 5, "error", "upper-case-type", "'DWORD' in capitals"}}},
    {"TypeTheImporterLacks", kKey + "\"q\"=hex(b):01,00,00,00,00,00,00,00\n\"e\"=hex(0):\n",
     {{2, 5, "error", "unsupported-type", "'hex(b)' is no type"}, {3, 5, "error", "unsupported-type", "'hex(0)'"}}},
    {"UnknownTypeWord", kKey + "\"u\"=number:1\n\"w\"=dword 1\n",
     {{2, 5, "error", "unknown-type", "unknown type word 'number'"},
      {3, 5, "error", "unknown-type", "no type word with ':'"}}},
    {"Utf16BytesInCharacterLists", kKey + "\"x\"=hex(2):25,00,50,00,25,00,00,00\n\"y\"=hex(7):61,00,00,00,00,00\n",
     {{2, 5, "warning", "utf16-bytes", "every second number is 00"},
      {3, 5, "warning", "utf16-bytes", "every second number is 00"}}},
    {"TabBeforeTheTypeWord", kKey + "\"t\"= \tdword:1\n", {{2, 6, "error", "tab-before-type", "spaces only"}}},
    {"LongDwordNumber", kKey + "\"n\"=dword:0x123456789\n", {{2, 13, "warning", "long-dword", "9 digits"}}},
    {"EqualsNotDirectlyBehindTheName", kKey + "\"e\" = \"x\"\n\"f\"\n",
     {{2, 4, "error", "equals-not-direct", "directly"}, {3, 4, "error", "no-entry", "without '='"}}},
    {"KeyLineThatGivesNoKey", kKey + "[HKEY_LOCAL_MACHINE\\Software\\B;C]\n\"lost\"=dword:2\n[HKEY_LOCAL_MACHINE\\D\n",
     {{2, 1, "error", "no-key", "a ';' inside the brackets starts a comment"},
      {3, 1, "warning", "value-after-no-key", "the line meant as a key line before it gave no key"},
      {4, 1, "error", "no-key", "gives no key; the importer ignores it, and the values after it are not stored until "
                                "the next key line"}}},
    {"UnknownRoot", "[HKLM\\Software\\A]\n[hkey_current_user\\X]\n",
     {{1, 2, "error", "unknown-root", "unknown root 'HKLM'"},
      {2, 2, "error", "unknown-root", "root names are compared exactly"}}},
    {"KeyPathWithoutBackslash", "[HKEY_LOCAL_MACHINE]\n\"v\"=dword:1\n",
     {{1, 2, "warning", "no-subkey", "without a word"}}},
    {"LineThatGivesNoEntry", kKey + "garbage here\n", {{2, 1, "warning", "no-entry", "neither key nor value"}}},
    {"UnclosedValueName", kKey + "\"open=dword:1\n", {{2, 1, "error", "no-entry", "no closing double quote"}}},
    {"BlankBehindAContinuationBackslash", kKey + "\"h\"=hex:01,\\\n02,\\ \n03\n",
     {{3, 4, "warning", "blank-after-backslash", "does not continue"},
      {3, 4, "warning", "byte-not-hex", "'\\' is no hexadecimal number"},
      {4, 1, "warning", "no-entry", "neither key nor value"}}},
    {"ContinuationOnTheLastLine", kKey + "\"h\"=hex:01,\\\n02,\\\n",
     {{3, 3, "note", "list-separator", "(',')"}, {3, 4, "warning", "backslash-at-end", "nothing follows"}}},
    {"CarriageReturnsAlone", "REGEDIT4\r" + kKey.substr(0, kKey.size() - 1) + "\r\"a\"=dword:1\r",
     {{1, 1, "warning", "ignored-text", "before the key's '[' is ignored: 'REGEDIT4\\r'"},
      {1, 9, "error", "cr-line-end", "one line"},
      {1, 41, "warning", "ignored-text", "behind the key's ']' is ignored: '\\r\"a\"=dword:1\\r'"}}},
    {"NameTooLong", kKey + "\"" + std::string(256, 'n') + "\"=dword:1\n\"" + std::string(255, 'n') + "\"=dword:1\n",
     {{2, 1, "error", "long-name", "256 characters"}}},
    {"DesktopExportHeader", "Windows Registry Editor Version 5.00\n\n" + kKey,
     {{1, 1, "warning", "desktop-export", "brixdev reg convert"}}},
};

// The byte list of a value of n bytes: "01,01,...".
std::string Bytes(std::size_t n) {
  std::string list;
  for (std::size_t i = 0; i < n; ++i) list += i == 0 ? "01" : ",01";
  return list;
}

std::vector<Finding> CheckScript(const std::string& script, int* status) {
  wbtest::TempFolder folder;
  brixdev::CheckRequest request;
  request.paths = {folder.Write("s.reg", script)};
  request.importer = BRIXPARSE_PATH;
  std::string out, err;
  *status = brixdev::RunCheck(request, &out, &err);
  const std::vector<Finding> found = wbtest::ParseFindings(out);
  EXPECT_EQ(err, wbtest::SummaryOf(found));
  return found;
}

void ExpectFindings(const std::string& script, const std::vector<Expected>& expected) {
  int status = -1;
  const std::vector<Finding> found = CheckScript(script, &status);
  wbtest::ExpectFindings(found, expected);
  bool error = false;
  for (const Finding& f : found) error = error || f.severity == "error";
  EXPECT_EQ(status, error ? 1 : 0);
}

class RegistryScriptCheck : public ::testing::TestWithParam<RegCase> {};

TEST_P(RegistryScriptCheck, ReportsWhatTheScriptShows) { ExpectFindings(GetParam().script, GetParam().expected); }

INSTANTIATE_TEST_SUITE_P(Findings, RegistryScriptCheck, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<RegCase>& info) { return std::string(info.param.name); });

TEST(RegistryScriptCheckLimits, DataBeyondOneMebibyte) {
  // One byte beyond 1 MiB is refused, 1 MiB itself is stored.
  ExpectFindings(kKey + "\"big\"=hex:" + Bytes(1048577) + "\n\"fits\"=hex:" + Bytes(1048576) + "\n",
                 {{2, 7, "error", "large-data", "larger than 1 MiB"}});
}

TEST(RegistryScriptCheckLimits, LineTheImporterDoesNotKeep) {
  // A key line beyond the importer's line limit gives no key, so the value
  // after it is not stored; the line after that key line is read normally.
  const std::string huge(4u << 20, 'k');
  ExpectFindings(kKey + "[HKEY_LOCAL_MACHINE\\" + huge + "]\n\"v\"=dword:1\n" + kKey + "\"w\"=\"" + huge + "\n",
                 {{2, 1, "error", "line-too-long", "values after it are not stored until the next key line"},
                  {3, 1, "warning", "value-after-no-key", "is not stored"},
                  {5, 1, "error", "line-too-long", "it gives no entry"}});
}

TEST(RegistryScriptCheckOutput, JsonCarriesTheSameFindings) {
  wbtest::TempFolder folder;
  brixdev::CheckRequest request;
  request.paths = {folder.Write("s.reg", kKey + "\"d\"=DWORD:1\n@=\"x\"\n")};
  request.importer = BRIXPARSE_PATH;
  request.format = brixdev::Format::kJson;
  std::string out, err;
  EXPECT_EQ(brixdev::RunCheck(request, &out, &err), 1);
  const std::string file = "\"file\": \"" + request.paths[0] + "\"";
  EXPECT_EQ(out, "[\n  {" + file +
                     ", \"line\": 2, \"column\": 5, \"severity\": \"error\", \"id\": \"upper-case-type\", \"message\": "
                     "\"type word 'DWORD' in capitals: the importer knows lower case only, so it stores nothing\"},\n"
                     "  {" + file +
                     ", \"line\": 3, \"column\": 1, \"severity\": \"warning\", \"id\": \"default-value\", \"message\": "
                     "\"@= sets the default value in the desktop editors; the importer has no default values and "
                     "ignores the line\"}\n]\n");
}

// True when text is valid UTF-8 (no overlong forms, no surrogates, nothing beyond U+10FFFF).
bool ValidUtf8(const std::string& text) {
  for (std::size_t i = 0; i < text.size();) {
    const auto b = [&](std::size_t k) { return i + k < text.size() ? static_cast<unsigned char>(text[i + k]) : 0u; };
    const unsigned lead = b(0);
    std::size_t n = lead < 0x80 ? 1 : lead >= 0xC2 && lead <= 0xDF ? 2 : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4 : 0;
    if (n == 0) return false;
    for (std::size_t k = 1; k < n; ++k)
      if ((b(k) & 0xC0) != 0x80) return false;
    if ((lead == 0xE0 && b(1) < 0xA0) || (lead == 0xED && b(1) > 0x9F) || (lead == 0xF0 && b(1) < 0x90) ||
        (lead == 0xF4 && b(1) > 0x8F))
      return false;
    i += n;
  }
  return true;
}

TEST(RegistryScriptCheckOutput, AnUnreadablePathHidesNoFindingsOfTheOthers) {
  wbtest::TempFolder folder;
  brixdev::CheckRequest request;
  const std::string first = folder.Write("a.reg", kKey + "\"d\"=DWORD:1\n");
  const std::string missing = folder.path() + "/absent.reg";
  const std::string last = folder.Write("z.reg", kKey + "\"w\"=dword:1 junk\n");
  request.paths = {first, missing, last};
  request.importer = BRIXPARSE_PATH;
  std::string out, err;
  EXPECT_EQ(brixdev::RunCheck(request, &out, &err), 2);
  EXPECT_EQ(err, "brixdev: cannot read " + missing + "\n1 error, 1 warning, 0 notes\n");
  wbtest::ExpectFindings(wbtest::ParseFindings(out), {{2, 5, "error", "upper-case-type", "in capitals"},
                                                      {2, 13, "warning", "text-after-value", "'junk'"}});

  request.format = brixdev::Format::kJson;
  out.clear();
  err.clear();
  EXPECT_EQ(brixdev::RunCheck(request, &out, &err), 2);
  EXPECT_EQ(err, "brixdev: cannot read " + missing + "\n");
  // Sorted by file: the unreadable path between the two scripts.
  const std::size_t a = out.find("\"id\": \"upper-case-type\""), b = out.find("\"id\": \"unreadable\""),
                    z = out.find("\"id\": \"text-after-value\"");
  EXPECT_TRUE(a != std::string::npos && b != std::string::npos && z != std::string::npos && a < b && b < z) << out;
  EXPECT_NE(out.find("{\"file\": \"" + missing + "\", \"line\": 1, \"column\": 1, \"severity\": \"error\", \"id\": "
                     "\"unreadable\", \"message\": \"cannot read " + missing + "\"}"),
            std::string::npos)
      << out;
  // SARIF, the other report for machines, names it too.
  request.format = brixdev::Format::kSarif;
  out.clear();
  err.clear();
  EXPECT_EQ(brixdev::RunCheck(request, &out, &err), 2);
  EXPECT_NE(out.find("\"ruleId\": \"unreadable\""), std::string::npos) << out;
}

TEST(RegistryScriptCheckOutput, JsonIsUtf8WhateverTheFileNamesHold) {
  wbtest::TempFolder folder;
  brixdev::CheckRequest request;
  // A Latin-1 name, and a name cut in the middle of a UTF-8 sequence.
  request.paths = {folder.Write("caf\xe9.reg", kKey + "\"d\"=DWORD:1\n"), folder.Write("x\xe2\x82.reg", "@=\"x\"\n"),
                   folder.path() + "/gone\xff.reg"};
  request.importer = BRIXPARSE_PATH;
  request.format = brixdev::Format::kJson;
  std::string out, err;
  EXPECT_EQ(brixdev::RunCheck(request, &out, &err), 2);
  EXPECT_TRUE(ValidUtf8(out)) << out;
  EXPECT_NE(out.find("caf\xEF\xBF\xBD.reg\", \"line\": 2"), std::string::npos) << out;
  EXPECT_NE(out.find("x\xEF\xBF\xBD\xEF\xBF\xBD.reg\", \"line\": 1"), std::string::npos) << out;
  EXPECT_NE(out.find("gone\xEF\xBF\xBD.reg\", \"line\": 1, \"column\": 1, \"severity\": \"error\", \"id\": \"unreadable\""),
            std::string::npos)
      << out;
}

}  // namespace
