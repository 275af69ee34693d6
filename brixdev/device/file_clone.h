// Giving a new host file the content of another without copying its bytes
// where the host allows it, so that a package's size costs a check nothing.
#pragma once

#include <string>

namespace brixdev {

// How a file's content was given.
enum class CloneWay { kReflink, kHardLink, kCopy };

// Creates target (which must not exist), runnable as every device file, with the content of the
// regular file source: a reflink where the file system shares extents, else (link true) a hard link
// to source, else a copy that reads and writes only the data and keeps holes as holes. Symbolic
// links are never followed. false and *error on failure.
bool CloneFile(const std::string& source, const std::string& target, bool link, CloneWay* way, std::string* error);

}  // namespace brixdev
