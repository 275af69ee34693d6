// Every text of the command line lives here once; the help, the manual page and
// the completion are written from it, and docs/brixdev.md's synopsis lines are
// held equal to it by a test.
#include "brixdev/cli/command_table.h"

namespace brixdev {
namespace {

constexpr OptionSpec kCheckOptions[] = {
    {Opt::kDevice, 'd', "device", "DIR", ValueKind::kFolder,
     "the device to check against (a throw-away copy of it);\nwithout it, a fresh device", false},
    {Opt::kAt, 0, "at", "DEVICE-FOLDER", ValueKind::kDeviceFolder,
     "where the installer lies (default \\Storage Card)", false},
    {Opt::kFormat, 0, "format", "text|json|sarif", ValueKind::kChoice,
     "the findings as text (the default), as a JSON array,\nor as a SARIF 2.1.0 log", false},
    {Opt::kIgnore, 0, "ignore", "ID[,ID...]", ValueKind::kIds,
     "leave out the findings with these ids and the notes\nthat explain them (may be repeated)", false},
    {Opt::kWerror, 0, "werror", nullptr, ValueKind::kNone, "count warnings as errors for the exit status", false},
};

constexpr OptionSpec kTryOptions[] = {
    {Opt::kDevice, 'd', "device", "DIR", ValueKind::kFolder,
     "the device to use, kept afterwards (created fresh when\nit does not exist or is empty)", false},
    {Opt::kAt, 0, "at", "DEVICE-FOLDER", ValueKind::kDeviceFolder,
     "where the installer and the package go (default\n\\Storage Card)", false},
    {Opt::kFormat, 0, "format", "text|json", ValueKind::kChoice,
     "the debug output and the report as text (the default)\nor as one JSON object", false},
    {Opt::kJson, 0, "json", nullptr, ValueKind::kNone, "the same as --format json", true},
    {Opt::kTimeout, 0, "timeout", "SECONDS", ValueKind::kSeconds,
     "stop the installer and every program it started when it\nhas not ended after SECONDS (default 300; 0 waits as\n"
     "long as it runs)",
     false},
};

constexpr OptionSpec kRegExportOptions[] = {
    {Opt::kDevice, 'd', "device", "DIR", ValueKind::kFolder,
     "the device whose registry is printed (without it, the\ndevice BRIX_DEVICE names)", false},
};

constexpr OptionSpec kRegConvertOptions[] = {
    {Opt::kOutput, 'o', "output", "OUT", ValueKind::kFile,
     "write the script to OUT instead of standard output; OUT\nmust not be the input file", false},
};

constexpr OptionSpec kGlobalOptions[] = {
    {Opt::kDevice, 'd', "device", "DIR", ValueKind::kFolder,
     "the device folder of check, try and reg export; it may\nstand before or after the command", false},
};

constexpr CommandSpec kCommands[] = {
    {Action::kCheck, "check", "PATH...", 1, SIZE_MAX, OperandKind::kPath, kCheckOptions,
     "report what the device will do with a package or\nscript, and where it will surprise",
     "Reports what the device will do with each PATH and where it will surprise,\n"
     "one finding a line, sorted by file, line and column:\n"
     "  FILE:LINE:COLUMN: error|warning|note: TEXT [ID]\n"
     "followed by a summary line on standard error (\"1 error, 2 warnings, 0 notes\").\n"
     "On a terminal the severities are coloured, unless NO_COLOR is set.\n"
     "PATH is a package folder (holding BrixCopy.inf), an install script, or a\n"
     "registry script (a file whose name ends in .reg). For a package, every\n"
     "registry script that a line hands to the importer is checked too.\n"
     "\n"
     "The package is checked on a throw-away copy of the device DIR (-d), or of a\n"
     "fresh device as 'device new' makes it, in DEVICE-FOLDER\\BrixCopy (unless it\n"
     "lies inside DIR already). Copy lines are carried out there, so later lines\n"
     "see their files; programs are neither started nor registered.",
     "Exit status: 0 no errors, 1 errors found (or warnings, with --werror), 2 bad\n"
     "command line or a PATH that could not be checked (the other PATHs are checked\n"
     "all the same)."},
    {Action::kTry, "try", "PACKAGE", 1, 1, OperandKind::kFolder, kTryOptions,
     "install a package on a simulated device and report\nwhat changed",
     "Installs the package folder PACKAGE (holding BrixCopy.inf) on a simulated\n"
     "device: a fresh one, or DIR (created fresh when it does not exist). The\n"
     "installer goes to DEVICE-FOLDER\\BrixCopy.exe and the package to\n"
     "DEVICE-FOLDER\\BrixCopy (default \\Storage Card), as on a device; a package\n"
     "file named Brixparse.exe is replaced by the simulator's importer. The\n"
     "installer's first start runs, then brixdev prints its debug output and a\n"
     "report: files created and changed with their sizes, registry keys and\n"
     "values added and changed, programs started with their command lines.",
     "Exit status: 0 a clean install, 1 the installer or the importer reported a\n"
     "failure (summed up in a last line) or the installer did not end normally or\n"
     "in time, 2 bad command line, unreadable package or no usable device; 128 plus\n"
     "the signal's number when brixdev was interrupted."},
    {Action::kDeviceNew, "device new", "DIR", 1, 1, OperandKind::kFolder, {},
     "create a fresh simulated device",
     "Creates a fresh simulated device in DIR (which must not exist or be empty):\n"
     "DIR/fs with the folders \\Windows, \\Temp, \\Program Files, \\My Documents and\n"
     "\\Storage Card, and the simulator's registry importer as\n"
     "\\Windows\\Brixparse.exe. Programs built for the simulator can be copied in;\n"
     "run them with BRIX_DEVICE=DIR.",
     "Exit status: 0 created, 2 bad command line or DIR cannot be created."},
    {Action::kRegExport, "reg export", "[KEY]", 0, 1, OperandKind::kKey, kRegExportOptions,
     "print the device registry as a registry script",
     "Prints the registry of the device DIR, or the keys at and below KEY, as a\n"
     "registry script that the importer reads back. KEY is a full key path such\n"
     "as HKEY_LOCAL_MACHINE\\Software\\Vendor; its root may be written HKLM, HKCU,\n"
     "HKCR or HKU, in any case. A device has no HKEY_USERS: keys below it are\n"
     "never found.",
     "Exit status: 0 done, 1 no such key, 2 bad command line or no usable device."},
    {Action::kRegConvert, "reg convert", "FILE", 1, 1, OperandKind::kFile, kRegConvertOptions,
     "convert a desktop registry export into a registry\nscript",
     "Converts a registry export of the desktop registry editors (version 5 in\n"
     "UTF-16 with byte order mark, or REGEDIT4 in ANSI or UTF-8; CR LF or LF) into\n"
     "a registry script the importer reads as meant: escapes resolved, hex(2) and\n"
     "hex(7) data as one number per character, long data on continuation lines.\n"
     "FILE - reads standard input. What the importer cannot express (default\n"
     "values, deletions, other types, names and texts it cannot carry) is left\n"
     "out and reported on standard error as FILE:LINE:COLUMN: warning: TEXT.",
     "Exit status: 0 all converted, 1 something was left out, 2 bad command line,\n"
     "unreadable input, or OUT cannot be written or names the input."},
};

constexpr GroupSpec kGroups[] = {
    {"device", "simulated devices"},
    {"reg", "device registries and registry scripts"},
};

}  // namespace

std::span<const CommandSpec> Commands() { return kCommands; }
std::span<const GroupSpec> Groups() { return kGroups; }
std::span<const OptionSpec> GlobalOptions() { return kGlobalOptions; }

const char* OverviewText() {
  return "The workbench for installer packages and registry scripts of the device,\n"
         "and for simulated devices: a device folder DIR holds a device's files in\n"
         "DIR/fs and its registry in DIR/registry.db.";
}

const char* EnvironmentText() {
  return "BRIX_DEVICE names the device folder of reg export when -d names none. check\n"
         "and try never read it: without -d they work on a fresh throw-away device, so\n"
         "a value left in the shell neither changes what they report nor has a\n"
         "package installed onto that device. device new and reg convert use no\n"
         "device. The simulated programs themselves (BrixCopy, Brixparse) find their\n"
         "device by BRIX_DEVICE; try sets it for the installer it starts.\n"
         "NO_COLOR, when set and not empty, keeps the findings of check uncoloured on a\n"
         "terminal too.";
}

const char* Version() { return BRIXDEV_VERSION; }

std::string OptionLabel(const OptionSpec& option) {
  std::string label;
  if (option.shortName != 0) label = std::string("-") + option.shortName;
  if (option.longName != nullptr) label += (label.empty() ? "--" : ", --") + std::string(option.longName);
  if (option.value != nullptr) label += std::string(" ") + option.value;
  return label;
}

std::string Synopsis(const CommandSpec& command) {
  std::string line = std::string("brixdev ") + command.words;
  for (const OptionSpec& option : command.options) {
    if (option.alias) continue;
    line += " [";
    line += option.shortName != 0 ? std::string("-") + option.shortName : std::string("--") + option.longName;
    if (option.value != nullptr) line += std::string(" ") + option.value;
    line += "]";
  }
  return line + " " + command.operands;
}

}  // namespace brixdev
