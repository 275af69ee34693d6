// The command "reg export": the device registry, or one subtree of it, as a registry script.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace brixdev {

// Receives the export piece by piece; false when it cannot take more.
using ExportSink = std::function<bool(std::string_view text)>;

// Exports the registry of device folder deviceDir, or the subtree under key ("" for
// all), key by key into out, so that time and memory grow with the export and no
// more; a failure message goes to *err. Returns the exit status: 0, 1 no such key
// (nothing written), 2 no device folder, a database that cannot be read, or a sink
// that takes no more.
int RegExport(const std::string& deviceDir, const std::string& key, const ExportSink& out, std::string* err);

}  // namespace brixdev
