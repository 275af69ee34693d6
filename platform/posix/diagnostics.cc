// Diagnostics go to a log file in the device folder, so that scripts reading
// the debug output never meet them and an operator finds them afterwards. Each
// line is one append, so that the lines of concurrent processes never mix. The
// log is opened like device content: never through a link, never a file with
// a second name elsewhere, since an append would change that file too.
#include "platform/posix/diagnostics.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <ctime>

#include "platform/posix/beneath.h"
#include "platform/posix/console.h"
#include "platform/posix/device.h"
#include "platform/posix/device_state.h"

namespace plat::posix {
namespace {

std::atomic<bool> g_pointerShown{false};

std::string Timestamp() {
  const std::time_t now = std::time(nullptr);
  std::tm utc{};
  gmtime_r(&now, &utc);
  char text[32];
  return std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc) == 0 ? std::string() : std::string(text);
}

// Opens the log for appending; created readable and writable for every user of the device.
Fd OpenLog(const Device& device) {
  constexpr int kFlags = O_WRONLY | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  Fd log(openat(device.dir.get(), kDiagnosticsLog, kFlags));
  if (!log && errno == ENOENT) {
    log.Reset(openat(device.dir.get(), kDiagnosticsLog, kFlags | O_CREAT | O_EXCL, 0666));
    if (log) fchmod(log.get(), 0666);
    else if (errno == EEXIST) log.Reset(openat(device.dir.get(), kDiagnosticsLog, kFlags));
  }
  struct stat st {};
  if (log && (fstat(log.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_nlink != 1)) log.Reset();
  return log;
}

bool AppendLine(int fd, const std::string& line) {
  const ssize_t n = write(fd, line.data(), line.size());
  return n == static_cast<ssize_t>(line.size());
}

}  // namespace

void Diagnose(const std::string& text) { Diagnose(CurrentDeviceState(), text); }

void Diagnose(const DeviceState& state, const std::string& text) {
  const std::string visible = VisibleControls(text, false);
  const std::shared_ptr<const Device> device = state.OpenedDevice();
  bool logged = false;
  std::string logPath;
  if (device != nullptr) {
    logPath = device->folder + "/" + kDiagnosticsLog;
    Fd log = OpenLog(*device);
    logged = log && AppendLine(log.get(), Timestamp() + " " + program_invocation_short_name + "[" +
                                              std::to_string(getpid()) + "]: " + visible + "\n");
  }
  // A host tool that hands the debug output to a sink keeps the terminal to itself.
  if (!DebugOnConsole(state) || !ConsoleIsTerminal()) return;
  if (!logged) {
    ConsoleWrite("device simulator: " + visible + "\n");
  } else if (!g_pointerShown.exchange(true)) {
    ConsoleWrite("device simulator: see " + VisibleControls(logPath, false) + "\n");
  }
}

}  // namespace plat::posix
