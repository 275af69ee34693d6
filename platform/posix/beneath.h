// Opening host files strictly beneath a folder, never through a symbolic link:
// the device folder's contents are untrusted, and a device has no links.
#pragma once

#include <sys/types.h>

#include <memory>
#include <string>

namespace plat::posix {

// An owned file descriptor, closed when it goes.
class Fd {
 public:
  Fd() = default;
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() { Reset(); }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  Fd(Fd&& other) noexcept : fd_(other.Release()) {}
  Fd& operator=(Fd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  // The descriptor, still owned; -1 when none.
  int get() const { return fd_; }
  explicit operator bool() const { return fd_ >= 0; }
  // Closes the held descriptor (if any) and holds fd instead.
  void Reset(int fd = -1);
  // Gives up ownership without closing.
  int Release() {
    const int fd = fd_;
    fd_ = -1;
    return fd;
  }

 private:
  int fd_ = -1;
};

// A descriptor held jointly: closed when the last holder lets it go.
class SharedFd {
 public:
  SharedFd() = default;
  explicit SharedFd(Fd fd) : fd_(fd ? std::make_shared<Fd>(std::move(fd)) : nullptr) {}

  // The descriptor, still held; -1 when none.
  int get() const { return fd_ ? fd_->get() : -1; }
  explicit operator bool() const { return fd_ != nullptr; }
  // Lets the descriptor go.
  void Reset() { fd_.reset(); }

 private:
  std::shared_ptr<Fd> fd_;
};

// Opens relative ('/'-separated, no "." or "..", empty for the folder itself) beneath
// the folder dirfd without following a symbolic link in any element; -1 with errno
// on failure, ELOOP when an element is a link. Uses openat2() where the kernel has
// it, else OpenBeneathByWalk.
int OpenBeneath(int dirfd, const std::string& relative, int flags, mode_t mode = 0);
// The same, one element at a time with O_NOFOLLOW, for kernels without openat2().
int OpenBeneathByWalk(int dirfd, const std::string& relative, int flags, mode_t mode = 0);

}  // namespace plat::posix
