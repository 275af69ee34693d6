// Program start of the device simulator: a device path names a host executable
// inside the device folder, started with posix_spawn(). The command line reaches
// it as one argument, exactly the text, and the environment (BRIX_DEVICE
// included) is inherited so that it runs on the same device.
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <mutex>
#include <new>
#include <string>
#include <thread>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/beneath.h"
#include "platform/posix/device.h"
#include "platform/posix/error.h"
#include "platform/posix/object.h"
#include "platform/posix/start_record.h"
#include "platform/posix/text.h"

extern char** environ;

namespace plat {
namespace {

int OpenPidfd(pid_t pid) {
#ifdef SYS_pidfd_open
  const long fd = syscall(SYS_pidfd_open, pid, 0);
  if (fd >= 0) {
    fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
    return static_cast<int>(fd);
  }
#else
  (void)pid;
#endif
  return -1;
}

class ProcessObject : public Object {
 public:
  explicit ProcessObject(pid_t pid) : pid_(pid), pidfd_(OpenPidfd(pid)) {}

  // A handle closed before its program ended leaves a reaper behind, so that the
  // program does not linger as a zombie for the rest of this process's life.
  ~ProcessObject() override {
    if (pidfd_ >= 0) close(pidfd_);
    std::lock_guard<std::mutex> hold(lock_);
    if (reaped_ || TryReap(WNOHANG)) return;
    const pid_t pid = pid_;
    std::thread([pid] {
      while (waitpid(pid, nullptr, 0) < 0 && errno == EINTR) {
      }
    }).detach();
  }

  std::uint32_t Wait(std::uint32_t timeoutMs) override {
    const posix::Deadline deadline(timeoutMs);
    if (pidfd_ >= 0) {
      for (;;) {
        pollfd p{pidfd_, POLLIN, 0};
        const int r = poll(&p, 1, deadline.RemainingMs());
        if (r > 0) break;
        if (r == 0) return kWaitTimeout;
        if (errno != EINTR) {
          posix::SetErrorFromErrno(errno);
          return kWaitFailed;
        }
      }
      std::lock_guard<std::mutex> hold(lock_);
      return reaped_ || TryReap(0) ? kWaitObject0 : kWaitFailed;
    }
    // Without pidfd: poll waitpid() in short steps until the deadline.
    for (;;) {
      {
        std::lock_guard<std::mutex> hold(lock_);
        if (reaped_ || TryReap(deadline.infinite() ? 0 : WNOHANG)) return kWaitObject0;
      }
      if (deadline.Passed()) return kWaitTimeout;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }

 private:
  // Reaps the child; true once it has ended. Caller holds lock_.
  bool TryReap(int options) {
    for (;;) {
      const pid_t r = waitpid(pid_, nullptr, options);
      if (r == pid_ || (r < 0 && errno == ECHILD)) {
        reaped_ = true;
        return true;
      }
      if (r < 0 && errno == EINTR) continue;
      return false;
    }
  }

  pid_t pid_;
  int pidfd_;
  std::mutex lock_;
  bool reaped_ = false;
};

// Checks that a device file can be run as a program, opening it beneath the root
// without following links; 0 or a device error code.
std::uint32_t CheckExecutable(const posix::HostPath& host) {
  posix::Fd fd(posix::OpenMapped(host, O_RDONLY | O_NONBLOCK));
  if (!fd) return posix::PathError(host, errno);
  struct stat st {};
  if (fstat(fd.get(), &st) != 0 || !S_ISREG(st.st_mode)) return kErrorAccessDenied;
  char magic[4] = {};
  const ssize_t n = read(fd.get(), magic, sizeof magic);
  const bool elf = n == 4 && magic[0] == 0x7F && magic[1] == 'E' && magic[2] == 'L' && magic[3] == 'F';
  const bool script = n >= 2 && magic[0] == '#' && magic[1] == '!';
  if (!elf && !script) return kErrorBadExeFormat;
  if (access(host.Full().c_str(), X_OK) != 0) return kErrorAccessDenied;
  return 0;
}

}  // namespace

Object* ProcessStart(const char16_t* application, const char16_t* commandLine) try {
  posix::HostPath mapped;
  std::uint32_t error = posix::MapPath(application, &mapped);
  if (error == 0) error = CheckExecutable(mapped);
  if (error != 0) {
    SetLastErrorCode(error);
    return nullptr;
  }
  // Started by its path, just checked to hold no link; a script's interpreter
  // needs a path it can open, so a descriptor cannot stand in for it.
  std::string host = mapped.Full();
  std::string argument;
  char* argv[3] = {host.data(), nullptr, nullptr};
  if (commandLine != nullptr) {
    argument = posix::ToUtf8Lenient(commandLine);
    argv[1] = argument.data();
  }
  pid_t pid = 0;
  // Nothing but the standard streams is handed on, as the device starts programs
  // without handle inheritance. Closing the rest before the program is loaded
  // also closes the window in which a child still holds descriptors that are
  // only marked close-on-exec, a named mutex's lock among them, after this call
  // has returned.
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);
  const int spawned = posix_spawn(&pid, host.c_str(), &actions, nullptr, argv, environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) {
    posix::SetErrorFromErrno(spawned);
    return nullptr;
  }
  posix::RecordStart(application, commandLine);
  return new ProcessObject(pid);
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<Object*>(nullptr));
}

}  // namespace plat
