// Primitives each backend provides for the shared layers of the platform
// (text streams, debug formatting). Program logic never includes this header.
#pragma once

#include <cstdint>

#include "platform/platform.h"

namespace plat::backend {

enum class Access { Read, Write, ReadWrite };
enum class Disposition { OpenExisting, CreateAlways };
enum class Share { None, ReadWrite };

// Opens a file with the given access, disposition and sharing; nullptr on failure (last error set).
File* OpenFile(const char16_t* path, Access access, Disposition disposition, Share share);
// Moves the file position to the start; false on failure.
bool SeekToStart(File* file);

// What an operation whose own allocation failed yields: failed, with the last
// error 8 (not enough memory), so that the program reports it like any other
// failed call instead of being ended by an exception.
template <typename T>
T OutOfMemory(T failed) {
  SetLastErrorCode(kErrorNotEnoughMemory);
  return failed;
}

}  // namespace plat::backend
