// The importer's lenient decisions: every kind shown on a line that makes it,
// at its place in the script; clean lines make none, and an observer changes
// nothing of what is parsed.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/fake/fake.h"
#include "regimport/brixparse.h"
#include "tests/regimport/import_test_util.h"

namespace brixparse::test {
namespace {

struct Seen {
  Decision decision;
  std::size_t line;
  std::size_t column;
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& s, std::ostream* os) {
  *os << "decision " << static_cast<int>(s.decision) << " at " << s.line << ":" << s.column;
}

class Recorder : public DecisionObserver {
 public:
  void Decided(Decision decision, DecisionPlace place, std::u16string_view) override {
    seen.push_back({decision, place.line, place.column});
  }
  void Parsed(const LineTrace&, const CLineEntry*) override { ++lines; }
  std::vector<Seen> seen;
  int lines = 0;
};

struct Observed {
  std::vector<Seen> seen;
  std::vector<regtest::KeySummary> keys;
};

Observed Observe(const std::string& script, std::size_t maxLineUnits = kMaxLineUnits) {
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath, script);
  CScriptFile file;
  file.Open(regtest::kScriptPath);
  file.maxLineUnits = maxLineUnits;
  CBrixparse parser(file);
  Recorder recorder;
  parser.observer = &recorder;
  parser.ParseFile();
  return {recorder.seen, regtest::Summarise(parser.keys.get())};
}

const std::string kKey = "[HKEY_LOCAL_MACHINE\\S]\n";

struct Case {
  const char* name;
  std::string script;
  std::vector<Seen> expected;
};

using D = Decision;

const Case kCases[] = {
    {"CarriageReturn", kKey + "\"c\"=dword:1\r2\n", {{D::kCarriageReturn, 2, 12}, {D::kTextAfterValue, 2, 12}}},
    {"BlankAfterBackslash", kKey + "\"h\"=hex:01,\\\n02,\\ \n03\n",
     {{D::kBlankAfterBackslash, 3, 4}, {D::kByteNotHex, 3, 4}, {D::kNoEntry, 4, 1}}},
    {"BackslashAtEnd", kKey + "\"h\"=hex:01,\\\n02,\\\n", {{D::kBackslashAtEnd, 3, 4}, {D::kListSeparator, 3, 3}}},
    {"ValueBeforeKey", "\"early\"=dword:1\n" + kKey, {{D::kValueBeforeKey, 1, 1}}},
    {"ValueAfterNoKey", kKey + "[HKEY_LOCAL_MACHINE\\B;C]\n\"lost\"=dword:2\n",
     {{D::kKeyUnclosed, 2, 1}, {D::kValueAfterNoKey, 3, 1}}},
    {"ZeroCharacter", kKey + "\"z\"=\"v" + std::string(1, '\0') + "w\"\n",
     {{D::kZeroCharacter, 2, 7}, {D::kStringUnclosed, 2, 6}}},
    {"NoEntry", kKey + "garbage here\n", {{D::kNoEntry, 2, 1}}},
    {"TextBeforeEntry", kKey + "junk \"t\"=dword:1\n", {{D::kTextBeforeEntry, 2, 1}}},
    {"KeyUnclosed", kKey + "[HKEY_LOCAL_MACHINE\\D\n", {{D::kKeyUnclosed, 2, 1}}},
    {"TextAfterKey", kKey + "[HKEY_LOCAL_MACHINE\\E] more\n", {{D::kTextAfterKey, 2, 24}}},
    {"NameUnclosed", kKey + "\"open=dword:1\n", {{D::kNameUnclosed, 2, 1}}},
    {"NameTooLong", kKey + "\"" + std::string(256, 'n') + "\"=dword:1\n", {{D::kNameTooLong, 2, 1}}},
    {"NoEquals", kKey + "\"e\" = \"x\"\n", {{D::kNoEquals, 2, 4}}},
    {"NoTypeWord", kKey + "\"w\"=dword 1\n", {{D::kNoTypeWord, 2, 5}}},
    {"UnknownTypeWord", kKey + "\"u\"=number:1\n", {{D::kUnknownTypeWord, 2, 5}}},
    {"ShortTypeWord", kKey + "\"d\"=d:ff\n", {{D::kShortTypeWord, 2, 5}}},
    {"TextBeforeValue", kKey + "\"a\"=junk\"x\"\n", {{D::kTextBeforeValue, 2, 5}}},
    {"TextAroundTheTypeWord", kKey + "\"a\"=dword x:1\n", {{D::kTextAroundType, 2, 5}}},
    {"ListOpening", kKey + "\"m\"=multi_sz: \"ab\"\n", {{D::kListOpening, 2, 14}, {D::kQuoteInString, 2, 15}}},
    {"TextAfterValue", kKey + "\"w\"=dword:1 junk\n", {{D::kTextAfterValue, 2, 13}}},
    {"StringUnclosed", kKey + "\"s1\"=\"unterminated\n", {{D::kStringUnclosed, 2, 18}}},
    {"QuoteInString", kKey + "\"e\"=\"a\" \"b\"\n", {{D::kQuoteInString, 2, 7}}},
    {"ListTextSkipped", kKey + "\"m\"=multi_sz:\"a\",x\"b\"\n", {{D::kListTextSkipped, 2, 17}}},
    {"ListStringUnclosed", kKey + "\"m1\"=multi_sz:\"a\",\"b\n", {{D::kStringUnclosed, 2, 20}}},
    {"NumberNotHex", kKey + "\"d1\"=dword:-1\n\"d2\"=dword:zz\n\"d3\"=dword:\n",
     {{D::kNumberNotHex, 2, 12}, {D::kNumberNotHex, 3, 12}, {D::kNumberNotHex, 4, 12}}},
    {"NumberTooLong", kKey + "\"n\"=dword:0x123456789\n", {{D::kNumberTooLong, 2, 13}}},
    {"NumberForm", kKey + "\"n\"=dword:0x1f\n\"o\"=dword:000000001\n", {{D::kNumberForm, 2, 11}, {D::kNumberForm, 3, 11}}},
    {"ByteNotHex", kKey + "\"h1\"=hex:01,02,zz\n", {{D::kByteNotHex, 2, 16}}},
    {"ByteOverFF", kKey + "\"h2\"=hex:1,2,300\n",
     {{D::kNumberForm, 2, 10}, {D::kNumberForm, 2, 12}, {D::kByteOverFF, 2, 14}}},
    {"ListSeparator", kKey + "\"h\"=hex:01,,02 03\n", {{D::kListSeparator, 2, 11}, {D::kListSeparator, 2, 15}}},
    {"CleanLines",
     kKey + "\"ok\"=\"fine\"\n\"n\"=dword:0000002a\n\"b\"=hex:01,02\n\"Spaced\"= dword : 10\n"
            "\"Multi\"=multi_sz:\"ab\", \"cd\"\n\"Long\"=hex:01,02,\\\n  03,04\n\"Note\"=\"x\" ; a comment\n"
            "\"Path\"=\"\\Temp\\a;b\"\n\"Left\"=dword:0\n\"List\"=hex(7):41,00,42,00,00\n\"Empty\"=\"\"\n"
            "\"Tab\"=dword:\t1\n\"None\"=hex:\n\"NoStrings\"=multi_sz:\n; \"quoted\" comment\n\n"
            "[HKEY_CURRENT_USER\\X]   ; trailing comment\n",
     {}},
};

class ImporterDecisions : public ::testing::TestWithParam<Case> {};

TEST_P(ImporterDecisions, EachKindAtItsPlace) {
  const Observed observed = Observe(GetParam().script);
  EXPECT_EQ(observed.seen, GetParam().expected);
  // Watching changes nothing of what is parsed.
  EXPECT_EQ(observed.keys, regtest::ParseScript(GetParam().script).keys);
}

INSTANTIATE_TEST_SUITE_P(Lines, ImporterDecisions, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST(ImporterDecisionLimits, LineTooLongAndDataTooLarge) {
  // A line beyond the kept length gives no entry; data beyond 1 MiB gives no value.
  EXPECT_EQ(Observe(kKey + "\"long\"=\"" + std::string(40, 'x') + "\"\n", 30).seen,
            (std::vector<Seen>{{D::kLineTooLong, 2, 1}}));
  std::string bytes = "01";
  for (std::size_t i = 1; i <= kMaxValueData; ++i) bytes += ",01";
  EXPECT_EQ(Observe(kKey + "\"big\"=hex:" + bytes + "\n").seen, (std::vector<Seen>{{D::kDataTooLarge, 2, 7}}));
}

TEST(ImporterDecisionLimits, CommandLinesTellWhatIsNoPath) {
  struct Taken : LineObserver {
    void Decided(Decision decision, std::size_t offset, std::size_t length) override {
      seen.push_back({decision, offset, length});
    }
    std::vector<Seen> seen;  // offset and length in place of line and column
  };
  plat::fake::Reset();
  plat::fake::AddFile(u"\\Temp\\a b.reg", "");
  const std::pair<std::u16string, std::vector<Seen>> cases[] = {
      {u"\"\\Temp\\a b.reg\"", {}},
      {u"\\Temp\\a b.reg", {}},
      {u"\"\\Temp\\a b.reg\" /s", {{D::kCommandLineRest, 15, 3}}},
      {u"x\\Temp\\a b.reg\" -q\"", {{D::kCommandLineFirst, 0, 1}, {D::kCommandLineRest, 15, 4}}},
  };
  for (const auto& [commandLine, expected] : cases) {
    Taken taken;
    CScriptFile file;
    file.Open(commandLine.c_str(), &taken);
    EXPECT_NE(file.stream, nullptr);
    EXPECT_EQ(taken.seen, expected);
  }
}

TEST(ImporterDecisionLimits, EveryParsedLineIsShown) {
  plat::fake::Reset();
  plat::fake::AddFile(regtest::kScriptPath, kKey + "\n; c\n\"a\"=dword:1\n");
  CScriptFile file;
  file.Open(regtest::kScriptPath);
  CBrixparse parser(file);
  Recorder recorder;
  parser.observer = &recorder;
  parser.ParseFile();
  EXPECT_EQ(recorder.lines, 4);
}

}  // namespace
}  // namespace brixparse::test
