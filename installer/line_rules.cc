#include "installer/line_rules.h"

#include <cstddef>

#include "platform/wstr.h"

namespace brixcopy {
namespace {

constexpr const char16_t* kActions[] = {u"-r", u"-e", u"-x"};

bool IsOptionBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// True when the unit at i of options belongs to an occurrence of one of the action options.
bool InAction(const char16_t* options, std::size_t i) {
  const auto at = [&](std::size_t k) {
    return options[k] == u'-' && (options[k + 1] == u'r' || options[k + 1] == u'e' || options[k + 1] == u'x');
  };
  return at(i) || (i > 0 && at(i - 1));
}

// What the options leave unused: all of them when they choose no action; else
// every action named after the chosen one, and each run of other text.
void ReportOptions(LineObserver& observer, const char16_t* options, LineAction action) {
  const std::size_t length = wstr::Len(options);
  std::size_t begin = 0, end = length;
  while (begin < end && IsOptionBlank(options[begin])) ++begin;
  while (end > begin && IsOptionBlank(options[end - 1])) --end;
  if (begin == end) return;
  if (action == LineAction::kCopy) {
    observer.Decided(Decision::kNoActionOptions, options + begin, end - begin);
    return;
  }
  int named = 0;
  for (const char16_t* option : kActions) named += wstr::Str(options, option) != nullptr ? 1 : 0;
  if (named > 1) observer.Decided(Decision::kSeveralActions, options + begin, end - begin);
  for (std::size_t i = begin; i < end;) {
    if (IsOptionBlank(options[i]) || InAction(options, i)) {
      ++i;
      continue;
    }
    const std::size_t run = i;
    while (i < end && !IsOptionBlank(options[i]) && !InAction(options, i)) ++i;
    observer.Decided(Decision::kIgnoredOptionText, options + run, i - run);
  }
}

}  // namespace

const char16_t* ScriptLineText(const char16_t* line, LineObserver* observer) {
  // Only spaces are removed: a tab-indented comment is a line like any other.
  while (*line == u' ') ++line;
  if (*line == u'\r' && observer != nullptr) {
    // A carriage return that ends no line takes the text behind it with it.
    const char16_t* rest = line;
    while (*rest == u'\r' || *rest == u'\n' || *rest == u' ' || *rest == u'\t') ++rest;
    if (*rest != 0) observer->Decided(Decision::kSkippedLine, line, wstr::Len(line));
  }
  if (*line == 0 || *line == u'\n' || *line == u'\r' || *line == u';') return nullptr;
  return line;
}

LineAction ActionOf(const char16_t* options, LineObserver* observer) {
  LineAction action = LineAction::kCopy;
  if (wstr::Str(options, u"-r") != nullptr)
    action = LineAction::kRegister;
  else if (wstr::Str(options, u"-e") != nullptr)
    action = LineAction::kRun;
  else if (wstr::Str(options, u"-x") != nullptr)
    action = LineAction::kRunAndWait;
  if (observer != nullptr) ReportOptions(*observer, options, action);
  return action;
}

bool IsWildcardSource(const char16_t* source) {
  const std::size_t length = wstr::Len(source);
  return length > 0 && source[length - 1] == u'*';
}

}  // namespace brixcopy
