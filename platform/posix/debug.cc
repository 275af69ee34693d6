// Debug output of the device simulator: stderr, UTF-8, byte for byte the message.
// A terminal would obey control characters that a script line carried into a
// message, so there they are shown as visible escapes instead.
#include "platform/platform.h"
#include "platform/posix/console.h"
#include "platform/posix/text.h"

namespace plat {

void DebugOutput(const char16_t* text) try {
  if (text == nullptr) return;
  const std::string bytes = posix::ToUtf8Lenient(text);
  // One write per message, so that the messages of concurrent processes never interleave.
  posix::ConsoleWrite(posix::ConsoleIsTerminal() ? posix::VisibleControls(bytes) : bytes);
} catch (const std::bad_alloc&) {
  // Out of memory here leaves nothing to report with.
}

}  // namespace plat
