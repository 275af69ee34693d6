// A disk that fills up on command, for the registry tests: a SQLite VFS over
// the default one that fails writes with SQLITE_FULL, as a full disk does,
// once a given number of bytes has been written.
#pragma once

#include <cstdint>

namespace regtest {

// Makes the failing VFS the default one (once); databases opened afterwards write through it.
void InstallFaultVfs();
// From now on, writes fail once bytes more have been written, until DiskHasRoom.
void DiskFullAfter(std::int64_t bytes);
// Writes succeed again.
void DiskHasRoom();
// Writes refused since the last DiskFullAfter.
std::int64_t RefusedWrites();

}  // namespace regtest
