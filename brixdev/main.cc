// brixdev: the host's companion tool for a simulated device.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "brixdev/args.h"
#include "brixdev/reg_export.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  const brixdev::Command command = brixdev::ParseArgs(args, std::getenv("BRIX_DEVICE"));
  switch (command.action) {
    case brixdev::Action::kHelp:
      std::fputs(brixdev::UsageText(), stdout);
      return 0;
    case brixdev::Action::kUsageError:
      std::fprintf(stderr, "brixdev: %s\nTry 'brixdev --help'.\n", command.error.c_str());
      return 2;
    case brixdev::Action::kRegExport:
      break;
  }
  if (command.device.empty()) {
    std::fputs("brixdev: no device: set BRIX_DEVICE or give -d DIR\n", stderr);
    return 2;
  }
  std::string err;
  const int status = brixdev::RegExport(command.device, command.key, [](std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size();
  }, &err);
  std::fputs(err.c_str(), stderr);
  if (std::fflush(stdout) != 0) return 2;
  return status;
}
