// The folders that held the last device paths mapped, kept open: a wildcard
// line opens each file of one folder and creates it in another, and opening
// both folders again for every file cost four calls.
#pragma once

#include <sys/stat.h>

#include <memory>
#include <string>

#include "platform/posix/beneath.h"
#include "platform/posix/device.h"

namespace plat::posix {

// The folder kept for folder (a path below the root of device, as the device path
// wrote it) while that path still leads to it, with its host spelling, its full host
// path and its status as just checked; none when not kept or no longer there.
SharedFd FindKeptFolder(const std::shared_ptr<const Device>& device, const std::string& folder,
                        std::string* spelling, std::string* host, struct stat* now);
// Keeps fd, the folder opened for folder (as written), with its host spelling and full host path.
void KeepFolder(const std::shared_ptr<const Device>& device, const std::string& folder, const std::string& spelling,
                const std::string& host, const SharedFd& fd);

}  // namespace plat::posix
