// The fake's modules, libraries, programs, threads, waits and named mutexes.
#include <chrono>

#include "platform/fake/state.h"

namespace plat::fake::internal {

namespace {

constexpr std::uint32_t kErrorInvalidParameter = 87;
constexpr std::uint32_t kErrorInsufficientBuffer = 122;

template <typename T>
T* Lookup(std::map<const void*, std::unique_ptr<T>>& handles, const T* handle) {
  auto it = handles.find(handle);
  return it == handles.end() ? nullptr : it->second.get();
}

// Whether a file exists at path, looked up like the file system does.
bool FileExists(Data& d, std::u16string_view path) {
  const std::vector<std::u16string> parts = SplitPath(path);
  if (parts.empty()) return false;
  Node* node = d.root.get();
  for (const std::u16string& part : parts) {
    if (!node->dir) return false;
    auto it = node->children.find(Fold(part));
    if (it == node->children.end()) return false;
    node = it->second.get();
  }
  return !node->dir;
}

Object* AddObject(Data& d, std::unique_ptr<Object> object) {
  Object* raw = object.get();
  d.objects[raw] = std::move(object);
  return raw;
}

}  // namespace

}  // namespace plat::fake::internal

namespace plat {

using namespace fake::internal;

std::uint32_t ModuleFileName(char16_t* buffer, std::uint32_t capacity) {
  FakeCall c("ModuleFileName");
  c.call().number = capacity;
  const std::u16string path = c.data().modulePath;
  if (const std::uint32_t e = c.Start(path)) return c.Fail(e), 0;
  if (buffer == nullptr) return c.Fail(kErrorInvalidParameter), 0;
  // A path that does not fit is refused whole rather than cut short.
  if (path.size() + 1 > capacity) return c.Fail(kErrorInsufficientBuffer), 0;
  std::copy(path.begin(), path.end(), buffer);
  buffer[path.size()] = 0;
  return static_cast<std::uint32_t>(path.size());
}

Module* LibraryLoad(const char16_t* path) {
  FakeCall c("LibraryLoad");
  if (const std::uint32_t e = c.Start(View(path))) return c.Fail(e), nullptr;
  if (path == nullptr) return c.Fail(kErrorInvalidParameter), nullptr;
  Data& d = c.data();
  if (!FileExists(d, path)) return c.Fail(kErrorModNotFound), nullptr;
  auto it = d.libraries.find(PathKey(path));
  if (it == d.libraries.end()) return c.Fail(kErrorBadExeFormat), nullptr;
  auto module = std::make_unique<Module>();
  module->path = path;
  module->exports = it->second;
  Module* raw = module.get();
  d.modules[raw] = std::move(module);
  return raw;
}

ExportProc LibraryExport(Module* library, const char16_t* name) {
  FakeCall c("LibraryExport");
  if (const std::uint32_t e = c.Start(View(name))) return c.Fail(e), nullptr;
  Module* m = Lookup(c.data().modules, library);
  if (m == nullptr) return c.Fail(kErrorInvalidHandle), nullptr;
  c.call().text2 = m->path;
  c.call().hasText2 = true;
  if (name == nullptr) return c.Fail(kErrorProcNotFound), nullptr;
  auto it = m->exports.find(name);
  if (it == m->exports.end() || it->second == nullptr) return c.Fail(kErrorProcNotFound), nullptr;
  return it->second;
}

bool LibraryFree(Module* library) {
  FakeCall c("LibraryFree");
  Data& d = c.data();
  Module* m = Lookup(d.modules, library);
  const std::uint32_t e = c.Start(m != nullptr ? m->path : u"");
  if (m == nullptr) return c.Fail(kErrorInvalidHandle), false;
  d.modules.erase(library);
  if (e != 0) return c.Fail(e), false;
  return true;
}

Object* ProcessStart(const char16_t* application, const char16_t* commandLine) {
  FakeCall c("ProcessStart");
  c.call().text2 = View(commandLine);
  c.call().hasText2 = commandLine != nullptr;
  if (const std::uint32_t e = c.Start(View(application))) return c.Fail(e), nullptr;
  if (application == nullptr) return c.Fail(kErrorInvalidParameter), nullptr;
  Data& d = c.data();
  auto it = d.programs.find(PathKey(application));
  if (it == d.programs.end()) return c.Fail(kErrorFileNotFound), nullptr;
  const fake::Program program = it->second;
  c.RecordNow();
  std::optional<std::u16string> line;
  if (commandLine != nullptr) line = commandLine;
  // The program runs without the lock: it may use the fake itself.
  c.Unlock();
  const std::uint32_t exitCode = program ? program(line) : 0;
  c.Relock();
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Process;
  object->exitCode = exitCode;
  return AddObject(c.data(), std::move(object));
}

std::uint32_t WaitObject(Object* object, std::uint32_t timeoutMs) {
  FakeCall c("WaitObject");
  c.call().number = timeoutMs;
  if (const std::uint32_t e = c.Start(u"")) return c.Fail(e), kWaitFailed;
  Data& d = c.data();
  Object* o = Lookup(d.objects, object);
  if (o == nullptr) return c.Fail(kErrorInvalidHandle), kWaitFailed;
  if (o->kind != Object::Kind::Thread) return kWaitObject0;
  if (timeoutMs != kInfinite && d.threadWaitTimeouts > 0) {
    --d.threadWaitTimeouts;
    return kWaitTimeout;
  }
  const std::shared_ptr<ThreadRun> run = o->thread;
  c.Unlock();
  bool done = false;
  {
    std::unique_lock lock(run->mu);
    if (timeoutMs == kInfinite) {
      run->cv.wait(lock, [&] { return run->done; });
      done = true;
    } else {
      done = run->cv.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return run->done; });
    }
  }
  c.Relock();
  return done ? kWaitObject0 : kWaitTimeout;
}

bool ObjectClose(Object* object) {
  FakeCall c("ObjectClose");
  Data& d = c.data();
  auto it = d.objects.find(object);
  const std::uint32_t e = c.Start(it != d.objects.end() ? it->second->mutexName : u"");
  if (it == d.objects.end()) return c.Fail(kErrorInvalidHandle), false;
  std::unique_ptr<Object> owned = std::move(it->second);
  d.objects.erase(it);
  if (owned->kind == Object::Kind::Mutex) {
    auto named = d.mutexHandles.find(owned->mutexName);
    if (named != d.mutexHandles.end() && --named->second <= 0) d.mutexHandles.erase(named);
  }
  // A finished thread is joined when its handle goes: do that without the lock.
  c.Unlock();
  owned.reset();
  c.Relock();
  if (e != 0) return c.Fail(e), false;
  return true;
}

Object* ThreadStart(ThreadProc proc, void* parameter) {
  FakeCall c("ThreadStart");
  if (const std::uint32_t e = c.Start(u"")) return c.Fail(e), nullptr;
  if (proc == nullptr) return c.Fail(kErrorInvalidParameter), nullptr;
  auto run = std::make_shared<ThreadRun>();
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Thread;
  object->thread = run;
  Object* raw = AddObject(c.data(), std::move(object));
  c.RecordNow();
  c.Unlock();
  run->thread = std::thread([run, proc, parameter] {
    const std::uint32_t code = proc(parameter);
    {
      std::lock_guard lock(run->mu);
      run->exitCode = code;
      run->done = true;
    }
    run->cv.notify_all();
  });
  c.Relock();
  return raw;
}

Object* MutexCreateNamed(const char16_t* name, bool initiallyOwned) {
  FakeCall c("MutexCreateNamed");
  c.call().number = initiallyOwned ? 1 : 0;
  if (const std::uint32_t e = c.Start(View(name))) return c.Fail(e), nullptr;
  Data& d = c.data();
  const std::u16string key(View(name));
  bool existed = false;
  if (name != nullptr) {
    existed = d.mutexHandles.count(key) > 0 || d.mutexHeldElsewhere.erase(key) > 0;
    ++d.mutexHandles[key];
  }
  auto object = std::make_unique<Object>();
  object->kind = Object::Kind::Mutex;
  object->mutexName = key;
  SetLastErrorCode(existed ? kErrorAlreadyExists : 0);
  return AddObject(d, std::move(object));
}

}  // namespace plat

namespace plat::fake {

using namespace internal;

void AddLibrary(const std::u16string& path, const std::map<std::u16string, ExportProc>& exports) {
  {
    State& s = GlobalState();
    std::lock_guard lock(s.mu);
    s.data->libraries[PathKey(path)] = exports;
    if (FileExists(*s.data, path)) return;
  }
  AddFile(path, "");
}

void AddProgram(const std::u16string& path, Program program) {
  {
    State& s = GlobalState();
    std::lock_guard lock(s.mu);
    s.data->programs[PathKey(path)] = std::move(program);
    if (FileExists(*s.data, path)) return;
  }
  AddFile(path, "");
}

}  // namespace plat::fake
