// The help texts, written from the command table.
#include "brixdev/cli/args.h"

namespace brixdev {
namespace {

constexpr std::size_t kLabelWidth = 22;

// One entry of a two-column listing: the label, then text (whose lines are indented to the column).
std::string Entry(const std::string& label, const std::string& text) {
  std::string out = "  " + label;
  if (label.size() < kLabelWidth) {
    out.append(kLabelWidth - label.size(), ' ');
  } else {
    out += "\n" + std::string(kLabelWidth + 2, ' ');
  }
  for (const char c : text) {
    out += c;
    if (c == '\n') out.append(kLabelWidth + 2, ' ');
  }
  return out + "\n";
}

std::string Indented(const std::string& text) {
  std::string out = "  ";
  for (const char c : text) {
    out += c;
    if (c == '\n') out += "  ";
  }
  return out + "\n";
}

std::string CommandHelp(const CommandSpec& command) {
  std::string out = "Usage: " + Synopsis(command) + "\n\n" + command.description + "\n\nOptions:\n";
  for (const OptionSpec& option : command.options) out += Entry(OptionLabel(option), option.help);
  out += Entry("-h, --help", "print this help");
  return out + "\n" + command.exitStatus + "\n";
}

std::string GroupHelp(const GroupSpec& group) {
  const std::string word = group.word;
  std::string out = "Usage: brixdev " + word + " COMMAND [OPTIONS] [ARGUMENTS]\n\nCommands for " + group.summary +
                    ":\n";
  for (const CommandSpec& command : Commands()) {
    const std::string words = command.words;
    if (words.rfind(word + " ", 0) != 0) continue;
    out += Entry(words.substr(word.size() + 1) + " " + command.operands, command.summary);
  }
  return out + "\nEach command prints its own help: brixdev " + word + " COMMAND --help.\n";
}

std::string Overview() {
  std::string out = "Usage: brixdev [-d DIR] COMMAND [OPTIONS] [ARGUMENTS]\n       brixdev --help | --version\n\n" +
                    std::string(OverviewText()) + "\n\nCommands:\n";
  for (const CommandSpec& command : Commands())
    out += Entry(std::string(command.words) + " " + command.operands, command.summary);
  out += "\nOptions:\n";
  for (const OptionSpec& option : GlobalOptions()) out += Entry(OptionLabel(option), option.help);
  out += Entry("-h, --help", "print this help; COMMAND --help prints the command's");
  out += Entry("--version", "print brixdev's version");
  return out + "\nEnvironment:\n" + Indented(EnvironmentText()) + "\nExit status: see each command's help.\n";
}

}  // namespace

std::string UsageText(const std::string& topic) {
  for (const CommandSpec& command : Commands())
    if (topic == command.words) return CommandHelp(command);
  for (const GroupSpec& group : Groups())
    if (topic == group.word) return GroupHelp(group);
  return Overview();
}

}  // namespace brixdev
