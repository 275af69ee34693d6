// The command "device new": a fresh simulated device.
#pragma once

#include <string>

namespace brixdev {

// Creates a fresh device in dir (absent or empty) holding importer; returns the exit status, 0 or 2.
int RunDeviceNew(const std::string& dir, const std::string& importer, std::string* out, std::string* err);

}  // namespace brixdev
