// The command "check": packages, install scripts and registry scripts checked
// on a throw-away simulated device.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "brixdev/checks/sarif.h"

namespace brixdev {

struct CheckRequest {
  std::vector<std::string> paths;       // package folders, install scripts, registry scripts
  std::string device;                   // the device to check against; empty for a fresh one
  std::u16string at = u"\\Storage Card";  // where the installer lies: the package goes to AT\BrixCopy
  std::string importer;                 // the importer a fresh device holds (a host program)
  Format format = Format::kText;        // how the findings are written
  std::set<std::string> ignored;        // finding ids left out, with the notes that explain them
  bool werror = false;                  // warnings count as errors for the exit status
  bool colour = false;                  // text with terminal colours
  SarifTool sarif;                      // what a SARIF log says of brixdev
};

// Checks every path; the report goes to *out, its summary line (text only) and problems with the
// input to *err. Returns the exit status: 0 no errors, 1 errors found (or warnings, with werror),
// 2 unreadable input.
int RunCheck(const CheckRequest& request, std::string* out, std::string* err);

}  // namespace brixdev
