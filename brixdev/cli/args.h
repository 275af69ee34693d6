// Command line of brixdev: options, the command and its arguments, read by the
// command table (brixdev/cli/command_table.h).
#pragma once

#include <set>
#include <string>
#include <vector>

#include "brixdev/checks/diagnostics.h"
#include "brixdev/cli/command_table.h"

namespace brixdev {

struct Command {
  Action action = Action::kUsageError;
  std::string device;      // the device folder; empty when neither -d nor (for reg export) BRIX_DEVICE names one
  std::string key;         // KEY of "reg export"; empty for the whole registry
  std::vector<std::string> paths;  // PATH... of check, PACKAGE of try, FILE of reg convert, DIR of device new
  std::string output;      // -o OUT of reg convert; empty for standard output
  std::string at = "\\Storage Card";  // --at: the device folder the installer and the package go to
  Format format = Format::kText;       // --format (and try's --json)
  std::set<std::string> ignored;       // --ignore of check: finding ids left out
  bool werror = false;     // --werror of check: warnings count as errors for the exit status
  unsigned timeout = 300;  // --timeout of try, in seconds; 0 for none
  std::string topic;       // the command or group whose help kHelp prints; empty for the overview
  std::string error;       // what is wrong with the command line, for kUsageError
};

// Reads the arguments after the program name; envDevice is BRIX_DEVICE's value or nullptr.
Command ParseArgs(const std::vector<std::string>& args, const char* envDevice);

// The text that --help prints: the overview for an empty topic, else the group's or the command's own.
std::string UsageText(const std::string& topic = "");

}  // namespace brixdev
