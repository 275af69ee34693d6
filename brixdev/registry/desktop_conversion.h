// A desktop registry export rewritten in the importer's own dialect, leaving
// out (and reporting) what the dialect cannot express.
#pragma once

#include <string>

#include "brixdev/checks/diagnostics.h"

namespace brixdev {

struct Conversion {
  std::string script;    // the registry script, UTF-8 with LF line ends
  Diagnostics leftOut;   // each key or value left out, at its line of the export
};

// Converts the bytes of an export; name is the export as the user named it, for the findings.
// false with *error when the bytes are no registry export or the importer's reader is unavailable.
bool ConvertExport(const std::string& bytes, const std::string& name, Conversion* out, std::string* error);

}  // namespace brixdev
