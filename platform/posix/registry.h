// Control of the device simulator's registry connection, for tests.
#pragma once

namespace plat::posix {

// Commits pending writes, closes the database and forgets every open key handle;
// the next registry call opens the device named by BRIX_DEVICE afresh.
void RegistryReset();

}  // namespace plat::posix
