// The installer runs as its own process on the device, exactly as on the
// command line; brixdev only prepares the device before and compares it after.
// Which programs were started comes from the simulator's start record.
#include "brixdev/commands/try_command.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <limits.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>
#include <vector>

#include "brixdev/checks/diagnostics.h"
#include "brixdev/device/change_report.h"
#include "brixdev/device/device_folder.h"
#include "brixdev/device/install_failures.h"
#include "brixdev/text.h"

extern char** environ;

namespace brixdev {
namespace {

// A temporary folder or file, removed when it goes.
class Scratch {
 public:
  ~Scratch() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  bool MakeFolder(std::string* error) { return Make(true, error); }
  bool MakeFile(std::string* error) { return Make(false, error); }
  const std::string& path() const { return path_; }

 private:
  bool Make(bool folder, std::string* error) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp != nullptr && *tmp != 0 ? tmp : "/tmp") + "/brixdev-try-XXXXXX";
    const bool made = folder ? mkdtemp(pattern.data()) != nullptr : [&] {
      const int fd = mkstemp(pattern.data());
      if (fd >= 0) close(fd);
      return fd >= 0;
    }();
    if (!made) {
      *error = "cannot create a temporary file in " + pattern;
      return false;
    }
    path_ = pattern;
    return true;
  }
  std::string path_;
};

// Set by a signal that would end brixdev while the installer runs.
volatile std::sig_atomic_t g_stopSignal = 0;
extern "C" void NoteStopSignal(int signal) { g_stopSignal = signal; }

// Catches the signals that end a program from the terminal or a job control
// while it lives, and puts the old handlers back when it goes.
class StopSignals {
 public:
  StopSignals() {
    g_stopSignal = 0;
    struct sigaction action {};
    action.sa_handler = NoteStopSignal;
    sigemptyset(&action.sa_mask);
    for (std::size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &action, &old_[i]);
  }
  ~StopSignals() {
    for (std::size_t i = 0; i < kCount; ++i) sigaction(kSignals[i], &old_[i], nullptr);
  }
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

 private:
  static constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
  static constexpr std::size_t kCount = sizeof kSignals / sizeof kSignals[0];
  struct sigaction old_[kCount] {};
};

struct RunResult {
  int status = -1;       // the wait status, or -1 when the program could not be started or waited for
  bool timedOut = false;  // stopped after the time-out
  int stopSignal = 0;     // brixdev itself was told to stop by this signal while waiting
};

// Ends the process group of pid, the programs it started included, and reaps pid.
int StopGroup(pid_t pid) {
  kill(-pid, SIGKILL);
  int status = 0;
  while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
  }
  return status;
}

// Runs program with the environment plus extra, its stderr into errorFile, in
// a process group of its own so that it can be stopped with every program it
// starts; waits at most timeoutSeconds (0: no limit).
RunResult Spawn(const std::string& program, const std::vector<std::string>& extra, const std::string& errorFile,
                unsigned timeoutSeconds) {
  std::vector<std::string> envStore;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    bool replaced = false;
    for (const std::string& x : extra) replaced = replaced || entry.compare(0, x.find('=') + 1, x, 0, x.find('=') + 1) == 0;
    if (!replaced) envStore.push_back(entry);
  }
  envStore.insert(envStore.end(), extra.begin(), extra.end());
  std::vector<char*> envp;
  for (std::string& e : envStore) envp.push_back(e.data());
  envp.push_back(nullptr);
  std::string argv0 = program;
  char* argv[] = {argv0.data(), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  // A file, not a pipe: programs the installer starts may outlive it and hold its stderr.
  posix_spawn_file_actions_addopen(&actions, 2, errorFile.c_str(), O_WRONLY | O_TRUNC, 0);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  RunResult result;
  StopSignals signals;
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, program.c_str(), &actions, &attributes, argv, envp.data());
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  if (spawned != 0) return result;
  // Polled rather than blocked on, so that a time-out and a stop signal are
  // seen within a few milliseconds whatever the installer does.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(timeoutSeconds);
  for (;;) {
    int status = 0;
    const pid_t ended = waitpid(pid, &status, WNOHANG);
    if (ended == pid) {
      result.status = status;
      return result;
    }
    if (ended < 0 && errno != EINTR) return result;
    if (g_stopSignal != 0) {
      result.stopSignal = g_stopSignal;
      result.status = StopGroup(pid);
      return result;
    }
    if (timeoutSeconds != 0 && std::chrono::steady_clock::now() >= deadline) {
      result.timedOut = true;
      result.status = StopGroup(pid);
      return result;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

// Puts the installer and the package on the device; false with *error.
bool PlacePackage(const TryRequest& request, const std::string& root, std::vector<std::string>* notes, std::string* error) {
  Placed placed;
  if (!Place(request.installer, HostPathFor(root, request.at + u"\\BrixCopy.exe"), &placed, error)) return false;
  if (!Place(request.package, HostPathFor(root, request.at + u"\\BrixCopy"), &placed, error)) return false;
  for (const auto& [target, source] : placed.files) {
    if (!SameIgnoringCase(Utf16(target.substr(target.rfind('/') + 1)), u"Brixparse.exe")) continue;
    if (source == request.installer) continue;
    Placed importer;
    if (!Place(request.importer, target, &importer, error)) return false;
    notes->push_back("the package's " + source + " is replaced by the simulator's importer: the simulated device runs host programs only");
  }
  for (const std::string& skipped : placed.skipped)
    notes->push_back("not placed on the device, being neither file nor folder: " + skipped);
  return true;
}

}  // namespace

int RunTry(const TryRequest& request, std::string* out, std::string* err) {
  if (!IsHostFolder(request.package) || !IsHostFile(HostPathFor(request.package, u"BrixCopy.inf"))) {
    *err = "brixdev: no package: " + request.package + " is no folder holding BrixCopy.inf\n";
    return 2;
  }
  for (const std::string& program : {request.installer, request.importer}) {
    if (!IsHostFile(program)) {
      *err = "brixdev: the simulator's program " + program + " is missing; build it first\n";
      return 2;
    }
  }
  Scratch fresh, record, debug;
  std::string error;
  std::string dir = request.device;
  if (dir.empty()) {
    if (!fresh.MakeFolder(&error) || !CreateDevice(fresh.path(), request.importer, &error)) {
      *err = "brixdev: " + error + "\n";
      return 2;
    }
    dir = fresh.path();
  } else if (access(dir.c_str(), F_OK) != 0 || IsEmptyFolder(dir)) {
    if (!CreateDevice(dir, request.importer, &error)) {
      *err = "brixdev: " + error + "\n";
      return 2;
    }
  } else if (!IsHostFolder(dir + "/fs")) {
    *err = "brixdev: no device folder: " + dir + " holds no fs/\n";
    return 2;
  }
  const std::string root = dir + "/fs";
  std::vector<std::string> notes;
  FileSnapshot filesBefore, filesAfter;
  RegistrySnapshot registryBefore, registryAfter;
  if (!PlacePackage(request, root, &notes, &error) || !record.MakeFile(&error) || !debug.MakeFile(&error) ||
      !SnapshotFiles(root, &filesBefore, &error) || !SnapshotRegistry(dir, &registryBefore, &error)) {
    *err = "brixdev: " + error + "\n";
    return 2;
  }
  if (IsHostFile(HostPathFor(root, u"\\Temp\\brixcopy.log")))
    notes.push_back("the installer ran on this device before (\\Temp\\brixcopy.log exists): this start only counts");
  unlink(record.path().c_str());
  const RunResult run = Spawn(HostPathFor(root, request.at + u"\\BrixCopy.exe"),
                              {"BRIX_DEVICE=" + Absolute(dir), "BRIX_START_RECORD=" + record.path()}, debug.path(),
                              request.timeoutSeconds);
  if (run.stopSignal != 0) {
    *err = "brixdev: stopped by signal " + std::to_string(run.stopSignal) +
           ", with the installer and every program it started\n";
    return 128 + run.stopSignal;
  }
  const int status = run.status;
  if (!SnapshotFiles(root, &filesAfter, &error) || !SnapshotRegistry(dir, &registryAfter, &error)) {
    *err = "brixdev: " + error + "\n";
    return 2;
  }
  Changes changes = Compare(filesBefore, filesAfter, registryBefore, registryAfter);
  changes.started = ReadStartRecord(record.path());
  const std::string debugText = ReadAll(debug.path());
  const bool normal = status >= 0 && WIFEXITED(status);
  if (run.timedOut)
    notes.push_back("the installer had not ended after " + std::to_string(request.timeoutSeconds) +
                    " s: it was stopped, with every program it started; the changes up to then follow");
  else if (!normal)
    notes.push_back("the installer did not end normally");
  else if (WEXITSTATUS(status) != 0) notes.push_back("the installer exited with " + std::to_string(WEXITSTATUS(status)));
  const std::vector<Failure> failures = FailuresIn(debugText);
  const std::string summary = FailureSummary(failures);
  if (request.json) {
    std::string noteList = "[";
    for (std::size_t i = 0; i < notes.size(); ++i) noteList += (i ? ", " : "") + JsonString(notes[i]);
    std::string failureList = "[";
    for (std::size_t i = 0; i < failures.size(); ++i) {
      failureList += (i ? ", " : "") + std::string("{\"kind\": \"") + FailureWord(failures[i].kind) +
                     "\", \"message\": " + JsonString(failures[i].message) + "}";
    }
    *out = "{\"device\": " + (request.device.empty() ? std::string("null") : JsonString(request.device)) +
           ",\n  \"notes\": " + noteList + "],\n  \"debug\": " + JsonString(debugText) + ",\n  " + ChangesJson(changes) +
           ",\n  \"failures\": " + failureList + "],\n  \"summary\": " +
           (summary.empty() ? std::string("null") : JsonString(summary)) + "\n}\n";
  } else {
    *out = notes.empty() ? "" : "=== Notes\n";
    for (const std::string& note : notes) *out += note + "\n";
    *out += "=== Debug output\n" + debugText;
    if (!debugText.empty() && debugText.back() != '\n') *out += "\n";
    *out += ChangesText(changes);
    if (!summary.empty()) *out += "=== Failed: " + summary + "\n";
  }
  // A clean install only: the installer ended by itself and reported no failure.
  return normal && WEXITSTATUS(status) == 0 && failures.empty() ? 0 : 1;
}

}  // namespace brixdev
