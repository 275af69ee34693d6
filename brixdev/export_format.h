// The registry export format: registry keys and values written as a registry
// script in the importer's own dialect, so that importing the text on a fresh
// device gives the same keys and values again.
#pragma once

#include <string>
#include <vector>

#include "platform/posix/regstore/store.h"

namespace brixdev {

// The whole export: the header line "REGEDIT4", an empty line, then one block per key
// (sorted, case-insensitively, parents before children), each ending in an empty line.
std::string FormatExport(std::vector<regstore::Key> keys);

// The line of one value, without line feed: an entry the importer reads back, or a comment.
std::string FormatValue(const regstore::Value& value);

// True when the importer reads line back as written: no line feed, nothing that its
// comment stripping or trimming removes, no final backslash that joins the next line.
bool ReadsBack(const std::u16string& line);

}  // namespace brixdev
