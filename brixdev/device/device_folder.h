// Host-side work on simulated device folders: a fresh device, and host files
// placed at device paths (as one copies files onto a device).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

namespace brixdev {

// The folders of a fresh device, below its root.
inline constexpr const char* kDeviceFolders[] = {"Windows", "Temp", "Program Files", "My Documents",
                                                 "Storage Card"};
// Where a fresh device keeps the registry importer.
inline constexpr char16_t kDeviceImporter[] = u"\\Windows\\Brixparse.exe";

// What placing a tree did.
struct Placed {
  std::map<std::string, std::string> files;     // host path placed -> the host file it came from
  std::vector<std::string> skipped;             // source entries that are neither file nor folder (links, devices)
  std::map<std::string, std::string> standIns;  // host path placed empty -> the host file it stands for
};

// Creates the device folder dir: dir/fs with the usual folders, and a copy of importer (a host
// program; none when empty) at \Windows\Brixparse.exe. false and *error on failure.
bool CreateDevice(const std::string& dir, const std::string& importer, std::string* error);

// The host path below root of a device path: existing names matched ignoring ASCII case (the
// exact spelling first), missing ones as written; ".." never leaves root. Empty when the path
// passes a symbolic link below root.
std::string HostPathFor(const std::string& root, std::u16string_view devicePath);

// Copies the host file or folder source (a folder with everything below it) to host path target,
// creating missing parent folders; files are made runnable, as every file on a device is, and get
// their content by a reflink where the host allows it (a copy keeps holes). Files of standInSize
// bytes or more (0: none) are placed empty instead, as stand-ins listed in placed->standIns.
// Symbolic links are never followed. false and *error on failure.
bool Place(const std::string& source, const std::string& target, Placed* placed, std::string* error,
           std::uint64_t standInSize = 0);

// True when the host path is a folder (symbolic links not followed).
bool IsHostFolder(const std::string& path);
// True when the host path is a regular file (symbolic links not followed).
bool IsHostFile(const std::string& path);
// True when the host path is a folder without entries.
bool IsEmptyFolder(const std::string& path);
// The canonical absolute form of a host path; the path itself when it cannot be resolved.
std::string Absolute(const std::string& path);

}  // namespace brixdev
