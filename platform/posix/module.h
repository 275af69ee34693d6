// Modules of the device simulator: the running program's instance and host
// shared libraries loaded from the device folder.
#pragma once

#include <string>

#include "platform/platform.h"

namespace plat {

struct Module {
  void* library = nullptr;  // dlopen() handle; nullptr for the program's own instance
};

namespace posix {

// The running program's instance module (lives for the whole process).
Module* InstanceModule();
// The running program's device path, or false with a one-line explanation of why there is none.
bool ProgramDevicePath(std::u16string* devicePath, std::string* problem);

}  // namespace posix
}  // namespace plat
