// Splitting of one install script line into source, destination and options.
#pragma once

#include <cstdint>

#include "installer/decisions.h"

namespace brixcopy {

// Why a line is malformed.
enum class InfLineFault {
  kNone,                      // the line is well formed
  kNoSourceStartingQuote,     // no apostrophe at all
  kNoSourceEndingQuote,       // one apostrophe only
  kNoDestinationEndingQuote,  // three apostrophes
  kPathTooLong,               // a field or composed path does not fit 259 characters
};

// Splits line as ParseInfLine does but writes nothing; kNone on success, else why it is malformed.
// observer, when not nullptr, is told the lenient decisions made on a well-formed line.
InfLineFault SplitInfLine(const char16_t* line, const char16_t* packageDir, char16_t* source,
                          char16_t* destination, char16_t* options, bool* resolved,
                          LineObserver* observer = nullptr);

// Splits line into source, destination and options (260-unit buffers each), resolving a
// relative source against packageDir; 1 on success, 0 (reason written) on a malformed line.
std::int32_t ParseInfLine(const char16_t* line, const char16_t* packageDir, char16_t* source,
                          char16_t* destination, char16_t* options);

// As above; *resolved tells whether the source was relative and has been placed below the
// package directory (and appended to the destination).
std::int32_t ParseInfLine(const char16_t* line, const char16_t* packageDir, char16_t* source,
                          char16_t* destination, char16_t* options, bool* resolved);

}  // namespace brixcopy
