// Registry operations of the device simulator, over the registry database of
// the device folder named by BRIX_DEVICE.
//
// Writes are made in transactions: the first key opened starts one, and it is
// committed when no key of it is open any more, inside the RegKeyClose that
// closes the last one, so that the values a program sets between opening and
// closing a key reach the database together or not at all, and the close
// reports whether they did. A value set on a root while no key is open is a
// transaction of its own, committed inside RegValueSet. Values set through an
// open key are handed to the store's queue, which writes them several to a
// statement (in groups, and the rest before the commit). Commits do not wait
// for the disk (the database syncs at checkpoints), which keeps a commit per
// key cheap; a killed program loses at most the key it was writing.
//
// When the database drops a transaction (disk full, I/O error), every key
// handle of it is marked lost: each further call on such a handle fails with
// the same error, its close included, so that no value is ever reported set
// that was not kept. Calls never write through a lost handle: its key may
// have gone with the transaction.
#include <cstdio>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <string_view>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/diagnostics.h"
#include "platform/posix/registry.h"
#include "platform/registry_rules.h"
#include "platform/posix/regstore/file_calls.h"
#include "platform/posix/regstore/store.h"
#include "platform/wstr.h"

namespace plat {
namespace {

// Handles are small multiples of four, far below the root constants.
constexpr RegKey kFirstHandle = 0x1000;
constexpr RegKey kHandleStep = 4;
constexpr RegKey kHandleLimit = 0x7FFF0000;

std::mutex& Lock() {
  static std::mutex mutex;
  return mutex;
}

void Report(const char* what, const std::string& message) {
  posix::Diagnose(std::string("registry: ") + what + message);
}

struct Handle {
  regstore::KeyId id = 0;
  std::uint32_t lost = 0;  // the error that dropped the handle's transaction, 0 while it stands
};

struct State {
  std::unique_ptr<regstore::Store> store;
  std::map<RegKey, Handle> handles;
  RegKey next = kFirstHandle;
  std::size_t open = 0;  // handles that belong to the transaction in progress

  ~State() { Close(); }

  void Close() {
    std::lock_guard<std::mutex> guard(Lock());
    // A program that ends without closing its keys still keeps what it wrote;
    // nobody is left to tell when that fails, so it is reported here.
    if (store != nullptr && store->InTransaction() && store->Commit() != regstore::kOk)
      Report("keys left open at the end were not stored: ", store->LastMessage());
    store.reset();
    handles.clear();
    next = kFirstHandle;
    open = 0;
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
  if (state.store == nullptr) {
    Report("", error);
    return false;
  }
  if (!state.store->Notice().empty()) Report("", state.store->Notice());
  if (state.store->ReadOnly()) Report("", regstore::Store::DatabasePath(dir) + " is read-only: every change is refused");
  return true;
}

// Ends the transaction in progress after a failure: its changes are gone, and
// so is every handle of it. Returns code, the failure to report.
std::uint32_t LoseTransaction(State& state, std::uint32_t code) {
  Report("changes not stored: ", state.store->LastMessage());
  state.store->Rollback();
  for (auto& [handle, entry] : state.handles)
    if (entry.lost == 0) entry.lost = code;
  state.open = 0;
  // A full disk may be mostly write-ahead log: moving it into the database
  // file frees room for the keys that follow.
  if (code == regstore::kErrorDiskFull) state.store->Checkpoint();
  return code;
}

// After a change failed with code: a transaction the database dropped, or one
// that no open key holds any more, is ended; otherwise it goes on.
std::uint32_t ChangeFailed(State& state, std::uint32_t code) {
  if (!state.store->InTransaction() || state.open == 0) return LoseTransaction(state, code);
  Report("", state.store->LastMessage());
  return code;
}

// Starts a transaction unless one is in progress.
std::uint32_t BeginChange(State& state) {
  if (state.store->ReadOnly()) return regstore::kErrorAccessDenied;
  if (state.store->InTransaction()) return regstore::kOk;
  state.open = 0;
  const std::uint32_t result = state.store->Begin();
  if (result != regstore::kOk) Report("", state.store->LastMessage());
  return result;
}

// Commits the transaction in progress once no key of it is open any more.
std::uint32_t EndChange(State& state) {
  if (state.open != 0 || !state.store->InTransaction()) return regstore::kOk;
  const std::uint32_t result = state.store->Commit();
  return result == regstore::kOk ? result : LoseTransaction(state, result);
}

// A lock on the database that could not be released leaves SQLite's view of
// its locks wrong, and every later transaction would wait out its retries
// (about 10 seconds) before failing. The connection is dropped instead, which
// releases every lock this process holds on the files, and opened afresh by
// the next call; a transaction in progress is lost. 0, or the error to return.
std::uint32_t RecoverLocks(State& state) {
  if (!regstore::TakeUnlockFailure() || state.store == nullptr) return 0;
  Report("a lock on the database could not be released; it is opened again", "");
  std::uint32_t lost = 0;
  if (state.store->InTransaction()) {
    lost = regstore::kErrorRegistryIoFailed;
    for (auto& [handle, entry] : state.handles)
      if (entry.lost == 0) entry.lost = lost;
    state.open = 0;
  }
  // Closing rolls back what was not committed.
  state.store.reset();
  return lost;
}

// The key behind a root constant or an open handle: 0 and *id, or the error to return.
std::uint32_t Resolve(const State& state, RegKey key, regstore::KeyId* id) {
  if (key <= 0xFFFFFFFFu) {
    if (const regstore::KeyId r = regstore::Store::RootKey(static_cast<std::uint32_t>(key)); r != 0) {
      *id = r;
      return 0;
    }
  }
  const auto found = state.handles.find(key);
  if (found == state.handles.end()) return regstore::kErrorInvalidHandle;
  *id = found->second.id;
  return found->second.lost;
}

RegKey NewHandle(State& state) {
  for (;;) {
    const RegKey handle = state.next;
    state.next = state.next + kHandleStep >= kHandleLimit ? kFirstHandle : state.next + kHandleStep;
    if (state.handles.find(handle) == state.handles.end()) return handle;
  }
}

std::u16string_view View(const char16_t* text) {
  return text == nullptr ? std::u16string_view() : std::u16string_view(text, wstr::Len(text));
}

}  // namespace

std::int32_t RegKeyCreate(RegKey root, const char16_t* subKey, std::uint32_t /*access*/, RegKey* key,
                          std::uint32_t* disposition) try {
  if (key == nullptr) return Fail(regstore::kErrorInvalidParameter);
  std::lock_guard<std::mutex> guard(Lock());
  State& state = Registry();
  if (const std::uint32_t r = RecoverLocks(state); r != 0) return Fail(r);
  if (!EnsureOpen(state)) return Fail(regstore::kErrorRegistryIoFailed);
  regstore::KeyId parent = 0;
  if (const std::uint32_t r = Resolve(state, root, &parent); r != 0) return Fail(r);
  if (const std::uint32_t r = registry_rules::CheckSubKey(View(subKey)); r != 0) return Fail(r);
  if (const std::uint32_t r = BeginChange(state); r != regstore::kOk) return Fail(r);
  regstore::KeyId id = 0;
  bool created = false;
  if (const std::uint32_t r = state.store->CreateKey(parent, View(subKey), &id, &created); r != regstore::kOk)
    return Fail(ChangeFailed(state, r));
  const RegKey handle = NewHandle(state);
  state.handles[handle] = Handle{id, 0};
  ++state.open;
  *key = handle;
  if (disposition != nullptr) *disposition = created ? 1 : 2;
  return 0;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<std::int32_t>(kErrorNotEnoughMemory));
}

std::int32_t RegValueSet(RegKey key, const char16_t* name, std::uint32_t type, const void* data,
                         std::uint32_t size) try {
  if (const std::uint32_t r = registry_rules::CheckValue(View(name), data, size); r != 0) return Fail(r);
  std::lock_guard<std::mutex> guard(Lock());
  State& state = Registry();
  if (const std::uint32_t r = RecoverLocks(state); r != 0) return Fail(r);
  if (!EnsureOpen(state)) return Fail(regstore::kErrorRegistryIoFailed);
  regstore::KeyId id = 0;
  if (const std::uint32_t r = Resolve(state, key, &id); r != 0) return Fail(r);
  if (const std::uint32_t r = BeginChange(state); r != regstore::kOk) return Fail(r);
  const std::string_view bytes = size == 0 ? std::string_view() : std::string_view(static_cast<const char*>(data), size);
  // Values set through an open key are stored in groups, at the latest by the
  // commit in the last close; a value set on a root with no key open is stored now.
  const std::uint32_t result = state.open != 0 ? state.store->QueueValue(id, View(name), type, bytes)
                                               : state.store->SetValue(id, View(name), type, bytes);
  if (result != regstore::kOk) return Fail(ChangeFailed(state, result));
  // A value set on a root while no key is open is a transaction of its own.
  if (const std::uint32_t r = EndChange(state); r != regstore::kOk) return Fail(r);
  return 0;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<std::int32_t>(kErrorNotEnoughMemory));
}

std::int32_t RegKeyClose(RegKey key) try {
  std::lock_guard<std::mutex> guard(Lock());
  State& state = Registry();
  RecoverLocks(state);
  if (key <= 0xFFFFFFFFu && regstore::Store::RootKey(static_cast<std::uint32_t>(key)) != 0) return 0;
  const auto found = state.handles.find(key);
  if (found == state.handles.end()) return Fail(regstore::kErrorInvalidHandle);
  const std::uint32_t lost = found->second.lost;
  state.handles.erase(found);
  // The changes of a lost handle are gone: its close says so once more.
  if (lost != 0) return Fail(lost);
  --state.open;
  if (const std::uint32_t r = EndChange(state); r != regstore::kOk) return Fail(r);
  return 0;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<std::int32_t>(kErrorNotEnoughMemory));
}

namespace posix {

void RegistryReset() { Registry().Close(); }

}  // namespace posix
}  // namespace plat
