// brixdev's command line: parsing, and the built tool run as a user runs it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "brixdev/cli/args.h"
#include "tests/brixdev/workbench_support.h"
#include "platform/posix/regstore/names.h"
#include "platform/posix/regstore/store.h"
#include "tests/platform/posix/regstore/test_support.h"

namespace {

using brixdev::Action;

TEST(BrixdevArgs, Parsing) {
  struct Case {
    std::vector<std::string> args;
    const char* env;
    Action action;
    std::string device;
    std::string key;
  };
  const Case cases[] = {
      {{"--help"}, nullptr, Action::kHelp, "", ""},
      {{"-d", "x", "reg", "export", "-h"}, nullptr, Action::kHelp, "x", ""},
      {{"reg", "export"}, "/env/dev", Action::kRegExport, "/env/dev", ""},
      {{"-d", "/mine", "reg", "export", "HKEY_LOCAL_MACHINE\\A"}, "/env", Action::kRegExport, "/mine",
       "HKEY_LOCAL_MACHINE\\A"},
      {{"reg", "export"}, nullptr, Action::kRegExport, "", ""},
      {{"reg", "export", "--", "-odd"}, nullptr, Action::kRegExport, "", "-odd"},
      {{"reg", "export", "-d", "/after", "HKLM\\A"}, "/env", Action::kRegExport, "/after", "HKLM\\A"},
      {{"reg", "export", "--device=/eq"}, nullptr, Action::kRegExport, "/eq", ""},
      {{"reg", "export", "-d/joined"}, nullptr, Action::kRegExport, "/joined", ""},
      {{"check", "x"}, "/env", Action::kCheck, "", ""},
      {{"try", "p"}, "/env", Action::kTry, "", ""},
      {{"--device", "/d", "try", "p"}, "/env", Action::kTry, "/d", ""},
      {{"reg", "--help"}, nullptr, Action::kHelp, "", ""},
      {{"--version"}, nullptr, Action::kVersion, "", ""},
      {{"reg", "export", "-odd"}, nullptr, Action::kUsageError, "", ""},
      {{"-d", "/d", "device", "new", "x"}, nullptr, Action::kUsageError, "", ""},
      {{"-d", "/d", "reg", "convert", "x"}, nullptr, Action::kUsageError, "", ""},
      {{}, nullptr, Action::kUsageError, "", ""},
      {{"-d"}, nullptr, Action::kUsageError, "", ""},
      {{"-x", "reg", "export"}, nullptr, Action::kUsageError, "", ""},
      {{"reg"}, nullptr, Action::kUsageError, "", ""},
      {{"reg", "import"}, nullptr, Action::kUsageError, "", ""},
      {{"reg", "export", "A", "B"}, nullptr, Action::kUsageError, "", ""},
  };
  for (const Case& c : cases) {
    const brixdev::Command command = brixdev::ParseArgs(c.args, c.env);
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    EXPECT_EQ(command.action, c.action) << joined;
    if (c.action == Action::kUsageError) {
      EXPECT_FALSE(command.error.empty()) << joined;
    } else {
      EXPECT_EQ(command.device, c.device) << joined;
      EXPECT_EQ(command.key, c.key) << joined;
    }
  }
}

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Runs the built brixdev with args and exactly the environment given, standard input from input.
Outcome RunTool(const std::vector<std::string>& args, const std::vector<std::string>& env,
                const std::string& input = "/dev/null") {
  regtest::TempDevice scratch;
  const std::string outPath = scratch.path() + "/out", errPath = scratch.path() + "/err";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, input.c_str(), O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  posix_spawn_file_actions_addopen(&actions, 2, errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  std::vector<std::string> argStore = {BRIXDEV_PATH};
  argStore.insert(argStore.end(), args.begin(), args.end());
  std::vector<char*> argv, envp;
  for (std::string& a : argStore) argv.push_back(a.data());
  argv.push_back(nullptr);
  std::vector<std::string> envStore = env;
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  Outcome outcome;
  pid_t pid = 0;
  if (posix_spawn(&pid, BRIXDEV_PATH, &actions, nullptr, argv.data(), envp.data()) == 0)
    outcome.status = regtest::WaitChild(pid);
  posix_spawn_file_actions_destroy(&actions);
  outcome.out = ReadAll(outPath);
  outcome.err = ReadAll(errPath);
  return outcome;
}

TEST(BrixdevTool, HelpAndBadCommandLines) {
  const Outcome help = RunTool({"--help"}, {});
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("reg export [KEY]"), std::string::npos);

  const Outcome unknown = RunTool({"frobnicate"}, {"BRIX_DEVICE=/tmp"});
  EXPECT_EQ(unknown.status, 2);
  EXPECT_NE(unknown.err.find("unknown command frobnicate"), std::string::npos);
  EXPECT_TRUE(unknown.out.empty());
}

TEST(BrixdevTool, ExportWithoutAUsableDeviceExitsWithTwo) {
  const Outcome none = RunTool({"reg", "export"}, {});
  EXPECT_EQ(none.status, 2);
  EXPECT_NE(none.err.find("BRIX_DEVICE"), std::string::npos);
  EXPECT_TRUE(none.out.empty());

  regtest::TempDevice device;
  const Outcome missingFolder = RunTool({"-d", device.path() + "/absent", "reg", "export"}, {});
  EXPECT_EQ(missingFolder.status, 2);
  // A folder without fs/ is no device, even with a registry database in it.
  { std::ofstream(regstore::Store::DatabasePath(device.path())) << "not a database at all, only text"; }
  const Outcome noFileSystem = RunTool({"-d", device.path(), "reg", "export"}, {});
  EXPECT_EQ(noFileSystem.status, 2);
  EXPECT_EQ(noFileSystem.err, "brixdev: no device folder: " + device.path() + " holds no fs/\n");
  EXPECT_TRUE(noFileSystem.out.empty());
  std::filesystem::create_directory(device.path() + "/fs");

  const Outcome broken = RunTool({"reg", "export"}, {"BRIX_DEVICE=" + device.path()});
  EXPECT_EQ(broken.status, 2);
  EXPECT_NE(broken.err.find("cannot open"), std::string::npos);
}

TEST(BrixdevTool, ADeviceWithoutRegistryExportsTheHeaderAndStaysUntouched) {
  regtest::TempDevice device;
  std::filesystem::create_directory(device.path() + "/fs");
  const Outcome outcome = RunTool({"-d", device.path(), "reg", "export"}, {});
  EXPECT_EQ(outcome.status, 0);
  EXPECT_EQ(outcome.out, "REGEDIT4\n\n");
  EXPECT_TRUE(std::filesystem::is_empty(device.path() + "/fs"));
  EXPECT_FALSE(std::filesystem::exists(regstore::Store::DatabasePath(device.path())));
  EXPECT_EQ(RunTool({"-d", device.path(), "reg", "export", "HKEY_LOCAL_MACHINE\\A"}, {}).status, 1);
}

TEST(BrixdevTool, ExportsTheWholeRegistryOrOneSubtree) {
  regtest::TempDevice device;
  std::filesystem::create_directory(device.path() + "/fs");
  {
    std::string error;
    std::unique_ptr<regstore::Store> store = regstore::Store::Open(device.path(), &error);
    ASSERT_NE(store, nullptr) << error;
    const regstore::KeyId machine = regstore::Store::RootKey(regstore::kRootLocalMachine);
    regstore::KeyId key = 0;
    bool created = false;
    ASSERT_EQ(store->CreateKey(machine, u"Software\\Vendor\\Sub", &key, &created), regstore::kOk);
    ASSERT_EQ(store->SetValue(key, u"n", 4, std::string("\x10\0\0\0", 4)), regstore::kOk);
    ASSERT_EQ(store->CreateKey(machine, u"Software\\Other", &key, &created), regstore::kOk);
    ASSERT_EQ(store->SetValue(key, u"s", 1, std::string("x\0\0\0", 4)), regstore::kOk);
  }
  const Outcome all = RunTool({"reg", "export"}, {"BRIX_DEVICE=" + device.path()});
  EXPECT_EQ(all.status, 0) << all.err;
  EXPECT_EQ(all.out,
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\n\"s\"=\"x\"\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Sub]\n\"n\"=dword:00000010\n\n");

  const Outcome part = RunTool({"-d", device.path(), "reg", "export", "hkey_local_machine\\SOFTWARE\\vendor"}, {});
  EXPECT_EQ(part.status, 0) << part.err;
  EXPECT_EQ(part.out,
            "REGEDIT4\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor]\n\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Vendor\\Sub]\n\"n\"=dword:00000010\n\n");

  // The desktop tools' short root names, in any case, name the same keys.
  for (const char* shortForm : {"HKLM\\Software\\Vendor", "hklm\\software\\VENDOR"}) {
    const Outcome same = RunTool({"reg", "export", shortForm, "-d", device.path()}, {});
    EXPECT_EQ(same.status, 0) << shortForm << same.err;
    EXPECT_EQ(same.out, part.out) << shortForm;
  }
  const Outcome users = RunTool({"reg", "export", "--device=" + device.path(), "HKU\\.DEFAULT"}, {});
  EXPECT_EQ(users.status, 1);
  EXPECT_EQ(users.err, "brixdev: no such key: HKU\\.DEFAULT: a device has no HKEY_USERS\n");
  EXPECT_EQ(RunTool({"reg", "export", "-d", device.path(), "HKCU\\Software"}, {}).status, 1);

  for (const char* missing : {"HKEY_LOCAL_MACHINE\\Software\\Nope", "HKEY_USERS\\Software", "Software", "HKX\\A"}) {
    const Outcome none = RunTool({"-d", device.path(), "reg", "export", missing}, {});
    EXPECT_EQ(none.status, 1) << missing;
    EXPECT_NE(none.err.find("no such key"), std::string::npos) << missing;
    EXPECT_TRUE(none.out.empty()) << missing;
  }
}

// A deep key, with keys beside the path at every tenth level: each key is
// printed once, below its parent and after its smaller siblings, whole or
// from any key on the way.
TEST(BrixdevTool, ExportsADeepKeyLevelByLevel) {
  constexpr int kDepth = 300;
  regtest::TempDevice device;
  std::filesystem::create_directory(device.path() + "/fs");
  {
    std::string error;
    std::unique_ptr<regstore::Store> store = regstore::Store::Open(device.path(), &error);
    ASSERT_NE(store, nullptr) << error;
    std::u16string deep = u"Deep";
    for (int level = 0; level < kDepth; ++level) deep += u"\\L" + regstore::FromUtf8(std::to_string(level));
    regstore::KeyId key = 0;
    bool created = false;
    ASSERT_EQ(store->Begin(), regstore::kOk);
    ASSERT_EQ(store->CreateKey(regstore::Store::RootKey(regstore::kRootLocalMachine), deep, &key, &created),
              regstore::kOk);
    ASSERT_EQ(store->SetValue(key, u"leaf", 4, std::string("\1\0\0\0", 4)), regstore::kOk);
    std::u16string path = u"Deep";
    for (int level = 0; level < kDepth; level += 10) {
      ASSERT_EQ(store->FindKey(regstore::Store::RootKey(regstore::kRootLocalMachine), path, &key), regstore::kOk);
      regstore::KeyId side = 0;
      ASSERT_EQ(store->CreateKey(key, u"a" + regstore::FromUtf8(std::to_string(level)), &side, &created), regstore::kOk);
      ASSERT_EQ(store->CreateKey(key, u"z", &side, &created), regstore::kOk);
      for (int step = level; step < level + 10; ++step) path += u"\\L" + regstore::FromUtf8(std::to_string(step));
    }
    ASSERT_EQ(store->Commit(), regstore::kOk);
  }
  // Each level's key; at every tenth level "a<n>" before the deeper path and "z" after all of it.
  std::vector<std::string> blocks;
  std::vector<std::string> after;
  std::string path = "[HKEY_LOCAL_MACHINE\\Deep", top;
  for (int level = 0; level <= kDepth; ++level) {
    if (level == kDepth / 2) top = path;
    blocks.push_back(path + "]\n" + (level == kDepth ? "\"leaf\"=dword:00000001\n" : "") + "\n");
    if (level % 10 == 0 && level < kDepth) {
      blocks.push_back(path + "\\a" + std::to_string(level) + "]\n\n");
      after.insert(after.begin(), path + "\\z]\n\n");
    }
    path += "\\L" + std::to_string(level);
  }
  blocks.insert(blocks.end(), after.begin(), after.end());
  // Whole, and from a key halfway down (named in other case): that key and the keys below it.
  std::string middle = "HKEY_LOCAL_MACHINE\\DEEP";
  for (int level = 0; level < kDepth / 2; ++level) middle += "\\l" + std::to_string(level);
  std::string whole = "REGEDIT4\n\n", part = whole;
  for (const std::string& block : blocks) {
    whole += block;
    if (block.rfind(top + "]", 0) == 0 || block.rfind(top + "\\", 0) == 0) part += block;
  }
  const Outcome all = RunTool({"-d", device.path(), "reg", "export"}, {});
  ASSERT_EQ(all.status, 0) << all.err;
  EXPECT_TRUE(all.out == whole) << "export differs from the expected tree order";
  const Outcome sub = RunTool({"-d", device.path(), "reg", "export", middle}, {});
  ASSERT_EQ(sub.status, 0) << sub.err;
  EXPECT_TRUE(sub.out == part) << "subtree export differs";
  EXPECT_GT(part.size(), whole.size() / 10);
}

}  // namespace

namespace {

TEST(BrixdevTool, EveryCommandHasItsHelp) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"check", "--help"}, "Usage: brixdev check [-d DIR]"},
      {{"try", "-h"}, "Usage: brixdev try [-d DIR]"},
      {{"device", "new", "--help"}, "Usage: brixdev device new DIR"},
      {{"reg", "convert", "x.reg", "--help"}, "Usage: brixdev reg convert [-o OUT] FILE"},
      {{"reg", "export", "--help"}, "Usage: brixdev reg export [-d DIR] [KEY]"},
      {{"reg", "--help"}, "Usage: brixdev reg COMMAND"},
      {{"device", "-h"}, "Usage: brixdev device COMMAND"},
  };
  for (const auto& [args, usage] : cases) {
    const Outcome help = RunTool(args, {});
    EXPECT_EQ(help.status, 0) << usage;
    EXPECT_EQ(help.out.rfind(usage, 0), 0u) << help.out;
  }
  const Outcome bad = RunTool({"check", "--format", "xml", "x"}, {});
  EXPECT_EQ(bad.status, 2);
  EXPECT_NE(bad.err.find("--format takes text, json or sarif"), std::string::npos);
}

TEST(BrixdevTool, TheExamplePackageChecksClean) {
  const Outcome check = RunTool({"check", EXAMPLE_PACKAGE}, {});
  EXPECT_EQ(check.status, 0) << check.err;
  EXPECT_EQ(check.out, "");
}

TEST(BrixdevTool, TryReportsWhatTheExamplePackageChanges) {
  const Outcome run = RunTool({"try", EXAMPLE_PACKAGE}, {});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out.rfind("=== Debug output\n\r\n----- BrixCopy Starting -----\r\nThis is the first execution\r\n", 0), 0u)
      << run.out;
  const std::size_t report = run.out.find("=== Files created");
  ASSERT_NE(report, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(report),
            "=== Files created\n"
            "\\Program Files\\Example\\app\\example.ini  35 bytes\n"
            "\\Program Files\\Example\\app\\readme.txt  105 bytes\n"
            "\\Temp\\brixcopy.log  4 bytes\n"
            "\\Windows\\serial.dll  19 bytes\n"
            "\\Windows\\touch.dll  19 bytes\n"
            "=== Files changed\n(none)\n"
            "=== Registry keys added\n"
            "HKEY_CURRENT_USER\\Software\n"
            "HKEY_CURRENT_USER\\Software\\Example\n"
            "HKEY_CURRENT_USER\\Software\\Example\\Window\n"
            "HKEY_LOCAL_MACHINE\\Software\n"
            "HKEY_LOCAL_MACHINE\\Software\\Example\n"
            "=== Registry values added\n"
            "[HKEY_CURRENT_USER\\Software\\Example\\Window] \"Left\"=dword:00000000\n"
            "[HKEY_CURRENT_USER\\Software\\Example\\Window] \"Top\"=dword:00000000\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Example] \"Features\"=hex(7):74,6f,75,63,68,00,73,65,72,69,61,6c,00,00\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Example] \"InstallDir\"=\"\\Program Files\\Example\"\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Example] \"Signature\"=hex:de,ad,be,ef\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Example] \"Version\"=dword:00010002\n"
            "=== Registry values changed\n(none)\n"
            "=== Programs started\n"
            "\\Windows\\Brixparse.exe  command line: \\Storage Card\\BrixCopy\\settings.reg\n");
}

TEST(BrixdevTool, TryOnAGivenDeviceReportsChangesAndKeepsIt) {
  regtest::TempDevice scratch;
  const std::string device = scratch.path() + "/dev";
  ASSERT_EQ(RunTool({"device", "new", device}, {}).status, 0);
  {
    std::string error;
    std::unique_ptr<regstore::Store> store = regstore::Store::Open(device, &error);
    ASSERT_NE(store, nullptr) << error;
    regstore::KeyId key = 0;
    bool created = false;
    ASSERT_EQ(store->CreateKey(regstore::Store::RootKey(regstore::kRootLocalMachine), u"Software\\Example", &key, &created),
              regstore::kOk);
    ASSERT_EQ(store->SetValue(key, u"Version", 4, std::string("\x01\0\0\0", 4)), regstore::kOk);
  }
  std::filesystem::create_directories(device + "/fs/Program Files/Example/app");
  std::ofstream(device + "/fs/Program Files/Example/app/readme.txt") << "old";

  const Outcome run = RunTool({"try", EXAMPLE_PACKAGE, "-d", device, "--json"}, {});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"device\": \"" + device + "\""), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"changed\": [{\"path\": \"\\\\Program Files\\\\Example\\\\app\\\\readme.txt\", \"size\": 105}]"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\"values_changed\": [{\"key\": \"HKEY_LOCAL_MACHINE\\\\Software\\\\Example\", \"name\": "
                         "\"Version\", \"type\": 4, \"data\": 65538}]"),
            std::string::npos)
      << run.out;
  // Every kind of value, each with its data in the form of its type.
  for (const char* value :
       {"{\"key\": \"HKEY_LOCAL_MACHINE\\\\Software\\\\Example\", \"name\": \"Features\", \"type\": 7, \"data\": "
        "[\"touch\", \"serial\"]}",
        "{\"key\": \"HKEY_LOCAL_MACHINE\\\\Software\\\\Example\", \"name\": \"InstallDir\", \"type\": 1, \"data\": "
        "\"\\\\Program Files\\\\Example\"}",
        "{\"key\": \"HKEY_LOCAL_MACHINE\\\\Software\\\\Example\", \"name\": \"Signature\", \"type\": 3, \"data\": "
        "\"de,ad,be,ef\"}"})
    EXPECT_NE(run.out.find(value), std::string::npos) << value << "\n" << run.out;
  EXPECT_NE(run.out.find("\"failures\": [],\n  \"summary\": null\n}"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"programs\": [{\"program\": \"\\\\Windows\\\\Brixparse.exe\", \"command_line\": "
                         "\"\\\\Storage Card\\\\BrixCopy\\\\settings.reg\"}]"),
            std::string::npos)
      << run.out;
  EXPECT_TRUE(std::filesystem::exists(device + "/fs/Windows/serial.dll"));

  // A second start only counts: the counter changes, nothing else does.
  const Outcome again = RunTool({"try", EXAMPLE_PACKAGE, "-d", device}, {});
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_EQ(again.out.rfind("=== Notes\nthe installer ran on this device before", 0), 0u) << again.out;
  EXPECT_NE(again.out.find("=== Files created\n(none)\n=== Files changed\n\\Temp\\brixcopy.log  4 bytes\n"),
            std::string::npos)
      << again.out;
  EXPECT_NE(again.out.find("=== Programs started\n(none)\n"), std::string::npos) << again.out;
}

TEST(BrixdevTool, TryRunsThePackagesImporterAsTheSimulatorsAndReportsFailedStarts) {
  regtest::TempDevice scratch;
  const std::string package = scratch.path() + "/pkg";
  std::filesystem::create_directories(package);
  std::ofstream(package + "/BrixCopy.inf") << "'Brixparse.exe' '\\Windows'\n'\\Windows\\Brixparse.exe \\s.reg' -x\n"
                                              "'\\Windows\\absent.exe' -e\n";
  std::ofstream(package + "/Brixparse.exe") << "MZ a program for the device, not for the simulator";
  const Outcome run = RunTool({"try", package}, {});
  // The importer could not open its script and a program could not be started: no clean install.
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("=== Failed: 1 program not started, 1 importer report on a registry script\n"),
            std::string::npos)
      << run.out;
  EXPECT_EQ(run.out.rfind("=== Notes\nthe package's " + package + "/Brixparse.exe is replaced by the simulator's importer", 0),
            0u)
      << run.out;
  EXPECT_NE(run.out.find("BrixCopy: failed to run: \\Windows\\absent.exe\r\nGetLastError returned: 2\r\n"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("=== Programs started\n\\Windows\\Brixparse.exe  command line: \\s.reg\n"), std::string::npos)
      << run.out;
  EXPECT_EQ(RunTool({"try", scratch.path() + "/absent"}, {}).status, 2);
}

TEST(BrixdevTool, TryFailsWhenTheInstallReportsAFailure) {
  regtest::TempDevice scratch;
  const std::string package = scratch.path() + "/pkg";
  std::filesystem::create_directories(package);
  std::ofstream(package + "/a.txt") << "a";
  std::ofstream(package + "/BrixCopy.inf") << "'missing.txt' '\\Data'\n'\\Storage Card\\BrixCopy\\a.txt' '\\Windows'\n"
                                              "\"a.txt\" \"\\Data\"\n'a.txt' '\\Never'\n";
  const Outcome run = RunTool({"try", package}, {});
  EXPECT_EQ(run.status, 1) << run.err;
  // After the change report, one line.
  const std::size_t programs = run.out.find("=== Programs started\n(none)\n");
  ASSERT_NE(programs, std::string::npos) << run.out;
  EXPECT_EQ(run.out.substr(programs + 28), "=== Failed: the script stopped at a malformed line, 2 copies failed\n");

  const Outcome json = RunTool({"try", package, "--json"}, {});
  EXPECT_EQ(json.status, 1) << json.err;
  EXPECT_NE(json.out.find("\"failures\": [{\"kind\": \"copy\", \"message\": \"BrixCopy: cannot open source file: "
                          "\\\\Storage Card\\\\BrixCopy\\\\missing.txt\"}, {\"kind\": \"copy\""),
            std::string::npos)
      << json.out;
  EXPECT_NE(json.out.find("\"summary\": \"the script stopped at a malformed line, 2 copies failed\"\n}"), std::string::npos)
      << json.out;
}

TEST(BrixdevTool, TryNeverWritesThroughALinkOnTheDevice) {
  regtest::TempDevice scratch;
  const std::string device = scratch.path() + "/dev", outside = scratch.path() + "/outside";
  ASSERT_EQ(RunTool({"device", "new", device}, {}).status, 0);
  std::filesystem::create_directories(outside);
  std::filesystem::create_directory_symlink(outside, device + "/fs/Storage Card/BrixCopy");
  const Outcome run = RunTool({"try", EXAMPLE_PACKAGE, "-d", device}, {});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("passes a symbolic link"), std::string::npos) << run.err;
  EXPECT_TRUE(std::filesystem::is_empty(outside));
  EXPECT_EQ(RunTool({"-d", scratch.path() + "/absent", "check", EXAMPLE_PACKAGE}, {}).status, 2);
}

// True while process pid exists and has not ended (a zombie has ended).
bool Running(pid_t pid) {
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string text;
  std::getline(stat, text);
  const std::size_t close = text.rfind(')');
  return close != std::string::npos && close + 2 < text.size() && text[close + 2] != 'Z';
}

TEST(BrixdevTool, TryStopsAnInstallerThatOutlivesItsTimeoutWithEveryProgramItStarted) {
  regtest::TempDevice scratch;
  const std::string package = scratch.path() + "/pkg", device = scratch.path() + "/dev";
  std::filesystem::create_directories(package);
  std::ofstream(package + "/BrixCopy.inf") << "'hang.exe' '\\Windows'\n'\\Windows\\hang.exe' -e\n"
                                              "'\\Windows\\hang.exe' -x\n'hang.exe' '\\Temp'\n";
  std::ofstream(package + "/hang.exe") << "#!/bin/sh\necho $$ >> \"$BRIX_DEVICE/hang.pids\"\nexec /bin/sleep 600\n";
  const Outcome run = RunTool({"try", package, "-d", device, "--timeout", "1"}, {});
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("the installer had not ended after 1 s: it was stopped, with every program it started"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find("\\Windows\\hang.exe  "), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("\\Temp\\hang.exe"), std::string::npos) << run.out;
  std::ifstream pids(device + "/hang.pids");
  int count = 0;
  for (pid_t pid = 0; pids >> pid; ++count) EXPECT_FALSE(Running(pid)) << pid;
  EXPECT_EQ(count, 2);

  for (const char* bad : {"x", "-1", "", "86401", "1.5"})
    EXPECT_EQ(RunTool({"try", package, "--timeout", bad}, {}).status, 2) << bad;
}

TEST(BrixdevTool, VersionIsTheProjectVersion) {
  std::ifstream cmake(SOURCE_DIR "/CMakeLists.txt");
  std::string text((std::istreambuf_iterator<char>(cmake)), std::istreambuf_iterator<char>());
  const std::size_t at = text.find("project(Brix VERSION ");
  ASSERT_NE(at, std::string::npos);
  const std::string version = text.substr(at + 21, text.find(' ', at + 21) - at - 21);
  const Outcome printed = RunTool({"--version"}, {});
  EXPECT_EQ(printed.status, 0);
  EXPECT_EQ(printed.out, "brixdev " + version + "\n");
}

TEST(BrixdevTool, ConvertReadsStandardInputAndNeverWritesOverItsInput) {
  regtest::TempDevice scratch;
  const std::string input = scratch.path() + "/in.reg", link = scratch.path() + "/link.reg";
  const std::string exported = "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\A]\r\n\"n\"=dword:00000002\r\n";
  std::ofstream(input, std::ios::binary) << exported;
  std::filesystem::create_hard_link(input, link);

  const Outcome piped = RunTool({"reg", "convert", "-"}, {}, input);
  EXPECT_EQ(piped.status, 0) << piped.err;
  EXPECT_EQ(piped.out, "REGEDIT4\n\n[HKEY_CURRENT_USER\\A]\n\"n\"=dword:00000002\n");
  EXPECT_EQ(RunTool({"reg", "convert", input}, {}).out, piped.out);

  // The input named again, through another path, a hard link, or standard input: refused, the input kept.
  const std::vector<std::vector<std::string>> sameFile = {
      {"reg", "convert", input, "-o", input},
      {"reg", "convert", input, "--output=" + scratch.path() + "/./in.reg"},
      {"reg", "convert", "-o", link, input},
      {"reg", "convert", "-", "-o", input},
  };
  for (const std::vector<std::string>& args : sameFile) {
    const Outcome refused = RunTool(args, {}, input);
    EXPECT_EQ(refused.status, 2) << args[3];
    EXPECT_NE(refused.err.find("names the input"), std::string::npos) << refused.err;
    EXPECT_EQ(wbtest::ReadFile(input), exported) << args[3];
  }
  const Outcome written = RunTool({"reg", "convert", "-", "-o" + scratch.path() + "/out.reg"}, {}, input);
  EXPECT_EQ(written.status, 0) << written.err;
  EXPECT_EQ(wbtest::ReadFile(scratch.path() + "/out.reg"), piped.out);
}

TEST(BrixdevTool, DeviceNewMakesTheUsualFoldersOnce) {
  regtest::TempDevice scratch;
  const std::string device = scratch.path() + "/dev";
  const Outcome made = RunTool({"device", "new", device}, {});
  EXPECT_EQ(made.status, 0) << made.err;
  for (const char* folder : {"Windows", "Temp", "Program Files", "My Documents", "Storage Card"})
    EXPECT_TRUE(std::filesystem::is_directory(device + "/fs/" + folder)) << folder;
  EXPECT_EQ(ReadAll(device + "/fs/Windows/Brixparse.exe"), ReadAll(BRIXPARSE_PATH));
  const Outcome again = RunTool({"device", "new", device}, {});
  EXPECT_EQ(again.status, 2);
  EXPECT_NE(again.err.find("is not an empty folder"), std::string::npos);
}

}  // namespace
