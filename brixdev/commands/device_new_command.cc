#include "brixdev/commands/device_new_command.h"

#include <unistd.h>

#include "brixdev/device/device_folder.h"

namespace brixdev {

int RunDeviceNew(const std::string& dir, const std::string& importer, std::string* out, std::string* err) {
  if (access(dir.c_str(), F_OK) == 0 && !IsEmptyFolder(dir)) {
    *err = "brixdev: " + dir + " exists and is not an empty folder\n";
    return 2;
  }
  std::string error;
  if (!CreateDevice(dir, importer, &error)) {
    *err = "brixdev: " + error + "\n";
    return 2;
  }
  *out = "created the device " + dir + "; run its programs with BRIX_DEVICE=" + Absolute(dir) + "\n";
  return 0;
}

}  // namespace brixdev
