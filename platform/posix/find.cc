// Directory search and folder creation of the device simulator. A search reads
// the whole folder at once and hands out the matches sorted ignoring case, so
// that the order is the same on every host file system.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "platform/backend.h"
#include "platform/platform.h"
#include "platform/posix/beneath.h"
#include "platform/posix/device.h"
#include "platform/posix/error.h"
#include "platform/posix/text.h"
#include "platform/wstr.h"

namespace plat {

struct Find {
  std::vector<FindData> matches;
  std::size_t next = 0;
};

namespace {

constexpr std::uint32_t kAttributeDirectory = 0x10;
constexpr std::uint32_t kAttributeNormal = 0x80;

char Fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Classic wildcard match, ignoring ASCII case: * any run, ? any one byte of a name.
// Names are UTF-8, so ? matches one byte of a multi-byte character; device names in
// practice are ASCII, and a pattern using ? on other characters is rare.
bool Matches(const char* pattern, const char* name) {
  const char* starPattern = nullptr;
  const char* starName = nullptr;
  while (*name != 0) {
    if (*pattern == '*') {
      starPattern = ++pattern;
      starName = name;
    } else if (*pattern == '?' || (*pattern != 0 && Fold(*pattern) == Fold(*name))) {
      ++pattern;
      ++name;
    } else if (starPattern != nullptr) {
      pattern = starPattern;
      name = ++starName;
    } else {
      return false;
    }
  }
  while (*pattern == '*') ++pattern;
  return *pattern == 0;
}

// As on the device, a pattern ending in ".*" also matches names without an extension:
// "*.*" matches every name and "readme.*" matches "readme".
bool MatchesPattern(const std::string& pattern, const std::string& name) {
  if (Matches(pattern.c_str(), name.c_str())) return true;
  if (pattern.size() >= 2 && pattern.compare(pattern.size() - 2, 2, ".*") == 0) {
    const std::string stem = pattern.substr(0, pattern.size() - 2);
    return name.find('.') == std::string::npos && Matches(stem.c_str(), name.c_str());
  }
  return false;
}

struct DirCloser {
  void operator()(DIR* dir) const { closedir(dir); }
};

struct Entry {
  std::string name;
  unsigned char type;  // as the folder listing gave it
};

// Fills data from an entry of the folder dirfd, of the type the listing gave;
// 0, or the device error of a look-up that failed. A symbolic link is listed
// as a file, never looked through: opening it fails. A name that is not
// UTF-8 is listed with its stray bytes as unpaired surrogates, so that the
// program meets it and its use fails with 123 rather than the file going
// unseen.
std::uint32_t ToFindData(int dirfd, const std::string& name, unsigned char type, FindData* data) {
  if (!wstr::Copy(data->name, kMaxPath, posix::ToUtf16Escaped(name).c_str())) return posix::kErrorFilenameTooLong;
  // Most file systems give the type with the name; only the others cost a look-up.
  if (type == DT_UNKNOWN) {
    struct stat st {};
    if (fstatat(dirfd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return posix::ErrorFromErrno(errno);
    type = S_ISDIR(st.st_mode) ? DT_DIR : DT_REG;
  }
  data->attributes = type == DT_DIR ? kAttributeDirectory : kAttributeNormal;
  return 0;
}

}  // namespace

Find* FindFirst(const char16_t* pattern, FindData* data) try {
  posix::HostPath folder;
  std::string last;
  if (const std::uint32_t error = posix::MapPattern(pattern, &folder, &last); error != 0) {
    SetLastErrorCode(error);
    return nullptr;
  }
  posix::Fd fd(posix::OpenMapped(folder, O_RDONLY | O_DIRECTORY));
  std::unique_ptr<DIR, DirCloser> dir(fd ? fdopendir(fd.get()) : nullptr);
  if (!dir) {
    const int err = errno;
    SetLastErrorCode(err == ENOENT || err == ENOTDIR ? kErrorPathNotFound : posix::PathError(folder, err));
    return nullptr;
  }
  fd.Release();  // now owned by dir
  // Names are sorted before they become search results, which are large.
  std::vector<Entry> entries;
  for (;;) {
    // readdir() tells an error from the end of the folder only by errno.
    errno = 0;
    const dirent* entry = readdir(dir.get());
    if (entry == nullptr) break;
    std::string name(entry->d_name);
    if (name == "." || name == ".." || last.empty() || !MatchesPattern(last, name)) continue;
    entries.push_back(Entry{std::move(name), entry->d_type});
  }
  // A folder that could not be read to its end is a search that failed, not
  // one that found fewer names.
  if (errno != 0) {
    SetLastErrorCode(posix::PathError(folder, errno));
    return nullptr;
  }
  std::sort(entries.begin(), entries.end(),
            [](const Entry& a, const Entry& b) { return posix::CompareNames(a.name, b.name) < 0; });
  auto find = std::make_unique<Find>();
  find->matches.reserve(entries.size());
  for (const Entry& entry : entries) {
    FindData found{};
    const std::uint32_t error = ToFindData(dirfd(dir.get()), entry.name, entry.type, &found);
    // A name removed since the listing is simply gone; any other failure is the search's.
    if (error == kErrorFileNotFound) continue;
    if (error != 0) {
      SetLastErrorCode(error);
      return nullptr;
    }
    find->matches.push_back(found);
  }
  if (find->matches.empty()) {
    SetLastErrorCode(kErrorFileNotFound);
    return nullptr;
  }
  *data = find->matches[0];
  find->next = 1;
  return find.release();
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(static_cast<Find*>(nullptr));
}

bool FindNextMatch(Find* find, FindData* data) {
  if (find == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  if (find->next >= find->matches.size()) {
    SetLastErrorCode(posix::kErrorNoMoreFiles);
    return false;
  }
  *data = find->matches[find->next++];
  return true;
}

bool FindEnd(Find* find) {
  if (find == nullptr) {
    SetLastErrorCode(kErrorInvalidHandle);
    return false;
  }
  delete find;
  return true;
}

bool MakeDirectory(const char16_t* path) try {
  posix::HostPath host;
  if (const std::uint32_t error = posix::MapPath(path, &host); error != 0) {
    SetLastErrorCode(error);
    return false;
  }
  // mkdirat() never follows a link in the last element: an existing link is an existing name.
  int err = EEXIST;  // the root
  if (!host.name.empty()) {
    if (!host.parent) {
      err = host.parentErrno;
    } else if (mkdirat(host.parent.get(), host.name.c_str(), 0777) == 0) {
      posix::NoteCreated(host);
      return true;
    } else {
      err = errno;
    }
  }
  if (err == EEXIST)
    SetLastErrorCode(kErrorAlreadyExists);
  else if (err == ENOENT || err == ENOTDIR)
    SetLastErrorCode(kErrorPathNotFound);
  else
    SetLastErrorCode(posix::PathError(host, err));
  return false;
} catch (const std::bad_alloc&) {
  return backend::OutOfMemory(false);
}

}  // namespace plat
