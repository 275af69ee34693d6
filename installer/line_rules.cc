#include "installer/line_rules.h"

#include <cstddef>

#include "platform/wstr.h"

namespace brixcopy {

const char16_t* ScriptLineText(const char16_t* line) {
  // Only spaces are removed: a tab-indented comment is a line like any other.
  while (*line == u' ') ++line;
  if (*line == 0 || *line == u'\n' || *line == u'\r' || *line == u';') return nullptr;
  return line;
}

LineAction ActionOf(const char16_t* options) {
  if (wstr::Str(options, u"-r") != nullptr) return LineAction::kRegister;
  if (wstr::Str(options, u"-e") != nullptr) return LineAction::kRun;
  if (wstr::Str(options, u"-x") != nullptr) return LineAction::kRunAndWait;
  return LineAction::kCopy;
}

bool IsWildcardSource(const char16_t* source) {
  const std::size_t length = wstr::Len(source);
  return length > 0 && source[length - 1] == u'*';
}

}  // namespace brixcopy
