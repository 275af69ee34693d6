// Which simulated device the simulator's calls work on, and where its debug
// output goes: a device context. A program's start-up sets one for the whole
// process from the environment; a host tool puts one in force on a thread for
// each device it works on, so that checks on different devices can run side by
// side in one process and nothing process-wide is redirected meanwhile.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <string_view>

namespace plat::posix {

// Takes the debug output: each message whole, in UTF-8, byte for byte the program's text.
using DebugSink = std::function<void(std::string_view message)>;

// A simulated device as the simulator's calls see it.
struct DeviceContext {
  std::string folder{};       // the device folder DIR, whose fs/ is the root "\"; empty: no device
  DebugSink debug{};          // where the debug output goes; empty: standard error, the console
  std::string startRecord{};  // host file each program start is appended to; empty: none
};

// The context the environment names: the folder from BRIX_DEVICE, the start record from
// BRIX_START_RECORD, the debug output on the console. The only place they are read.
DeviceContext ContextFromEnvironment();

// Makes context the process's device, in force on every thread that has no scope of
// its own; a program's start-up calls it once, before it starts any thread.
void SetProcessDevice(DeviceContext context);

struct DeviceState;

// Puts a device in force on the calling thread, and on every thread the simulator
// starts from it, for the scope's life; the device in force before is back afterwards.
// Scopes nest and end in reverse order.
class DeviceScope {
 public:
  explicit DeviceScope(DeviceContext context);
  ~DeviceScope();
  DeviceScope(const DeviceScope&) = delete;
  DeviceScope& operator=(const DeviceScope&) = delete;

 private:
  std::shared_ptr<const DeviceState> previous_;
};

}  // namespace plat::posix
