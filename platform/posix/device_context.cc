// A context is in force per thread: a scope installs it in a thread-local slot,
// and a thread the simulator starts takes over its starter's. Threads without
// one use the process's, which a program's start-up sets before it starts any
// thread. Nothing of it lives in the environment or in process-wide
// descriptors, so a crash inside a scope leaves nothing redirected.
#include "platform/posix/device_context.h"

#include <cstdlib>
#include <utility>

#include "platform/posix/device_state.h"
#include "platform/posix/start_record.h"

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

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
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

DeviceContext ContextFromEnvironment() {
  DeviceContext context;
  context.folder = Variable(kDeviceVariable);
  context.startRecord = Variable(kStartRecordVariable);
  return context;
}

void SetProcessDevice(DeviceContext context) {
  auto state = std::make_shared<const DeviceState>(std::move(context));
  const std::lock_guard<std::mutex> lock(ProcessMutex());
  ProcessSlot() = std::move(state);
}

std::shared_ptr<const DeviceState> ProcessDeviceState() {
  const std::lock_guard<std::mutex> lock(ProcessMutex());
  std::shared_ptr<const DeviceState>& slot = ProcessSlot();
  if (slot == nullptr) slot = std::make_shared<const DeviceState>(DeviceContext{});
  return slot;
}

std::shared_ptr<const DeviceState> CurrentDeviceState() {
  if (t_state != nullptr) return t_state;
  return ProcessDeviceState();
}

void InheritDeviceState(std::shared_ptr<const DeviceState> state) { t_state = std::move(state); }

DeviceScope::DeviceScope(DeviceContext context) : previous_(t_state) {
  t_state = std::make_shared<const DeviceState>(std::move(context));
}

DeviceScope::~DeviceScope() { t_state = std::move(previous_); }

}  // namespace plat::posix
