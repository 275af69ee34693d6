// The process entry: single instance, execution counter, progress dialog.
#include "installer/run_control.h"

#include <string>
#include <vector>

#include "test_support.h"

namespace brixcopy::test {
namespace {

using plat::fake::AddFile;
using plat::fake::FileContents;

const std::string kStart = "\r\n----- BrixCopy Starting -----\r\n";
const std::string kFirst = "This is the first execution\r\n";
const std::string kFrom = "Copying files from \\Windows\\BrixCopy\r\n";
const std::u16string kCounter = u"\\Temp\\brixcopy.log";

std::string Int32(std::int32_t v) {
  std::string bytes(4, '\0');
  for (int i = 0; i < 4; ++i) bytes[i] = static_cast<char>((static_cast<std::uint32_t>(v) >> (8 * i)) & 0xFF);
  return bytes;
}

class AppMainTest : public FakeDeviceTest {
 protected:
  void SetUp() override {
    FakeDeviceTest::SetUp();
    plat::fake::AddDirectory(u"\\Temp");
  }
  static int Run() { return plat::AppMain(nullptr, u""); }
};

TEST_F(AppMainTest, FirstRunInstallsAndCreatesCounter) {
  AddFile(U(kScript), "'\\Windows\\BrixCopy\\a.txt' '\\a.txt'\n");
  AddFile(u"\\Windows\\BrixCopy\\a.txt", "A");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Debug(), kStart + kFirst + kFrom +
                         "BrixCopy: Copying from '\\Windows\\BrixCopy\\a.txt'\r\n"
                         "BrixCopy:          to '\\a.txt'\r\n" +
                         kBanner);
  EXPECT_EQ(FileContents(kCounter), Int32(1));
  EXPECT_EQ(FileContents(u"\\a.txt"), "A");
  EXPECT_EQ(NumbersOf("DialogTemplateLoad"), std::vector<std::int64_t>{101});
  EXPECT_EQ(NumbersOf("DialogItem"), std::vector<std::int64_t>{1000});
  EXPECT_EQ(plat::fake::CallsOf("ThreadStart").size(), 1u);
  EXPECT_EQ(plat::fake::CallsOf("WindowDestroy").size(), 1u);
  EXPECT_EQ(NumbersOf("CursorSet"), (std::vector<std::int64_t>{32514, 0}));
  EXPECT_EQ(TextsOf("MutexCreateNamed"), std::vector<std::string>{"BrixCopy"});
  // Only the worker's handle is closed: the mutex is held until the process ends.
  EXPECT_EQ(plat::fake::CallsOf("ObjectClose").size(), 1u);
}

TEST_F(AppMainTest, FirstRunWithoutScriptWritesBannerTwice) {
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Debug(), kStart + kFirst + kFrom +
                         "BrixCopy: Can't find INF file: \\Windows\\BrixCopy\\BrixCopy.inf\r\n"
                         "GetLastError returned: 3\r\n" +
                         kBanner + kBanner);
  EXPECT_EQ(FileContents(kCounter), Int32(1));
}

// Later runs: what the counter file holds before, what is reported and written back.
TEST_F(AppMainTest, LaterRunsOnlyCount) {
  const struct {
    std::string before;
    std::int32_t reported;
  } cases[] = {
      {Int32(1), 2},     {Int32(41), 42}, {"", 1},
      {"\x05", 1},       {"\x05\x06", 1}, {std::string("\x05\x06\x07"), 1},
      {Int32(-5), -4},   {Int32(0x7FFFFFFF), 0x7FFFFFFF},
  };
  for (const auto& c : cases) {
    plat::fake::Reset();
    plat::fake::AddDirectory(u"\\Temp");
    AddFile(kCounter, c.before);
    EXPECT_EQ(Run(), 0);
    EXPECT_EQ(Debug(), kStart + "This is execution " + std::to_string(c.reported) + "\r\n" + kBanner)
        << c.before.size();
    EXPECT_EQ(FileContents(kCounter), Int32(c.reported)) << c.before.size();
    EXPECT_TRUE(plat::fake::CallsOf("ThreadStart").empty());
    EXPECT_TRUE(plat::fake::CallsOf("DialogCreate").empty());
  }
}

TEST_F(AppMainTest, SecondRunAfterFirstReportsTwo) {
  AddFile(U(kScript), "");
  EXPECT_EQ(Run(), 0);
  plat::fake::Reset();
  plat::fake::AddDirectory(u"\\Temp");
  AddFile(kCounter, Int32(1));
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(FileContents(kCounter), Int32(2));
}

TEST_F(AppMainTest, CounterThatCannotBeCreatedStopsBeforeInstalling) {
  plat::fake::Reset();  // no \Temp folder
  AddFile(U(kScript), "");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Debug(), kStart +
                         "BrixCopy: cannot create execution counter file: \\Temp\\brixcopy.log\r\n"
                         "GetLastError returned: 3\r\n" +
                         kBanner);
  EXPECT_TRUE(plat::fake::CallsOf("ThreadStart").empty());
  EXPECT_TRUE(plat::fake::CallsOf("DialogCreate").empty());
}

TEST_F(AppMainTest, SecondInstanceNeitherCountsNorInstalls) {
  AddFile(kCounter, Int32(3));
  plat::fake::SetMutexHeldElsewhere(u"BrixCopy");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Debug(), kStart + "Another instance is running!\r\n" + kBanner);
  EXPECT_EQ(FileContents(kCounter), Int32(3));
  EXPECT_TRUE(plat::fake::CallsOf("StreamOpen").empty());
}

TEST_F(AppMainTest, MutexThatCannotBeCreatedInstallsNothing) {
  AddFile(U(kScript), "");
  plat::fake::InjectFailure({"MutexCreateNamed", plat::kErrorAccessDenied, 0, u""});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Debug(), kStart + "BrixCopy: cannot create mutex: BrixCopy\r\nGetLastError returned: 5\r\n" + kBanner);
  EXPECT_TRUE(plat::fake::CallsOf("StreamOpen").empty());
  EXPECT_TRUE(plat::fake::CallsOf("ThreadStart").empty());
  EXPECT_FALSE(FileContents(kCounter).has_value());
}

// A counter that cannot be stored is reported; a first run installs only when
// the counter file is there afterwards, which keeps later runs from installing.
TEST_F(AppMainTest, CounterThatCannotBeStoredIsReported) {
  const std::string failed =
      "BrixCopy: cannot write execution counter file: \\Temp\\brixcopy.log\r\nGetLastError returned: 112\r\n";
  const struct {
    const char* name;
    bool laterRun;
    std::vector<plat::fake::Failure> failures;
    std::string debug;
    bool installs;
  } cases[] = {
      {"first run, write", false, {{"StreamWriteInt32", 112, 0, kCounter}}, kStart + failed + kFirst + kFrom + kBanner, true},
      {"first run, close", false, {{"StreamClose", 112, 0, kCounter}}, kStart + failed + kFirst + kFrom + kBanner, true},
      {"first run, file gone",
       false,
       {{"StreamWriteInt32", 112, 0, kCounter}, {"StreamOpen", 5, 3, kCounter}},
       kStart + failed + kBanner,
       false},
      {"later run, write", true, {{"StreamWriteInt32", 112, 0, kCounter}}, kStart + failed + "This is execution 2\r\n" + kBanner, false},
      {"later run, close", true, {{"StreamClose", 112, 0, kCounter}}, kStart + failed + "This is execution 2\r\n" + kBanner, false},
  };
  for (const auto& c : cases) {
    plat::fake::Reset();
    plat::fake::AddDirectory(u"\\Temp");
    AddFile(U(kScript), "");
    if (c.laterRun) AddFile(kCounter, Int32(1));
    for (const auto& failure : c.failures) plat::fake::InjectFailure(failure);
    EXPECT_EQ(Run(), 0) << c.name;
    EXPECT_EQ(Debug(), c.debug) << c.name;
    EXPECT_EQ(plat::fake::CallsOf("ThreadStart").size(), c.installs ? 1u : 0u) << c.name;
  }
}

// Progress line for a worker seen running for `timeouts` waits: one update per wait.
std::vector<std::string> ExpectedDashes(int updates) {
  std::vector<std::string> texts;
  for (int i = 0; i < updates; ++i) texts.push_back(std::string(i % 31 + 1, '-'));
  return texts;
}

TEST_F(AppMainTest, DashesGrowToThirtyOneAndStartAgain) {
  for (int timeouts : {0, 1, 30, 31, 62}) {
    plat::fake::Reset();
    plat::fake::AddDirectory(u"\\Temp");
    AddFile(U(kScript), "");
    plat::fake::SetThreadWaitTimeouts(timeouts);
    EXPECT_EQ(Run(), 0);
    const int updates = timeouts + 1;
    EXPECT_EQ(TextsOf("WindowSetText"), ExpectedDashes(updates)) << timeouts;
    EXPECT_EQ(NumbersOf("WaitObject"), std::vector<std::int64_t>(updates, 500)) << timeouts;
    EXPECT_EQ(plat::fake::CallsOf("WindowRepaint").size(), static_cast<std::size_t>(updates));
    // The dialog is destroyed once, after the last wait.
    EXPECT_EQ(plat::fake::CallsOf("WindowDestroy").size(), 1u);
    EXPECT_GT(IndexOf("WindowDestroy"), LastIndexOf("WaitObject"));
    EXPECT_EQ(Debug(), kStart + kFirst + kFrom + kBanner);
  }
}

TEST_F(AppMainTest, ThirtySecondUpdateShowsOneDash) {
  AddFile(U(kScript), "");
  plat::fake::SetThreadWaitTimeouts(31);
  EXPECT_EQ(Run(), 0);
  const auto texts = TextsOf("WindowSetText");
  ASSERT_EQ(texts.size(), 32u);
  EXPECT_EQ(texts[30], std::string(31, '-'));
  EXPECT_EQ(texts[31], "-");
}

// A worker that cannot start installs nothing: that is said, and the counter
// goes again so that the next start installs.
TEST_F(AppMainTest, WorkerThatCannotStartIsReportedAndUncounted) {
  AddFile(U(kScript), "");
  plat::fake::InjectFailure({"ThreadStart", plat::kErrorNotEnoughMemory, 0, u""});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(TextsOf("WindowSetText"), std::vector<std::string>{"-"});
  EXPECT_EQ(plat::fake::CallsOf("WindowDestroy").size(), 1u);
  const std::string cannotStart =
      "BrixCopy: cannot start worker thread: CopyThreadProc\r\nGetLastError returned: 8\r\n";
  EXPECT_EQ(Debug(), kStart + kFirst + cannotStart + kBanner);
  EXPECT_FALSE(FileContents(kCounter).has_value());

  // The next start installs.
  plat::fake::Reset();
  plat::fake::AddDirectory(u"\\Temp");
  AddFile(U(kScript), "");
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Debug(), kStart + kFirst + kFrom + kBanner);
  EXPECT_EQ(plat::fake::CallsOf("ThreadStart").size(), 1u);

  // A counter that cannot be removed again is reported too.
  plat::fake::Reset();
  plat::fake::AddDirectory(u"\\Temp");
  AddFile(U(kScript), "");
  plat::fake::InjectFailure({"ThreadStart", plat::kErrorNotEnoughMemory, 0, u""});
  plat::fake::InjectFailure({"FileDelete", plat::kErrorAccessDenied, 0, u""});
  EXPECT_EQ(Run(), 0);
  EXPECT_EQ(Debug(), kStart + kFirst + cannotStart +
                         "BrixCopy: cannot delete execution counter file: \\Temp\\brixcopy.log\r\n"
                         "GetLastError returned: 5\r\n" +
                         kBanner);
}

// Only a missing counter (no file, no folder) makes a first run. Any other
// failure to open, read or rewind it is reported, and the run neither
// installs nor changes the counter.
TEST_F(AppMainTest, CounterThatCannotBeReadIsReportedAndKept) {
  const struct {
    const char* name;
    plat::fake::Failure failure;
    std::string debug;
  } cases[] = {
      {"open, access denied", {"StreamOpen", 5, 1, kCounter}, "cannot open execution counter file: \\Temp\\brixcopy.log\r\nGetLastError returned: 5\r\n"},
      {"open, device error", {"StreamOpen", 31, 1, kCounter}, "cannot open execution counter file: \\Temp\\brixcopy.log\r\nGetLastError returned: 31\r\n"},
      {"read", {"StreamReadInt32", 31, 0, kCounter}, "cannot read execution counter file: \\Temp\\brixcopy.log\r\nGetLastError returned: 31\r\n"},
      {"rewind", {"StreamRewind", 31, 0, kCounter}, "cannot rewind execution counter file: \\Temp\\brixcopy.log\r\nGetLastError returned: 31\r\n"},
  };
  for (const auto& c : cases) {
    plat::fake::Reset();
    plat::fake::AddDirectory(u"\\Temp");
    AddFile(U(kScript), "");
    AddFile(kCounter, Int32(7));
    plat::fake::InjectFailure(c.failure);
    EXPECT_EQ(Run(), 0) << c.name;
    EXPECT_EQ(Debug(), kStart + "BrixCopy: " + c.debug + kBanner) << c.name;
    EXPECT_EQ(FileContents(kCounter), Int32(7)) << c.name;
    EXPECT_TRUE(plat::fake::CallsOf("StreamWriteInt32").empty()) << c.name;
    EXPECT_TRUE(plat::fake::CallsOf("ThreadStart").empty()) << c.name;
  }
}

}  // namespace
}  // namespace brixcopy::test
