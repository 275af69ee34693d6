#include "installer/inf_line.h"

#include <cstddef>

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

}  // namespace

InfLineFault SplitInfLine(const char16_t* line, const char16_t* packageDir, char16_t* source,
                          char16_t* destination, char16_t* options, bool* resolved) {
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
  if (destinationOpen == nullptr) {
    wstr::Copy(destination, kPathChars, u"\\");
  } else {
    const char16_t* destinationClose = wstr::Chr(destinationOpen + 1, kQuote);
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
