// The simulator's side of a device context: the context with the device folder
// opened for it and the registry connection made for it, shared by every thread
// the context is in force on.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "platform/posix/device.h"
#include "platform/posix/device_context.h"

namespace plat::posix {

struct RegistryState;  // registry.cc: the open registry database and its key handles

struct DeviceState {
  explicit DeviceState(DeviceContext settings);
  ~DeviceState();
  DeviceState(const DeviceState&) = delete;
  DeviceState& operator=(const DeviceState&) = delete;

  // The device folder, opened at the first call that needs it and kept once it opened;
  // nullptr, and *problem (one line) when given, while context.folder names no device.
  std::shared_ptr<const Device> OpenedDevice(std::string* problem = nullptr) const;

  const DeviceContext context;
  // The device's registry connection, made once by the first registry call;
  // closed (what is pending committed) when the state ends.
  mutable std::once_flag registryOnce;
  mutable std::shared_ptr<RegistryState> registry;

 private:
  mutable std::mutex deviceMutex_;
  mutable std::shared_ptr<const Device> device_;
};

// The device state in force on this thread: its own, else the process's. It stays
// valid while the calling thread keeps its own (a scope or a started thread's whole
// life), and for good when it is the process's: no call can see it end.
const DeviceState& CurrentDeviceState();
// The state this thread has of its own (a scope's, or its starter's); nullptr when it
// uses the process's.
std::shared_ptr<const DeviceState> ThreadDeviceState();
// The process's device state, set by the program's start-up (no device before).
const DeviceState& ProcessDeviceState();
// Makes state the process's device state; every state the process had is kept.
void SetProcessDeviceState(std::shared_ptr<const DeviceState> state);
// Puts state in force on the calling thread (nullptr: the process's again) and returns
// the thread's former one; a thread the simulator starts takes its starter's this way.
std::shared_ptr<const DeviceState> ExchangeThreadDeviceState(std::shared_ptr<const DeviceState> state);
// True when the debug output of state goes to the console (standard error).
inline bool DebugOnConsole(const DeviceState& state) { return !state.context.debug; }

}  // namespace plat::posix
