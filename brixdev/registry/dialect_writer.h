// The registry export format: registry keys and values written as a registry
// script in the importer's own dialect, so that importing the text on a fresh
// device gives the same keys and values again.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/posix/regstore/store.h"

namespace brixdev {

// What every export starts with: the line "REGEDIT4" and an empty line.
inline constexpr const char* kExportHeader = "REGEDIT4\n\n";

// The block of one key: its key line, its values sorted by name ignoring case, an
// empty line; "" for a root without values. path holds the names below the root.
std::string FormatKeyBlock(std::uint32_t root, const std::vector<std::u16string>& path,
                           std::vector<regstore::Value> values);

// True when sibling name a comes before b in an export: compared ignoring case.
bool NameBefore(const std::u16string& a, const std::u16string& b);

// The whole export of a list of keys: the header, then one block per key
// (sorted, case-insensitively, parents before children).
std::string FormatExport(std::vector<regstore::Key> keys);

// The line of one value, without line feed: an entry the importer reads back, or a comment.
std::string FormatValue(const regstore::Value& value);

// True when the importer reads line back as written: no line feed, nothing that its
// comment stripping or trimming removes, no final backslash that joins the next line.
bool ReadsBack(const std::u16string& line);

}  // namespace brixdev
