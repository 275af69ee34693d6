// The script reader: which path a command line opens, comment removal,
// trimming, whole physical lines and the joining of continuation lines.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "regimport/script_file.h"
#include "tests/regimport/import_test_util.h"

namespace {

using regtest::Widen;

// Every logical line of a script, in order; error set when a read failed.
struct LogicalLines {
  std::vector<std::u16string> lines;
  int last = kLineRead;
};

LogicalLines ReadAll(const std::string& scriptBytes) {
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath, scriptBytes);
  CScriptFile script;
  script.Open(regtest::kScriptPath);
  EXPECT_NE(script.stream, nullptr);
  LogicalLines out;
  std::u16string physical, logical;
  while ((out.last = ReadLogicalLine(script, physical, logical)) == kLineRead)
    out.lines.push_back(logical);
  return out;
}

TEST(ScriptFileOpen, CommandLineFormsOpenTheRightPath) {
  const std::u16string longPath = u"\\" + std::u16string(259, u'a');  // 260 with the backslash
  const std::u16string longestPath = u"\\" + std::u16string(258, u'a');
  struct Case {
    std::u16string commandLine;
    std::optional<std::u16string> opened;  // nullopt: no open attempted
  } cases[] = {
      {u"\\Storage\\setup.reg", u"\\Storage\\setup.reg"},
      {u"\"\\Storage Card\\setup.reg\"", u"\\Storage Card\\setup.reg"},
      {u"\"\\Storage Card\\setup.reg\" extra", u"\\Storage Card\\setup.reg"},
      {u"\\My \"x\".reg", u"My "},
      {u"\\a.reg ", u"\\a.reg "},  // no blanks are trimmed
      {u"\"\\unclosed.reg", u"\\unclosed.reg"},
      {u"", std::nullopt},
      {u"\"\"", std::nullopt},
      {longestPath, longestPath},
      {longPath, std::nullopt},  // too long for the path buffer: refused, not cut short
      {u"\"" + longPath + u"\"", std::nullopt},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.commandLine.begin(), c.commandLine.end()));
    plat::fake::Reset();
    CScriptFile script;
    script.Open(c.commandLine.c_str());
    const auto opens = plat::fake::CallsOf("StreamOpen");
    if (!c.opened) {
      EXPECT_TRUE(opens.empty());
      EXPECT_EQ(script.stream, nullptr);
      continue;
    }
    ASSERT_EQ(opens.size(), 1u);
    EXPECT_EQ(opens[0].text, *c.opened);
    EXPECT_EQ(opens[0].text2, u"rt");
  }
}

TEST(ScriptFileOpen, PathIsKeptOnlyWhenTheOpenSucceeded) {
  plat::fake::Reset();
  plat::fake::AddFile(u"\\Storage Card\\setup.reg", "[HKEY_LOCAL_MACHINE\\A]\n");
  CScriptFile opened;
  opened.Open(u"\"\\Storage Card\\setup.reg\"");
  ASSERT_NE(opened.stream, nullptr);
  EXPECT_EQ(std::u16string(opened.path), u"\\Storage Card\\setup.reg");
  opened.Close();
  EXPECT_EQ(opened.stream, nullptr);
  opened.Close();  // closing twice is harmless

  CScriptFile missing;
  missing.Open(u"\\nothing.reg");
  EXPECT_EQ(missing.stream, nullptr);
  EXPECT_EQ(std::u16string(missing.path), u"");
}

TEST(ScriptFileLines, TrimRightRemovesOnlyTrailingSpacesAndTabs) {
  const std::pair<std::u16string, std::u16string> cases[] = {
      {u"abc", u"abc"},        {u"abc \t \t", u"abc"}, {u" \t ", u""},
      {u"", u""},              {u"a\r ", u"a\r"},      {u"  a b  ", u"  a b"},
  };
  for (const auto& [in, expected] : cases) {
    std::u16string line = in;
    TrimRight(line);
    EXPECT_EQ(line, expected) << std::string(in.begin(), in.end());
  }
}

TEST(ScriptFileLines, StripCommentTable) {
  const std::pair<const char*, const char*> cases[] = {
      {"[HKEY_LOCAL_MACHINE\\Software\\A]   ; main key", "[HKEY_LOCAL_MACHINE\\Software\\A]"},
      {"\"Path\"=\"\\Temp\\a;b\"", "\"Path\"=\"\\Temp\\a;b\""},
      {"\"Path\"=\"a;b\" ; note", "\"Path\"=\"a;b\""},
      {"\"x\"=dword:1 ; one ; two", "\"x\"=dword:1 ; one"},
      {"; whole line", ""},
      {"\"Note\"=\"x\" ; say \"hi\"", "\"Note\"=\"x\" ; say \"hi\""},
      {"\"a;b\"=dword:1", "\"a;b\"=dword:1"},
      {"[HKEY_LOCAL_MACHINE\\a;b]", "[HKEY_LOCAL_MACHINE\\a"},
      {"\"x\"=dword:1\t;\tc", "\"x\"=dword:1"},
      {"\"x\"=dword:1   ", "\"x\"=dword:1"},
      {"no comment", "no comment"},
      {";", ""},
  };
  for (const auto& [in, expected] : cases) {
    std::u16string line = Widen(in);
    StripComment(line);
    EXPECT_EQ(line, Widen(expected)) << in;
  }
}

TEST(ScriptFileLines, LogicalLinesFromPhysicalLines) {
  struct Case {
    const char* script;
    std::vector<std::string> logical;
  } cases[] = {
      {"\"Data\"=hex:01,02,\\\n03,04\n", {"\"Data\"=hex:01,02,03,04"}},
      {"\"Data\"=hex:01,02,\\\n  03,04\n", {"\"Data\"=hex:01,02,  03,04"}},
      {"\"Data\"=hex:01,02,\\ ; bytes\n03\n", {"\"Data\"=hex:01,02,03"}},
      {"\"Data\"=hex:01,\\\n02,\\ \n03\n", {"\"Data\"=hex:01,02,\\ ", "03"}},
      {"\"Data\"=hex:01,\\\n02 ; two\n", {"\"Data\"=hex:01,02 ; two"}},
      {"\"Data\"=hex:01,\\", {"\"Data\"=hex:01,"}},
      {"\"Data\"=hex:01,\\\n", {"\"Data\"=hex:01,"}},
      {"\"A\"=dword:1\n\\\n\"B\"=dword:2\n", {"\"A\"=dword:1", "\"B\"=dword:2"}},
      {"a\\\nb\\\nc\n", {"abc"}},
      {"a\r\nb\r\n", {"a", "b"}},
      {"a\rb\n", {"a\rb"}},
      {"x\ny", {"x", "y"}},
      {"\n   \n\t\n", {"", "", ""}},
      {"", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.script);
    const LogicalLines got = ReadAll(c.script);
    EXPECT_EQ(got.last, kLineEndOfFile);
    std::vector<std::u16string> expected;
    for (const std::string& line : c.logical) expected.push_back(Widen(line));
    EXPECT_EQ(got.lines, expected);
  }
}

TEST(ScriptFileLines, LongPhysicalLinesArriveWhole) {
  for (std::size_t length : {509u, 510u, 1022u, 1023u, 1024u, 5000u, 70000u}) {
    SCOPED_TRACE(length);
    std::string line(length, 'x');
    for (std::size_t i = 0; i < length; i += 97) line[i] = static_cast<char>('a' + i % 26);
    const LogicalLines got = ReadAll(line + "\nnext\n" + line);
    ASSERT_EQ(got.lines.size(), 3u);
    EXPECT_EQ(got.lines[0], Widen(line));
    EXPECT_EQ(got.lines[1], u"next");
    EXPECT_EQ(got.lines[2], Widen(line));
  }
}

TEST(ScriptFileLines, ReadErrorsAreReported) {
  // A failed read between lines and one inside a run of continuation lines.
  for (int failingRead : {1, 2, 3}) {
    SCOPED_TRACE(failingRead);
    plat::fake::Reset();
    plat::fake::AddFile(regtest::kScriptPath, "first\\\nsecond\nthird\n");
    plat::fake::InjectFailure({"StreamReadLine", plat::kErrorAccessDenied, failingRead, {}});
    CScriptFile script;
    script.Open(regtest::kScriptPath);
    std::u16string physical, logical;
    int result = kLineRead;
    int lines = 0;
    while ((result = ReadLogicalLine(script, physical, logical)) == kLineRead) ++lines;
    EXPECT_EQ(result, kLineReadError);
    EXPECT_EQ(lines, failingRead == 3 ? 1 : 0);
  }
}

}  // namespace
