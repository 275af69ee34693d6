// A mapping of a file that a host process cuts short faults (SIGBUS) where the
// file no longer is. Copies from a mapping run under a handler that turns that
// fault, and only that fault, into a result: the reader stops, and the file is
// read on by ordinary reads, which see it as it now is.
#include "platform/posix/mapped_file.h"

#include <setjmp.h>
#include <signal.h>
#include <sys/mman.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <mutex>

namespace plat::posix {
namespace {

// Windows of a few MiB: each is mapped with its pages at once, and mapping
// and unmapping cost little next to copying them.
constexpr std::size_t kWindow = std::size_t{4} << 20;

// The copy in progress on this thread: where a fault may land, and where to go then.
struct Guard {
  sigjmp_buf jump;
  const unsigned char* from = nullptr;
  const unsigned char* to = nullptr;
};
// Volatile, and fenced around the copy: the compiler knows that memcpy never
// reads it and would otherwise drop the store as dead.
thread_local Guard* volatile tGuard = nullptr;

struct sigaction gPrevious {};

void OnBusError(int signal, siginfo_t* info, void* context) {
  const auto* address = static_cast<const unsigned char*>(info->si_addr);
  if (Guard* guard = tGuard; guard != nullptr && address >= guard->from && address < guard->to) {
    tGuard = nullptr;
    siglongjmp(guard->jump, 1);
  }
  // Not a fault of a guarded copy: as it would have been without this handler.
  if ((gPrevious.sa_flags & SA_SIGINFO) != 0 && gPrevious.sa_sigaction != nullptr) {
    gPrevious.sa_sigaction(signal, info, context);
  } else if (gPrevious.sa_handler != SIG_IGN && gPrevious.sa_handler != SIG_DFL) {
    gPrevious.sa_handler(signal);
  } else {
    // Returning re-runs a faulting access, which now meets the default action;
    // a signal that was sent is sent again, to be taken once this returns.
    ::signal(SIGBUS, SIG_DFL);
    if (info->si_code <= 0) raise(SIGBUS);
  }
}

void InstallHandler() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct sigaction action {};
    action.sa_sigaction = OnBusError;
    action.sa_flags = SA_SIGINFO;
    sigemptyset(&action.sa_mask);
    sigaction(SIGBUS, &action, &gPrevious);
  });
}

// Copies n bytes from a mapping; false when the mapping faulted part-way.
bool GuardedCopy(unsigned char* dst, const unsigned char* src, std::size_t n) {
  Guard guard;
  guard.from = src;
  guard.to = src + n;
  if (sigsetjmp(guard.jump, 1) != 0) return false;
  tGuard = &guard;
  std::atomic_signal_fence(std::memory_order_seq_cst);
  std::memcpy(dst, src, n);
  std::atomic_signal_fence(std::memory_order_seq_cst);
  tGuard = nullptr;
  return true;
}

}  // namespace

MappedReader::~MappedReader() { Stop(); }

bool MappedReader::Start(int fd, off_t size) {
  Stop();
  InstallHandler();
  fd_ = fd;
  size_ = size;
  position_ = 0;
  if (MapWindow()) return true;
  fd_ = -1;
  return false;
}

bool MappedReader::MapWindow() {
  if (window_ != nullptr) munmap(window_, windowLength_);
  window_ = nullptr;
  static const long page = sysconf(_SC_PAGESIZE);
  windowStart_ = position_ - position_ % page;
  const off_t left = size_ - windowStart_;
  windowLength_ = left < static_cast<off_t>(kWindow) ? static_cast<std::size_t>(left) : kWindow;
  void* mapped = mmap(nullptr, windowLength_, PROT_READ, MAP_PRIVATE | MAP_POPULATE, fd_, windowStart_);
  if (mapped == MAP_FAILED) return false;
  window_ = static_cast<unsigned char*>(mapped);
  return true;
}

std::size_t MappedReader::Read(void* dst, std::size_t n) {
  auto* out = static_cast<unsigned char*>(dst);
  std::size_t done = 0;
  while (active() && done < n && position_ < size_) {
    if (window_ == nullptr || position_ >= windowStart_ + static_cast<off_t>(windowLength_)) {
      if (!MapWindow()) {
        Stop();
        break;
      }
    }
    const std::size_t offset = static_cast<std::size_t>(position_ - windowStart_);
    std::size_t take = windowLength_ - offset;
    if (take > n - done) take = n - done;
    if (!GuardedCopy(out + done, window_ + offset, take)) {
      Stop();
      break;
    }
    done += take;
    position_ += static_cast<off_t>(take);
  }
  return done;
}

void MappedReader::Stop() {
  if (window_ != nullptr) munmap(window_, windowLength_);
  window_ = nullptr;
  windowLength_ = 0;
  fd_ = -1;
}

}  // namespace plat::posix
