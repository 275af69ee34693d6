// A kept folder is used only while its path still leads to it, which one
// look-up checks: the folder was opened beneath the root without links, and
// the same folder reached by another way is still that folder.
#include "platform/posix/folder_cache.h"

#include <fcntl.h>

#include <mutex>

namespace plat::posix {
namespace {

class FolderCache {
 public:
  SharedFd Find(const std::shared_ptr<const Device>& device, const std::string& folder, std::string* spelling,
                std::string* host, struct stat* now) {
    const std::lock_guard<std::mutex> lock(mutex_);
    for (Entry& entry : entries_) {
      if (entry.device != device || entry.written != folder) continue;
      struct stat& st = *now;
      if (fstatat(device->root.get(), entry.spelling.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 ||
          st.st_dev != entry.dev || st.st_ino != entry.ino) {
        entry = Entry{};
        return {};
      }
      entry.used = ++clock_;
      *spelling = entry.spelling;
      *host = entry.host;
      return entry.fd;
    }
    return {};
  }

  void Keep(const std::shared_ptr<const Device>& device, const std::string& folder, const std::string& spelling,
            const std::string& host, const SharedFd& fd) {
    struct stat st {};
    if (folder.empty() || fstat(fd.get(), &st) != 0) return;
    const std::lock_guard<std::mutex> lock(mutex_);
    Entry* oldest = &entries_[0];
    for (Entry& entry : entries_)
      if (entry.used < oldest->used) oldest = &entry;
    *oldest = Entry{device, folder, spelling, host, fd, st.st_dev, st.st_ino, ++clock_};
  }

 private:
  struct Entry {
    std::shared_ptr<const Device> device;
    std::string written;   // the folder's path as the device path gave it
    std::string spelling;  // its host spelling below the root
    std::string host;      // its full host path
    SharedFd fd;
    dev_t dev = 0;
    ino_t ino = 0;
    unsigned long used = 0;
  };
  std::mutex mutex_;
  Entry entries_[4];
  unsigned long clock_ = 0;
};

FolderCache& Folders() {
  static FolderCache* cache = new FolderCache;  // never destroyed: other threads may map paths at exit
  return *cache;
}

}  // namespace

SharedFd FindKeptFolder(const std::shared_ptr<const Device>& device, const std::string& folder,
                        std::string* spelling, std::string* host, struct stat* now) {
  return Folders().Find(device, folder, spelling, host, now);
}

void KeepFolder(const std::shared_ptr<const Device>& device, const std::string& folder, const std::string& spelling,
                const std::string& host, const SharedFd& fd) {
  Folders().Keep(device, folder, spelling, host, fd);
}

}  // namespace plat::posix
