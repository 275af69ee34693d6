#include "brixdev/cli/args.h"

#include <cerrno>
#include <cstddef>
#include <cstdlib>

namespace brixdev {
namespace {

constexpr const char* kOverview =
    "Usage: brixdev [-d DIR] COMMAND [ARGUMENTS]\n"
    "\n"
    "The workbench for installer packages and registry scripts of the device,\n"
    "and for simulated devices: the folder DIR holds a device's files in DIR/fs\n"
    "and its registry in DIR/registry.db. Without -d, DIR is the value of the\n"
    "environment variable BRIX_DEVICE.\n"
    "\n"
    "Commands:\n"
    "  check PATH...         report what the device will do with a package or\n"
    "                        script, and where it will surprise\n"
    "  try PACKAGE           install a package on a simulated device and report\n"
    "                        what changed\n"
    "  device new DIR        create a fresh simulated device\n"
    "  reg export [KEY]      print the device registry as a registry script\n"
    "  reg convert FILE      convert a desktop registry export into a registry script\n"
    "\n"
    "Options:\n"
    "  -d DIR                the device folder\n"
    "  -h, --help            print this help; COMMAND --help prints the command's\n";

constexpr const char* kCheckHelp =
    "Usage: brixdev [-d DIR] check [--format text|json] [--at DEVICE-FOLDER] PATH...\n"
    "\n"
    "Reports what the device will do with each PATH and where it will surprise,\n"
    "one finding a line, sorted by file, line and column:\n"
    "  FILE:LINE:COLUMN: error|warning|note: TEXT [ID]\n"
    "PATH is a package folder (holding BrixCopy.inf), an install script, or a\n"
    "registry script (a file whose name ends in .reg). For a package, every\n"
    "registry script that a line hands to the importer is checked too.\n"
    "\n"
    "The package is checked on a throw-away copy of the device DIR (-d), or of a\n"
    "fresh device as 'device new' makes it, in DEVICE-FOLDER\\BrixCopy (unless it\n"
    "lies inside DIR already). Copy lines are carried out there, so later lines\n"
    "see their files; programs are neither started nor registered.\n"
    "\n"
    "Options:\n"
    "  --format json         the findings as a JSON array\n"
    "  --at DEVICE-FOLDER    where the installer lies (default \\Storage Card)\n"
    "  -d DIR                the device to check against\n"
    "\n"
    "Exit status: 0 no errors, 1 errors found, 2 bad command line or a PATH that\n"
    "could not be checked (the other PATHs are checked all the same).\n";

constexpr const char* kTryHelp =
    "Usage: brixdev try PACKAGE [-d DIR] [--at DEVICE-FOLDER] [--json] [--timeout SECONDS]\n"
    "\n"
    "Installs the package folder PACKAGE (holding BrixCopy.inf) on a simulated\n"
    "device: a fresh one, or DIR (created fresh when it does not exist). The\n"
    "installer goes to DEVICE-FOLDER\\BrixCopy.exe and the package to\n"
    "DEVICE-FOLDER\\BrixCopy (default \\Storage Card), as on a device; a package\n"
    "file named Brixparse.exe is replaced by the simulator's importer. The\n"
    "installer's first start runs, then brixdev prints its debug output and a\n"
    "report: files created and changed with their sizes, registry keys and\n"
    "values added and changed, programs started with their command lines.\n"
    "\n"
    "Options:\n"
    "  -d DIR                the device to use (kept afterwards)\n"
    "  --at DEVICE-FOLDER    where the installer and the package go\n"
    "  --json                the debug output and the report as one JSON object\n"
    "  --timeout SECONDS     stop the installer and every program it started when\n"
    "                        it has not ended after SECONDS (default 300; 0 waits\n"
    "                        as long as it runs)\n"
    "\n"
    "Exit status: 0 a clean install, 1 the installer or the importer reported a\n"
    "failure (summed up in a last line) or the installer did not end normally or\n"
    "in time, 2 bad command line, unreadable package or no usable device; 128 plus\n"
    "the signal's number when brixdev was interrupted.\n";

constexpr const char* kDeviceNewHelp =
    "Usage: brixdev device new DIR\n"
    "\n"
    "Creates a fresh simulated device in DIR (which must not exist or be empty):\n"
    "DIR/fs with the folders \\Windows, \\Temp, \\Program Files, \\My Documents and\n"
    "\\Storage Card, and the simulator's registry importer as\n"
    "\\Windows\\Brixparse.exe. Programs built for the simulator can be copied in;\n"
    "run them with BRIX_DEVICE=DIR.\n"
    "\n"
    "Exit status: 0 created, 2 bad command line or DIR cannot be created.\n";

constexpr const char* kRegExportHelp =
    "Usage: brixdev [-d DIR] reg export [KEY]\n"
    "\n"
    "Prints the registry of the device DIR, or the keys at and below KEY (a full\n"
    "key path such as HKEY_LOCAL_MACHINE\\Software\\Vendor), as a registry script\n"
    "that the importer reads back.\n"
    "\n"
    "Exit status: 0 done, 1 no such key, 2 bad command line or no usable device.\n";

constexpr const char* kRegConvertHelp =
    "Usage: brixdev reg convert FILE [-o OUT]\n"
    "\n"
    "Converts a registry export of the desktop registry editors (version 5 in\n"
    "UTF-16 with byte order mark, or REGEDIT4 in ANSI or UTF-8; CR LF or LF) into\n"
    "a registry script the importer reads as meant: escapes resolved, hex(2) and\n"
    "hex(7) data as one number per character, long data on continuation lines.\n"
    "What the importer cannot express (default values, deletions, other types,\n"
    "names and texts it cannot carry) is left out and reported on standard error\n"
    "as FILE:LINE:COLUMN: warning: TEXT.\n"
    "\n"
    "Options:\n"
    "  -o OUT                write the script to OUT instead of standard output\n"
    "\n"
    "Exit status: 0 all converted, 1 something was left out, 2 bad command line or\n"
    "unreadable input.\n";

bool IsHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }

// Reads the options and arguments behind the command words; false with command->error set.
bool ParseCommandArgs(const std::vector<std::string>& words, std::size_t first, Command* command) {
  bool optionsEnded = false;
  for (std::size_t i = first; i < words.size(); ++i) {
    const std::string& arg = words[i];
    const bool option = !optionsEnded && arg.size() > 1 && arg[0] == '-';
    if (!option) {
      command->paths.push_back(arg);
      continue;
    }
    const Action action = command->action;
    auto value = [&](std::string* into) {
      if (i + 1 >= words.size()) {
        command->error = "option " + arg + " needs a value";
        return false;
      }
      *into = words[++i];
      return true;
    };
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "-d" && (action == Action::kCheck || action == Action::kTry)) {
      if (!value(&command->device)) return false;
    } else if (arg == "--at" && (action == Action::kCheck || action == Action::kTry)) {
      if (!value(&command->at)) return false;
      if (command->at.empty() || (command->at[0] != '\\' && command->at[0] != '/')) {
        command->error = "--at needs a device folder beginning with a backslash, such as \\Storage Card";
        return false;
      }
    } else if (arg == "--format" && action == Action::kCheck) {
      std::string format;
      if (!value(&format)) return false;
      if (format != "text" && format != "json") {
        command->error = "--format takes text or json";
        return false;
      }
      command->json = format == "json";
    } else if (arg == "--json" && action == Action::kTry) {
      command->json = true;
    } else if (arg == "--timeout" && action == Action::kTry) {
      std::string seconds;
      if (!value(&seconds)) return false;
      char* end = nullptr;
      errno = 0;
      const unsigned long parsed = std::strtoul(seconds.c_str(), &end, 10);
      if (seconds.empty() || seconds[0] < '0' || seconds[0] > '9' || *end != 0 || errno != 0 || parsed > 86400) {
        command->error = "--timeout takes a number of seconds from 0 to 86400";
        return false;
      }
      command->timeout = static_cast<unsigned>(parsed);
    } else if (arg == "-o" && action == Action::kRegConvert) {
      if (!value(&command->output)) return false;
    } else {
      command->error = "unknown option " + arg;
      return false;
    }
  }
  return true;
}

struct CommandName {
  const char* words;
  Action action;
  std::size_t minPaths, maxPaths;
};

constexpr CommandName kCommands[] = {
    {"check", Action::kCheck, 1, SIZE_MAX},
    {"try", Action::kTry, 1, 1},
    {"device new", Action::kDeviceNew, 1, 1},
    {"reg convert", Action::kRegConvert, 1, 1},
};

}  // namespace

std::string UsageText(const std::string& topic) {
  if (topic == "check") return kCheckHelp;
  if (topic == "try") return kTryHelp;
  if (topic == "device new") return kDeviceNewHelp;
  if (topic == "reg export") return kRegExportHelp;
  if (topic == "reg convert") return kRegConvertHelp;
  return std::string(kOverview) + "\nExit status: see each command's help.\n";
}

Command ParseArgs(const std::vector<std::string>& args, const char* envDevice) {
  Command command;
  std::size_t i = 0;
  // Options before the command.
  for (; i < args.size() && args[i].size() > 1 && args[i][0] == '-'; ++i) {
    if (IsHelp(args[i])) {
      command.action = Action::kHelp;
      return command;
    }
    if (args[i] != "-d") {
      command.error = "unknown option " + args[i];
      return command;
    }
    if (i + 1 >= args.size()) {
      command.error = "option -d needs a device folder";
      return command;
    }
    command.device = args[++i];
  }
  // Only reg export works on the device BRIX_DEVICE names: check and try take a fresh device unless -d names one.
  const bool deviceGiven = !command.device.empty();
  if (!deviceGiven && envDevice != nullptr) command.device = envDevice;
  const std::vector<std::string> words(args.begin() + static_cast<std::ptrdiff_t>(i), args.end());
  if (words.empty()) {
    command.error = "no command given";
    return command;
  }
  const std::string two = words.size() >= 2 ? words[0] + " " + words[1] : words[0];
  const bool pair = words[0] == "reg" || words[0] == "device";
  for (std::size_t w = 1; w < words.size(); ++w) {
    if (IsHelp(words[w])) {
      command.action = Action::kHelp;
      command.topic = pair && w >= 2 ? two : words[0];
      return command;
    }
  }
  if (two == "reg export") {
    // Behind the command every word is an argument, so that a key name may begin with a minus sign.
    if (words.size() > 3) {
      command.error = "reg export takes at most one key";
    } else {
      command.action = Action::kRegExport;
      if (words.size() == 3) command.key = words[2];
    }
    return command;
  }
  for (const CommandName& name : kCommands) {
    const std::string words0 = name.words;
    const bool twoWords = words0.find(' ') != std::string::npos;
    if ((twoWords ? two : words[0]) != words0) continue;
    command.action = name.action;
    if (!deviceGiven) command.device.clear();
    if (!ParseCommandArgs(words, twoWords ? 2 : 1, &command)) {
      command.action = Action::kUsageError;
      return command;
    }
    if (command.paths.size() < name.minPaths || command.paths.size() > name.maxPaths) {
      command.error = words0 + (command.paths.size() < name.minPaths ? " needs " : " takes only ") +
                      (name.maxPaths == 1 ? "one argument" : "at least one path");
      command.action = Action::kUsageError;
    }
    return command;
  }
  command.error = "unknown command " + two;
  return command;
}

}  // namespace brixdev
