// Options are read by each command's table alone: an option spelt as the table
// has it works wherever the command is, in every form (-d DIR, -dDIR,
// --device DIR, --device=DIR), and nothing else does.
#include "brixdev/cli/args.h"

#include <cerrno>
#include <cstdlib>
#include <optional>

#include "brixdev/checks/finding_rules.h"

namespace brixdev {
namespace {

bool IsHelp(const std::string& arg) { return arg == "-h" || arg == "--help"; }
bool IsOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

const CommandSpec* FindCommand(const std::string& words) {
  for (const CommandSpec& command : Commands())
    if (words == command.words) return &command;
  return nullptr;
}

bool IsGroup(const std::string& word) {
  for (const GroupSpec& group : Groups())
    if (word == group.word) return true;
  return false;
}

// The option of options that arg names, with the value written into arg itself
// (--name=value, -nVALUE) in *inlineValue; nullptr when none.
const OptionSpec* Match(std::span<const OptionSpec> options, const std::string& arg,
                        std::optional<std::string>* inlineValue) {
  for (const OptionSpec& option : options) {
    if (arg.rfind("--", 0) == 0 && option.longName != nullptr) {
      const std::size_t equals = arg.find('=');
      if (arg.compare(2, equals == std::string::npos ? std::string::npos : equals - 2, option.longName) != 0) continue;
      if (equals != std::string::npos) *inlineValue = arg.substr(equals + 1);
      return &option;
    }
    if (arg.rfind("--", 0) != 0 && option.shortName != 0 && arg[1] == option.shortName) {
      if (arg.size() > 2) *inlineValue = arg.substr(2);
      return &option;
    }
  }
  return nullptr;
}

std::string Spelling(const OptionSpec& option) {
  return option.longName != nullptr ? std::string("--") + option.longName : std::string("-") + option.shortName;
}

// Stores an option's value in *command; false with command->error set when the value is not one it takes.
bool Apply(const OptionSpec& option, const std::string& value, Command* command) {
  switch (option.opt) {
    case Opt::kDevice:
      command->device = value;
      if (value.empty()) command->error = "-d needs a device folder";
      return !value.empty();
    case Opt::kAt:
      command->at = value;
      if (value.empty() || (value[0] != '\\' && value[0] != '/')) {
        command->error = "--at needs a device folder beginning with a backslash, such as \\Storage Card";
        return false;
      }
      return true;
    case Opt::kFormat: {
      const std::string choices = std::string("|") + option.value + "|";
      if (value.empty() || value.find('|') != std::string::npos || choices.find("|" + value + "|") == std::string::npos) {
        std::string words = option.value;
        const std::size_t last = words.rfind('|');
        words.replace(last, 1, " or ");
        for (std::size_t bar = words.find('|'); bar != std::string::npos; bar = words.find('|')) words.replace(bar, 1, ", ");
        command->error = "--format takes " + words;
        return false;
      }
      command->format = value == "json" ? Format::kJson : value == "sarif" ? Format::kSarif : Format::kText;
      return true;
    }
    case Opt::kJson:
      command->format = Format::kJson;
      return true;
    case Opt::kTimeout: {
      char* end = nullptr;
      errno = 0;
      const unsigned long parsed = std::strtoul(value.c_str(), &end, 10);
      if (value.empty() || value[0] < '0' || value[0] > '9' || *end != 0 || errno != 0 || parsed > 86400) {
        command->error = "--timeout takes a number of seconds from 0 to 86400";
        return false;
      }
      command->timeout = static_cast<unsigned>(parsed);
      return true;
    }
    case Opt::kIgnore:
      for (std::size_t start = 0; start <= value.size();) {
        std::size_t comma = value.find(',', start);
        if (comma == std::string::npos) comma = value.size();
        const std::string id = value.substr(start, comma - start);
        if (RulesFor(id).empty()) {
          command->error = "--ignore: no finding has the id '" + id + "' (docs/brixdev.md lists them)";
          return false;
        }
        command->ignored.insert(id);
        start = comma + 1;
      }
      return true;
    case Opt::kWerror:
      command->werror = true;
      return true;
    case Opt::kOutput:
      command->output = value;
      if (value.empty()) command->error = "-o needs a file";
      return !value.empty();
  }
  return false;
}

// Reads the option at args[*i] by options, with its value; false with command->error set.
bool ReadOption(std::span<const OptionSpec> options, const std::vector<std::string>& args, std::size_t* i,
                const std::string& where, Command* command) {
  const std::string& arg = args[*i];
  std::optional<std::string> value;
  const OptionSpec* option = Match(options, arg, &value);
  if (option == nullptr) {
    command->error = "unknown option " + arg + where;
    return false;
  }
  if (option->value == nullptr) {
    if (value) command->error = "option " + Spelling(*option) + " takes no value";
    return !value && Apply(*option, "", command);
  }
  if (!value) {
    if (*i + 1 >= args.size()) {
      command->error = "option " + Spelling(*option) + " needs a value";
      return false;
    }
    value = args[++*i];
  }
  return Apply(*option, *value, command);
}

bool HasOption(const CommandSpec& command, Opt opt) {
  for (const OptionSpec& option : command.options)
    if (option.opt == opt) return true;
  return false;
}

// Reads what follows the command words: its options and arguments.
bool ReadCommand(const CommandSpec& spec, const std::vector<std::string>& args, std::size_t first, Command* command) {
  std::vector<std::string> operands;
  bool optionsEnded = false;
  for (std::size_t i = first; i < args.size(); ++i) {
    if (!optionsEnded && args[i] == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && IsOption(args[i])) {
      if (!ReadOption(spec.options, args, &i, std::string(" of ") + spec.words, command)) return false;
    } else {
      operands.push_back(args[i]);
    }
  }
  const std::string words = spec.words;
  if (operands.size() < spec.minOperands) {
    command->error = words + " needs " + (spec.maxOperands == 1 ? "one argument" : "at least one path");
    return false;
  }
  if (operands.size() > spec.maxOperands) {
    command->error = words + (spec.minOperands == 0 ? " takes at most one key" : " takes only one argument");
    return false;
  }
  if (spec.action == Action::kRegExport) {
    if (!operands.empty()) command->key = operands[0];
  } else {
    command->paths = std::move(operands);
  }
  return true;
}

}  // namespace

Command ParseArgs(const std::vector<std::string>& args, const char* envDevice) {
  Command command;
  std::size_t i = 0;
  // Options before the command.
  for (; i < args.size() && IsOption(args[i]); ++i) {
    if (IsHelp(args[i])) {
      command.action = Action::kHelp;
      return command;
    }
    if (args[i] == "--version") {
      command.action = Action::kVersion;
      return command;
    }
    if (!ReadOption(GlobalOptions(), args, &i, "", &command)) return command;
  }
  const bool deviceBefore = !command.device.empty();
  if (i >= args.size()) {
    command.error = "no command given";
    return command;
  }
  std::string name = args[i++];
  if (IsGroup(name)) {
    if (i >= args.size()) {
      command.error = name + " needs a command: see brixdev " + name + " --help";
      return command;
    }
    if (IsHelp(args[i])) {
      command.action = Action::kHelp;
      command.topic = name;
      return command;
    }
    name += " " + args[i++];
  }
  const CommandSpec* spec = FindCommand(name);
  if (spec == nullptr) {
    command.error = "unknown command " + name;
    return command;
  }
  for (std::size_t w = i; w < args.size() && args[w] != "--"; ++w) {
    if (IsHelp(args[w])) {
      command.action = Action::kHelp;
      command.topic = name;
      return command;
    }
  }
  if (deviceBefore && !HasOption(*spec, Opt::kDevice)) {
    command.error = name + " takes no device (-d)";
    return command;
  }
  if (!ReadCommand(*spec, args, i, &command)) return command;
  // Only reg export works on the device BRIX_DEVICE names: check and try take a fresh device unless -d names one.
  if (spec->action == Action::kRegExport && command.device.empty() && envDevice != nullptr) command.device = envDevice;
  command.action = spec->action;
  return command;
}

}  // namespace brixdev
