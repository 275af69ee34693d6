// Findings as a SARIF 2.1.0 log, for code-scanning services.
#pragma once

#include <string>
#include <vector>

#include "brixdev/checks/diagnostics.h"

namespace brixdev {

struct SarifTool {
  std::string version;         // brixdev's version
  std::string informationUri;  // an absolute URI of brixdev's documentation
  std::string currentFolder;   // absolute host path; file locations below it are written relative to it
};

// A SARIF 2.1.0 log of one run: the tool with the rule of every id in findings (texts from the
// documented finding tables), and one result per finding.
std::string SarifLog(const std::vector<Diagnostic>& findings, const SarifTool& tool);

// The URI reference of a host file for a SARIF location: relative (percent-encoded) when the file
// lies in currentFolder or below, else an absolute file URI; relative reports which.
std::string FileUri(const std::string& file, const std::string& currentFolder, bool* relative);
// The file URI of an absolute host path.
std::string AbsoluteFileUri(const std::string& path);

}  // namespace brixdev
