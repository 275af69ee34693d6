// The command "reg convert": a desktop registry export converted into a
// registry script of the importer's dialect.
#pragma once

#include <string>

namespace brixdev {

// Converts file into output ("" for *out); the findings go to *err. Returns the exit status:
// 0 all converted, 1 something left out, 2 unreadable input or output.
int RegConvert(const std::string& file, const std::string& output, std::string* out, std::string* err);

}  // namespace brixdev
