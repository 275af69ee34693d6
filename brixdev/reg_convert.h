// The command "reg convert": a desktop registry export rewritten in the
// importer's own dialect, leaving out (and reporting) what it cannot express.
#pragma once

#include <string>

#include "brixdev/diagnostics.h"

namespace brixdev {

struct Conversion {
  std::string script;    // the registry script, UTF-8 with LF line ends
  Diagnostics leftOut;   // each key or value left out, at its line of the export
};

// Converts the bytes of an export; name is the export as the user named it, for the findings.
// false with *error when the bytes are no registry export or the importer's reader is unavailable.
bool ConvertExport(const std::string& bytes, const std::string& name, Conversion* out, std::string* error);

// Converts file into output ("" for *out); the findings go to *err. Returns the exit status:
// 0 all converted, 1 something left out, 2 unreadable input or output.
int RegConvert(const std::string& file, const std::string& output, std::string* out, std::string* err);

}  // namespace brixdev
