// Registration of component DLLs and program starts.
#include "installer/launch.h"

#include <optional>
#include <string>

#include "test_support.h"

namespace brixcopy::test {
namespace {

int g_registerCalls = 0;
std::int32_t RegisterOk() {
  ++g_registerCalls;
  return 0;
}
std::int32_t RegisterFails() {
  ++g_registerCalls;
  return static_cast<std::int32_t>(0x80004005u);
}

struct RegisterCase {
  const char* name;
  bool library;                 // a library exists at the path
  std::u16string exportName;    // its one export
  plat::ExportProc proc;
  std::int32_t result;
  int registerCalls;
  std::string message;
};

class RegisterDllTest : public FakeDeviceTest, public ::testing::WithParamInterface<RegisterCase> {
 protected:
  void SetUp() override {
    FakeDeviceTest::SetUp();
    g_registerCalls = 0;
  }
};

TEST_P(RegisterDllTest, RegistersThroughExport) {
  const RegisterCase& c = GetParam();
  if (c.library) plat::fake::AddLibrary(u"\\Windows\\x.dll", {{c.exportName, c.proc}});
  EXPECT_EQ(RegisterDll(u"\\Windows\\x.dll"), c.result);
  EXPECT_EQ(g_registerCalls, c.registerCalls);
  EXPECT_EQ(Debug(), c.message);
  // A loaded library is always unloaded again, after the message.
  EXPECT_EQ(plat::fake::CallsOf("LibraryFree").size(), c.library ? 1u : 0u);
  if (c.library) {
    EXPECT_GT(IndexOf("LibraryFree"), IndexOf("LibraryExport"));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Libraries, RegisterDllTest,
    ::testing::Values(
        RegisterCase{"Found", true, u"DllRegisterServer", &RegisterOk, 1, 1,
                     "BrixCopy: Successfully registered \\Windows\\x.dll\r\n"},
        RegisterCase{"ExportReportsFailure", true, u"DllRegisterServer", &RegisterFails, 1, 1,
                     "BrixCopy: Successfully registered \\Windows\\x.dll\r\n"},
        RegisterCase{"MissingExport", true, u"DllUnregisterServer", &RegisterOk, 0, 0,
                     "BrixCopy: Failed to register file: \\Windows\\x.dll\r\nGetLastError returned: 127\r\n"},
        RegisterCase{"MissingFile", false, u"", nullptr, 0, 0,
                     "BrixCopy: Failed to register file: \\Windows\\x.dll\r\nGetLastError returned: 126\r\n"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TestCase {
  std::string text;
  std::int32_t cab;
  std::int32_t vb;
};

TEST(LaunchKindTest, SubstringTestsAreCaseExact) {
  const TestCase cases[] = {
      {"\\Windows\\setup.cab", 1, 0}, {"\\Windows\\SETUP.CAB", 1, 0}, {"\\Windows\\setup.Cab", 0, 0},
      {"\\Windows\\game.vb", 0, 1},   {"\\Windows\\GAME.VB", 0, 1},   {"\\Windows\\x.Vb", 0, 0},
      {"\\Windows\\x.cab.vb", 1, 1},  {"\\Windows\\s.vbs", 0, 1},     {"\\a.vb\\b.exe", 0, 1},
      {"\\app.exe \\d.cab", 1, 0},    {"", 0, 0},                     {"cab vb", 0, 0}};
  for (const TestCase& c : cases) {
    EXPECT_EQ(IsCabFile(U(c.text).c_str()), c.cab) << c.text;
    EXPECT_EQ(IsVbApp(U(c.text).c_str()), c.vb) << c.text;
  }
}

// One row of the launch table: the entry text, what is started with which
// command line, the messages and the result.
struct LaunchCase {
  std::string entry;
  std::string application;                 // "" when nothing is started
  std::optional<std::string> commandLine;  // nullopt: started without command line
  std::string message;
  std::int32_t result;
};

constexpr char kApp[] = "\\Windows\\app.exe";
constexpr char kQuotedPf[] = "\"\\Program Files\\App\\app.exe\"";

class RunProgramTest : public FakeDeviceTest, public ::testing::WithParamInterface<LaunchCase> {
 protected:
  void SetUp() override {
    FakeDeviceTest::SetUp();
    for (const char16_t* path : {u"\\Windows\\wceload.exe", u"\\Windows\\pvbload.exe",
                                 u"\\Windows\\app.exe", u"\\Windows\\setup.Cab",
                                 u"\\Program Files\\App\\app.exe"})
      plat::fake::AddProgram(path, [](const auto&) { return 0u; });
  }
};

TEST_P(RunProgramTest, StartsTheRightProgram) {
  const LaunchCase& c = GetParam();
  char16_t entry[kPathChars];
  ASSERT_TRUE(wstr::Copy(entry, kPathChars, U(c.entry).c_str()));
  EXPECT_EQ(RunProgram(entry, 0), c.result);
  EXPECT_EQ(Debug(), c.message);
  const auto starts = plat::fake::CallsOf("ProcessStart");
  if (c.application.empty()) {
    EXPECT_TRUE(starts.empty());
    EXPECT_EQ(A(entry), c.entry);
    return;
  }
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(A(starts[0].text), c.application);
  EXPECT_EQ(starts[0].hasText2, c.commandLine.has_value());
  if (c.commandLine) {
    EXPECT_EQ(A(starts[0].text2), *c.commandLine);
  }
  EXPECT_TRUE(plat::fake::CallsOf("WaitObject").empty());
}

std::string Starting(const std::string& program) {
  return "BrixCopy: starting app '" + program + "'\r\n";
}
std::string StartingWith(const std::string& program, const std::string& commandLine) {
  return "BrixCopy: starting app '" + program + "' with command line '" + commandLine + "'\r\n";
}
std::string FailedToRun(const std::string& program) {
  return "BrixCopy: failed to run: " + program + "\r\nGetLastError returned: 2\r\n";
}

INSTANTIATE_TEST_SUITE_P(
    Entries, RunProgramTest,
    ::testing::Values(
        LaunchCase{"\\Windows\\setup.cab", "\\Windows\\wceload.exe", "\\Windows\\setup.cab",
                   "BrixCopy: installing CAB '\\Windows\\setup.cab'\r\n", 1},
        LaunchCase{"\\Windows\\app.exe \\Storage\\data.cab", "\\Windows\\wceload.exe",
                   "\\Windows\\app.exe \\Storage\\data.cab",
                   "BrixCopy: installing CAB '\\Windows\\app.exe \\Storage\\data.cab'\r\n", 1},
        LaunchCase{"\\Windows\\setup.Cab", "\\Windows\\setup.Cab", std::nullopt,
                   Starting("\\Windows\\setup.Cab"), 1},
        LaunchCase{"\\Windows\\game.vb", "\\Windows\\pvbload.exe", "\\Windows\\game.vb",
                   "BrixCopy: starting VB app '\\Windows\\game.vb'\r\n", 1},
        LaunchCase{"\\Windows\\x.cab.vb", "\\Windows\\wceload.exe", "\\Windows\\x.cab.vb",
                   "BrixCopy: installing CAB '\\Windows\\x.cab.vb'\r\n", 1},
        LaunchCase{"\\Windows\\script.vbs", "\\Windows\\pvbload.exe", "\\Windows\\script.vbs",
                   "BrixCopy: starting VB app '\\Windows\\script.vbs'\r\n", 1},
        LaunchCase{kApp, kApp, std::nullopt, Starting(kApp), 1},
        LaunchCase{"\\Windows\\app.exe -a -b", kApp, "-a -b", StartingWith(kApp, "-a -b"), 1},
        LaunchCase{"\\Windows\\app.exe  -a", kApp, " -a", StartingWith(kApp, " -a"), 1},
        LaunchCase{"\\Windows\\app.exe ", kApp, "", StartingWith(kApp, ""), 1},
        LaunchCase{"\\Program Files\\App\\app.exe", "\\Program", "Files\\App\\app.exe",
                   StartingWith("\\Program", "Files\\App\\app.exe") + FailedToRun("\\Program"), 0},
        LaunchCase{std::string(kQuotedPf) + " /s", "\\Program Files\\App\\app.exe", "/s",
                   StartingWith("\\Program Files\\App\\app.exe", "/s"), 1},
        LaunchCase{std::string(kQuotedPf) + " ", "\\Program Files\\App\\app.exe", "",
                   StartingWith("\\Program Files\\App\\app.exe", ""), 1},
        // Closing quote as the last character: empty command line, nothing read past the text.
        LaunchCase{std::string(kQuotedPf), "\\Program Files\\App\\app.exe", "",
                   StartingWith("\\Program Files\\App\\app.exe", ""), 1},
        LaunchCase{"\"\\Program Files\\App\\app.exe /s", "", std::nullopt,
                   "BrixCopy: Invalid INF line: missing double quote\r\n", 0},
        LaunchCase{"\"\\Windows\\app.exe\"", "\"\\Windows\\app.exe\"", std::nullopt,
                   Starting("\"\\Windows\\app.exe\"") + FailedToRun("\"\\Windows\\app.exe\""), 0},
        LaunchCase{"\\Windows\\app.exe \"a b\" -k", "Windows\\app.exe \"a b", "-k",
                   StartingWith("Windows\\app.exe \"a b", "-k") +
                       FailedToRun("Windows\\app.exe \"a b"),
                   0}));

TEST_F(FakeDeviceTest, StartFailuresNameTheirProgramKind) {
  char16_t cab[kPathChars] = u"\\Windows\\setup.cab";
  EXPECT_EQ(RunProgram(cab, 1), 0);
  char16_t vb[kPathChars] = u"\\Windows\\game.vb";
  EXPECT_EQ(RunProgram(vb, 1), 0);
  EXPECT_EQ(Debug(),
            "BrixCopy: installing CAB '\\Windows\\setup.cab'\r\n"
            "BrixCopy: install failed: \\Windows\\setup.cab\r\nGetLastError returned: 2\r\n"
            "BrixCopy: starting VB app '\\Windows\\game.vb'\r\n"
            "BrixCopy: failed to run: \\Windows\\game.vb\r\nGetLastError returned: 2\r\n");
  EXPECT_TRUE(plat::fake::CallsOf("WaitObject").empty());
}

TEST_F(FakeDeviceTest, WaitFlagWaitsForTheStartedProgramWithoutTimeOut) {
  std::optional<std::u16string> received;
  plat::fake::AddProgram(u"\\Windows\\app.exe", [&](const auto& commandLine) {
    received = commandLine;
    return 7u;
  });
  char16_t entry[kPathChars] = u"\\Windows\\app.exe -q";
  EXPECT_EQ(RunProgram(entry, 1), 1);
  ASSERT_TRUE(received.has_value());
  EXPECT_EQ(A(*received), "-q");
  ASSERT_EQ(NumbersOf("WaitObject"), std::vector<std::int64_t>{plat::kInfinite});
  EXPECT_GT(IndexOf("WaitObject"), IndexOf("ProcessStart"));
}

}  // namespace
}  // namespace brixcopy::test
