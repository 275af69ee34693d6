// Threads, named mutexes and the generic handle operations of the device simulator.
//
// A named mutex is an flock() on a lock file in the device's run folder. The
// kernel drops the lock when the holding descriptor goes away, so the name is
// free again as soon as the holding process ends, by a crash or kill -9 too.
#include <fcntl.h>
#include <sys/stat.h>
#include <pthread.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/beneath.h"
#include "platform/posix/device.h"
#include "platform/posix/diagnostics.h"
#include "platform/posix/error.h"
#include "platform/posix/object.h"
#include "platform/posix/text.h"

namespace plat {
namespace {

// Shared by the running thread and its handle, so that either may go first.
struct ThreadState {
  std::mutex lock;
  std::condition_variable ended;
  bool done = false;
  ThreadProc proc = nullptr;
  void* parameter = nullptr;
};

class ThreadObject : public Object {
 public:
  explicit ThreadObject(std::shared_ptr<ThreadState> state) : state_(std::move(state)) {}

  std::uint32_t Wait(std::uint32_t timeoutMs) override {
    const posix::Deadline deadline(timeoutMs);
    std::unique_lock<std::mutex> hold(state_->lock);
    if (deadline.infinite()) {
      state_->ended.wait(hold, [this] { return state_->done; });
      return kWaitObject0;
    }
    return state_->ended.wait_until(hold, deadline.end(), [this] { return state_->done; }) ? kWaitObject0
                                                                                            : kWaitTimeout;
  }

 private:
  std::shared_ptr<ThreadState> state_;
};

void* RunThread(void* raw) {
  std::unique_ptr<std::shared_ptr<ThreadState>> owner(static_cast<std::shared_ptr<ThreadState>*>(raw));
  const std::shared_ptr<ThreadState> state = *owner;
  state->proc(state->parameter);
  {
    std::lock_guard<std::mutex> hold(state->lock);
    state->done = true;
  }
  state->ended.notify_all();
  return nullptr;
}

// Lock file names carry the mutex name in UTF-8, with every byte outside a safe
// set written as %XX, so any name maps to one plain file name and back.
std::string LockFileName(const char16_t* name) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "mutex-";
  for (unsigned char c : posix::ToUtf8Lenient(name)) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_') {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(kHex[c >> 4]);
      out.push_back(kHex[c & 0xF]);
    }
  }
  return out + ".lock";
}

// Opens the lock file of a name, creating it when missing. Reading is all a lock
// needs, so a lock file made by another user serves every user who can read it;
// a new one is made readable for all. Close-on-exec: started programs must not
// inherit, and so keep, the lock. -1 with errno on failure (ELOOP for a link).
int OpenLockFile(int runFolder, const std::string& file) {
  constexpr int kFlags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC;
  for (int attempt = 0; attempt < 2; ++attempt) {
    posix::Fd fd(openat(runFolder, file.c_str(), kFlags));
    if (!fd && errno == ENOENT) {
      fd.Reset(openat(runFolder, file.c_str(), kFlags | O_CREAT | O_EXCL, 0644));
      if (fd) fchmod(fd.get(), 0644);
      else if (errno == EEXIST) continue;  // made by another process meanwhile
    }
    struct stat st {};
    if (fd && (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode))) {
      errno = EACCES;
      return -1;
    }
    return fd.Release();
  }
  return -1;
}

bool TryLock(int fd) {
  int r;
  do {
    r = flock(fd, LOCK_EX | LOCK_NB);
  } while (r != 0 && errno == EINTR);
  return r == 0;
}

// Ownership is kept per handle, not per thread: the programs take their mutex once
// and hold it for the life of the process.
class MutexObject : public Object {
 public:
  MutexObject(int fd, bool owned) : fd_(fd), owned_(owned) {}
  ~MutexObject() override { close(fd_); }

  std::uint32_t Wait(std::uint32_t timeoutMs) override {
    const posix::Deadline deadline(timeoutMs);
    while (!owned_) {
      if (TryLock(fd_)) {
        owned_ = true;
        break;
      }
      if (deadline.Passed()) return kWaitTimeout;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return kWaitObject0;
  }

 private:
  int fd_;
  bool owned_;
};

}  // namespace

std::uint32_t WaitObject(Object* object, std::uint32_t timeoutMs) {
  if (object == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return kWaitFailed;
  }
  return object->Wait(timeoutMs);
}

bool ObjectClose(Object* object) {
  if (object == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  delete object;
  return true;
}

Object* ThreadStart(ThreadProc proc, void* parameter) try {
  if (proc == nullptr) {
    SetLastErrorCode(posix::kErrorInvalidParameter);
    return nullptr;
  }
  auto state = std::make_shared<ThreadState>();
  state->proc = proc;
  state->parameter = parameter;
  auto* handoff = new std::shared_ptr<ThreadState>(state);
  pthread_attr_t attr;
  pthread_attr_init(&attr);
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  pthread_t thread;
  const int error = pthread_create(&thread, &attr, RunThread, handoff);
  pthread_attr_destroy(&attr);
  if (error != 0) {
    delete handoff;
    SetLastErrorCode(kErrorNotEnoughMemory);
    return nullptr;
  }
  return new ThreadObject(std::move(state));
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<Object*>(nullptr));
}

Object* MutexCreateNamed(const char16_t* name, bool initiallyOwned) try {
  (void)initiallyOwned;  // the lock that makes the name exist is its ownership too
  if (name == nullptr || *name == 0) {
    SetLastErrorCode(posix::kErrorInvalidParameter);
    return nullptr;
  }
  const auto device = posix::OpenDevice();
  if (device == nullptr) {
    SetLastErrorCode(kErrorPathNotFound);
    return nullptr;
  }
  std::uint32_t error = 0;
  posix::Fd run(posix::OpenRunFolder(*device, &error));
  if (!run) {
    SetLastErrorCode(error);
    return nullptr;
  }
  const std::string file = LockFileName(name);
  posix::Fd lock(OpenLockFile(run.get(), file));
  if (!lock) {
    const int err = errno;
    SetLastErrorCode(posix::ErrorFromErrno(err));
    posix::Diagnose(device->folder + "/run/" + file + ": " +
                    (err == ELOOP ? "a symbolic link, not followed" : std::string("cannot be opened: ") + strerror(err)));
    return nullptr;
  }
  if (TryLock(lock.get())) {
    SetLastErrorCode(0);
    return new MutexObject(lock.Release(), true);
  }
  if (errno != EWOULDBLOCK) {
    posix::SetErrorFromErrno(errno);
    return nullptr;
  }
  SetLastErrorCode(kErrorAlreadyExists);
  return new MutexObject(lock.Release(), false);
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<Object*>(nullptr));
}

}  // namespace plat
