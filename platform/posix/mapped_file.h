// Reading a large file through a read-only mapping of it, in windows: the
// bytes are copied once, from the file's pages to the caller, instead of into
// a read-ahead buffer first. A file cut short beneath the mapping by a host
// process is noticed, not fatal: the reader then reports where it stopped,
// and the caller goes on with ordinary reads.
#pragma once

#include <sys/types.h>

#include <cstddef>

namespace plat::posix {

class MappedReader {
 public:
  MappedReader() = default;
  ~MappedReader();
  MappedReader(const MappedReader&) = delete;
  MappedReader& operator=(const MappedReader&) = delete;

  // Reads the first size bytes of the open file fd from now on; false (nothing changed)
  // when the file cannot be mapped.
  bool Start(int fd, off_t size);
  // True while reads come from the mapping.
  bool active() const { return fd_ >= 0; }
  // Copies up to n bytes from the current position into dst; the count, 0 at the size
  // given to Start. A mapping that fails (the file was cut short) stops the reader
  // (active() false), and the count is of what was copied before.
  std::size_t Read(void* dst, std::size_t n);
  // The position of the next byte to read.
  off_t position() const { return position_; }
  // Stops reading through the mapping; the file is left where it was.
  void Stop();

 private:
  // Maps the window holding the current position; false when that fails.
  bool MapWindow();

  int fd_ = -1;
  off_t size_ = 0;
  off_t position_ = 0;
  unsigned char* window_ = nullptr;
  off_t windowStart_ = 0;
  std::size_t windowLength_ = 0;
};

}  // namespace plat::posix
