// The commands of brixdev and their options, one table each: the single
// source of the parsing, the help, the manual page and the shell completion.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace brixdev {

enum class Action { kHelp, kVersion, kUsageError, kRegExport, kRegConvert, kCheck, kTry, kDeviceNew };

enum class Opt { kDevice, kAt, kFormat, kJson, kTimeout, kIgnore, kWerror, kOutput };

// What an option's value is, for its check and its completion.
enum class ValueKind { kNone, kChoice, kFolder, kFile, kDeviceFolder, kSeconds, kIds };

struct OptionSpec {
  Opt opt;
  char shortName;        // 'd' for -d; 0 for none
  const char* longName;  // "device" for --device; nullptr for none
  const char* value;     // the value as help names it ("DIR", "text|json"); nullptr for a flag
  ValueKind kind;
  const char* help;      // what it does; lines broken with \n
  bool alias;            // another spelling of an option: listed, but left out of the synopsis
};

// What a command's arguments are, for their completion.
enum class OperandKind { kPath, kFolder, kFile, kKey };

struct CommandSpec {
  Action action;
  const char* words;         // "check", "reg export"
  const char* operands;      // "PATH...", "[KEY]"
  std::size_t minOperands, maxOperands;
  OperandKind operandKind;
  std::span<const OptionSpec> options;
  const char* summary;       // one line for the overview
  const char* description;   // the paragraphs of its help
  const char* exitStatus;    // the exit status paragraph
};

// A first word that only groups commands: "reg", "device".
struct GroupSpec {
  const char* word;
  const char* summary;
};

// The commands, in the order the overview lists them.
std::span<const CommandSpec> Commands();
// The words that group commands.
std::span<const GroupSpec> Groups();
// The options that may stand before the command.
std::span<const OptionSpec> GlobalOptions();
// The paragraph of the overview that says what brixdev is.
const char* OverviewText();
// The environment variables brixdev reads, with what they do and do not do.
const char* EnvironmentText();
// brixdev's version, X.Y.Z.
const char* Version();

// The synopsis of a command: "brixdev check [-d DIR] ... PATH...".
std::string Synopsis(const CommandSpec& command);
// An option as help lists it: "-d, --device DIR".
std::string OptionLabel(const OptionSpec& option);

}  // namespace brixdev
