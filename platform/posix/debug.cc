// Debug output of the device simulator: stderr, UTF-8, byte for byte the message.
#include "platform/platform.h"
#include "platform/posix/console.h"
#include "platform/posix/text.h"

namespace plat {

void DebugOutput(const char16_t* text) {
  if (text == nullptr) return;
  // One write per message, so that the messages of concurrent processes never interleave.
  posix::ConsoleWrite(posix::ToUtf8Lenient(text));
}

}  // namespace plat
