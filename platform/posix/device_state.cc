// The device in force: a thread-local slot that a scope or a started thread
// fills, and the process's device for threads that have none.
#include "platform/posix/device_state.h"

#include <utility>

namespace plat::posix {
namespace {

thread_local std::shared_ptr<const DeviceState> t_state;

std::mutex& ProcessMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: threads may ask at exit
  return *mutex;
}

// Never destroyed either: the registry commits what a program left open at
// its end (registry.cc), and diagnostics may need the device until then.
std::shared_ptr<const DeviceState>& ProcessSlot() {
  static auto* slot = new std::shared_ptr<const DeviceState>;
  return *slot;
}

}  // namespace

DeviceState::DeviceState(DeviceContext settings) : context(std::move(settings)) {}

DeviceState::~DeviceState() = default;

std::shared_ptr<const Device> DeviceState::OpenedDevice(std::string* problem) const {
  const std::lock_guard<std::mutex> lock(deviceMutex_);
  // Every path mapping asks for the device: it is opened once, sparing a
  // realpath walk and two opens per file operation. A folder that is no device
  // (yet) is looked at again at the next call.
  if (device_ == nullptr) {
    std::string why;
    device_ = OpenDeviceFolder(context.folder, &why);
    if (problem != nullptr) *problem = std::move(why);
  }
  return device_;
}

std::shared_ptr<const DeviceState> CurrentDeviceState() {
  if (t_state != nullptr) return t_state;
  return ProcessDeviceState();
}

std::shared_ptr<const DeviceState> ProcessDeviceState() {
  const std::lock_guard<std::mutex> lock(ProcessMutex());
  std::shared_ptr<const DeviceState>& slot = ProcessSlot();
  if (slot == nullptr) slot = std::make_shared<const DeviceState>(DeviceContext{});
  return slot;
}

void SetProcessDeviceState(std::shared_ptr<const DeviceState> state) {
  const std::lock_guard<std::mutex> lock(ProcessMutex());
  ProcessSlot() = std::move(state);
}

std::shared_ptr<const DeviceState> ExchangeThreadDeviceState(std::shared_ptr<const DeviceState> state) {
  std::swap(t_state, state);
  return state;
}

}  // namespace plat::posix
