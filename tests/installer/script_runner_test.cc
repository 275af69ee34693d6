// The worker: script reading, line dispatch and wildcard copies.
#include "installer/script_runner.h"

#include <string>
#include <vector>

#include "test_support.h"

namespace brixcopy::test {
namespace {

using plat::fake::AddFile;
using plat::fake::FileContents;

const std::string kFrom = "Copying files from \\Windows\\BrixCopy\r\n";

std::string CopyingMsg(const std::string& source, const std::string& destination) {
  return "BrixCopy: Copying from '" + source + "'\r\nBrixCopy:          to '" + destination +
         "'\r\n";
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

int g_registered = 0;
std::int32_t Register() {
  ++g_registered;
  return 0;
}

class CopyThreadProcTest : public FakeDeviceTest {
 protected:
  void SetUp() override {
    FakeDeviceTest::SetUp();
    g_registered = 0;
  }
  static std::uint32_t RunScript(const std::string& script) {
    AddFile(U(kScript), script);
    return CopyThreadProc(nullptr);
  }
};

TEST_F(CopyThreadProcTest, MissingScriptEndsWith3) {
  EXPECT_EQ(CopyThreadProc(nullptr), kScriptNotFound);
  EXPECT_EQ(Debug(), kFrom +
                         "BrixCopy: Can't find INF file: \\Windows\\BrixCopy\\BrixCopy.inf\r\n"
                         "GetLastError returned: 3\r\n" +
                         kBanner);
  EXPECT_TRUE(plat::fake::CallsOf("CursorSet").empty());
  EXPECT_EQ(A(g_packageDir), kPackage);
  EXPECT_EQ(A(g_scriptPath), kScript);
}

TEST_F(CopyThreadProcTest, EmptyScriptMakesBothCursorCalls) {
  EXPECT_EQ(RunScript(""), kScriptDone);
  EXPECT_EQ(Debug(), kFrom);
  EXPECT_EQ(NumbersOf("CursorSet"), (std::vector<std::int64_t>{32514, 0}));
}

TEST_F(CopyThreadProcTest, LastLineRunsOnceWithOrWithoutLineFeed) {
  for (const std::string end : {"", "\n", "\r\n"}) {
    plat::fake::Reset();
    AddFile(u"\\s\\a.txt", "A");
    AddFile(u"\\s\\b.txt", "B");
    EXPECT_EQ(RunScript("'\\s\\a.txt' '\\d\\a.txt'\r\n'\\s\\b.txt' '\\d\\b.txt'" + end), kScriptDone);
    EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\s\\a.txt", "\\d\\a.txt") + CopyingMsg("\\s\\b.txt", "\\d\\b.txt"))
        << "end " << end.size();
    EXPECT_EQ(FileContents(u"\\d\\a.txt"), "A");
    EXPECT_EQ(FileContents(u"\\d\\b.txt"), "B");
  }
}

TEST_F(CopyThreadProcTest, SkipsBlankAndCommentLinesButParsesTabLines) {
  AddFile(u"\\s\\a.txt", "A");
  const std::string script =
      "\n   \n  ; comment 'x'\n;x\n\r\n   \r\n\t'\\s\\a.txt' '\\d\\a.txt'\n";
  EXPECT_EQ(RunScript(script), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\s\\a.txt", "\\d\\a.txt"));
  EXPECT_EQ(FileContents(u"\\d\\a.txt"), "A");
}

// Lines that stop the script: what is written, and that later lines do not run.
TEST_F(CopyThreadProcTest, MalformedLinesEndWith5) {
  const struct {
    std::string line;
    std::string message;
  } cases[] = {
      {"[Files]\n", "BrixCopy: Invalid INF line (no source starting quote):\r\n[Files]\n\r\n"},
      {"\t; comment\n", "BrixCopy: Invalid INF line (no source starting quote):\r\n\t; comment\n\r\n"},
      {"  'a' 'b\n", "BrixCopy: Invalid INF line (no destination ending quote):\r\n'a' 'b\n\r\n"},
  };
  for (const auto& c : cases) {
    plat::fake::Reset();
    AddFile(u"\\s\\a.txt", "A");
    EXPECT_EQ(RunScript("'\\s\\a.txt' '\\d\\a.txt'\n" + c.line + "'\\s\\a.txt' '\\d\\b.txt'\n"), kScriptMalformedLine);
    EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\s\\a.txt", "\\d\\a.txt") + c.message + kBanner);
    EXPECT_FALSE(FileContents(u"\\d\\b.txt").has_value());
    EXPECT_EQ(NumbersOf("CursorSet"), std::vector<std::int64_t>{32514});
  }
}

TEST_F(CopyThreadProcTest, OverLongComposedPathIsMalformed) {
  const std::string name(245, 'n');
  EXPECT_EQ(RunScript("'" + name + "' '\\d'\n'\\s' '\\t'\n"), kScriptMalformedLine);
  EXPECT_EQ(Debug(), kFrom + "BrixCopy: Invalid INF line (path too long):\r\n'" + name +
                         "' '\\d'\n\r\n" + kBanner);
  EXPECT_TRUE(plat::fake::CallsOf("MakeDirectory").empty());
}

TEST_F(CopyThreadProcTest, PhysicalLineOf300IsTwoLines) {
  AddFile(u"\\s1.txt", "1");
  AddFile(u"\\s2.txt", "2");
  // The 259th character closes the first destination and the 260th opens the
  // next source, so a piece cut one character early or late is malformed.
  std::string first = "'\\s1.txt'";
  first += std::string(259 - first.size() - 9, ' ') + "'\\d1.txt'";
  std::string second = "'\\s2.txt' '\\d2.txt'";
  second += std::string(41 - second.size(), ' ');
  ASSERT_EQ(first.size(), 259u);
  ASSERT_EQ((first + second).size(), 300u);
  EXPECT_EQ(RunScript(first + second + "\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\s1.txt", "\\d1.txt") + CopyingMsg("\\s2.txt", "\\d2.txt"));
  EXPECT_EQ(FileContents(u"\\d1.txt"), "1");
  EXPECT_EQ(FileContents(u"\\d2.txt"), "2");
}

// Command lines: the first of -r, -e, -x found chooses; nothing is copied.
TEST_F(CopyThreadProcTest, OptionsChooseTheAction) {
  const struct {
    std::string line;
    int registered;
    std::vector<std::int64_t> waits;  // WaitObject time-outs
  } cases[] = {
      {"'\\Windows\\x.dll' -e -r\n", 1, {}},
      {"'x.dll' '\\Windows' -r\n", 1, {}},
      {"'\\Windows\\app.exe' -x\n", 0, {plat::kInfinite}},
      {"'\\Windows\\app.exe' -e\n", 0, {}},
      {"'\\Windows\\app.exe' -x -e\n", 0, {}},
  };
  for (const auto& c : cases) {
    plat::fake::Reset();
    g_registered = 0;
    plat::fake::AddLibrary(u"\\Windows\\x.dll", {{u"DllRegisterServer", &Register}});
    plat::fake::AddLibrary(u"\\Windows\\BrixCopy\\x.dll", {{u"DllRegisterServer", &Register}});
    plat::fake::AddProgram(u"\\Windows\\app.exe", [](const auto&) { return 0u; });
    EXPECT_EQ(RunScript(c.line), kScriptDone) << c.line;
    EXPECT_EQ(g_registered, c.registered) << c.line;
    EXPECT_EQ(plat::fake::CallsOf("ProcessStart").size(), c.registered != 0 ? 0u : 1u) << c.line;
    EXPECT_EQ(NumbersOf("WaitObject"), c.waits) << c.line;
    EXPECT_EQ(Count(Debug(), "Copying from"), 0u) << c.line;
    EXPECT_TRUE(plat::fake::CallsOf("MakeDirectory").empty()) << c.line;
  }
}

TEST_F(CopyThreadProcTest, RegisterLineWithDestinationRegistersThePackageFile) {
  plat::fake::AddLibrary(u"\\Windows\\BrixCopy\\x.dll", {{u"DllRegisterServer", &Register}});
  EXPECT_EQ(RunScript("'x.dll' '\\Windows' -r\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + "BrixCopy: Successfully registered \\Windows\\BrixCopy\\x.dll\r\n");
}

TEST_F(CopyThreadProcTest, WildcardWithoutMatchOnlyAnnounces) {
  EXPECT_EQ(RunScript("'\\drivers\\*' '\\Windows'\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\drivers\\*", "\\Windows"));
}

TEST_F(CopyThreadProcTest, WildcardCopiesEveryMatch) {
  AddFile(u"\\Windows\\BrixCopy\\drivers\\a.dll", "aa");
  AddFile(u"\\Windows\\BrixCopy\\drivers\\b.dll", "bb");
  AddFile(u"\\Windows\\BrixCopy\\drivers\\c.txt", "cc");
  EXPECT_EQ(RunScript("'\\drivers\\*.d*' '\\Target'\n'\\drivers\\*' '\\All\\'\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\drivers\\*.d*", "\\Target") +
                         CopyingMsg("\\drivers\\*", "\\All\\"));
  EXPECT_EQ(FileContents(u"\\Target\\a.dll"), "aa");
  EXPECT_EQ(FileContents(u"\\Target\\b.dll"), "bb");
  EXPECT_FALSE(FileContents(u"\\Target\\c.txt").has_value());
  EXPECT_EQ(FileContents(u"\\All\\c.txt"), "cc");
  EXPECT_EQ(TextsOf("FindFirst"), (std::vector<std::string>{"\\Windows\\BrixCopy\\drivers\\*.d*",
                                                            "\\Windows\\BrixCopy\\drivers\\*"}));
}

TEST_F(CopyThreadProcTest, WildcardAtPackageRootAndEmptyDestination) {
  AddFile(u"\\Windows\\BrixCopy\\r.txt", "r");
  EXPECT_EQ(RunScript("'\\r*' ''\n"), kScriptDone);
  EXPECT_EQ(FileContents(u"\\r.txt"), "r");
  EXPECT_EQ(TextsOf("FindFirst"), std::vector<std::string>{"\\Windows\\BrixCopy\\r*"});
}

TEST_F(CopyThreadProcTest, WildcardReportsEachFailedFileAndGoesOn) {
  AddFile(u"\\Windows\\BrixCopy\\drivers\\a.dll", "aa");
  AddFile(u"\\Windows\\BrixCopy\\drivers\\b.dll", "bb");
  AddFile(u"\\Windows\\BrixCopy\\drivers\\c.dll", "cc");
  plat::fake::InjectFailure({"FileCreateWrite", plat::kErrorAccessDenied, 0, u"\\Windows\\b.dll"});
  EXPECT_EQ(RunScript("'\\drivers\\*' '\\Windows'\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\drivers\\*", "\\Windows") +
                         "BrixCopy: cannot create destination file: \\Windows\\b.dll\r\n"
                         "GetLastError returned: 5\r\n"
                         "BrixCopy: Failed to copy file: \\drivers\\*\r\n"
                         "GetLastError returned: 5\r\n");
  EXPECT_EQ(FileContents(u"\\Windows\\a.dll"), "aa");
  EXPECT_EQ(FileContents(u"\\Windows\\c.dll"), "cc");
}

// A search that finds nothing is silent; one that cannot look is a failure of the line.
TEST_F(CopyThreadProcTest, WildcardSearchThatFailsIsReportedWithThePattern) {
  const struct {
    std::uint32_t error;
    bool reported;
  } cases[] = {{2, false}, {3, false}, {18, false}, {5, true}, {1921, true}};
  for (const auto& c : cases) {
    plat::fake::Reset();
    SetPackageDir(kPackage);
    AddFile(u"\\Windows\\BrixCopy\\drivers\\a.dll", "aa");
    plat::fake::InjectFailure({"FindFirst", c.error, 0, u""});
    EXPECT_EQ(RunScript("'\\drivers\\*' '\\Windows'\n"), kScriptDone);
    const std::string failure = "BrixCopy: Failed to copy file: \\drivers\\*\r\nGetLastError returned: " +
                                std::to_string(c.error) + "\r\n";
    EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\drivers\\*", "\\Windows") + (c.reported ? failure : ""));
    EXPECT_FALSE(FileContents(u"\\Windows\\a.dll").has_value());
  }
}

// A search that stops with an error after some matches is a failure of the
// line too; only error 18 ends the matches quietly.
TEST_F(CopyThreadProcTest, WildcardSearchThatStopsEarlyIsReported) {
  AddFile(u"\\Windows\\BrixCopy\\drivers\\a.dll", "aa");
  AddFile(u"\\Windows\\BrixCopy\\drivers\\b.dll", "bb");
  plat::fake::InjectFailure({"FindNextMatch", 31, 1, u""});
  EXPECT_EQ(RunScript("'\\drivers\\*' '\\Windows'\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\drivers\\*", "\\Windows") +
                         "BrixCopy: Failed to copy file: \\drivers\\*\r\nGetLastError returned: 31\r\n");
  EXPECT_EQ(FileContents(u"\\Windows\\a.dll"), "aa");
  EXPECT_FALSE(FileContents(u"\\Windows\\b.dll").has_value());
}

TEST_F(CopyThreadProcTest, WildcardFileTooLongForItsPathIsAFailedCopy) {
  // Destination folder of 241 units: "a" fits below it, a 20-unit name does not.
  const std::string folder = "\\" + std::string(240, 'f');
  AddFile(u"\\Windows\\BrixCopy\\in\\a", "a");
  AddFile(U("\\Windows\\BrixCopy\\in\\" + std::string(20, 'z')), "z");
  EXPECT_EQ(RunScript("'\\in\\*' '" + folder + "'\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\in\\*", folder) +
                         "BrixCopy: Failed to copy file: \\in\\*\r\nGetLastError returned: 206\r\n");
  EXPECT_EQ(FileContents(U(folder + "\\a")), "a");
}

// A relative wildcard source copies into the same relative folder below the destination.
TEST_F(CopyThreadProcTest, RelativeWildcardKeepsItsFolderBelowTheDestination) {
  AddFile(u"\\Windows\\BrixCopy\\drivers\\a.dll", "aa");
  AddFile(u"\\Windows\\BrixCopy\\drivers\\b.dll", "bb");
  EXPECT_EQ(RunScript("'drivers\\*' '\\Windows'\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\Windows\\BrixCopy\\drivers\\*", "\\Windows\\drivers\\*"));
  EXPECT_EQ(TextsOf("MakeDirectory"),
            (std::vector<std::string>{"\\Windows", "\\\\Windows\\drivers"}));
  EXPECT_EQ(TextsOf("FindFirst"), std::vector<std::string>{"\\Windows\\BrixCopy\\drivers\\*"});
  EXPECT_EQ(FileContents(u"\\Windows\\drivers\\a.dll"), "aa");
  EXPECT_EQ(FileContents(u"\\Windows\\drivers\\b.dll"), "bb");
}

TEST_F(CopyThreadProcTest, CopyLineCreatesDestinationFoldersFirst) {
  AddFile(u"\\Windows\\BrixCopy\\app\\data.bin", "data");
  EXPECT_EQ(RunScript("'app\\data.bin' '\\Program Files\\App'\n"), kScriptDone);
  EXPECT_EQ(FileContents(u"\\Program Files\\App\\app\\data.bin"), "data");
  EXPECT_EQ(TextsOf("MakeDirectory"),
            (std::vector<std::string>{"\\Program Files", "\\Program Files\\App",
                                      "\\Program Files\\App\\app"}));
  EXPECT_LT(IndexOf("MakeDirectory"), IndexOf("FileOpenRead"));
}

TEST_F(CopyThreadProcTest, FailedSingleCopyDoesNotStopTheScript) {
  AddFile(u"\\s\\b.txt", "B");
  EXPECT_EQ(RunScript("'\\s\\a.txt' '\\d\\a.txt'\n'\\s\\b.txt' '\\d\\b.txt'\n"), kScriptDone);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\s\\a.txt", "\\d\\a.txt") +
                         "BrixCopy: cannot open source file: \\s\\a.txt\r\nGetLastError returned: 2\r\n" +
                         CopyingMsg("\\s\\b.txt", "\\d\\b.txt"));
  EXPECT_EQ(FileContents(u"\\d\\b.txt"), "B");
}

TEST_F(CopyThreadProcTest, ReadErrorEndsWith4) {
  plat::fake::InjectFailure({"StreamReadLine", plat::kErrorAccessDenied, 2, u""});
  AddFile(u"\\s\\a.txt", "A");
  EXPECT_EQ(RunScript("'\\s\\a.txt' '\\d\\a.txt'\n'\\s\\a.txt' '\\d\\b.txt'\n"), kScriptReadError);
  EXPECT_EQ(Debug(), kFrom + CopyingMsg("\\s\\a.txt", "\\d\\a.txt") +
                         "BrixCopy: Error Reading INF file: \\Windows\\BrixCopy\\BrixCopy.inf\r\n"
                         "GetLastError returned: 5\r\n" +
                         kBanner);
  EXPECT_EQ(NumbersOf("CursorSet"), std::vector<std::int64_t>{32514});
  EXPECT_FALSE(FileContents(u"\\d\\b.txt").has_value());
}

// Where the executable lives decides the package directory.
TEST_F(CopyThreadProcTest, PackageDirectoryFollowsTheExecutable) {
  const struct {
    std::string module;
    std::string package;
  } cases[] = {
      {"\\Windows\\BrixCopy.exe", "\\Windows\\BrixCopy"},
      {"\\Storage Card\\Setup\\BrixCopy.exe", "\\Storage Card\\Setup\\BrixCopy"},
      {"\\BrixCopy.exe", "\\BrixCopy"},
      {"BrixCopy.exe", "\\BrixCopy"},
  };
  for (const auto& c : cases) {
    plat::fake::Reset();
    plat::fake::SetModulePath(U(c.module));
    AddFile(U(c.package + "\\BrixCopy.inf"), "");
    EXPECT_EQ(CopyThreadProc(nullptr), kScriptDone) << c.module;
    EXPECT_EQ(A(g_packageDir), c.package);
    EXPECT_EQ(A(g_scriptPath), c.package + "\\BrixCopy.inf");
    EXPECT_EQ(Debug(), "Copying files from " + c.package + "\r\n");
  }
}

// A package directory (251 + 9 units) or script path (240 + 23 units) longer than its
// buffer is reported as a missing script, naming the whole path.
TEST_F(CopyThreadProcTest, PackagePathTooLongIsAMissingScript) {
  for (std::size_t length : {250u, 239u}) {
    plat::fake::Reset();
    const std::string dir = "\\" + std::string(length, 'm');
    plat::fake::SetModulePath(U(dir + "\\a"));
    EXPECT_EQ(CopyThreadProc(nullptr), kScriptNotFound);
    EXPECT_EQ(Debug(), "Copying files from " + dir + "\\BrixCopy\r\n"
                       "BrixCopy: Can't find INF file: " + dir + "\\BrixCopy\\BrixCopy.inf\r\n"
                       "GetLastError returned: 206\r\n" + kBanner);
    EXPECT_TRUE(plat::fake::CallsOf("StreamOpen").empty());
  }
}

}  // namespace
}  // namespace brixcopy::test
