// Case-insensitive name lookup in host folders of the device, with the folder
// listings kept between lookups.
#pragma once

#include <sys/stat.h>

#include <string>

namespace plat::posix {

// The name of the entry of the folder open as dirfd (known to callers as hostFolder)
// that matches name: the exact name when present, else the first (bytewise) entry
// equal to it ignoring ASCII case; empty when there is none (errno 0) or the folder
// cannot be read (errno says why).
std::string FindEntry(int dirfd, const std::string& hostFolder, const std::string& name);
// Like FindEntry, for the last element of a path about to be used, where the operation
// itself meets the exact name if it exists: once the folder's listing is kept, the listing
// answers (the exact name is looked up only when it holds another spelling). Empty: use
// name as written (errno 0), or the folder cannot be read (errno says why). folderNow, when given, is the folder's status just taken by the caller.
std::string FindLastEntry(int dirfd, const std::string& hostFolder, const std::string& name,
                          const struct stat* folderNow = nullptr);
// Records that this process created name in the folder open as dirfd (hostFolder).
void NoteEntryCreated(int dirfd, const std::string& hostFolder, const std::string& name);

}  // namespace plat::posix
