// Checks of an install script: what the installer will do with each line and
// where that will surprise, found with the installer's own line rules and
// carried out, for its copy lines, on the throw-away check device.
#pragma once

#include <functional>
#include <map>
#include <string>

#include "brixdev/checks/diagnostics.h"

namespace brixdev {

class CheckDevice;

// The install script to check, on the active check device.
struct InstallScript {
  std::u16string packageDir;       // the package directory on the device, without trailing backslash
  std::u16string path;             // the script on the device
  std::string name;                // the script as the user named it, for the findings
  bool installersAssumed = false;  // the device's CAB installer and VB loader count as present
  CheckDevice* device = nullptr;   // the check device, told of copies and of files about to be read
};

// A run line that starts the registry importer, and where it stands in the script.
struct ImporterRun {
  std::u16string commandLine;  // the importer's command line
  bool hasCommandLine = false;
  int line = 1;
  int column = 1;
  // Files the check's copy lines wrote so far: each destination's path key and the source it came from.
  const std::map<std::u16string, std::u16string>* copiedFrom = nullptr;
};

// Checks the script line by line as the installer reads it, carrying out its copy lines on the
// check device with the installer's own code so that later lines see their files. Each run line
// that starts the importer is handed to importerRun as it is met. false, *error set, when the
// script cannot be read.
bool CheckInstallScript(const InstallScript& script, Diagnostics* out,
                        const std::function<void(const ImporterRun&)>& importerRun, std::string* error);

}  // namespace brixdev
