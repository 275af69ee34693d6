// Control and inspection of the in-memory fake backend, for unit tests.
// The fake keeps a device file system, registry, libraries and programs in
// memory, records every platform call in order, and can be told to make any
// call fail with a given last-error code. The call log, failures and debug text
// are implemented in fake.cc; the controls of files, registry and programs
// beside the services they control (files.cc, registry.cc, system.cc).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat::fake {

// One recorded platform call.
struct Call {
  std::string op;          // operation name as in platform.h, e.g. "FileWrite", "MakeDirectory"
  std::u16string text;     // first text argument: path, pattern, name, window text ("" when none)
  std::u16string text2;    // second text argument: command line, value name ("" when none)
  std::int64_t number = 0; // byte count, time-out, identifier or value type (0 when none)
  bool hasText2 = false;   // false when the second text argument was a null pointer
  bool ok = true;          // whether the call succeeded
};

// A failure to inject: calls of op (whose first text argument equals path, case-insensitively,
// when path is set) fail with error. occurrence 0: every such call from now on; N: only the Nth.
struct Failure {
  std::string op;
  std::uint32_t error = 0;
  int occurrence = 0;
  std::u16string path;
};

// A program the fake can start: receives the command line (nullopt when none) and
// returns its exit code. It runs synchronously inside ProcessStart.
using Program = std::function<std::uint32_t(const std::optional<std::u16string>& commandLine)>;

// Resets everything: empty device with a root folder, no calls, no failures, default module path.
void Reset();
// Stops recording calls and injecting failures until the next Reset, so that a benchmark
// measures the programs rather than this fake's bookkeeping.
void PauseCallRecording();
// Sets the path of the running executable (default "\\Windows\\BrixCopy.exe").
void SetModulePath(const std::u16string& path);

// Creates a file with the given bytes (missing parent folders are created too).
void AddFile(const std::u16string& path, const std::string& bytes);
// Creates a folder and its missing parents.
void AddDirectory(const std::u16string& path);
// The bytes of a file, or nullopt when there is no such file.
std::optional<std::string> FileContents(const std::u16string& path);
// True when a folder of that name exists.
bool IsDirectory(const std::u16string& path);
// Every file and folder path on the device, sorted, folders ending in "\\".
std::vector<std::u16string> ListTree();

// Registers a loadable library at path; exports maps export names to functions.
void AddLibrary(const std::u16string& path, const std::map<std::u16string, ExportProc>& exports);
// Registers a startable program at path (the file is created too).
void AddProgram(const std::u16string& path, Program program);
// Makes the next named-mutex creation of name report that the name already existed.
void SetMutexHeldElsewhere(const std::u16string& name);
// The first n waits with a finite time-out on thread handles report a time-out without waiting.
void SetThreadWaitTimeouts(int n);

// Adds a failure to inject.
void InjectFailure(const Failure& failure);

// Every call recorded since Reset, in order.
const std::vector<Call>& Calls();
// Only the recorded calls of op, in order.
std::vector<Call> CallsOf(const std::string& op);
// All debug output text since Reset, concatenated.
std::u16string DebugText();
// Debug output since Reset as UTF-8.
std::string DebugTextUtf8();

// Registry contents: one entry per value.
struct RegValue {
  std::uint32_t type = 0;
  std::string data;
};
// The value name under key path (e.g. "HKEY_LOCAL_MACHINE\\Software\\A"), or nullopt.
std::optional<RegValue> GetRegValue(const std::u16string& keyPath, const std::u16string& name);
// True when the key exists (root names as "HKEY_LOCAL_MACHINE" etc.).
bool RegKeyExists(const std::u16string& keyPath);

}  // namespace plat::fake
