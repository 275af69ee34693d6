// Texts, codes and the path buffer size that several parts of the installer share.
#pragma once

#include <cstddef>
#include <cstdint>

namespace brixcopy {

// Closing banner, written by the worker on its failure ends and by the main thread at exit.
inline constexpr char16_t kFinishedBanner[] = u"----- BrixCopy Finished ----- \r\n\n";
// Last-error code of a directory search that has no (more) matches.
inline constexpr std::uint32_t kErrorNoMoreFiles = 18;
// Last-error code reported for a name that does not fit its 260-character buffer.
inline constexpr std::uint32_t kErrorFilenameTooLong = 206;
// Path buffer size of the installer, terminator included.
inline constexpr std::size_t kPathChars = 260;

}  // namespace brixcopy
