// Raw files of the device simulator. Sharing is enforced with flock(): an
// unshared open takes an exclusive lock, a shared open a shared one, both
// without waiting. flock() locks belong to the open file description, so they
// conflict across processes and between two opens within one process alike.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix_device.h"
#include "platform/posix_error.h"

namespace plat {

struct File {
  int fd = -1;
};

namespace {

int OpenFlags(backend::Access access, backend::Disposition disposition) {
  // Non-blocking so that a FIFO placed in the device folder cannot hang the open;
  // cleared again once the descriptor is known to be a regular file.
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

std::uint32_t OpenError(int err, const std::string& hostPath) {
  if (err == ENOENT) return posix::MissingError(hostPath);
  return posix::ErrorFromErrno(err);
}

bool Fail(int fd, std::uint32_t error) {
  if (fd >= 0) close(fd);
  SetLastErrorCode(error);
  return false;
}

File* FailOpen(int fd, std::uint32_t error) {
  Fail(fd, error);
  return nullptr;
}

}  // namespace

namespace backend {

File* OpenFile(const char16_t* path, Access access, Disposition disposition, Share share) {
  std::string host;
  if (const std::uint32_t error = posix::MapPath(path, &host); error != 0) {
    SetLastErrorCode(error);
    return nullptr;
  }
  // The device's file system has no execute permission: any file may be started
  // as a program, so a copied executable must stay runnable on the host too.
  const int fd = open(host.c_str(), OpenFlags(access, disposition), 0777);
  if (fd < 0) {
    SetLastErrorCode(OpenError(errno, host));
    return nullptr;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0) return FailOpen(fd, posix::ErrorFromErrno(errno));
  if (!S_ISREG(st.st_mode)) return FailOpen(fd, kErrorAccessDenied);
  const int flags = fcntl(fd, F_GETFL);
  if (flags < 0 || fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
    return FailOpen(fd, posix::ErrorFromErrno(errno));
  const int lock = (share == Share::None ? LOCK_EX : LOCK_SH) | LOCK_NB;
  int locked;
  do {
    locked = flock(fd, lock);
  } while (locked != 0 && errno == EINTR);
  if (locked != 0)
    return FailOpen(fd, errno == EWOULDBLOCK ? kErrorSharingViolation : posix::ErrorFromErrno(errno));
  if (disposition == Disposition::CreateAlways && ftruncate(fd, 0) != 0)
    return FailOpen(fd, posix::ErrorFromErrno(errno));
  return new File{fd};
}

bool SeekToStart(File* file) {
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  if (lseek(file->fd, 0, SEEK_SET) != 0) return Fail(-1, posix::ErrorFromErrno(errno));
  return true;
}

}  // namespace backend

bool FileRead(File* file, void* buffer, std::uint32_t n, std::uint32_t* got) {
  if (got != nullptr) *got = 0;
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  auto* bytes = static_cast<unsigned char*>(buffer);
  std::uint32_t done = 0;
  // A regular file yields all it has in one read; the loop only covers interrupted reads.
  while (done < n) {
    const ssize_t r = read(file->fd, bytes + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) {
      if (got != nullptr) *got = done;
      return Fail(-1, posix::ErrorFromErrno(errno));
    }
    if (r == 0) break;
    done += static_cast<std::uint32_t>(r);
  }
  if (got != nullptr) *got = done;
  return true;
}

bool FileWrite(File* file, const void* buffer, std::uint32_t n, std::uint32_t* written) {
  if (written != nullptr) *written = 0;
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  const auto* bytes = static_cast<const unsigned char*>(buffer);
  std::uint32_t done = 0;
  // Callers count a successful write as the whole chunk, so short writes are continued.
  while (done < n) {
    const ssize_t w = write(file->fd, bytes + done, n - done);
    if (w < 0 && errno == EINTR) continue;
    if (w < 0) {
      if (written != nullptr) *written = done;
      return Fail(-1, posix::ErrorFromErrno(errno));
    }
    done += static_cast<std::uint32_t>(w);
  }
  if (written != nullptr) *written = done;
  return true;
}

bool FileClose(File* file) {
  if (file == nullptr) return Fail(-1, kErrorInvalidHandle);
  const int fd = file->fd;
  delete file;
  // Linux releases the descriptor even when close() reports EINTR, so it is never retried.
  if (close(fd) != 0 && errno != EINTR) return Fail(-1, posix::ErrorFromErrno(errno));
  return true;
}

}  // namespace plat
