// Command line of brixdev: options, the command and its arguments.
#pragma once

#include <string>
#include <vector>

namespace brixdev {

enum class Action { kHelp, kUsageError, kRegExport };

struct Command {
  Action action = Action::kUsageError;
  std::string device;  // the device folder; empty when neither -d nor BRIX_DEVICE names one
  std::string key;     // KEY of "reg export"; empty for the whole registry
  std::string error;   // what is wrong with the command line, for kUsageError
};

// Reads the arguments after the program name; envDevice is BRIX_DEVICE's value or nullptr.
Command ParseArgs(const std::vector<std::string>& args, const char* envDevice);

// The text that --help prints.
const char* UsageText();

}  // namespace brixdev
