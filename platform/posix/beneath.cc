// openat2() with RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS settles a whole path in
// the kernel, race-free, in one call (Linux 5.6 and later). Where the call is
// missing (an older kernel, or a sandbox that filters it) the path is walked
// one element at a time, each opened relative to the one before with
// O_NOFOLLOW, which gives the same guarantee with one call per element.
#include "platform/posix/beneath.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <cerrno>

#ifdef SYS_openat2
#include <linux/openat2.h>
#endif

namespace plat::posix {

void Fd::Reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

namespace {

// Whether the kernel has openat2(), asked once: an old kernel answers ENOSYS, a
// sandbox that filters unknown calls may answer EPERM, which a real open of a
// device file can answer too, so the answer is taken from a harmless call.
bool HaveOpenat2() {
#ifdef SYS_openat2
  static const bool have = [] {
    open_how how{};
    how.flags = O_PATH | O_CLOEXEC;
    const long fd = syscall(SYS_openat2, AT_FDCWD, "/", &how, sizeof how);
    if (fd < 0) return false;
    close(static_cast<int>(fd));
    return true;
  }();
  return have;
#else
  return false;
#endif
}

const char* Here(const std::string& relative) { return relative.empty() ? "." : relative.c_str(); }

// O_NOFOLLOW|O_DIRECTORY on a link fails with ENOTDIR; callers want to know it was a link.
int LinkOr(int dirfd, const char* name, int err) {
  struct stat st {};
  if (err == ENOTDIR && fstatat(dirfd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode))
    return ELOOP;
  return err;
}

}  // namespace

int OpenBeneathByWalk(int dirfd, const std::string& relative, int flags, mode_t mode) {
  Fd current;
  int at = dirfd;
  std::size_t start = 0;
  for (;;) {
    const std::size_t slash = relative.find('/', start);
    if (slash == std::string::npos) break;
    const std::string element = relative.substr(start, slash - start);
    const int next = openat(at, element.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (next < 0) {
      errno = LinkOr(at, element.c_str(), errno);
      return -1;
    }
    current.Reset(next);
    at = next;
    start = slash + 1;
  }
  const std::string last = relative.substr(start);
  const int fd = openat(at, Here(last), flags | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) errno = LinkOr(at, Here(last), errno);
  // O_PATH|O_NOFOLLOW opens a final link itself instead of failing: refuse it here.
  struct stat st {};
  if (fd >= 0 && (flags & O_PATH) != 0 && fstat(fd, &st) == 0 && S_ISLNK(st.st_mode)) {
    close(fd);
    errno = ELOOP;
    return -1;
  }
  return fd;
}

int OpenBeneath(int dirfd, const std::string& relative, int flags, mode_t mode) {
#ifdef SYS_openat2
  if (HaveOpenat2()) {
    open_how how{};
    how.flags = static_cast<unsigned long long>(flags | O_CLOEXEC);
    // The kernel refuses a mode without a creation; O_TMPFILE holds O_DIRECTORY's bit.
    how.mode = (flags & O_CREAT) != 0 || (flags & O_TMPFILE) == O_TMPFILE ? mode : 0;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    for (int attempt = 0;; ++attempt) {
      const long fd = syscall(SYS_openat2, dirfd, Here(relative), &how, sizeof how);
      if (fd >= 0) return static_cast<int>(fd);
      // EAGAIN: a rename elsewhere raced the lookup, and the kernel asks to try again.
      if ((errno == EAGAIN || errno == EINTR) && attempt < 8) continue;
      // EXDEV: the path would leave the folder, which only a link can make it do.
      if (errno == EXDEV) errno = ELOOP;
      return -1;
    }
  }
#endif
  return OpenBeneathByWalk(dirfd, relative, flags, mode);
}

}  // namespace plat::posix
