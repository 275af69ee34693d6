// Threads, named mutexes, handle operations and per-thread last errors of the simulator.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <thread>

#include "platform/platform.h"
#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;

std::atomic<bool> gRelease{false};

std::uint32_t WaitForRelease(void* parameter) {
  while (!gRelease.load()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  static_cast<std::atomic<int>*>(parameter)->store(7);
  return 3;
}

TEST(PosixThreads, WaitTimesOutUntilTheThreadEnds) {
  gRelease = false;
  std::atomic<int> seen{0};
  plat::Object* thread = plat::ThreadStart(WaitForRelease, &seen);
  ASSERT_NE(thread, nullptr);
  EXPECT_EQ(plat::WaitObject(thread, 0), plat::kWaitTimeout);
  EXPECT_EQ(plat::WaitObject(thread, 50), plat::kWaitTimeout);
  gRelease = true;
  EXPECT_EQ(plat::WaitObject(thread, plat::kInfinite), plat::kWaitObject0);
  EXPECT_EQ(seen.load(), 7);
  EXPECT_EQ(plat::WaitObject(thread, 0), plat::kWaitObject0);
  EXPECT_TRUE(plat::ObjectClose(thread));
}

TEST(PosixThreads, HandleMayBeClosedWhileTheThreadRuns) {
  gRelease = false;
  std::atomic<int> seen{0};
  plat::Object* thread = plat::ThreadStart(WaitForRelease, &seen);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(plat::ObjectClose(thread));
  gRelease = true;
  EXPECT_TRUE(brixtest::Eventually([&] { return seen.load() == 7; }));
}

TEST(PosixThreads, LastErrorIsPerThread) {
  plat::SetLastErrorCode(5);
  std::uint32_t inThread = 1;
  std::thread other([&] {
    inThread = plat::LastError();
    plat::SetLastErrorCode(80);
  });
  other.join();
  EXPECT_EQ(inThread, 0u);
  EXPECT_EQ(plat::LastError(), 5u);
}

TEST(PosixSync, NullHandles) {
  EXPECT_EQ(plat::WaitObject(nullptr, 0), plat::kWaitFailed);
  EXPECT_EQ(plat::LastError(), plat::kErrorInvalidHandle);
  EXPECT_FALSE(plat::ObjectClose(nullptr));
  EXPECT_EQ(plat::ThreadStart(nullptr, nullptr), nullptr);
}

TEST(PosixMutex, SecondCreationInTheSameProcessReportsAlreadyExists) {
  TestDevice device;
  plat::SetLastErrorCode(99);
  plat::Object* first = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(plat::LastError(), 0u);
  plat::Object* second = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(second, nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_EQ(plat::WaitObject(second, 20), plat::kWaitTimeout);
  plat::Object* other = plat::MutexCreateNamed(u"Other name/with\\odd:chars", true);
  ASSERT_NE(other, nullptr);
  EXPECT_EQ(plat::LastError(), 0u);
  EXPECT_TRUE(plat::ObjectClose(other));
  EXPECT_TRUE(plat::ObjectClose(first));
  EXPECT_EQ(plat::WaitObject(second, 1000), plat::kWaitObject0);
  EXPECT_TRUE(plat::ObjectClose(second));
  plat::Object* third = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(third, nullptr);
  EXPECT_EQ(plat::LastError(), 0u);
  EXPECT_TRUE(plat::ObjectClose(third));
  // Its state lives outside the device's file system.
  plat::FindData data{};
  EXPECT_EQ(plat::FindFirst(u"\\*", &data), nullptr);
}

// Forks a child that creates the mutex, reports, then waits for a byte (or is killed).
pid_t HoldInChild(const char16_t* name, int toParent[2], int toChild[2]) {
  const pid_t child = fork();
  if (child == 0) {
    plat::Object* mutex = plat::MutexCreateNamed(name, true);
    const char ready = mutex != nullptr && plat::LastError() == 0 ? 'y' : 'n';
    char go = 0;
    if (write(toParent[1], &ready, 1) != 1 || read(toChild[0], &go, 1) != 1) _exit(1);
    _exit(0);
  }
  return child;
}

class PosixMutexAcrossProcesses : public testing::TestWithParam<bool> {};

TEST_P(PosixMutexAcrossProcesses, HeldByAnotherProcessUntilItEnds) {
  const bool killed = GetParam();
  TestDevice device;
  int toParent[2];
  int toChild[2];
  ASSERT_EQ(pipe(toParent), 0);
  ASSERT_EQ(pipe(toChild), 0);
  const pid_t child = HoldInChild(u"BrixCopy", toParent, toChild);
  ASSERT_GT(child, 0);
  char ready = 0;
  ASSERT_EQ(read(toParent[0], &ready, 1), 1);
  ASSERT_EQ(ready, 'y');
  plat::Object* refused = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(refused, nullptr);
  EXPECT_EQ(plat::LastError(), plat::kErrorAlreadyExists);
  EXPECT_TRUE(plat::ObjectClose(refused));
  if (killed)
    ASSERT_EQ(kill(child, SIGKILL), 0);
  else
    ASSERT_EQ(write(toChild[1], "g", 1), 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_EQ(killed, WIFSIGNALED(status));
  plat::Object* mine = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(mine, nullptr);
  EXPECT_EQ(plat::LastError(), 0u);
  EXPECT_TRUE(plat::ObjectClose(mine));
  for (int fd : {toParent[0], toParent[1], toChild[0], toChild[1]}) close(fd);
}

INSTANTIATE_TEST_SUITE_P(EndedOrKilled, PosixMutexAcrossProcesses, testing::Values(false, true));

TEST(PosixMutex, StartedProgramsDoNotInheritIt) {
  TestDevice device;
  device.Write("Windows/linger.sh", "#!/bin/sh\nsleep 1\n", 0755);
  plat::Object* mutex = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(mutex, nullptr);
  plat::Object* process = plat::ProcessStart(u"\\Windows\\linger.sh", nullptr);
  ASSERT_NE(process, nullptr);
  EXPECT_TRUE(plat::ObjectClose(mutex));
  plat::Object* again = plat::MutexCreateNamed(u"BrixCopy", true);
  ASSERT_NE(again, nullptr);
  EXPECT_EQ(plat::LastError(), 0u);
  EXPECT_TRUE(plat::ObjectClose(again));
  EXPECT_EQ(plat::WaitObject(process, plat::kInfinite), plat::kWaitObject0);
  EXPECT_TRUE(plat::ObjectClose(process));
}

}  // namespace
