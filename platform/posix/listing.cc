// Reading a folder for every lookup of a missing name made filling a folder of
// n files cost n squared entry reads, so listings are kept, checked against the
// folder's change time, and updated for the names this process creates itself.
// Folders are read through descriptors opened beneath the device root, never by
// a path that the kernel would resolve through links.
#include "platform/posix/listing.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <mutex>
#include <string_view>
#include <unordered_map>

namespace plat::posix {
namespace {

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string Folded(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) c = FoldAscii(c);
  return folded;
}

// What a folder held when it was last read: for each case-folded name the
// spelling to use (the first in byte order).
struct FolderListing {
  struct timespec changed {};
  ino_t inode = 0;
  std::unordered_map<std::string, std::string> names;
};

std::mutex g_listingMutex;
std::unordered_map<std::string, FolderListing> g_listings;

bool SameChangeTime(const struct timespec& a, const struct timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

void Add(FolderListing* listing, const std::string& name) {
  std::string& best = listing->names[Folded(name)];
  if (best.empty() || name < best) best = name;
}

// Whether the listing kept for the folder is current, given its status.
bool Current(const FolderListing& listing, const struct stat& st) {
  return listing.inode == st.st_ino && SameChangeTime(listing.changed, st.st_mtim);
}

// The current listing of the folder (read again when it changed); nullptr with errno when unreadable.
// now: the folder's status when the caller has just taken it.
const FolderListing* Listing(int dirfd, const std::string& hostFolder, const struct stat* now = nullptr) {
  struct stat st {};
  if (now != nullptr)
    st = *now;
  else if (fstat(dirfd, &st) != 0)
    return nullptr;
  auto found = g_listings.find(hostFolder);
  if (found != g_listings.end() && Current(found->second, st)) return &found->second;
  const int readable = openat(dirfd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (readable < 0) return nullptr;
  std::unique_ptr<DIR, DirCloser> dir(fdopendir(readable));
  if (!dir) {
    close(readable);
    return nullptr;
  }
  FolderListing listing;
  listing.changed = st.st_mtim;
  listing.inode = st.st_ino;
  for (;;) {
    // readdir() tells an error from the end of the folder only by errno; a
    // listing cut short would make present names look missing.
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) break;
    const std::string_view name(entry->d_name);
    if (name == "." || name == "..") continue;
    Add(&listing, std::string(name));
  }
  if (errno != 0) return nullptr;
  if (g_listings.size() > 256) g_listings.clear();
  return &(g_listings[hostFolder] = std::move(listing));
}

// The current listing of a folder whose listing is kept; nullptr when none is kept
// (or the folder cannot be read now).
const FolderListing* KeptListing(int dirfd, const std::string& hostFolder, const struct stat* now) {
  const auto found = g_listings.find(hostFolder);
  if (found == g_listings.end()) return nullptr;
  struct stat st {};
  if (now != nullptr)
    st = *now;
  else if (fstat(dirfd, &st) != 0)
    return nullptr;
  if (Current(found->second, st)) return &found->second;
  return Listing(dirfd, hostFolder, &st);
}

}  // namespace

std::string FindEntry(int dirfd, const std::string& hostFolder, const std::string& name) {
  struct stat st {};
  if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return name;
  const std::lock_guard<std::mutex> lock(g_listingMutex);
  const FolderListing* listing = Listing(dirfd, hostFolder);
  if (listing == nullptr) return {};
  errno = 0;
  const auto match = listing->names.find(Folded(name));
  return match == listing->names.end() ? std::string() : match->second;
}

std::string FindLastEntry(int dirfd, const std::string& hostFolder, const std::string& name,
                          const struct stat* folderNow) {
  std::string other;  // another spelling the listing holds
  {
    const std::lock_guard<std::mutex> lock(g_listingMutex);
    // A folder whose listing is kept, such as one being filled: the listing
    // spares the look-up of each new name before it is made.
    if (const FolderListing* listing = KeptListing(dirfd, hostFolder, folderNow); listing != nullptr) {
      errno = 0;
      const auto match = listing->names.find(Folded(name));
      if (match == listing->names.end() || match->second == name) return {};
      other = match->second;
    }
  }
  if (other.empty()) return FindEntry(dirfd, hostFolder, name);
  // The exact spelling wins where both exist.
  struct stat st {};
  return fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 ? name : other;
}

void NoteEntryCreated(int dirfd, const std::string& hostFolder, const std::string& name) {
  const std::lock_guard<std::mutex> lock(g_listingMutex);
  auto found = g_listings.find(hostFolder);
  if (found == g_listings.end()) return;
  struct stat st {};
  if (fstat(dirfd, &st) != 0 || st.st_ino != found->second.inode) {
    g_listings.erase(found);
    return;
  }
  Add(&found->second, name);
  found->second.changed = st.st_mtim;
}

}  // namespace plat::posix
