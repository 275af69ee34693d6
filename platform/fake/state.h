// Private to the in-memory fake backend: its state, handle types and the helper
// every fake operation uses to lock, inject failures and record itself.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/backend.h"
#include "platform/fake/fake.h"
#include "platform/platform.h"

namespace plat::fake::internal {

// A file or folder of the device. Children are keyed by their folded name.
struct Node {
  std::u16string name;
  bool dir = false;
  std::string data;
  std::map<std::u16string, std::unique_ptr<Node>> children;
  int sharedOpens = 0;
  int exclusiveOpens = 0;
};

// A registry key. Subkeys and values are keyed by folded name; path is as created.
struct RegNode {
  std::u16string path;
  std::map<std::u16string, std::unique_ptr<RegNode>> keys;
  std::map<std::u16string, std::pair<std::u16string, RegValue>> values;
};

// A started thread; shared by its handle and the running thread itself.
struct ThreadRun {
  ~ThreadRun();
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  std::uint32_t exitCode = 0;
  std::thread thread;
};

struct Injection {
  Failure failure;
  int seen = 0;
};

// Everything Reset replaces.
struct Data {
  Data();
  std::unique_ptr<Node> root;
  std::vector<Call> calls;
  std::u16string debug;
  std::vector<Injection> injections;
  std::u16string modulePath = u"\\Windows\\BrixCopy.exe";
  std::map<std::u16string, std::map<std::u16string, ExportProc>> libraries;  // by folded path
  std::map<std::u16string, Program> programs;                               // by folded path
  std::set<std::u16string> mutexHeldElsewhere;
  std::map<std::u16string, int> mutexHandles;  // open handles per mutex name
  int threadWaitTimeouts = 0;
  std::map<const void*, std::unique_ptr<File>> files;
  std::map<const void*, std::unique_ptr<Find>> finds;
  std::map<const void*, std::unique_ptr<Module>> modules;
  std::map<const void*, std::unique_ptr<Object>> objects;
  std::map<const void*, std::unique_ptr<Window>> windows;
  std::unique_ptr<DialogTemplate> dialogTemplate;
  std::unique_ptr<RegNode> regRoots[3];
  std::map<RegKey, RegNode*> regKeys;
  RegKey nextRegKey = 0x1000;
  bool recording = true;  // false after PauseCallRecording, until the next Reset
};

// The state lock and the current Data; Reset swaps in a fresh Data.
struct State {
  std::mutex mu;
  std::unique_ptr<Data> data;
};
State& GlobalState();

// ASCII case folding, enough for device names.
std::u16string Fold(std::u16string_view s);
bool EqualFolded(std::u16string_view a, std::u16string_view b);
// The elements of a device path; runs of backslashes count as one, relative paths start at the root.
std::vector<std::u16string> SplitPath(std::u16string_view path);
// A folded, normalised key for a path: "\\a\\b".
std::u16string PathKey(std::u16string_view path);
// Text of a possibly null pointer.
inline std::u16string_view View(const char16_t* s) { return s != nullptr ? s : u""; }

// One fake operation in progress: holds the state lock, decides injected failures once
// the operation's text is known (Start), and records the call when it ends. Calls made by the shared stream layer on its own behalf
// (inside an observed stream operation) are internal: neither recorded nor failed.
class FakeCall {
 public:
  explicit FakeCall(const char* op);
  ~FakeCall();
  FakeCall(const FakeCall&) = delete;
  FakeCall& operator=(const FakeCall&) = delete;

  Data& data() { return *GlobalState().data; }
  Call& call() { return call_; }
  // Sets the first text argument and returns the injected error to fail with, or 0.
  std::uint32_t Start(std::u16string_view text);
  // Marks the call failed and sets the thread's last error.
  void Fail(std::uint32_t error);
  // Records the call now rather than at the end (for calls that run other code inside).
  void RecordNow();
  // Releases and retakes the state lock around code that may call back into the fake.
  void Unlock() { lock_.unlock(); }
  void Relock() { lock_.lock(); }

 private:
  std::unique_lock<std::mutex> lock_;
  Call call_;
  bool record_;
};

// Injection check for op and text; counts the call towards every matching injection.
std::uint32_t CheckInjection(Data& data, const std::string& op, std::u16string_view text);

}  // namespace plat::fake::internal

// Handle types of the fake backend.
namespace plat {

struct File {
  fake::internal::Node* node = nullptr;
  std::u16string path;
  backend::Access access = backend::Access::Read;
  bool exclusive = true;
  std::size_t pos = 0;
};

struct Find {
  std::u16string pattern;
  std::vector<std::pair<std::u16string, bool>> matches;  // name, is folder
  std::size_t next = 0;
};

struct Module {
  std::u16string path;
  std::map<std::u16string, ExportProc> exports;
};

struct Object {
  enum class Kind { Thread, Process, Mutex } kind = Kind::Process;
  std::shared_ptr<fake::internal::ThreadRun> thread;
  std::u16string mutexName;
  std::uint32_t exitCode = 0;
};

struct Window {
  Window* parent = nullptr;
  int id = 0;
  std::u16string text;
};

struct DialogTemplate {
  int id = 0;
};

}  // namespace plat
