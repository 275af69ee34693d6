// The programs' Windows GUI entry: hands the instance and the command line
// behind the program's own name to the program.
#include "platform/win32/host.h"

extern "C" int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, LPWSTR commandLine, int) {
  return plat::AppMain(plat::win32::ToOpaque<plat::Module>(instance),
                       reinterpret_cast<const char16_t*>(commandLine));
}
