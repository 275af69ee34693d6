// brixdev: the host's workbench for packages, registry scripts and simulated devices.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "brixdev/cli/args.h"
#include "brixdev/commands/check_command.h"
#include "brixdev/commands/device_new_command.h"
#include "brixdev/commands/reg_convert_command.h"
#include "brixdev/commands/reg_export_command.h"
#include "brixdev/commands/try_command.h"
#include "brixdev/text.h"
#include "platform/terminal_text.h"

namespace {

// A program of the build, found beside brixdev's own folder (build/installer/BrixCopy beside build/brixdev/).
std::string BuiltProgram(const char* relative) {
  char self[PATH_MAX];
  if (realpath("/proc/self/exe", self) == nullptr) return relative;
  std::string path = self;
  path.erase(path.rfind('/'));
  path.erase(path.rfind('/') + 1);
  return path + relative;
}

// What brixdev prints holds a package's own text (file names, script lines,
// the programs' debug output): on a terminal its control characters are shown
// as the simulator shows them, so a package cannot drive the terminal of
// whoever looks at it; to a pipe or a file the bytes stay exact.
std::string ForStream(std::string_view text, int fd) {
  return isatty(fd) != 0 ? plat::VisibleControls(text) : std::string(text);
}

int Finish(int status, const std::string& out, const std::string& err) {
  const std::string shownOut = ForStream(out, STDOUT_FILENO);
  std::fwrite(shownOut.data(), 1, shownOut.size(), stdout);
  std::fputs(ForStream(err, STDERR_FILENO).c_str(), stderr);
  if (std::fflush(stdout) != 0) return 2;
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const brixdev::Command command = brixdev::ParseArgs(args, std::getenv("BRIX_DEVICE"));
  const std::string installer = BuiltProgram("installer/BrixCopy");
  const std::string importer = BuiltProgram("regimport/Brixparse");
  std::string out;
  std::string err;
  switch (command.action) {
    case brixdev::Action::kHelp:
      return Finish(0, brixdev::UsageText(command.topic), "");
    case brixdev::Action::kUsageError:
      return Finish(2, "", "brixdev: " + command.error + "\nTry 'brixdev --help'.\n");
    case brixdev::Action::kRegExport: {
      if (command.device.empty()) return Finish(2, "", "brixdev: no device: set BRIX_DEVICE or give -d DIR\n");
      // Streamed: an export grows with the registry, so it is never held whole.
      const int status = brixdev::RegExport(command.device, command.key, [](std::string_view text) {
        const std::string shown = ForStream(text, STDOUT_FILENO);
        return std::fwrite(shown.data(), 1, shown.size(), stdout) == shown.size();
      }, &err);
      return Finish(status, out, err);
    }
    case brixdev::Action::kRegConvert: {
      const int status = brixdev::RegConvert(command.paths[0], command.output, &out, &err);
      return Finish(status, out, err);
    }
    case brixdev::Action::kCheck: {
      brixdev::CheckRequest request;
      request.paths = command.paths;
      request.device = command.device;
      request.at = brixdev::Utf16(command.at);
      request.importer = importer;
      request.json = command.json;
      const int status = brixdev::RunCheck(request, &out, &err);
      return Finish(status, out, err);
    }
    case brixdev::Action::kTry: {
      brixdev::TryRequest request;
      request.package = command.paths[0];
      request.device = command.device;
      request.at = brixdev::Utf16(command.at);
      request.installer = installer;
      request.importer = importer;
      request.json = command.json;
      request.timeoutSeconds = command.timeout;
      const int status = brixdev::RunTry(request, &out, &err);
      return Finish(status, out, err);
    }
    case brixdev::Action::kDeviceNew: {
      const int status = brixdev::RunDeviceNew(command.paths[0], importer, &out, &err);
      return Finish(status, out, err);
    }
  }
  return 2;
}
