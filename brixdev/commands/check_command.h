// The command "check": packages, install scripts and registry scripts checked
// on a throw-away simulated device.
#pragma once

#include <string>
#include <vector>

namespace brixdev {

struct CheckRequest {
  std::vector<std::string> paths;       // package folders, install scripts, registry scripts
  std::string device;                   // the device to check against; empty for a fresh one
  std::u16string at = u"\\Storage Card";  // where the installer lies: the package goes to AT\BrixCopy
  std::string importer;                 // the importer a fresh device holds (a host program)
  bool json = false;                    // the findings as JSON
};

// Checks every path; the report goes to *out, problems with the input to *err.
// Returns the exit status: 0 no errors, 1 errors found, 2 unreadable input.
int RunCheck(const CheckRequest& request, std::string* out, std::string* err);

}  // namespace brixdev
