// Debug output of the device simulator: UTF-8, byte for byte the message, to the
// sink of the device context in force, or else to stderr. A terminal would obey
// control characters that a script line carried into a message, so there they
// are shown as visible escapes instead.
#include "platform/platform.h"
#include "platform/posix/console.h"
#include "platform/posix/device_state.h"
#include "platform/utf.h"

namespace plat {

void DebugOutput(const char16_t* text) try {
  if (text == nullptr) return;
  const std::string bytes = utf::ToUtf8Lenient(text);
  const posix::DeviceState& state = posix::CurrentDeviceState();
  if (!posix::DebugOnConsole(state)) {
    state.context.debug(bytes);
    return;
  }
  // One write per message, so that the messages of concurrent processes never interleave.
  posix::ConsoleWrite(posix::ConsoleIsTerminal() ? posix::VisibleControls(bytes) : bytes);
} catch (const std::bad_alloc&) {
  // Out of memory here leaves nothing to report with.
}

}  // namespace plat
