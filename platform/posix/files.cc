// Raw files of the device simulator. Sharing is enforced with flock(): an
// unshared open takes an exclusive lock, a shared open a shared one, both
// without waiting. flock() locks belong to the open file description, so they
// conflict across processes and between two opens within one process alike.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/device.h"
#include "platform/posix/beneath.h"
#include "platform/posix/error.h"
#include "platform/posix/mapped_file.h"

namespace plat {

// Transfers go through a read-ahead and a write-behind buffer: callers move
// data in small chunks (8 KiB), and one system call per chunk made a copy
// several times slower than the host's own copy. A write is reported done once
// it is buffered; a later failure to store it is reported by the next write,
// the next seek or the close, and the file stays failed from then on.
struct File {
  int fd = -1;
  off_t sizeAtOpen = 0;
  std::vector<unsigned char> ahead;   // read ahead of the caller
  std::size_t aheadPos = 0;           // next unread byte of ahead
  std::vector<unsigned char> behind;  // written by the caller, not yet stored
  std::uint32_t failedWith = 0;       // error of a failed store, 0 when none
  // Read only and unshared: no device program can change the file while it is
  // open, so once a read has met its end, later reads need not ask again.
  bool endIsFinal = false;
  bool atEnd = false;                 // a read met the end (kept only when endIsFinal)
  posix::MappedReader mapped;         // reads of a large such file, while it lasts
};

namespace {

int OpenFlags(backend::Access access, backend::Disposition disposition) {
  // Non-blocking so that a FIFO placed in the device folder cannot hang the open;
  // anything but a regular file is refused right after.
  int flags = O_CLOEXEC | O_NONBLOCK;
  switch (access) {
    case backend::Access::Read:
      flags |= O_RDONLY;
      break;
    case backend::Access::Write:
      flags |= O_WRONLY;
      break;
    case backend::Access::ReadWrite:
      flags |= O_RDWR;
      break;
  }
  // Never O_TRUNC: the sharing check must come before any truncation.
  if (disposition == backend::Disposition::CreateAlways) flags |= O_CREAT;
  return flags;
}

bool Fail(int fd, std::uint32_t error) {
  if (fd >= 0) close(fd);
  SetLastErrorCode(error);
  return false;
}

int FailFd(std::uint32_t error) {
  SetLastErrorCode(error);
  return -1;
}

File* FailOpen(int fd, std::uint32_t error) {
  Fail(fd, error);
  return nullptr;
}


constexpr std::size_t kTransferBuffer = 1u << 20;

// Reads until n bytes or the end of the file; *got is the count. False on failure.
bool ReadFully(int fd, unsigned char* bytes, std::size_t n, std::size_t* got) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t r = read(fd, bytes + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      *got = done;
      return Fail(-1, posix::ErrorFromErrno(errno));
    }
    if (r == 0) break;
    done += static_cast<std::size_t>(r);
  }
  *got = done;
  return true;
}

// Writes all n bytes, continuing short writes. False on failure.
bool WriteFully(int fd, const unsigned char* bytes, std::size_t n) {
  std::size_t done = 0;
  while (done < n) {
    const ssize_t w = write(fd, bytes + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) return Fail(-1, posix::ErrorFromErrno(errno));
    done += static_cast<std::size_t>(w);
  }
  return true;
}

// Stores what was written but not yet stored. False, with the error, once a store failed.
bool Store(File* file) {
  if (file->failedWith != 0) return Fail(-1, file->failedWith);
  if (file->behind.empty()) return true;
  const bool ok = WriteFully(file->fd, file->behind.data(), file->behind.size());
  file->behind.clear();
  if (!ok) file->failedWith = LastError();
  return ok;
}

// Gives back the bytes read ahead but not taken, so that a write lands where the caller is.
bool DropAhead(File* file) {
  const std::size_t unread = file->ahead.size() - file->aheadPos;
  file->ahead.clear();
  file->aheadPos = 0;
  if (unread != 0 && lseek(file->fd, -static_cast<off_t>(unread), SEEK_CUR) < 0)
    return Fail(-1, posix::ErrorFromErrno(errno));
  return true;
}

// Reads the next block ahead; an empty block at the end of the file. *ended
// tells whether the block came back short: the file ends there, for now.
bool FillAhead(File* file, bool* ended) {
  // Small files get a buffer of their own size rather than the full block.
  const std::size_t want = std::min<std::size_t>(
      kTransferBuffer, file->sizeAtOpen > 0 ? static_cast<std::size_t>(file->sizeAtOpen) + 1 : 8192);
  file->ahead.resize(want);
  file->aheadPos = 0;
  // One read: a regular file yields what it has, and a short block is no reason
  // to ask again before the caller wants more.
  ssize_t r;
  do {
    r = read(file->fd, file->ahead.data(), want);
  } while (r < 0 && errno == EINTR);
  if (r < 0) {
    file->ahead.clear();
    return Fail(-1, posix::ErrorFromErrno(errno));
  }
  file->ahead.resize(static_cast<std::size_t>(r));
  *ended = static_cast<std::size_t>(r) < want;
  return true;
}

// Takes the sharing lock without waiting; false with errno when another opener holds it.
bool Lock(int fd, backend::Share share) {
  const int lock = (share == backend::Share::None ? LOCK_EX : LOCK_SH) | LOCK_NB;
  int locked;
  do {
    locked = flock(fd, lock);
  } while (locked != 0 && errno == EINTR);
  return locked == 0;
}

// Copies the whole content of from into to, both at their start.
bool CopyContent(int from, int to) {
  std::vector<unsigned char> buffer(64 * 1024);
  off_t at = 0;
  for (;;) {
    const ssize_t n = pread(from, buffer.data(), buffer.size(), at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return lseek(to, 0, SEEK_SET) == 0;
    if (!WriteFully(to, buffer.data(), static_cast<std::size_t>(n))) return false;
    at += n;
  }
}

// A file with a second name may be linked from outside the device folder, and a
// write through this name would change that file too: the name gets a file of
// its own instead (with the content when it is opened, not created), as on the
// device, where every name is a file of its own. The new file is made under a
// temporary name and renamed over the old one, so that the name always holds one
// of the two. Closes oldFd; yields the new descriptor, or -1 with the last error set.
int ReplaceLinked(const posix::HostPath& host, int oldFd, bool keepContent, backend::Share share) {
  posix::Fd old(oldFd);
  const int folder = host.parent.get();  // present: the file was just opened in it
  static std::atomic<unsigned> counter{0};
  const std::string temporary =
      "." + host.name + ".brix-" + std::to_string(getpid()) + "-" + std::to_string(counter++);
  posix::Fd fresh(openat(folder, temporary.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0777));
  if (!fresh) return FailFd(posix::ErrorFromErrno(errno));
  const bool ok = Lock(fresh.get(), share) && (!keepContent || CopyContent(old.get(), fresh.get())) &&
                  renameat(folder, temporary.c_str(), folder, host.name.c_str()) == 0;
  if (!ok) {
    const std::uint32_t error = posix::ErrorFromErrno(errno);
    unlinkat(folder, temporary.c_str(), 0);
    return FailFd(error);
  }
  return fresh.Release();
}

}  // namespace

namespace backend {

File* OpenFile(const char16_t* path, Access access, Disposition disposition, Share share) try {
  posix::HostPath host;
  // An existing file is most often named as it is spelt: it is opened by that
  // spelling first, and looked up ignoring case only when it is not there.
  const bool existing = disposition == Disposition::OpenExisting;
  if (const std::uint32_t error = posix::MapPath(path, &host, !existing); error != 0) {
    SetLastErrorCode(error);
    return nullptr;
  }
  if (host.trailingSeparator) {
    posix::SettleName(&host);
    return FailOpen(-1, posix::TrailingSeparatorError(host));
  }
  // The device's file system has no execute permission: any file may be started
  // as a program, so a copied executable must stay runnable on the host too.
  const int flags = OpenFlags(access, disposition);
  int fd = posix::OpenMapped(host, flags, 0777);
  if (fd < 0 && errno == ENOENT) {
    if (posix::SettleName(&host))
      fd = posix::OpenMapped(host, flags, 0777);
    else
      errno = ENOENT;  // the look-up found nothing else to try
  }
  if (fd < 0) return FailOpen(-1, posix::PathError(host, errno));
  // O_NONBLOCK has no effect on a regular file, so it is left set.
  if (!Lock(fd, share))
    return FailOpen(fd, errno == EWOULDBLOCK ? kErrorSharingViolation : posix::ErrorFromErrno(errno));
  // Read under the lock, since another writer may have been first.
  struct stat st {};
  if (fstat(fd, &st) != 0) return FailOpen(fd, posix::ErrorFromErrno(errno));
  if (!S_ISREG(st.st_mode)) return FailOpen(fd, kErrorAccessDenied);
  if (access != Access::Read && st.st_nlink > 1) {
    fd = ReplaceLinked(host, fd, disposition == Disposition::OpenExisting, share);
    if (fd < 0) return nullptr;
    if (fstat(fd, &st) != 0) return FailOpen(fd, posix::ErrorFromErrno(errno));
  }
  if (disposition == Disposition::CreateAlways) {
    // Only a file with content is truncated: truncating an empty file changes
    // nothing, yet makes some file systems write it back at once on close.
    if (st.st_size > 0 && ftruncate(fd, 0) != 0) return FailOpen(fd, posix::ErrorFromErrno(errno));
    st.st_size = 0;
    posix::NoteCreated(host);
  }
  File* file = new File;
  file->fd = fd;
  file->sizeAtOpen = st.st_size;
  file->endIsFinal = access == Access::Read && share == Share::None;
  // A large file that cannot change is read from its pages directly: a copy
  // then moves each byte once less than through the read-ahead buffer.
  if (file->endIsFinal && st.st_size >= static_cast<off_t>(kTransferBuffer)) file->mapped.Start(fd, st.st_size);
  return file;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<File*>(nullptr));
}

bool SeekToStart(File* file) {
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  if (!Store(file)) return false;
  file->ahead.clear();
  file->aheadPos = 0;
  file->atEnd = false;
  // Read again from the start, the file is read as it now is.
  file->mapped.Stop();
  if (lseek(file->fd, 0, SEEK_SET) != 0) return Fail(-1, posix::ErrorFromErrno(errno));
  return true;
}

}  // namespace backend

bool FileRead(File* file, void* buffer, std::uint32_t n, std::uint32_t* got) try {
  if (got != nullptr) *got = 0;
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  if (!Store(file)) return false;
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::uint32_t done = 0;
  if (file->mapped.active()) {
    done = static_cast<std::uint32_t>(file->mapped.Read(bytes, n));
    if (file->mapped.active()) {
      file->atEnd = done < n;
      if (got != nullptr) *got = done;
      return true;
    }
    // The mapping gave out (the file was cut short beneath it): ordinary reads
    // go on from where it stopped and see the file as it now is.
    if (lseek(file->fd, file->mapped.position(), SEEK_SET) < 0) {
      if (got != nullptr) *got = done;
      return Fail(-1, posix::ErrorFromErrno(errno));
    }
  }
  // A short block is the end of the file as it is now: this call asks no
  // further, and a caller that wants more asks again.
  bool ended = file->atEnd;
  while (done < n) {
    if (file->aheadPos == file->ahead.size()) {
      if (ended) break;
      if (n - done >= kTransferBuffer) {
        // A request as large as the buffer goes straight to the caller.
        std::size_t direct = 0;
        if (!ReadFully(file->fd, bytes + done, n - done, &direct)) {
          if (got != nullptr) *got = done + static_cast<std::uint32_t>(direct);
          return false;
        }
        ended = direct < n - done;
        done += static_cast<std::uint32_t>(direct);
        break;
      }
      if (!FillAhead(file, &ended)) {
        if (got != nullptr) *got = done;
        return false;
      }
      if (file->ahead.empty()) break;  // end of file
    }
    const std::size_t take = std::min<std::size_t>(n - done, file->ahead.size() - file->aheadPos);
    std::memcpy(bytes + done, file->ahead.data() + file->aheadPos, take);
    file->aheadPos += take;
    done += static_cast<std::uint32_t>(take);
  }
  file->atEnd = ended && file->endIsFinal;
  if (got != nullptr) *got = done;
  return true;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(false);
}

bool FileWrite(File* file, const void* buffer, std::uint32_t n, std::uint32_t* written) try {
  if (written != nullptr) *written = 0;
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  if (!DropAhead(file)) return false;
  if (file->failedWith != 0) return Fail(-1, file->failedWith);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  if (file->behind.size() + n > kTransferBuffer && !Store(file)) return false;
  if (n >= kTransferBuffer) {
    if (!WriteFully(file->fd, bytes, n)) {
      file->failedWith = LastError();
      return false;
    }
  } else {
    file->behind.insert(file->behind.end(), bytes, bytes + n);
  }
  if (written != nullptr) *written = n;
  return true;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(false);
}

bool FileClose(File* file) {
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  const bool stored = Store(file);
  const std::uint32_t storeError = file->failedWith;
  const int fd = file->fd;
  delete file;
  // Linux releases the descriptor even when close() reports EINTR, so it is never retried.
  if (close(fd) != 0 && errno != EINTR) return Fail(-1, posix::ErrorFromErrno(errno));
  if (!stored) return Fail(-1, storeError);
  return true;
}

bool FileDelete(const char16_t* path) try {
  posix::HostPath host;
  if (const std::uint32_t error = posix::MapPath(path, &host); error != 0) return Fail(-1, error);
  if (host.trailingSeparator) return Fail(-1, posix::TrailingSeparatorError(host));
  if (host.name.empty()) return Fail(-1, kErrorAccessDenied);
  if (!host.parent) return Fail(-1, posix::PathError(host, host.parentErrno));
  // A file open elsewhere holds its sharing lock: the device refuses to delete
  // it, and so does the simulator.
  posix::Fd held(posix::OpenMapped(host, O_RDONLY | O_CLOEXEC | O_NONBLOCK));
  if (!held) return Fail(-1, posix::PathError(host, errno));
  struct stat st {};
  if (fstat(held.get(), &st) != 0) return Fail(-1, posix::ErrorFromErrno(errno));
  if (!S_ISREG(st.st_mode)) return Fail(-1, kErrorAccessDenied);
  if (!Lock(held.get(), backend::Share::None))
    return Fail(-1, errno == EWOULDBLOCK ? kErrorSharingViolation : posix::ErrorFromErrno(errno));
  if (unlinkat(host.parent.get(), host.name.c_str(), 0) != 0) return Fail(-1, posix::PathError(host, errno));
  return true;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(false);
}

}  // namespace plat
