// brixdev_reference: writes brixdev's manual page or bash completion, for the build.
#include <cstdio>
#include <fstream>
#include <string>

#include "brixdev/cli/manual.h"

int main(int argc, char** argv) {
  const std::string what = argc == 3 ? argv[1] : "";
  if (what != "man" && what != "bash") {
    std::fputs("Usage: brixdev_reference man|bash OUT\n", stderr);
    return 2;
  }
  std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
  out << (what == "man" ? brixdev::ManualPage() : brixdev::BashCompletion());
  if (!out.flush()) {
    std::fprintf(stderr, "brixdev_reference: cannot write %s\n", argv[2]);
    return 2;
  }
  return 0;
}
