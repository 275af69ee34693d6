// A stand-in for a device program (the CAB installer, the VB loader, any
// started application): it records the command line it received in a file
// beside itself, "<own path>.cmdline", so tests can check what was passed.
// A program whose name begins with "slow" sleeps first, so that a waiting
// caller can be told from one that does not wait.
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>

int main(int argc, char** argv) {
  char self[4096];
  const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return 1;
  self[n] = 0;
  const char* slash = std::strrchr(self, '/');
  const char* base = slash ? slash + 1 : self;
  if (std::strncmp(base, "slow", 4) == 0) std::this_thread::sleep_for(std::chrono::seconds(1));
  std::ofstream out(std::string(self) + ".cmdline", std::ios::binary | std::ios::trunc);
  if (argc > 1) out << argv[1];
  return out.good() ? 0 : 1;
}
