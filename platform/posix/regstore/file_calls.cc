// SQLite reaches the file system through a table of system calls that a
// program may replace. The registry replaces a few of them:
//
// - open: the database and the -wal, -shm and -journal files beside it are
//   device content, so no open follows a symbolic link (SQLite's own no-follow
//   flag covers the database file alone) and a file with further hard links
//   is refused; a link placed between a check and the open changes nothing.
// - writes to the write-ahead log: a commit writes each page it changed as a
//   frame, in two calls per frame, and a registry commits once per key, so an
//   import made most of its system calls here. The writes of a commit are
//   gathered and passed to the kernel in one call, made when the frame that
//   ends the commit is complete, inside the write call of that frame: the
//   commit fails there when the disk is full, exactly as it did before, and
//   every committed frame is in the file before SQLite announces the commit to
//   other connections. Frames of a commit in progress are written out early
//   whenever the log is read, truncated, measured or closed, when a write does
//   not follow the gathered bytes, and past 4 MiB.
//   Once a log holds 1 MiB of whole pages not yet asked for, the kernel is
//   asked to start writing them to the disk (sync_file_range), so that the
//   sync before each checkpoint has little left to wait for.
#include "platform/posix/regstore/file_calls.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

namespace regstore {
namespace {

constexpr std::size_t kLogHeader = 32;
constexpr std::size_t kFrameHeader = 24;
constexpr std::size_t kMaxGathered = std::size_t{4} << 20;
constexpr std::size_t kWriteBackBytes = std::size_t{1} << 20;
constexpr std::size_t kWriteBackPage = 4096;
// Further tries of a lock release that failed.
constexpr int kUnlockAttempts = 3;

static_assert(sizeof(off_t) == 8, "log offsets need 64 bits");

using OpenCall = int (*)(const char*, int, int);
using CloseCall = int (*)(int);
using WriteCall = ssize_t (*)(int, const void*, size_t, off_t);
using ReadCall = ssize_t (*)(int, void*, size_t, off_t);
using TruncateCall = int (*)(int, off_t);
using StatCall = int (*)(int, struct stat*);
using FcntlCall = int (*)(int, int, ...);

// SQLite's own calls, which the replacements pass on to.
struct Calls {
  OpenCall open = nullptr;
  CloseCall close = nullptr;
  WriteCall write = nullptr;
  ReadCall read = nullptr;
  TruncateCall truncate = nullptr;
  StatCall stat = nullptr;
  FcntlCall fcntl = nullptr;
};
Calls calls;

std::atomic<bool> g_unlockFailed{false};

// Bytes written to one log file that have not reached the kernel yet:
// contiguous, from offset on.
struct Log {
  std::uint32_t pageSize = 0;  // from the log's header; 0 while unknown
  off_t offset = 0;
  std::string bytes;
  off_t started = 0;  // the log's bytes before this offset are on their way to the disk
};

// Both live as long as the process: files may still be closed while static objects go.
std::mutex& LogMutex() {
  static auto* mutex = new std::mutex;
  return *mutex;
}
std::map<int, Log>& Logs() {
  static auto* logs = new std::map<int, Log>;
  return *logs;
}

std::uint32_t BigEndian(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

int OpenNoFollow(const char* path, int flags, int mode) {
  const int fd = calls.open(path, flags | O_NOFOLLOW | O_CLOEXEC, mode);
  if (fd < 0) return fd;
  struct stat st{};
  if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_nlink > 1) {
    calls.close(fd);
    errno = EMLINK;
    return -1;
  }
  const std::size_t length = std::strlen(path);
  if (calls.write != nullptr && length > 4 && std::strcmp(path + length - 4, "-wal") == 0) {
    std::lock_guard<std::mutex> guard(LogMutex());
    Logs()[fd] = Log{};
  }
  return fd;
}

// Asks the kernel to start writing the log's whole pages up to end to the
// disk, once at least kWriteBackBytes of them wait. A checkpoint must sync the
// log before it copies pages into the database; started early, that sync
// finds the log mostly written, so its wait overlaps the import's own work
// instead of following it. Only a hint: durability still comes from the sync.
void StartWriteBack(int fd, Log& log, off_t end) {
  if (end < log.started) log.started = 0;  // the log has started over
  const off_t whole = end & ~static_cast<off_t>(kWriteBackPage - 1);
  if (whole - log.started < static_cast<off_t>(kWriteBackBytes)) return;
  ::sync_file_range(fd, log.started, whole - log.started, SYNC_FILE_RANGE_WRITE);
  log.started = whole;
}

// Passes the gathered bytes to the kernel; -1 (errno set) when it took not all of them.
int WriteOut(int fd, Log& log) {
  const char* data = log.bytes.data();
  std::size_t left = log.bytes.size();
  off_t at = log.offset;
  int result = 0;
  while (left > 0) {
    const ssize_t n = calls.write(fd, data, left, at);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      if (n == 0) errno = ENOSPC;
      result = -1;
      break;
    }
    data += n;
    left -= static_cast<std::size_t>(n);
    at += n;
  }
  log.bytes.clear();
  if (result == 0) StartWriteBack(fd, log, at);
  return result;
}

// Writes out what is gathered for fd, if fd is a log; -1 when that fails.
int WriteOutBefore(int fd) {
  std::lock_guard<std::mutex> guard(LogMutex());
  const auto found = Logs().find(fd);
  return found == Logs().end() || found->second.bytes.empty() ? 0 : WriteOut(fd, found->second);
}

// The page size the log's header gives, from the gathered bytes or the file; 0 when unknown.
std::uint32_t PageSize(int fd, const Log& log) {
  unsigned char header[kLogHeader];
  if (log.offset == 0 && log.bytes.size() >= kLogHeader) {
    std::memcpy(header, log.bytes.data(), kLogHeader);
  } else if (log.offset < static_cast<off_t>(kLogHeader) ||
             calls.read(fd, header, kLogHeader, 0) != static_cast<ssize_t>(kLogHeader)) {
    return 0;
  }
  if ((BigEndian(header) & 0xFFFFFFFEu) != 0x377F0682u) return 0;
  const std::uint32_t size = BigEndian(header + 8) == 1 ? 65536 : BigEndian(header + 8);
  return size >= 512 && size <= 65536 && (size & (size - 1)) == 0 ? size : 0;
}

// True when the bytes gathered from `from` on complete a frame that ends a
// commit (its header holds the database size after the commit), or a frame
// whose header is no longer gathered (which may end one).
bool CompletesCommit(const Log& log, off_t from) {
  const off_t frame = static_cast<off_t>(kFrameHeader + log.pageSize);
  const off_t end = log.offset + static_cast<off_t>(log.bytes.size());
  const off_t first = from < static_cast<off_t>(kLogHeader) ? 0 : (from - static_cast<off_t>(kLogHeader)) / frame;
  for (off_t k = first;; ++k) {
    const off_t start = static_cast<off_t>(kLogHeader) + k * frame;
    if (start + frame > end) return false;
    if (start + frame <= from) continue;
    if (start < log.offset) return true;
    const auto* header = reinterpret_cast<const unsigned char*>(log.bytes.data() + (start - log.offset));
    if (BigEndian(header + 4) != 0) return true;
  }
}

ssize_t GatherWrite(int fd, const void* data, size_t count, off_t offset) {
  std::lock_guard<std::mutex> guard(LogMutex());
  const auto found = Logs().find(fd);
  if (found == Logs().end()) return calls.write(fd, data, count, offset);
  Log& log = found->second;
  if (!log.bytes.empty() && offset != log.offset + static_cast<off_t>(log.bytes.size()) && WriteOut(fd, log) < 0)
    return -1;
  if (log.bytes.empty()) log.offset = offset;
  log.bytes.append(static_cast<const char*>(data), count);
  if (log.pageSize == 0 || offset == 0) log.pageSize = PageSize(fd, log);
  // Without the header's page size, frames cannot be told apart: nothing waits.
  const bool now = log.pageSize == 0 || CompletesCommit(log, offset) || log.bytes.size() >= kMaxGathered;
  if (now && WriteOut(fd, log) < 0) return -1;
  return static_cast<ssize_t>(count);
}

ssize_t ReadAfterWrites(int fd, void* data, size_t count, off_t offset) {
  if (WriteOutBefore(fd) < 0) return -1;
  return calls.read(fd, data, count, offset);
}

int TruncateAfterWrites(int fd, off_t size) {
  if (WriteOutBefore(fd) < 0) return -1;
  return calls.truncate(fd, size);
}

int StatAfterWrites(int fd, struct stat* st) {
  if (WriteOutBefore(fd) < 0) return -1;
  return calls.stat(fd, st);
}

int CloseAfterWrites(int fd) {
  int written = 0;
  {
    std::lock_guard<std::mutex> guard(LogMutex());
    const auto found = Logs().find(fd);
    if (found != Logs().end()) {
      if (!found->second.bytes.empty()) written = WriteOut(fd, found->second);
      Logs().erase(found);
    }
  }
  const int closed = calls.close(fd);
  return written < 0 ? -1 : closed;
}

// SQLite passes a lock request's struct flock, or an int, as the third argument.
int FcntlWatchingUnlocks(int fd, int command, ...) {
  va_list rest;
  va_start(rest, command);
  void* argument = va_arg(rest, void*);
  va_end(rest);
  int result = calls.fcntl(fd, command, argument);
  const bool lockRequest = command == F_SETLK || command == F_SETLKW || command == F_OFD_SETLK;
  if (result >= 0 || !lockRequest || argument == nullptr || static_cast<struct flock*>(argument)->l_type != F_UNLCK)
    return result;
  // An unlock that fails leaves SQLite's view of the locks wrong at once: the
  // call that made it retries the lock it believes free for about 10 seconds.
  // Releasing never waits, so it is tried again; one that keeps failing has
  // the connection dropped at the next registry call.
  for (int attempt = 0; attempt < kUnlockAttempts && result < 0; ++attempt)
    result = calls.fcntl(fd, command, argument);
  if (result < 0) g_unlockFailed.store(true);
  return result;
}

template <typename Call>
Call Original(sqlite3_vfs* unix, const char* name) {
  return reinterpret_cast<Call>(unix->xGetSystemCall(unix, name));
}

void Replace(sqlite3_vfs* unix, const char* name, sqlite3_syscall_ptr call) { unix->xSetSystemCall(unix, name, call); }

}  // namespace

void InstallFileCalls() {
  static std::once_flag once;
  std::call_once(once, [] {
    sqlite3_vfs* unix = sqlite3_vfs_find("unix");
    if (unix == nullptr || unix->iVersion < 3 || unix->xSetSystemCall == nullptr) return;
    calls.open = Original<OpenCall>(unix, "open");
    calls.close = Original<CloseCall>(unix, "close");
    if (calls.open == nullptr || calls.close == nullptr) return;
    // Writes are gathered only when every call that must see them first can be replaced too.
    Calls gather = calls;
    gather.write = Original<WriteCall>(unix, "pwrite64");
    gather.read = Original<ReadCall>(unix, "pread64");
    gather.truncate = Original<TruncateCall>(unix, "ftruncate");
    gather.stat = Original<StatCall>(unix, "fstat");
    if (gather.write != nullptr && gather.read != nullptr && gather.truncate != nullptr && gather.stat != nullptr) {
      calls = gather;
      Replace(unix, "pwrite64", reinterpret_cast<sqlite3_syscall_ptr>(&GatherWrite));
      Replace(unix, "pread64", reinterpret_cast<sqlite3_syscall_ptr>(&ReadAfterWrites));
      Replace(unix, "ftruncate", reinterpret_cast<sqlite3_syscall_ptr>(&TruncateAfterWrites));
      Replace(unix, "fstat", reinterpret_cast<sqlite3_syscall_ptr>(&StatAfterWrites));
      Replace(unix, "close", reinterpret_cast<sqlite3_syscall_ptr>(&CloseAfterWrites));
    }
    Replace(unix, "open", reinterpret_cast<sqlite3_syscall_ptr>(&OpenNoFollow));
    calls.fcntl = Original<FcntlCall>(unix, "fcntl");
    if (calls.fcntl != nullptr) Replace(unix, "fcntl", reinterpret_cast<sqlite3_syscall_ptr>(&FcntlWatchingUnlocks));
  });
}

bool TakeUnlockFailure() { return g_unlockFailed.exchange(false); }

}  // namespace regstore
