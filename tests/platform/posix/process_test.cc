// Program start and waiting in the simulator.
#include <gtest/gtest.h>
#include <signal.h>

#include <cerrno>
#include <string>

#include "platform/platform.h"
#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;

// Records its argument count, its first argument, its device and its pid beside itself.
constexpr const char* kArgsScript =
    "#!/bin/sh\n"
    "printf '%s\\n%s\\n%s\\n' \"$$\" \"$BRIX_DEVICE\" \"$#\" > \"$0.tmp\"\n"
    "if [ $# -gt 0 ]; then printf '%s' \"$1\" >> \"$0.tmp\"; fi\n"
    "mv \"$0.tmp\" \"$0.out\"\n";

struct Recorded {
  pid_t pid = 0;
  std::string device;
  std::string count;
  std::string argument;
};

Recorded Parse(const std::string& text) {
  Recorded r;
  std::size_t a = text.find('\n');
  std::size_t b = text.find('\n', a + 1);
  std::size_t c = text.find('\n', b + 1);
  if (c == std::string::npos) return r;
  r.pid = static_cast<pid_t>(std::stol(text.substr(0, a)));
  r.device = text.substr(a + 1, b - a - 1);
  r.count = text.substr(b + 1, c - b - 1);
  r.argument = text.substr(c + 1);
  return r;
}

TEST(PosixProcess, CommandLineArrivesAsOneArgument) {
  struct Case {
    const char16_t* commandLine;
    const char* count;
    const char* argument;
  } cases[] = {
      {nullptr, "0", ""},
      {u"", "1", ""},
      {u"\\Windows\\setup.cab", "1", "\\Windows\\setup.cab"},
      {u" a  b \"c d\" 'e' $HOME ", "1", " a  b \"c d\" 'e' $HOME "},
      {u"caf\u00e9 \u20ac", "1", "caf\xc3\xa9 \xe2\x82\xac"},
  };
  for (const Case& c : cases) {
    TestDevice device;
    device.Write("Windows/Args.sh", kArgsScript, 0755);
    plat::Object* process = plat::ProcessStart(u"\\windows\\ARGS.SH", c.commandLine);
    ASSERT_NE(process, nullptr) << plat::LastError();
    EXPECT_EQ(plat::WaitObject(process, plat::kInfinite), plat::kWaitObject0);
    EXPECT_TRUE(plat::ObjectClose(process));
    const Recorded r = Parse(device.Read("Windows/Args.sh.out"));
    EXPECT_EQ(r.count, c.count);
    EXPECT_EQ(r.argument, c.argument);
    EXPECT_EQ(r.device, device.folder());
    // Waited for, so reaped: no zombie is left.
    EXPECT_EQ(kill(r.pid, 0), -1);
    EXPECT_EQ(errno, ESRCH);
  }
}

TEST(PosixProcess, StartFailuresCarryTheDeviceError) {
  TestDevice device;
  device.Write("Windows/text.exe", "just text\n", 0755);
  device.Write("Windows/noexec.sh", "#!/bin/sh\nexit 0\n", 0644);
  device.MakeFolder("Windows/Folder.exe");
  struct Case {
    const char16_t* path;
    std::uint32_t error;
  } cases[] = {
      {u"\\Windows\\missing.exe", plat::kErrorFileNotFound},
      {u"\\Nowhere\\app.exe", plat::kErrorPathNotFound},
      {u"\\Windows\\text.exe", plat::kErrorBadExeFormat},
      {u"\\Windows\\noexec.sh", plat::kErrorAccessDenied},
      {u"\\Windows\\Folder.exe", plat::kErrorAccessDenied},
      {u"\\Windows\\a?.exe", plat::kErrorInvalidName},
  };
  for (const Case& c : cases) {
    plat::SetLastErrorCode(0);
    EXPECT_EQ(plat::ProcessStart(c.path, nullptr), nullptr);
    EXPECT_EQ(plat::LastError(), c.error);
  }
}

TEST(PosixProcess, WaitTimesOutWhileTheProgramRuns) {
  TestDevice device;
  device.Write("Windows/slow.sh", "#!/bin/sh\nsleep 1\n", 0755);
  plat::Object* process = plat::ProcessStart(u"\\Windows\\slow.sh", nullptr);
  ASSERT_NE(process, nullptr);
  EXPECT_EQ(plat::WaitObject(process, 0), plat::kWaitTimeout);
  EXPECT_EQ(plat::WaitObject(process, 100), plat::kWaitTimeout);
  EXPECT_EQ(plat::WaitObject(process, plat::kInfinite), plat::kWaitObject0);
  EXPECT_EQ(plat::WaitObject(process, 0), plat::kWaitObject0);
  EXPECT_TRUE(plat::ObjectClose(process));
}

TEST(PosixProcess, ClosedHandleLeavesNoZombie) {
  TestDevice device;
  device.Write("Windows/Args.sh", kArgsScript, 0755);
  plat::Object* process = plat::ProcessStart(u"\\Windows\\Args.sh", nullptr);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(plat::ObjectClose(process));
  ASSERT_TRUE(brixtest::Eventually([&] { return device.Exists("Windows/Args.sh.out"); }));
  const pid_t pid = Parse(device.Read("Windows/Args.sh.out")).pid;
  ASSERT_GT(pid, 0);
  EXPECT_TRUE(brixtest::Eventually([pid] { return kill(pid, 0) == -1 && errno == ESRCH; }));
}

}  // namespace
