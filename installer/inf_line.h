// Splitting of one install script line into source, destination and options.
#pragma once

#include <cstdint>

namespace brixcopy {

// Splits line into source, destination and options (260-unit buffers each), resolving a
// relative source against the package directory; 1 on success, 0 (reason written) on a malformed line.
std::int32_t ParseInfLine(const char16_t* line, char16_t* source, char16_t* destination,
                          char16_t* options);

// As above; *resolved tells whether the source was relative and has been placed below the
// package directory (and appended to the destination).
std::int32_t ParseInfLine(const char16_t* line, char16_t* source, char16_t* destination,
                          char16_t* options, bool* resolved);

}  // namespace brixcopy
