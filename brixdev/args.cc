#include "brixdev/args.h"

namespace brixdev {

const char* UsageText() {
  return "Usage: brixdev [-d DIR] COMMAND [ARGUMENTS]\n"
         "\n"
         "Works on a simulated device: the folder DIR holds the device's files in\n"
         "DIR/fs and its registry in DIR/registry.db. Without -d, DIR is the value\n"
         "of the environment variable BRIX_DEVICE.\n"
         "\n"
         "Commands:\n"
         "  reg export [KEY]  print the registry, or the keys at and below KEY (a full\n"
         "                    key path such as HKEY_LOCAL_MACHINE\\Software\\Vendor),\n"
         "                    as a registry script that the importer reads back\n"
         "\n"
         "Options:\n"
         "  -d DIR            the device folder\n"
         "  -h, --help        print this help\n"
         "\n"
         "Exit status: 0 done, 1 no such key, 2 bad command line or no usable device.\n";
}

Command ParseArgs(const std::vector<std::string>& args, const char* envDevice) {
  Command command;
  if (envDevice != nullptr) command.device = envDevice;
  std::vector<std::string> words;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      command.action = Action::kHelp;
      return command;
    }
    // Options stand before the command; behind it every word is an argument,
    // so that a key name may begin with a minus sign.
    if (!words.empty()) {
      words.push_back(arg);
    } else if (arg == "-d") {
      if (i + 1 >= args.size()) {
        command.error = "option -d needs a device folder";
        return command;
      }
      command.device = args[++i];
    } else if (arg.size() > 1 && arg[0] == '-') {
      command.error = "unknown option " + arg;
      return command;
    } else {
      words.push_back(arg);
    }
  }
  if (words.empty()) {
    command.error = "no command given";
  } else if (words.size() >= 2 && words[0] == "reg" && words[1] == "export") {
    if (words.size() > 3) {
      command.error = "reg export takes at most one key";
    } else {
      command.action = Action::kRegExport;
      if (words.size() == 3) command.key = words[2];
    }
  } else {
    std::string given = words[0];
    if (words.size() > 1) given += " " + words[1];
    command.error = "unknown command " + given;
  }
  return command;
}

}  // namespace brixdev
