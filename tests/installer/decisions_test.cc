// The installer's lenient decisions: each kind shown on a line (or entry, or
// path) that makes it, with the text it concerns; clean lines make none, and
// an observer changes nothing the installer does.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "installer/file_ops.h"
#include "installer/inf_line.h"
#include "installer/launch.h"
#include "installer/line_rules.h"
#include "installer/wildcard_copy.h"
#include "test_support.h"

namespace brixcopy::test {
namespace {

using D = Decision;

struct Seen {
  Decision decision;
  std::string text;  // the units the decision concerns
  bool operator==(const Seen&) const = default;
};

void PrintTo(const Seen& s, std::ostream* os) { *os << "decision " << static_cast<int>(s.decision) << " '" << s.text << "'"; }

class Recorder : public LineObserver {
 public:
  void Decided(Decision decision, const char16_t* at, std::size_t length) override {
    seen.push_back({decision, A(std::u16string(at, length))});
  }
  std::vector<Seen> seen;
};

// A script line through the line parser and, when well formed, the runner's choice of action.
void SplitAndChoose(const std::string& line, Recorder* recorder) {
  char16_t source[kPathChars], destination[kPathChars], options[kPathChars];
  bool resolved = false;
  if (SplitInfLine(U(line).c_str(), kPackageDir, source, destination, options, &resolved, recorder) == InfLineFault::kNone)
    ActionOf(options, recorder);
}

struct Case {
  const char* name;
  std::function<void(Recorder*)> run;
  std::vector<Seen> expected;
};

std::function<void(Recorder*)> Line(const std::string& line) {
  return [line](Recorder* r) { SplitAndChoose(line, r); };
}
std::function<void(Recorder*)> Start(const std::string& entry) {
  return [entry](Recorder* r) {
    StartPlan plan;
    PlanStart(U(entry).c_str(), &plan, r);
  };
}
std::function<void(Recorder*)> Wildcard(const std::string& line) {
  return [line](Recorder* r) {
    char16_t source[kPathChars], destination[kPathChars], options[kPathChars];
    bool resolved = false;
    ASSERT_EQ(SplitInfLine(U(line).c_str(), kPackageDir, source, destination, options, &resolved), InfLineFault::kNone);
    WildcardPlan plan;
    ASSERT_TRUE(PlanWildcardCopy(kPackageDir, source, destination, resolved, &plan, r));
    CreatePath(plan.targetDir);
    RunWildcardCopy(plan, source, r);
  };
}
std::function<void(Recorder*)> Path(const std::string& path) {
  return [path](Recorder* r) { CreatePath(U(path).c_str(), r); };
}

const Case kCases[] = {
    {"TextOutsideTheFields", Line("x 'a.txt' y '\\D' z\n"),
     {{D::kTextBeforeSource, "x"}, {D::kTextBetweenFields, "y"}, {D::kTextAfterFields, "z"}}},
    {"NoDestination", Line("'a.txt'\n"), {{D::kNoDestination, ""}}},
    {"RelativeSourceIntoAFile", Line("'README.txt' '\\Program Files\\MyTool\\README.txt'\n"),
     {{D::kRelativeIntoFile, "\\Program Files\\MyTool\\README.txt"}}},
    {"ForwardSlashOpeningTheSource", Line("'/drivers/a.txt' '\\D'\n"), {{D::kForwardSlash, "/"}}},
    {"OptionsThatChooseNothing", Line("'a.txt' '\\D' -R\n"), {{D::kNoActionOptions, "-R"}}},
    {"SeveralActions", Line("'\\x.dll' -x -r -q\n"), {{D::kSeveralActions, "-x -r -q"}, {D::kIgnoredOptionText, "-q"}}},
    {"OptionTextRuns", Line("'\\x.exe' -xq foo\n"), {{D::kIgnoredOptionText, "q"}, {D::kIgnoredOptionText, "foo"}}},
    {"RelativeWildcard", Wildcard("'drivers\\*' '\\Windows'\n"),
     {{D::kRelativeWildcard, "\\Windows\\BrixCopy\\drivers\\*"}, {D::kWildcardNoMatch, "\\Windows\\BrixCopy\\drivers\\*"}}},
    {"WildcardFolderWithASlash", Wildcard("'\\sub/x*' '\\D'\n"),
     {{D::kForwardSlash, "/"}, {D::kWildcardNoMatch, "\\Windows\\BrixCopy\\sub/x*"}}},
    {"PathMadeAFolder", Path("\\Data\\README"), {{D::kFolderFromPath, "\\Data\\README"}}},
    {"SlashInAPathToCreate", Path("\\Data/Sub\\a.txt"), {{D::kForwardSlash, "/"}}},
    {"LineBeginningWithACarriageReturn",
     [](Recorder* r) {
       EXPECT_EQ(ScriptLineText(u"  \r'a.txt' '\\D'\n", r), nullptr);
       EXPECT_EQ(ScriptLineText(u"\r\n", r), nullptr);
     },
     {{D::kSkippedLine, "\r'a.txt' '\\D'\n"}}},
    {"QuoteNotFirst", Start("\\Windows\\app.exe \"a b\" -k"), {{D::kQuoteNotFirst, "\\"}}},
    {"UnitAfterTheClosingQuote", Start("\"\\a b.exe\"-s"), {{D::kAfterQuoteSkipped, "-"}}},
    {"CabInsideTheEntry", Start("\\Windows\\tool.exe \\x.CAB /q"), {{D::kCabInEntry, ".CAB"}}},
    {"VbInsideTheEntry", Start("\\Windows\\game.vb /x"), {{D::kVbInEntry, ".vb"}}},
    {"CleanLines",
     [](Recorder* r) {
       for (const char* line : {"'a.txt' '\\Program Files\\App'\n", "'\\Windows\\x.dll' -r\n",
                                "'\\a.txt' '\\Windows\\b.txt'\n", "'\\Windows\\app.exe -s' -e\n",
                                "'x.dll' '\\Windows' -r\n", "'a.txt' '' \r\n"})
         SplitAndChoose(line, r);
       for (const char* entry : {"\"\\Program Files\\x.exe\" -s", "\"\\Program Files\\x.exe\" ", "\\Windows\\setup.cab",
                                 "\\Windows\\app.exe -a -b", "\\Windows\\game.VB"}) {
         StartPlan plan;
         PlanStart(U(entry).c_str(), &plan, r);
       }
       CreatePath(u"\\Windows\\App\\app.exe", r);
       CreatePath(u"\\Windows", r);  // exists already: nothing new is made
     },
     {}},
};

class InstallerDecisions : public FakeDeviceTest, public ::testing::WithParamInterface<Case> {};

TEST_P(InstallerDecisions, EachKindWithItsText) {
  plat::fake::AddDirectory(u"\\Windows");
  Recorder recorder;
  GetParam().run(&recorder);
  EXPECT_EQ(recorder.seen, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(Lines, InstallerDecisions, ::testing::ValuesIn(kCases),
                         [](const ::testing::TestParamInfo<Case>& info) { return std::string(info.param.name); });

TEST_F(FakeDeviceTest, WatchingChangesNothingTheInstallerDoes) {
  // The same calls, in the same order, with and without an observer.
  const auto run = [](LineObserver* observer) {
    plat::fake::Reset();
    plat::fake::AddFile(u"\\Windows\\BrixCopy\\drivers\\a.dll", "a");
    char16_t source[kPathChars], destination[kPathChars], options[kPathChars];
    bool resolved = false;
    SplitInfLine(u"x 'drivers\\*' '\\Windows' -R\n", kPackageDir, source, destination, options, &resolved, observer);
    ActionOf(options, observer);
    WildcardPlan plan;
    PlanWildcardCopy(kPackageDir, source, destination, resolved, &plan, observer);
    CreatePath(plan.targetDir, observer);
    RunWildcardCopy(plan, source, observer);
    StartPlan start;
    PlanStart(u"\\Windows\\a.exe \"x\"", &start, observer);
    std::vector<std::string> calls;
    for (const auto& call : plat::fake::Calls()) calls.push_back(call.op + " " + A(call.text));
    return calls;
  };
  Recorder recorder;
  const auto unobserved = run(nullptr);
  EXPECT_EQ(run(&recorder), unobserved);
  EXPECT_FALSE(recorder.seen.empty());
}

}  // namespace
}  // namespace brixcopy::test
