// Device contexts: devices in force per thread, side by side in one process,
// inherited by the threads the simulator starts, nested and restored, with the
// debug output handed to each context's own sink.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/device.h"
#include "platform/posix/device_context.h"
#include "tests/platform/posix/test_device.h"

namespace {

using brixtest::TestDevice;

bool WriteFile(const char16_t* path, const std::string& bytes) {
  using namespace plat::backend;
  plat::File* file = OpenFile(path, Access::Write, Disposition::CreateAlways, Share::None);
  if (file == nullptr) return false;
  std::uint32_t written = 0;
  const bool ok = plat::FileWrite(file, bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written);
  return plat::FileClose(file) && ok;
}

// A thread the simulator starts: writes \child.txt and a debug message on the device in force.
std::uint32_t ChildWrites(void*) {
  plat::DebugOutput(u"from the child\r\n");
  return WriteFile(u"\\child.txt", "child") ? 0 : 1;
}

TEST(DeviceContexts, TwoDevicesSideBySideEachWithItsOwnDebugOutput) {
  constexpr int kDevices = 2;
  std::vector<std::string> folders(kDevices), debug(kDevices);
  std::vector<int> failures(kDevices, 0);
  std::atomic<int> done{0};
  std::vector<std::thread> threads;
  for (int i = 0; i < kDevices; ++i) {
    threads.emplace_back([&, i] {
      TestDevice scratch;  // its folder only: the scope below puts the same device in force
      folders[i] = scratch.folder();
      const plat::posix::DeviceScope scope({.folder = scratch.folder(),
                                            .debug = [&, i](std::string_view text) { debug[i] += text; }});
      for (int round = 0; round < 50; ++round) {
        const std::u16string text = u"device " + std::u16string(1, static_cast<char16_t>(u'0' + i)) + u"\r\n";
        plat::DebugOutput(text.c_str());
        if (!WriteFile(u"\\own.txt", std::to_string(i))) ++failures[i];
      }
      plat::Object* child = plat::ThreadStart(ChildWrites, nullptr);
      if (child == nullptr || plat::WaitObject(child, plat::kInfinite) != plat::kWaitObject0) ++failures[i];
      plat::ObjectClose(child);
      if (scratch.Read("own.txt") != std::to_string(i) || scratch.Read("child.txt") != "child") ++failures[i];
      // Each device stays until both threads are done, so that they work side by side.
      ++done;
      if (!brixtest::Eventually([&] { return done.load() == kDevices; })) ++failures[i];
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int i = 0; i < kDevices; ++i) {
    EXPECT_EQ(failures[i], 0) << i;
    std::string expected;
    for (int round = 0; round < 50; ++round) expected += "device " + std::to_string(i) + "\r\n";
    EXPECT_EQ(debug[i], expected + "from the child\r\n") << i;
  }
}

TEST(DeviceContexts, ScopesNestAndTheFormerDeviceReturns) {
  TestDevice outer;
  const std::string outerFolder = plat::posix::DeviceFolder();
  EXPECT_EQ(outerFolder, brixtest::Canonical(outer.folder()));
  {
    TestDevice inner;
    EXPECT_EQ(plat::posix::DeviceFolder(), brixtest::Canonical(inner.folder()));
    ASSERT_TRUE(WriteFile(u"\\inner.txt", "in"));
    EXPECT_EQ(inner.Read("inner.txt"), "in");
    // A thread started without the simulator has no scope: it sees the process's device, none here.
    std::string seenElsewhere = "unset";
    std::thread([&] { seenElsewhere = plat::posix::DeviceFolder(); }).join();
    EXPECT_EQ(seenElsewhere, "");
  }
  EXPECT_EQ(plat::posix::DeviceFolder(), outerFolder);
  ASSERT_TRUE(WriteFile(u"\\outer.txt", "out"));
  EXPECT_EQ(outer.Read("outer.txt"), "out");
  EXPECT_FALSE(outer.Exists("inner.txt"));
}

}  // namespace
