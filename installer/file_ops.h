// Byte copy of one file and creation of the directories a path names.
#pragma once

#include <cstdint>

#include "installer/decisions.h"

namespace brixcopy {

// Number of attempts a failing read or write call of CopyOneFile gets before the copy is given up.
inline constexpr int kTransferAttempts = 3;
// Size of the transfer buffer: the largest chunk read and written at once.
inline constexpr std::uint32_t kTransferChunk = 8192;

// Copies source into a newly created (or truncated) destination; 1 when the whole source was copied, else 0.
std::int32_t CopyOneFile(const char16_t* source, const char16_t* destination);

// Creates every directory the path names, shortest prefix first; results are ignored, nothing is written.
// observer, when not nullptr, is told of a "/" that divides nothing and of a whole path made a folder.
void CreatePath(const char16_t* path, LineObserver* observer = nullptr);

}  // namespace brixcopy
