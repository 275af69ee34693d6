// The simulator's process entry: device check, module path and command line.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Drain(int fd) {
  std::string text;
  char buffer[4096];
  ssize_t n;
  while ((n = read(fd, buffer, sizeof buffer)) > 0) text.append(buffer, static_cast<std::size_t>(n));
  close(fd);
  return text;
}

// Runs program with args; device is BRIX_DEVICE's value, nullptr to leave it unset.
Outcome RunProgram(const std::string& program, const std::vector<std::string>& args, const char* device) {
  int out[2];
  int err[2];
  Outcome run;
  if (pipe(out) != 0 || pipe(err) != 0) return run;
  const pid_t child = fork();
  if (child == 0) {
    dup2(out[1], 1);
    dup2(err[1], 2);
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    if (device != nullptr) setenv("BRIX_DEVICE", device, 1);
    else unsetenv("BRIX_DEVICE");
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  run.out = Drain(out[0]);
  run.err = Drain(err[0]);
  int status = 0;
  waitpid(child, &status, 0);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

TEST(PosixEntry, ProgramOnTheDeviceGetsItsPathAndCommandLine) {
  TestDevice device;
  brixtest::CopyInto(device, BRIX_ENTRY_PROBE, "Windows/BrixCopy.exe");
  const std::string program = device.Host("Windows/BrixCopy.exe");
  struct Case {
    std::vector<std::string> args;
    std::string commandLine;
    int status;
  } cases[] = {
      {{}, "", 0},
      {{""}, "", 0},
      {{"\\Temp\\x.reg"}, "\\Temp\\x.reg", 0},
      {{"a  b", "\"c\""}, "a  b \"c\"", 0},
      {{"one", "", "three"}, "one  three", 0},
      {{"caf\xc3\xa9"}, "caf\xc3\xa9", 0},
      {{"exit7"}, "exit7", 7},
  };
  for (const Case& c : cases) {
    const Outcome run = RunProgram(program, c.args, device.folder().c_str());
    EXPECT_EQ(run.status, c.status) << run.err;
    EXPECT_EQ(run.out, "\\Windows\\BrixCopy.exe|" + c.commandLine);
    EXPECT_EQ(run.err, "");
  }
}

TEST(PosixEntry, DeviceFolderGivenThroughASymbolicLink) {
  TestDevice device;
  brixtest::CopyInto(device, BRIX_ENTRY_PROBE, "Windows/Probe");
  const std::string link = device.folder() + "-link";
  ASSERT_EQ(symlink(device.folder().c_str(), link.c_str()), 0);
  const Outcome run = RunProgram(link + "/fs/Windows/Probe", {"x"}, link.c_str());
  unlink(link.c_str());
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "\\Windows\\Probe|x");
}

TEST(PosixEntry, RefusesToRunOffTheDevice) {
  TestDevice device;
  brixtest::CopyInto(device, BRIX_ENTRY_PROBE, "Windows/Probe");
  device.MakeFolder("Temp");
  const std::string onDevice = device.Host("Windows/Probe");
  const std::string noFs = device.Host("Temp");
  struct Case {
    std::string program;
    const char* deviceValue;
  } cases[] = {
      {BRIX_ENTRY_PROBE, device.folder().c_str()},  // program outside the device root
      {onDevice, nullptr},                          // no device named
      {onDevice, ""},
      {onDevice, noFs.c_str()},                     // a folder without fs/
      {onDevice, "/nonexistent/brix-device"},
  };
  for (const Case& c : cases) {
    const Outcome run = RunProgram(c.program, {"arg"}, c.deviceValue);
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.out, "");
    ASSERT_FALSE(run.err.empty());
    EXPECT_EQ(run.err.find('\n'), run.err.size() - 1) << run.err;
  }
  EXPECT_FALSE(device.Exists("../run"));
}

}  // namespace
