// The importer's dialect written: registry keys and values as the lines of a
// registry script that the importer reads back as the very keys and values
// they were written from. `reg export`, `reg convert` and try's report all
// write through here.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/regstore/store.h"

namespace brixdev {

// What every export starts with: the line "REGEDIT4" and an empty line.
inline constexpr const char* kExportHeader = "REGEDIT4\n\n";

// Why a value has no entry in the dialect: the importer cannot store it as it is.
enum class Unwritable {
  kNone,             // written
  kLongName,         // a name longer than 255 characters
  kNameQuote,        // a name holding a double quote, which would end it
  kLargeData,        // data larger than 1 MiB
  kNoTerminator,     // a string that is not one terminated text (odd, empty, or no final zero)
  kZeroCharacter,    // a string holding a zero character before its end
  kLineBreak,        // a string holding a line feed
  kDwordSize,        // a dword that is not 4 bytes
  kOddText,          // type 2 or 7 data of odd length
  kWideCharacter,    // type 2 or 7 data that neither one number per unit nor multi_sz can carry
  kUnknownType,      // a type the importer has no form for
  kReadsDifferently, // anything else the importer's reader would change (a lone surrogate, a line feed in a name)
};

// The lines of one value entry (the first is "name"=...), or why there are none.
// Number lists hold numbersPerLine numbers to a line and continue on lines ending in
// ",\" indented by two blanks; 0 keeps every entry on one line.
Unwritable WriteValue(std::u16string_view name, std::uint32_t type, std::string_view data,
                      std::size_t numbersPerLine, std::vector<std::u16string>* lines);

// The line of one value, without line feed: its entry on one line, or, for a value
// the importer cannot store, a comment with its raw bytes.
std::string FormatValue(const regstore::Value& value);

// The block of one key: its key line, its values sorted by name ignoring case, an
// empty line; "" for a root without values. path holds the names below the root.
std::string FormatKeyBlock(std::uint32_t root, const std::vector<std::u16string>& path,
                           std::vector<regstore::Value> values);

// True when sibling name a comes before b in an export: compared ignoring case.
bool NameBefore(const std::u16string& a, const std::u16string& b);

// The whole export of a list of keys: the header, then one block per key
// (sorted, case-insensitively, parents before children).
std::string FormatExport(std::vector<regstore::Key> keys);

// True when the importer reads line back as written: no line feed, nothing that its
// comment stripping or trimming removes, no final backslash that joins the next line.
bool ReadsBack(const std::u16string& line);

}  // namespace brixdev
