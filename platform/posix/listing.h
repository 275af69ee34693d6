// Case-insensitive name lookup in host folders of the device, with the folder
// listings kept between lookups.
#pragma once

#include <string>

namespace plat::posix {

// The name of the entry of the folder open as dirfd (known to callers as hostFolder)
// that matches name: the exact name when present, else the first (bytewise) entry
// equal to it ignoring ASCII case; empty when there is none.
std::string FindEntry(int dirfd, const std::string& hostFolder, const std::string& name);
// Records that this process created name in the folder open as dirfd (hostFolder).
void NoteEntryCreated(int dirfd, const std::string& hostFolder, const std::string& name);

}  // namespace plat::posix
