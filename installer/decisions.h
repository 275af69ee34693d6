// The installer's lenient decisions. Where the line parser or the runner's
// rules take a script line otherwise than it is written (text passed over, a
// destination supplied or extended, options that choose something else, a
// path read without its slashes, a copy that finds nothing), they tell an
// observer what they decided. The program itself has no observer: every report
// is behind a null pointer, so nobody pays for it.
#pragma once

#include <cstddef>

namespace brixcopy {

enum class Decision {
  // Line parser
  kTextBeforeSource,   // text before the source's opening apostrophe is passed over
  kTextBetweenFields,  // text between the source and the destination field is passed over
  kTextAfterFields,    // text behind the last field, before the options, is passed over
  kNoDestination,      // a line without destination field: the destination is "\"
  kRelativeIntoFile,   // a relative source goes below a destination whose last name holds a "."
  kForwardSlash,       // a "/" where the path rules look for a backslash: no separator to them
  // Runner rules
  kSkippedLine,        // a line that begins with a carriage return is skipped whole, whatever follows
  kNoActionOptions,    // options holding none of -r, -e, -x: the line copies
  kSeveralActions,     // options naming several actions: only the first of -r, -e, -x is carried out
  kIgnoredOptionText,  // option text besides -r, -e and -x is passed over
  kRelativeWildcard,   // a relative wildcard: its files go to the same relative folder below the destination
  kWildcardNoMatch,    // a wildcard search that finds nothing copies nothing, without a message
  kFolderFromPath,     // a path without "." was created whole as a folder
  kQuoteNotFirst,      // a program entry holds a double quote but does not begin with it: its first unit is dropped
  kAfterQuoteSkipped,  // the unit behind a program path's closing double quote is skipped, whatever it is
  kCabInEntry,         // ".cab" stands inside the entry, not at its end: the whole text goes to the CAB installer
  kVbInEntry,          // ".vb" stands inside the entry, not at its end: the whole text goes to the VB loader
};

// Receives the decisions made on a text: the units [at, at + length) of the text that the deciding
// function was given (the line, the options, the entry, the path).
class LineObserver {
 public:
  virtual void Decided(Decision decision, const char16_t* at, std::size_t length) = 0;

 protected:
  ~LineObserver() = default;
};

}  // namespace brixcopy
