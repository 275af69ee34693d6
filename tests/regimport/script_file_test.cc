// The script reader: which path a command line opens, comment removal,
// trimming, whole physical lines and the joining of continuation lines.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "regimport/script_file.h"
#include "tests/regimport/import_test_util.h"

namespace brixparse::test {

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

// Every logical line of a script with the result it was read with, up to the
// end of file; lines longer than limit are not kept.
using Read = std::pair<int, std::u16string>;
std::vector<Read> ReadResults(const std::string& scriptBytes, std::size_t limit = kMaxLineUnits) {
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath, scriptBytes);
  CScriptFile script;
  script.maxLineUnits = limit;
  script.Open(regtest::kScriptPath);
  std::vector<Read> out;
  std::u16string physical, logical;
  int result = kLineRead;
  while ((result = ReadLogicalLine(script, physical, logical)) == kLineRead || result == kLineTooLong)
    out.emplace_back(result, logical);
  EXPECT_EQ(result, kLineEndOfFile);
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

TEST(ScriptFileLines, LinesAreWholeWhateverUnitsTheyHold) {
  // A line feed alone ends a line: not a surrogate pair that misses the end of
  // a read by one unit, not a zero unit, in either encoding.
  const std::u16string smiley = u"\U0001F600";
  std::vector<std::u16string> lines;
  for (std::size_t before : {1020u, 1021u, 1022u, 1023u, 2044u, 2045u, 2046u}) {
    lines.push_back(std::u16string(before, u'a') + smiley + u" tail \"smuggled\"=\"1\"");
  }
  lines.push_back(std::u16string(u"\"a\"=\"v") + u'\0' + std::u16string(1100, u'p') + u" \"evil\"=\"1\"");
  lines.push_back(std::u16string(1021, u'b') + u'\0' + smiley + u'\0' + std::u16string(3000, u'c'));
  // UTF-8 of these lines: ASCII and the one character beyond U+FFFF.
  const auto utf8 = [&](const std::u16string& text) {
    std::string out;
    for (char16_t unit : text) {
      if (unit == smiley[0]) out += "\xF0\x9F\x98\x80";
      if (unit < 0x80) out.push_back(static_cast<char>(unit));
    }
    return out;
  };
  for (const std::u16string& line : lines) {
    for (bool utf16 : {false, true}) {
      SCOPED_TRACE(testing::Message() << line.size() << (utf16 ? " utf-16" : " utf-8"));
      const std::u16string text = line + u"\nnext\n" + line;
      const std::string bytes = utf16 ? "\xFF\xFE" + regtest::Utf16Bytes(text) : utf8(text);
      const LogicalLines got = ReadAll(bytes);
      EXPECT_EQ(got.lines, (std::vector<std::u16string>{line, u"next", line}));
    }
  }
}

TEST(ScriptFileLines, TheLineLimitKeepsTheLongestLine) {
  const std::string cap(kMaxLineUnits, 'x');
  EXPECT_EQ(ReadResults(cap + "\nnext\n" + cap + "x\nnext"),
            (std::vector<Read>{{kLineRead, Widen(cap)}, {kLineRead, u"next"}, {kLineTooLong, u"x"},
                               {kLineRead, u"next"}}));
}

TEST(ScriptFileLines, OverLongLinesArePassedOverToTheirEnd) {
  // A limit of a few reads of the stream: the rules are the same for any limit.
  constexpr std::size_t kLimit = 3000;
  const std::string over(kLimit + 1, 'x');
  const std::u16string next = u"next";
  struct Case {
    const char* name;
    std::string script;
    std::vector<Read> expected;
  } cases[] = {
      {"at the end of the file", over, {{kLineTooLong, u"x"}}},
      {"far beyond the limit", std::string(50 * kLimit, 'x') + "\nnext\n", {{kLineTooLong, u"x"}, {kLineRead, next}}},
      {"a key line, blanks in front", " \t[" + over + "]\nnext\n", {{kLineTooLong, u"["}, {kLineRead, next}}},
      {"blanks beyond the limit, then a bracket", std::string(kLimit + 1, ' ') + "[K\\A]\nnext\n",
       {{kLineTooLong, u"["}, {kLineRead, next}}},
      {"its continuation line goes with it", over + "\\\n\"evil\"=dword:1\nnext\n",
       {{kLineTooLong, u"x"}, {kLineRead, next}}},
      {"continued behind a comment", over + "\\ ; note\n\"evil\"=dword:1\nnext\n",
       {{kLineTooLong, u"x"}, {kLineRead, next}}},
      {"a double quote behind the semicolon keeps it", over + "\\ ; \"q\"\nnext\n",
       {{kLineTooLong, u"x"}, {kLineRead, next}}},
      {"only the last semicolon starts the comment", over + "\\;;\n\"v\"=dword:1\n",
       {{kLineTooLong, u"x"}, {kLineRead, u"\"v\"=dword:1"}}},
      {"joined past the limit", std::string(kLimit - 10, 'y') + "\\\n" + std::string(20, 'z') +
                                    "\\\n\"evil\"=dword:1\nnext\n",
       {{kLineTooLong, u"y"}, {kLineRead, next}}},
      {"joined up to the limit", std::string(kLimit - 10, 'y') + "\\\n" + std::string(10, 'z') + "\nnext\n",
       {{kLineRead, Widen(std::string(kLimit - 10, 'y') + std::string(10, 'z'))}, {kLineRead, next}}},
      {"an over-long continuation line continues as read", "a\\\n" + over + "\\\n\"evil\"=dword:1\nnext\n",
       {{kLineTooLong, u"a"}, {kLineRead, next}}},
      {"and keeps its comment", "a\\\n" + over + "\\ ; c\nnext\n",
       {{kLineTooLong, u"a"}, {kLineRead, next}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ReadResults(c.script, kLimit), c.expected);
  }
}

TEST(ScriptFileLines, EndsOfOverLongLinesFollowTheLineRules) {
  // What is gathered of a line that is passed over must agree with the rules
  // applied to lines that are kept.
  const char* const lines[] = {
      "", " \t ", "abc", "  [k]", "\t\"x", "a\\", "a\\ \t", "a\\;", "a\\ ; c", "a\\;;",
      "a\\;\"", "a\\\";x", "\";\\", ";", "  ;  ", "a;b;c\\", "a\\ ; \"q\" ; r", "x\r",
  };
  for (const char* text : lines) {
    SCOPED_TRACE(text);
    const std::u16string line = Widen(text);
    for (std::size_t split = 0; split <= line.size(); ++split) {
      LineEnds ends;
      ends.Feed(line.data(), split);
      ends.Feed(line.data() + split, line.size() - split);
      std::u16string stripped = line;
      StripComment(stripped);
      const std::size_t first = line.find_first_not_of(u" \t");
      EXPECT_EQ(ends.firstNonBlank, first == std::u16string::npos ? 0 : line[first]);
      EXPECT_EQ(ends.last, line.empty() ? 0 : line.back());
      EXPECT_EQ(ends.lastAfterComment, stripped.empty() ? 0 : stripped.back());
    }
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

}  // namespace brixparse::test
