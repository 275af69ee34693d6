// Process entry of a device program in the simulator: takes the device context
// from the environment (BRIX_DEVICE), checks that the program runs from inside
// that device, then hands the instance and the command line to the program's AppMain.
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/posix/device_context.h"
#include "platform/posix/module.h"
#include "platform/utf.h"

namespace {

// Exit status when the program is not on a simulated device; nothing is touched then.
constexpr int kNoDeviceStatus = 2;

const char* BaseName(const char* path) {
  const char* base = path;
  for (const char* p = path; *p != 0; ++p)
    if (*p == '/') base = p + 1;
  return base;
}

// The device passes one command line; more host arguments than one are joined by single blanks.
std::u16string CommandLine(int argc, char** argv) {
  std::string joined;
  for (int i = 1; i < argc; ++i) {
    if (i > 1) joined += ' ';
    joined += argv[i];
  }
  return plat::utf::ToUtf16Lenient(joined);
}

}  // namespace

int main(int argc, char** argv) {
  plat::posix::SetProcessDevice(plat::posix::ContextFromEnvironment());
  std::u16string devicePath;
  std::string problem;
  if (!plat::posix::ProgramDevicePath(&devicePath, &problem)) {
    std::fprintf(stderr, "%s: not on a simulated device: %s\n", argc > 0 ? BaseName(argv[0]) : "program",
                 problem.c_str());
    return kNoDeviceStatus;
  }
  const std::u16string commandLine = CommandLine(argc, argv);
  return plat::AppMain(plat::posix::InstanceModule(), commandLine.c_str());
}
