#include "tests/platform/posix/regstore/fault_vfs.h"

#include <sqlite3.h>

#include <atomic>
#include <cstring>

namespace regtest {
namespace {

std::atomic<std::int64_t> budget{-1};  // bytes left before writes fail; -1: no limit
std::atomic<std::int64_t> refused{0};

sqlite3_vfs* real = nullptr;
sqlite3_vfs faultVfs;

// The wrapper's file: the real file's methods behind it.
struct FaultFile {
  sqlite3_file base;
  sqlite3_file* inner;
};

sqlite3_file* Inner(sqlite3_file* f) { return reinterpret_cast<FaultFile*>(f)->inner; }

bool Spend(std::int64_t amount) {
  std::int64_t left = budget.load();
  for (;;) {
    if (left < 0) return true;
    if (amount > left) {
      ++refused;
      return false;
    }
    if (budget.compare_exchange_weak(left, left - amount)) return true;
  }
}

int Write(sqlite3_file* f, const void* data, int amount, sqlite3_int64 offset) {
  if (!Spend(amount)) return SQLITE_FULL;
  return Inner(f)->pMethods->xWrite(Inner(f), data, amount, offset);
}

// Every other method passes straight through.
int Close(sqlite3_file* f) { return Inner(f)->pMethods->xClose(Inner(f)); }
int Read(sqlite3_file* f, void* data, int amount, sqlite3_int64 offset) {
  return Inner(f)->pMethods->xRead(Inner(f), data, amount, offset);
}
int Truncate(sqlite3_file* f, sqlite3_int64 size) { return Inner(f)->pMethods->xTruncate(Inner(f), size); }
int Sync(sqlite3_file* f, int flags) { return Inner(f)->pMethods->xSync(Inner(f), flags); }
int FileSize(sqlite3_file* f, sqlite3_int64* size) { return Inner(f)->pMethods->xFileSize(Inner(f), size); }
int LockFile(sqlite3_file* f, int level) { return Inner(f)->pMethods->xLock(Inner(f), level); }
int UnlockFile(sqlite3_file* f, int level) { return Inner(f)->pMethods->xUnlock(Inner(f), level); }
int CheckReserved(sqlite3_file* f, int* out) { return Inner(f)->pMethods->xCheckReservedLock(Inner(f), out); }
int Control(sqlite3_file* f, int op, void* arg) { return Inner(f)->pMethods->xFileControl(Inner(f), op, arg); }
int SectorSize(sqlite3_file* f) { return Inner(f)->pMethods->xSectorSize(Inner(f)); }
int Characteristics(sqlite3_file* f) { return Inner(f)->pMethods->xDeviceCharacteristics(Inner(f)); }
int ShmMap(sqlite3_file* f, int region, int size, int extend, void volatile** out) {
  return Inner(f)->pMethods->xShmMap(Inner(f), region, size, extend, out);
}
int ShmLock(sqlite3_file* f, int offset, int n, int flags) { return Inner(f)->pMethods->xShmLock(Inner(f), offset, n, flags); }
void ShmBarrier(sqlite3_file* f) { Inner(f)->pMethods->xShmBarrier(Inner(f)); }
int ShmUnmap(sqlite3_file* f, int deleteFlag) { return Inner(f)->pMethods->xShmUnmap(Inner(f), deleteFlag); }
int Fetch(sqlite3_file* f, sqlite3_int64 offset, int amount, void** out) {
  return Inner(f)->pMethods->xFetch(Inner(f), offset, amount, out);
}
int Unfetch(sqlite3_file* f, sqlite3_int64 offset, void* page) { return Inner(f)->pMethods->xUnfetch(Inner(f), offset, page); }

const sqlite3_io_methods kMethods = {3,          Close,      Read,       Write,      Truncate, Sync,
                                     FileSize,   LockFile,   UnlockFile, CheckReserved, Control, SectorSize,
                                     Characteristics, ShmMap, ShmLock,   ShmBarrier, ShmUnmap, Fetch,
                                     Unfetch};

int Open(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* f, int flags, int* outFlags) {
  auto* file = reinterpret_cast<FaultFile*>(f);
  file->inner = reinterpret_cast<sqlite3_file*>(file + 1);
  const int rc = real->xOpen(real, name, file->inner, flags, outFlags);
  // SQLite closes a file only when its methods are set, so a failed open leaves none.
  file->base.pMethods = rc == SQLITE_OK && file->inner->pMethods != nullptr ? &kMethods : nullptr;
  return rc;
}

int Delete(sqlite3_vfs*, const char* name, int syncDir) { return real->xDelete(real, name, syncDir); }
int Access(sqlite3_vfs*, const char* name, int flags, int* out) { return real->xAccess(real, name, flags, out); }
int FullPathname(sqlite3_vfs*, const char* name, int size, char* out) {
  return real->xFullPathname(real, name, size, out);
}

}  // namespace

void InstallFaultVfs() {
  if (real != nullptr) return;
  real = sqlite3_vfs_find(nullptr);
  // Everything not overridden (randomness, time, sleep, system calls) is the real VFS's.
  std::memcpy(&faultVfs, real, sizeof faultVfs);
  faultVfs.szOsFile = static_cast<int>(sizeof(FaultFile)) + real->szOsFile;
  faultVfs.zName = "brix-fault";
  faultVfs.pNext = nullptr;
  faultVfs.xOpen = Open;
  faultVfs.xDelete = Delete;
  faultVfs.xAccess = Access;
  faultVfs.xFullPathname = FullPathname;
  faultVfs.xDlOpen = nullptr;
  faultVfs.xDlError = nullptr;
  faultVfs.xDlSym = nullptr;
  faultVfs.xDlClose = nullptr;
  faultVfs.xRandomness = [](sqlite3_vfs*, int n, char* out) { return real->xRandomness(real, n, out); };
  faultVfs.xSleep = [](sqlite3_vfs*, int us) { return real->xSleep(real, us); };
  faultVfs.xCurrentTime = [](sqlite3_vfs*, double* out) { return real->xCurrentTime(real, out); };
  faultVfs.xGetLastError = [](sqlite3_vfs*, int n, char* out) { return real->xGetLastError(real, n, out); };
  faultVfs.xCurrentTimeInt64 = [](sqlite3_vfs*, sqlite3_int64* out) { return real->xCurrentTimeInt64(real, out); };
  faultVfs.xSetSystemCall = nullptr;
  faultVfs.xGetSystemCall = nullptr;
  faultVfs.xNextSystemCall = nullptr;
  sqlite3_vfs_register(&faultVfs, 1);
}

void DiskFullAfter(std::int64_t bytes) {
  refused = 0;
  budget = bytes;
}

void DiskHasRoom() { budget = -1; }

std::int64_t RefusedWrites() { return refused.load(); }

}  // namespace regtest
