#include "brixdev/commands/reg_convert_command.h"

#include <fstream>
#include <sstream>

#include "brixdev/registry/desktop_conversion.h"

namespace brixdev {

int RegConvert(const std::string& file, const std::string& output, std::string* out, std::string* err) {
  std::ifstream in(file, std::ios::binary);
  std::stringstream bytes;
  bytes << in.rdbuf();
  if (!in) {
    *err = "brixdev: cannot read " + file + "\n";
    return 2;
  }
  Conversion conversion;
  std::string error;
  if (!ConvertExport(bytes.str(), file, &conversion, &error)) {
    *err = "brixdev: " + file + ": " + error + "\n";
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
