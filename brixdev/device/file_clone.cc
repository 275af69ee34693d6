// A reflink (FICLONE) shares the source's extents: no byte is read or written,
// and a later write to either file gives it blocks of its own. Without one, a
// hard link serves a file that is only read (the simulator gives a device name
// a file of its own before anything writes through a name with others). The
// last resort copies the data regions that SEEK_DATA and SEEK_HOLE name, so
// that a sparse file stays sparse and its holes are never read.
#include "brixdev/device/file_clone.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace brixdev {
namespace {

struct Fd {
  int fd = -1;
  ~Fd() {
    if (fd >= 0) close(fd);
  }
};

std::string Why(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Copies [from, to) of in to the same place in out.
bool CopyRange(int in, int out, off_t from, off_t to) {
  char buffer[1 << 16];
  while (from < to) {
    const std::size_t want = static_cast<std::size_t>(std::min<off_t>(to - from, sizeof buffer));
    const ssize_t got = pread(in, buffer, want, from);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return false;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = pwrite(out, buffer + done, static_cast<std::size_t>(got - done), from + done);
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) return false;
      done += put;
    }
    from += got;
  }
  return true;
}

// Copies the data regions of in, leaving its holes as holes, then gives out in's size.
bool CopyData(int in, int out, off_t size) {
  for (off_t at = 0; at < size;) {
    off_t data = lseek(in, at, SEEK_DATA);
    if (data < 0 && errno == ENXIO) break;  // only a hole is left
    if (data < 0) return CopyRange(in, out, at, size);  // a file system without the two seeks
    off_t hole = lseek(in, data, SEEK_HOLE);
    if (hole < 0) hole = size;
    if (!CopyRange(in, out, data, hole)) return false;
    at = hole;
  }
  return ftruncate(out, size) == 0;
}

}  // namespace

bool CloneFile(const std::string& source, const std::string& target, bool link, CloneWay* way, std::string* error) {
  Fd in{open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW)};
  struct stat st {};
  if (in.fd < 0 || fstat(in.fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    *error = Why("cannot read", source);
    return false;
  }
  Fd out{open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755)};
  if (out.fd < 0) {
    *error = Why("cannot create", target);
    return false;
  }
  *way = CloneWay::kReflink;
  if (ioctl(out.fd, FICLONE, in.fd) != 0) {
    if (link) {
      // The name is linked to the source instead; the empty file made above goes.
      close(out.fd);
      out.fd = -1;
      if (unlink(target.c_str()) == 0 && ::link(source.c_str(), target.c_str()) == 0) {
        *way = CloneWay::kHardLink;
        return true;
      }
      out.fd = open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0755);
      if (out.fd < 0) {
        *error = Why("cannot create", target);
        return false;
      }
    }
    *way = CloneWay::kCopy;
    if (!CopyData(in.fd, out.fd, st.st_size)) {
      *error = Why("cannot copy " + source + " to", target);
      return false;
    }
  }
  // Every file on a device can be started; a reflink keeps the mode of the file made above.
  if (fchmod(out.fd, 0755) != 0 || close(out.fd) != 0) {
    out.fd = -1;
    *error = Why("cannot write", target);
    return false;
  }
  out.fd = -1;
  return true;
}

}  // namespace brixdev
