// Both are written from the same tables as the help: a command or option added
// there shows in the manual page and completes in the shell with no other edit.
#include "brixdev/cli/manual.h"

#include <set>
#include <vector>

#include "brixdev/checks/finding_rules.h"
#include "brixdev/cli/args.h"

namespace brixdev {
namespace {

// Text for man(7): backslashes and minus signs escaped, line breaks as blanks when filled.
std::string Roff(const std::string& text, bool fill = true) {
  std::string out;
  for (const char c : text) {
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c == '\n' && fill) {
      out += ' ';
    } else {
      out += c;
    }
  }
  return out;
}

// A help paragraph as man(7) text: paragraphs filled, lines indented by two blanks kept as they are.
std::string Paragraphs(const std::string& text) {
  std::string out = ".PP\n";
  bool literal = false;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    const bool indented = line.rfind("  ", 0) == 0;
    if (indented != literal) out += indented ? ".nf\n" : ".fi\n";
    literal = indented;
    if (line.empty()) {
      out += ".PP\n";
    } else {
      out += (line[0] == '.' || line[0] == '\'' ? "\\&" : "") + Roff(line, false) + "\n";
    }
    start = end + 1;
  }
  return out + (literal ? ".fi\n" : "");
}

std::string OptionItems(std::span<const OptionSpec> options) {
  std::string out;
  for (const OptionSpec& option : options) out += ".TP\n.B " + Roff(OptionLabel(option)) + "\n" + Roff(option.help) + "\n";
  return out;
}

// The words of a shell case pattern naming an option: "-d|--device".
std::string Pattern(const OptionSpec& option) {
  std::string out;
  if (option.shortName != 0) out = std::string("-") + option.shortName;
  if (option.longName != nullptr) out += (out.empty() ? "--" : "|--") + std::string(option.longName);
  return out;
}

// The shell code that completes the value of option in $cur.
std::string ValueCompletion(const OptionSpec& option) {
  switch (option.kind) {
    case ValueKind::kChoice: {
      std::string words = option.value;
      for (char& c : words)
        if (c == '|') c = ' ';
      return "COMPREPLY=($(compgen -W '" + words + "' -- \"$cur\"))";
    }
    case ValueKind::kFolder:
      return "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\"))";
    case ValueKind::kFile:
      return "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\"))";
    case ValueKind::kIds:
      return "_brixdev_ids";
    case ValueKind::kNone:
    case ValueKind::kDeviceFolder:
    case ValueKind::kSeconds:
      break;
  }
  return "COMPREPLY=()";
}

std::string OperandCompletion(OperandKind kind) {
  switch (kind) {
    case OperandKind::kPath:
    case OperandKind::kFile:
      return "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -f -- \"$cur\"))";
    case OperandKind::kFolder:
      return "compopt -o filenames 2>/dev/null; COMPREPLY=($(compgen -d -- \"$cur\"))";
    case OperandKind::kKey:
      return "COMPREPLY=($(compgen -W 'HKEY_LOCAL_MACHINE HKEY_CURRENT_USER HKEY_CLASSES_ROOT' -- \"$cur\"))";
  }
  return "COMPREPLY=()";
}

// The case arm completing the options, option values and arguments of one command.
std::string CommandArm(const CommandSpec& command) {
  std::string out = "    '" + std::string(command.words) + "')\n      case \"$prev\" in\n";
  std::string names;
  for (const OptionSpec& option : command.options) {
    if (option.value != nullptr)
      out += "        " + Pattern(option) + ") " + ValueCompletion(option) + "; return ;;\n";
    if (option.shortName != 0) names += std::string(" -") + option.shortName;
    if (option.longName != nullptr) names += std::string(" --") + option.longName;
  }
  out += "      esac\n      if [[ $cur == -* ]]; then\n        COMPREPLY=($(compgen -W '" + names.substr(names.empty() ? 0 : 1) +
         (names.empty() ? "" : " ") + "-h --help' -- \"$cur\"))\n      else\n        " +
         OperandCompletion(command.operandKind) + "\n      fi ;;\n";
  return out;
}

}  // namespace

std::string ManualPage() {
  std::string out = ".TH BRIXDEV 1 \"\" \"brixdev " + std::string(Version()) + "\" \"User Commands\"\n" +
                    ".SH NAME\nbrixdev \\- the workbench for installer packages, registry scripts and simulated devices\n" +
                    ".SH SYNOPSIS\n.nf\nbrixdev [\\-d DIR] COMMAND [OPTIONS] [ARGUMENTS]\n";
  for (const CommandSpec& command : Commands()) out += Roff(Synopsis(command)) + "\n";
  out += "brixdev \\-\\-help | \\-\\-version\n.fi\n.SH DESCRIPTION\n" + Paragraphs(OverviewText());
  out += ".SH OPTIONS\n" + OptionItems(GlobalOptions()) +
         ".TP\n.B \\-h, \\-\\-help\nprint the overview; COMMAND \\-\\-help prints the command's help\n"
         ".TP\n.B \\-\\-version\nprint brixdev's version\n.SH COMMANDS\n";
  for (const CommandSpec& command : Commands()) {
    out += ".SS \"" + Roff(std::string(command.words) + " " + command.operands) + "\"\n" + Paragraphs(command.description);
    if (!command.options.empty()) out += ".PP\nOptions:\n" + OptionItems(command.options);
    out += Paragraphs(command.exitStatus);
  }
  return out + ".SH ENVIRONMENT\n" + Paragraphs(EnvironmentText()) +
         ".SH SEE ALSO\nThe finding tables and examples of every command in brixdev.md, installed in\n"
         "share/doc/brixdev beside share/man.\n";
}

std::string BashCompletion() {
  std::set<std::string> ids;
  for (const FindingRule& rule : FindingRules()) ids.insert(rule.id);
  std::string idList;
  for (const std::string& id : ids) idList += (idList.empty() ? "" : " ") + id;
  // Options that take a value, so that the scan for the command passes over the value too.
  std::set<std::string> valued;
  const auto noteValued = [&](std::span<const OptionSpec> options) {
    for (const OptionSpec& option : options)
      if (option.value != nullptr) valued.insert(Pattern(option));
  };
  noteValued(GlobalOptions());
  for (const CommandSpec& command : Commands()) noteValued(command.options);
  std::string valuedPattern;
  for (const std::string& pattern : valued) valuedPattern += (valuedPattern.empty() ? "" : "|") + pattern;

  std::string firstWords, globalValues, groupWords = " ", groupArms, commandArms;
  for (const GroupSpec& group : Groups()) {
    const std::string word = group.word;
    firstWords += word + " ";
    groupWords += word + " ";
    std::string subcommands;
    for (const CommandSpec& command : Commands()) {
      const std::string words = command.words;
      if (words.rfind(word + " ", 0) == 0) subcommands += words.substr(word.size() + 1) + " ";
    }
    groupArms += "    " + word + ") COMPREPLY=($(compgen -W '" + subcommands + "--help' -- \"$cur\")) ;;\n";
  }
  for (const CommandSpec& command : Commands()) {
    const std::string words = command.words;
    if (words.find(' ') == std::string::npos) firstWords += words + " ";
    commandArms += CommandArm(command);
  }
  for (const OptionSpec& option : GlobalOptions()) {
    for (const char c : Pattern(option)) firstWords += c == '|' ? ' ' : c;
    firstWords += " ";
    globalValues += "        " + Pattern(option) + ") " + ValueCompletion(option) + "; return ;;\n";
  }
  return "# bash completion for brixdev, written by its build from brixdev's option tables.\n\n"
         "# Completes the finding ids of --ignore, after the commas of the ids already given.\n"
         "_brixdev_ids() {\n"
         "  local done=\"\" id\n"
         "  [[ $cur == *,* ]] && done=${cur%,*},\n"
         "  COMPREPLY=()\n"
         "  for id in " + idList + "; do\n"
         "    [[ $done$id == \"$cur\"* ]] && COMPREPLY+=(\"$done$id\")\n"
         "  done\n"
         "}\n\n"
         "_brixdev() {\n"
         "  local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]} command=\"\" word i\n"
         "  # The command: its first word, and the second after a word that groups commands.\n"
         "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "    word=${COMP_WORDS[i]}\n"
         "    case $word in\n"
         "      " + valuedPattern + ") ((i++)) ;;\n"
         "      -*) ;;\n"
         "      *)\n"
         "        if [[ -z $command ]]; then\n"
         "          command=$word\n"
         "        elif [[ $command != *' '* && '" + groupWords + "' == *\" $command \"* ]]; then\n"
         "          command=\"$command $word\"\n"
         "        fi ;;\n"
         "    esac\n"
         "  done\n"
         "  case $command in\n"
         "    '')\n"
         "      case $prev in\n" + globalValues +
         "      esac\n"
         "      COMPREPLY=($(compgen -W '" + firstWords + "--help --version' -- \"$cur\")) ;;\n" +
         groupArms + commandArms +
         "  esac\n"
         "}\n"
         "complete -F _brixdev brixdev\n";
}

}  // namespace brixdev
