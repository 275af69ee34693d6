// Registry operations of the device simulator, over the registry database of
// the device folder named by BRIX_DEVICE.
//
// Writes are grouped: the first key opened starts a write transaction, and it
// is committed once no key is open any more, so that the values a program
// sets between opening and closing a key reach the database together, never
// half. Keys opened and closed in quick succession (an import) share one
// commit: the transaction is committed when the last key closes only once it
// is kBatchWindow old; otherwise a flusher thread commits it when the window
// ends, unless another key has been opened by then. Other processes thus wait
// at most about one window for the write lock, and a killed program loses at
// most its last window of closed keys, whole keys only.
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>

#include "platform/platform.h"
#include "platform/posix/diagnostics.h"
#include "platform/posix/registry.h"
#include "platform/posix/regstore/store.h"
#include "platform/wstr.h"

namespace plat {
namespace {

// Handles are small multiples of four, far below the root constants.
constexpr RegKey kFirstHandle = 0x1000;
constexpr RegKey kHandleStep = 4;
constexpr RegKey kHandleLimit = 0x7FFF0000;

constexpr std::chrono::milliseconds kBatchWindow(100);

using Clock = std::chrono::steady_clock;

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

void Report(const char* what, const std::string& message) {
  posix::Diagnose(std::string("registry: ") + what + message);
}

struct State {
  std::unique_ptr<regstore::Store> store;
  std::map<RegKey, regstore::KeyId> handles;
  RegKey next = kFirstHandle;
  Clock::time_point batchStart;
  std::thread flusher;
  std::condition_variable wake;
  bool stopping = false;

  ~State() { Close(); }

  // Called without the lock held: the flusher needs it to finish.
  void Close() {
    {
      std::lock_guard<std::mutex> guard(Lock());
      stopping = true;
    }
    wake.notify_all();
    if (flusher.joinable()) flusher.join();
    std::lock_guard<std::mutex> guard(Lock());
    // A program that ends without closing its keys still keeps what it wrote.
    if (store != nullptr && store->InTransaction() && store->Commit() != regstore::kOk)
      Report("commit failed: ", store->LastMessage());
    store.reset();
    handles.clear();
    next = kFirstHandle;
    stopping = false;
  }

  // Commits an idle batch once its window has passed.
  void FlushLoop() {
    std::unique_lock<std::mutex> lock(Lock());
    while (!stopping) {
      if (store != nullptr && store->InTransaction() && handles.empty()) {
        const Clock::time_point due = batchStart + kBatchWindow;
        if (Clock::now() < due) {
          wake.wait_until(lock, due);
        } else if (store->Commit() != regstore::kOk) {
          Report("commit failed: ", store->LastMessage());
        }
      } else {
        wake.wait(lock);
      }
    }
  }
};

State& Registry() {
  // The mutex is made first so that it outlives the state, whose destructor takes it.
  Lock();
  static State state;
  return state;
}

std::int32_t Fail(std::uint32_t code) {
  SetLastErrorCode(code);
  return static_cast<std::int32_t>(code);
}

// Opens the database on first use; false when there is no device or it cannot be opened.
bool EnsureOpen(State& state) {
  if (state.store != nullptr) return true;
  const char* dir = std::getenv("BRIX_DEVICE");
  if (dir == nullptr || *dir == 0) {
    Report("BRIX_DEVICE is not set", "");
    return false;
  }
  std::string error;
  state.store = regstore::Store::Open(dir, &error);
  if (state.store == nullptr) Report("", error);
  return state.store != nullptr;
}

// The key id behind a root constant or an open handle; 0 when it is neither.
regstore::KeyId Resolve(const State& state, RegKey key) {
  if (key <= 0xFFFFFFFFu) {
    if (const regstore::KeyId root = regstore::Store::RootKey(static_cast<std::uint32_t>(key)); root != 0) return root;
  }
  const auto found = state.handles.find(key);
  return found == state.handles.end() ? 0 : found->second;
}

RegKey NewHandle(State& state) {
  for (;;) {
    const RegKey handle = state.next;
    state.next = state.next + kHandleStep >= kHandleLimit ? kFirstHandle : state.next + kHandleStep;
    if (state.handles.find(handle) == state.handles.end()) return handle;
  }
}

// Starts a write batch unless one is open.
std::uint32_t BeginBatch(State& state) {
  if (state.store->InTransaction()) return regstore::kOk;
  state.batchStart = Clock::now();
  return state.store->Begin();
}

// Ends the write batch once no key is open any more: at once when its window
// has passed, otherwise through the flusher when the window ends.
std::uint32_t CommitWhenIdle(State& state) {
  if (!state.handles.empty() || !state.store->InTransaction()) return regstore::kOk;
  if (Clock::now() - state.batchStart >= kBatchWindow) return state.store->Commit();
  if (!state.flusher.joinable()) state.flusher = std::thread([&state] { state.FlushLoop(); });
  state.wake.notify_all();
  return regstore::kOk;
}

std::u16string_view View(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text, wstr::Len(text));
}

}  // namespace

std::int32_t RegKeyCreate(RegKey root, const char16_t* subKey, std::uint32_t /*access*/, RegKey* key,
                          std::uint32_t* disposition) {
  if (key == nullptr) return Fail(regstore::kErrorInvalidParameter);
  std::lock_guard<std::mutex> guard(Lock());
  State& state = Registry();
  if (!EnsureOpen(state)) return Fail(regstore::kErrorRegistryIoFailed);
  const regstore::KeyId parent = Resolve(state, root);
  if (parent == 0) return Fail(regstore::kErrorInvalidHandle);
  if (const std::uint32_t r = BeginBatch(state); r != regstore::kOk) return Fail(r);
  regstore::KeyId id = 0;
  bool created = false;
  if (const std::uint32_t r = state.store->CreateKey(parent, View(subKey), &id, &created); r != regstore::kOk) {
    if (state.handles.empty()) state.store->Rollback();
    return Fail(r);
  }
  const RegKey handle = NewHandle(state);
  state.handles[handle] = id;
  *key = handle;
  if (disposition != nullptr) *disposition = created ? 1 : 2;
  return 0;
}

std::int32_t RegValueSet(RegKey key, const char16_t* name, std::uint32_t type, const void* data,
                         std::uint32_t size) {
  if (data == nullptr && size != 0) return Fail(regstore::kErrorInvalidParameter);
  std::lock_guard<std::mutex> guard(Lock());
  State& state = Registry();
  if (!EnsureOpen(state)) return Fail(regstore::kErrorRegistryIoFailed);
  const regstore::KeyId id = Resolve(state, key);
  if (id == 0) return Fail(regstore::kErrorInvalidHandle);
  if (const std::uint32_t r = BeginBatch(state); r != regstore::kOk) return Fail(r);
  const std::string_view bytes(static_cast<const char*>(data), size);
  std::uint32_t result = state.store->SetValue(id, View(name), type, size == 0 ? std::string_view() : bytes);
  if (result != regstore::kOk) {
    if (state.handles.empty()) state.store->Rollback();
    return Fail(result);
  }
  // A value set on a root while no key is open is a batch of its own.
  result = CommitWhenIdle(state);
  return result == regstore::kOk ? 0 : Fail(result);
}

std::int32_t RegKeyClose(RegKey key) {
  std::lock_guard<std::mutex> guard(Lock());
  State& state = Registry();
  if (key <= 0xFFFFFFFFu && regstore::Store::RootKey(static_cast<std::uint32_t>(key)) != 0) return 0;
  const auto found = state.handles.find(key);
  if (found == state.handles.end()) return Fail(regstore::kErrorInvalidHandle);
  state.handles.erase(found);
  const std::uint32_t result = CommitWhenIdle(state);
  return result == regstore::kOk ? 0 : Fail(result);
}

namespace posix {

void RegistryReset() { Registry().Close(); }

}  // namespace posix
}  // namespace plat
