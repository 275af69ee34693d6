// A context reaches the simulator's calls as a device state: the process's,
// set at a program's start-up, or a thread's, set by a scope. Nothing of it
// lives in the environment or in process-wide descriptors, so a crash inside
// a scope leaves nothing redirected.
#include "platform/posix/device_context.h"

#include <cstdlib>
#include <utility>

#include "platform/posix/device_state.h"
#include "platform/posix/start_record.h"

namespace plat::posix {
namespace {

std::string Variable(const char* name) {
  const char* value = std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

}  // namespace

DeviceContext ContextFromEnvironment() {
  DeviceContext context;
  context.folder = Variable(kDeviceVariable);
  context.startRecord = Variable(kStartRecordVariable);
  return context;
}

void SetProcessDevice(DeviceContext context) {
  SetProcessDeviceState(std::make_shared<const DeviceState>(std::move(context)));
}

DeviceScope::DeviceScope(DeviceContext context)
    : previous_(ExchangeThreadDeviceState(std::make_shared<const DeviceState>(std::move(context)))) {}

DeviceScope::~DeviceScope() { ExchangeThreadDeviceState(std::move(previous_)); }

}  // namespace plat::posix
