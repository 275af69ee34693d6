// Control of the device simulator's registry connection, for tests.
#pragma once

namespace plat::posix {

// Commits pending writes of the device context in force, closes its database and
// forgets its open key handles; its next registry call opens the database afresh.
void RegistryReset();

}  // namespace plat::posix
