// A component library for tests: its registration export leaves a file
// "<own path>.registered" beside the library, proving that it was called.
#include <dlfcn.h>

#include <fstream>
#include <string>

extern "C" __attribute__((visibility("default"))) int DllRegisterServer() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info) == 0 || !info.dli_fname) return 1;
  std::ofstream out(std::string(info.dli_fname) + ".registered", std::ios::binary | std::ios::trunc);
  out << "registered\n";
  return out.good() ? 0 : 1;
}
