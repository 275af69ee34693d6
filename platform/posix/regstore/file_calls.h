// The file system calls SQLite makes for the registry database, replaced
// once per process: opens that never follow a link, and writes to the
// write-ahead log gathered into one call per commit.
#pragma once

namespace regstore {

// Installs the replacements in SQLite's unix file layer (once; later calls do nothing).
void InstallFileCalls();
// True, once, when a lock on a database file could not be released since the last call.
bool TakeUnlockFailure();

}  // namespace regstore
