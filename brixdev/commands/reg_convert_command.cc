// The input is read whole before anything is written, and an output that is the
// input itself, by whatever path, is refused before either is touched.
#include "brixdev/commands/reg_convert_command.h"

#include <sys/stat.h>
#include <unistd.h>

#include <fstream>
#include <iostream>
#include <sstream>

#include "brixdev/registry/desktop_conversion.h"

namespace brixdev {
namespace {

// True when output names the file that input is ("-": standard input), by any path or link.
bool SameFile(const std::string& input, const std::string& output) {
  struct stat in{}, out{};
  const int read = input == "-" ? fstat(STDIN_FILENO, &in) : stat(input.c_str(), &in);
  return read == 0 && stat(output.c_str(), &out) == 0 && in.st_dev == out.st_dev && in.st_ino == out.st_ino;
}

}  // namespace

int RegConvert(const std::string& file, const std::string& output, std::string* out, std::string* err) {
  const bool standardInput = file == "-";
  const std::string name = standardInput ? "<stdin>" : file;
  if (!output.empty() && SameFile(file, output)) {
    *err = "brixdev: -o " + output + " names the input " + name + ": write the script to another file\n";
    return 2;
  }
  std::stringstream bytes;
  std::ifstream in;
  if (!standardInput) in.open(file, std::ios::binary);
  std::istream& source = standardInput ? std::cin : in;
  bytes << source.rdbuf();
  if (!source || (!standardInput && !in.is_open())) {
    *err = "brixdev: cannot read " + name + "\n";
    return 2;
  }
  Conversion conversion;
  std::string error;
  if (!ConvertExport(bytes.str(), name, &conversion, &error)) {
    *err = "brixdev: " + name + ": " + error + "\n";
    return 2;
  }
  *err = conversion.leftOut.Text();
  if (output.empty()) {
    *out = conversion.script;
  } else {
    std::ofstream target(output, std::ios::binary | std::ios::trunc);
    target << conversion.script;
    if (!target.flush()) {
      *err += "brixdev: cannot write " + output + "\n";
      return 2;
    }
  }
  return conversion.leftOut.Sorted().empty() ? 0 : 1;
}

}  // namespace brixdev
