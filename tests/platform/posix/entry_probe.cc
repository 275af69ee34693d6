// A device program for the simulator's entry tests: prints its module path and
// command line on stdout as "path|command line", and exits with 7 when told "exit7".
#include <cstdio>
#include <string>

#include "platform/platform.h"
#include "platform/utf.h"
#include "platform/wstr.h"

int plat::AppMain(Module* instance, const char16_t* commandLine) {
  if (instance == nullptr) return 3;
  char16_t path[kMaxPath];
  if (ModuleFileName(path, kMaxPath) == 0) return 4;
  char16_t tiny[4];
  if (ModuleFileName(tiny, 4) != 0 || LastError() != 122) return 5;
  std::printf("%s|%s", utf::ToUtf8Lenient(path).c_str(), utf::ToUtf8Lenient(commandLine).c_str());
  return wstr::Cmp(commandLine, u"exit7") == 0 ? 7 : 0;
}
