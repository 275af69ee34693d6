// The command "reg export": the device registry, or one subtree of it, as a registry script.
#pragma once

#include <string>

namespace brixdev {

// Exports the registry of device folder deviceDir, or the subtree under key ("" for all),
// into *out; a failure message goes to *err. Returns the exit status: 0, 1 no such key,
// 2 no device folder or a database that cannot be read.
int RegExport(const std::string& deviceDir, const std::string& key, std::string* out, std::string* err);

}  // namespace brixdev
