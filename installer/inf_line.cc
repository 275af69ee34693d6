#include "installer/inf_line.h"

#include <cstddef>

#include "installer/line_rules.h"
#include "installer/messages.h"
#include "platform/platform.h"
#include "platform/wstr.h"

namespace brixcopy {
namespace {

constexpr char16_t kQuote = u'\'';

bool EndsWith(const char16_t* text, char16_t c) {
  const std::size_t length = wstr::Len(text);
  return length > 0 && text[length - 1] == c;
}

// The text between two apostrophes, into a 260-unit buffer.
bool CopyField(char16_t* field, const char16_t* open, const char16_t* close) {
  return wstr::CopyN(field, kPathChars, open + 1, static_cast<std::size_t>(close - open - 1));
}

// Package directory, a separating backslash, and the source without one leading backslash.
bool ComposeFullSource(char16_t* full, const char16_t* packageDir, const char16_t* source) {
  if (!wstr::Copy(full, kPathChars, packageDir)) return false;
  if (!EndsWith(full, u'\\') && !wstr::Cat(full, kPathChars, u"\\")) return false;
  return wstr::Cat(full, kPathChars, source[0] == u'\\' ? source + 1 : source);
}

bool IsLineBlank(char16_t c) { return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n'; }

// Reports [begin, end) of the line as passed over when it holds more than blanks.
void ReportText(LineObserver& observer, Decision decision, const char16_t* begin, const char16_t* end) {
  while (begin < end && IsLineBlank(*begin)) ++begin;
  while (end > begin && IsLineBlank(end[-1])) --end;
  if (begin < end) observer.Decided(decision, begin, static_cast<std::size_t>(end - begin));
}

// The places of the parts of a well-formed line.
struct Fields {
  const char16_t* sourceOpen;
  const char16_t* sourceClose;
  const char16_t* destinationOpen;  // nullptr: no destination field
  const char16_t* destinationClose;
  const char16_t* optionsAt;        // the options' "-", or the end of the line
};

// What the parse of a well-formed line passed over, supplied or read differently from its text.
// A line without destination is a decision only where its destination is used: on a copy line.
void ReportDecisions(LineObserver& observer, const char16_t* line, const Fields& f, bool resolved, bool copies) {
  ReportText(observer, Decision::kTextBeforeSource, line, f.sourceOpen);
  // Only a backslash makes a source absolute.
  if (f.sourceOpen[1] == u'/') observer.Decided(Decision::kForwardSlash, f.sourceOpen + 1, 1);
  if (f.destinationOpen == nullptr) {
    if (copies) observer.Decided(Decision::kNoDestination, f.sourceClose + 1, 0);
    ReportText(observer, Decision::kTextAfterFields, f.sourceClose + 1, f.optionsAt);
    return;
  }
  ReportText(observer, Decision::kTextBetweenFields, f.sourceClose + 1, f.destinationOpen);
  if (resolved) {
    const char16_t* name = f.destinationOpen + 1;
    for (const char16_t* c = name; c < f.destinationClose; ++c)
      if (*c == u'\\') name = c + 1;
    bool dot = false;
    for (const char16_t* c = name; c < f.destinationClose; ++c) dot = dot || *c == u'.';
    if (dot)
      observer.Decided(Decision::kRelativeIntoFile, f.destinationOpen + 1,
                       static_cast<std::size_t>(f.destinationClose - f.destinationOpen - 1));
  }
  ReportText(observer, Decision::kTextAfterFields, f.destinationClose + 1, f.optionsAt);
}

}  // namespace

InfLineFault SplitInfLine(const char16_t* line, const char16_t* packageDir, char16_t* source,
                          char16_t* destination, char16_t* options, bool* resolved, LineObserver* observer) {
  *resolved = false;
  const char16_t* sourceOpen = wstr::Chr(line, kQuote);
  if (sourceOpen == nullptr) return InfLineFault::kNoSourceStartingQuote;
  const char16_t* sourceClose = wstr::Chr(sourceOpen + 1, kQuote);
  if (sourceClose == nullptr) return InfLineFault::kNoSourceEndingQuote;
  // Every field and composed path must fit its buffer whole; one that does
  // not makes the line malformed instead of being cut short.
  if (!CopyField(source, sourceOpen, sourceClose)) return InfLineFault::kPathTooLong;

  const char16_t* lastClose = sourceClose;
  const char16_t* destinationOpen = wstr::Chr(sourceClose + 1, kQuote);
  const char16_t* destinationClose = nullptr;
  if (destinationOpen == nullptr) {
    wstr::Copy(destination, kPathChars, u"\\");
  } else {
    destinationClose = wstr::Chr(destinationOpen + 1, kQuote);
    if (destinationClose == nullptr) return InfLineFault::kNoDestinationEndingQuote;
    lastClose = destinationClose;
    if (!CopyField(destination, destinationOpen, destinationClose)) return InfLineFault::kPathTooLong;
    // A relative source names a file of the package, copied to the same
    // relative place below the destination folder.
    if (source[0] != u'\\') {
      char16_t full[kPathChars];
      if (!ComposeFullSource(full, packageDir, source)) return InfLineFault::kPathTooLong;
      if (!EndsWith(destination, u'\\') && !wstr::Cat(destination, kPathChars, u"\\"))
        return InfLineFault::kPathTooLong;
      if (!wstr::Cat(destination, kPathChars, source)) return InfLineFault::kPathTooLong;
      wstr::Copy(source, kPathChars, full);
      *resolved = true;
    }
  }

  const char16_t* dash = wstr::Chr(lastClose + 1, u'-');
  if (!wstr::Copy(options, kPathChars, dash != nullptr ? dash : u"")) return InfLineFault::kPathTooLong;
  if (observer != nullptr) {
    const Fields fields{sourceOpen, sourceClose, destinationOpen, destinationClose,
                        dash != nullptr ? dash : lastClose + 1 + wstr::Len(lastClose + 1)};
    ReportDecisions(*observer, line, fields, *resolved, ActionOf(options) == LineAction::kCopy);
  }
  return InfLineFault::kNone;
}

std::int32_t ParseInfLine(const char16_t* line, const char16_t* packageDir, char16_t* source,
                          char16_t* destination, char16_t* options) {
  bool resolved = false;
  return ParseInfLine(line, packageDir, source, destination, options, &resolved);
}

std::int32_t ParseInfLine(const char16_t* line, const char16_t* packageDir, char16_t* source,
                          char16_t* destination, char16_t* options, bool* resolved) {
  switch (SplitInfLine(line, packageDir, source, destination, options, resolved)) {
    case InfLineFault::kNone:
      return 1;
    case InfLineFault::kNoSourceStartingQuote:
      plat::DebugPrint(u"BrixCopy: Invalid INF line (no source starting quote):\r\n%s\r\n", line);
      break;
    case InfLineFault::kNoSourceEndingQuote:
      plat::DebugPrint(u"BrixCopy: Invalid INF line (no source ending quote):\r\n%s\r\n", line);
      break;
    case InfLineFault::kNoDestinationEndingQuote:
      plat::DebugPrint(u"BrixCopy: Invalid INF line (no destination ending quote):\r\n%s\r\n",
                       line);
      break;
    case InfLineFault::kPathTooLong:
      plat::DebugPrint(u"BrixCopy: Invalid INF line (path too long):\r\n%s\r\n", line);
      break;
  }
  return 0;
}

}  // namespace brixcopy
