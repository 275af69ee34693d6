// The command "try": install a package on a simulated device and report what
// changed.
#pragma once

#include <string>

namespace brixdev {

struct TryRequest {
  std::string package;                    // the package folder, holding BrixCopy.inf
  std::string device;                     // the device to use; empty for a fresh throw-away one
  std::u16string at = u"\\Storage Card";  // where the installer and the package go
  std::string installer, importer;        // the simulator's programs (host executables)
  bool json = false;
  unsigned timeoutSeconds = 300;          // longest wait for the installer; 0 waits as long as it runs
};

// Installs the package and reports; returns the exit status: 0 a clean install, 1 the installer
// reported a failure or did not end normally or in time, 2 unreadable package, missing programs or
// no usable device.
int RunTry(const TryRequest& request, std::string* out, std::string* err);

}  // namespace brixdev
