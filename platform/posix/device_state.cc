// The device in force: a thread-local slot that a scope or a started thread
// fills, and the process's device for threads that have none.
#include "platform/posix/device_state.h"

#include <atomic>
#include <utility>
#include <vector>

namespace plat::posix {
namespace {

thread_local std::shared_ptr<const DeviceState> t_state;

// Every call asks for the device in force: the process's is published once as
// a plain pointer, so that asking costs one load.
std::atomic<const DeviceState*> g_process{nullptr};

std::mutex& ProcessMutex() {
  static std::mutex* mutex = new std::mutex;  // never destroyed: threads may ask at exit
  return *mutex;
}

// Every process state ever set, never destroyed: a call may still hold the one
// it took, the registry commits what a program left open at its end
// (registry.cc), and diagnostics may need the device until then.
std::vector<std::shared_ptr<const DeviceState>>& KeptProcessStates() {
  static auto* kept = new std::vector<std::shared_ptr<const DeviceState>>;
  return *kept;
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

const DeviceState& CurrentDeviceState() {
  if (t_state != nullptr) return *t_state;
  return ProcessDeviceState();
}

std::shared_ptr<const DeviceState> ThreadDeviceState() { return t_state; }

namespace {

// Publishes state as the process's; the caller holds ProcessMutex().
const DeviceState& Publish(std::shared_ptr<const DeviceState> state) {
  KeptProcessStates().push_back(std::move(state));
  g_process.store(KeptProcessStates().back().get(), std::memory_order_release);
  return *KeptProcessStates().back();
}

}  // namespace

const DeviceState& ProcessDeviceState() {
  if (const DeviceState* state = g_process.load(std::memory_order_acquire)) return *state;
  const std::lock_guard<std::mutex> lock(ProcessMutex());
  if (const DeviceState* state = g_process.load(std::memory_order_acquire)) return *state;
  return Publish(std::make_shared<const DeviceState>(DeviceContext{}));
}

void SetProcessDeviceState(std::shared_ptr<const DeviceState> state) {
  const std::lock_guard<std::mutex> lock(ProcessMutex());
  Publish(std::move(state));
}

std::shared_ptr<const DeviceState> ExchangeThreadDeviceState(std::shared_ptr<const DeviceState> state) {
  std::swap(t_state, state);
  return state;
}

}  // namespace plat::posix
