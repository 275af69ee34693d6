// brixdev: the host's workbench for packages, registry scripts and simulated devices.
#include <limits.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "brixdev/checks/sarif.h"
#include "brixdev/cli/args.h"
#include "brixdev/commands/check_command.h"
#include "brixdev/commands/device_new_command.h"
#include "brixdev/commands/reg_convert_command.h"
#include "brixdev/commands/reg_export_command.h"
#include "brixdev/commands/try_command.h"
#include "brixdev/device/device_folder.h"
#include "brixdev/text.h"
#include "platform/terminal_text.h"

namespace {

// The simulator's programs and brixdev's documentation.
struct ToolFiles {
  std::string installer, importer, docs;
};

// Found beside brixdev's own executable, so that neither PATH nor the current folder matters: in an
// installed tree PREFIX/bin/brixdev has them in PREFIX/lib/brixdev and PREFIX/share/doc/brixdev; in
// the build tree BUILD/brixdev/brixdev has them in BUILD/installer, BUILD/regimport and the sources.
ToolFiles Locate() {
  char self[PATH_MAX];
  if (realpath("/proc/self/exe", self) == nullptr) return {};
  std::string folder = self;
  folder.erase(folder.rfind('/'));
  const std::string prefix = folder.substr(0, folder.rfind('/'));
  if (folder.substr(folder.rfind('/') + 1) == "bin") {
    const std::string programs = prefix + "/" + BRIXDEV_PROGRAM_DIR + "/";
    return {programs + "BrixCopy", programs + "Brixparse", prefix + "/" + BRIXDEV_DOC_DIR + "/brixdev.md"};
  }
  return {prefix + "/installer/BrixCopy", prefix + "/regimport/Brixparse", BRIXDEV_SOURCE_DOCS};
}

std::string CurrentFolder() {
  char folder[PATH_MAX];
  return getcwd(folder, sizeof folder) != nullptr ? folder : "/";
}

// Colours only for a terminal, and never when NO_COLOR holds a value (no-color.org).
bool ColourWanted() {
  const char* noColour = std::getenv("NO_COLOR");
  return isatty(STDOUT_FILENO) == 1 && (noColour == nullptr || *noColour == 0);
}

// What brixdev prints holds a package's own text (file names, script lines,
// the programs' debug output): on a terminal its control characters are shown
// as the simulator shows them, so a package cannot drive the terminal of
// whoever looks at it; to a pipe or a file the bytes stay exact.
std::string ForStream(std::string_view text, int fd) {
  return isatty(fd) != 0 ? plat::VisibleControls(text) : std::string(text);
}

// shown: out is already made for the terminal (coloured findings, whose
// package text the colouring made visible itself).
int Finish(int status, const std::string& out, const std::string& err, bool shown = false) {
  const std::string shownOut = shown ? out : ForStream(out, STDOUT_FILENO);
  std::fwrite(shownOut.data(), 1, shownOut.size(), stdout);
  if (std::fflush(stdout) != 0) status = 2;
  std::fputs(ForStream(err, STDERR_FILENO).c_str(), stderr);
  return status;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const brixdev::Command command = brixdev::ParseArgs(args, std::getenv("BRIX_DEVICE"));
  const ToolFiles files = Locate();
  std::string out;
  std::string err;
  switch (command.action) {
    case brixdev::Action::kHelp:
      return Finish(0, brixdev::UsageText(command.topic), "");
    case brixdev::Action::kVersion:
      return Finish(0, std::string("brixdev ") + brixdev::Version() + "\n", "");
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
      request.importer = files.importer;
      request.format = command.format;
      request.ignored = command.ignored;
      request.werror = command.werror;
      request.colour = command.format == brixdev::Format::kText && ColourWanted();
      request.sarif = {brixdev::Version(), brixdev::AbsoluteFileUri(brixdev::Absolute(files.docs)), CurrentFolder()};
      const int status = brixdev::RunCheck(request, &out, &err);
      return Finish(status, out, err, request.colour);
    }
    case brixdev::Action::kTry: {
      brixdev::TryRequest request;
      request.package = command.paths[0];
      request.device = command.device;
      request.at = brixdev::Utf16(command.at);
      request.installer = files.installer;
      request.importer = files.importer;
      request.json = command.format == brixdev::Format::kJson;
      request.timeoutSeconds = command.timeout;
      const int status = brixdev::RunTry(request, &out, &err);
      return Finish(status, out, err);
    }
    case brixdev::Action::kDeviceNew: {
      const int status = brixdev::RunDeviceNew(command.paths[0], files.importer, &out, &err);
      return Finish(status, out, err);
    }
  }
  return 2;
}
