// A throw-away simulated device for the simulator's tests: a temporary device
// folder with an fs/ root, the device in force on the creating thread for the
// life of the object.
#pragma once

#include <optional>
#include <string>

#include "platform/posix/device_context.h"

namespace brixtest {

class TestDevice {
 public:
  TestDevice();
  ~TestDevice();
  TestDevice(const TestDevice&) = delete;
  TestDevice& operator=(const TestDevice&) = delete;

  // The device folder (as created, not canonical).
  const std::string& folder() const { return folder_; }
  // The host path of a path below the device root, given with '/' separators.
  std::string Host(const std::string& relative) const;
  // Creates a file below the root (parents too) with the bytes and permission mode.
  void Write(const std::string& relative, const std::string& bytes, int mode = 0644) const;
  // Creates a folder below the root (parents too).
  void MakeFolder(const std::string& relative) const;
  // The bytes of a file below the root; empty when missing.
  std::string Read(const std::string& relative) const;
  // True when something of that name exists below the root.
  bool Exists(const std::string& relative) const;

 private:
  std::string folder_;
  std::optional<plat::posix::DeviceScope> scope_;
};

// Copies a host file to a path below the device root, keeping it executable.
void CopyInto(const TestDevice& device, const std::string& hostFile, const std::string& relative);
// The canonical form of a host path.
std::string Canonical(const std::string& path);
// The bytes of any host file; empty when missing.
std::string ReadHost(const std::string& path);
// Polls until pred() holds or about five seconds have passed; returns pred().
template <typename Pred>
bool Eventually(Pred pred);

}  // namespace brixtest

#include <chrono>
#include <thread>

template <typename Pred>
bool brixtest::Eventually(Pred pred) {
  for (int i = 0; i < 500; ++i) {
    if (pred()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pred();
}
