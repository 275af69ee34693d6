// The importer's parser object: reads the whole registry script into a key
// list, then writes that list into the registry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "regimport/decisions.h"
#include "regimport/key_tree.h"
#include "regimport/script_file.h"

namespace brixparse {

// Kinds of entry a logical line can give.
inline constexpr std::int32_t kEntryKey = 1;
inline constexpr std::int32_t kEntryValue = 2;

// Registry value types the script can give.
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegMultiSz = 7;

// Longest value name stored, in characters; longer names are not stored.
inline constexpr std::size_t kMaxValueName = 255;
// Largest value data stored, in bytes; larger values are not stored.
inline constexpr std::size_t kMaxValueData = 1u << 20;

// Scratch record of one logical line, reused for every line of a parse.
struct CLineEntry {
  std::int32_t kind = 0;            // kEntryKey or kEntryValue
  std::u16string token;             // current token; the key path after a key line
  std::u16string valueName;         // name of a value line's value
  std::uint32_t type = 0;           // registry value type of a value line
  std::vector<std::uint8_t> data;   // value data as written to the registry
  std::uint32_t size = 0;           // bytes of data that belong to the value
};

// Reads a registry script into a key list and writes the list into the registry.
class CBrixparse {
 public:
  // Parses file, which must outlive this object; the list starts empty.
  explicit CBrixparse(CScriptFile& file);
  // Frees the whole key list.
  ~CBrixparse();
  CBrixparse(const CBrixparse&) = delete;
  CBrixparse& operator=(const CBrixparse&) = delete;

  // Reads the whole script; the first key node at end of file, nullptr for no keys or a read error.
  CKeyNode* ParseFile();
  // Creates each key of the list below its root and sets its values; always 1.
  int UpdateRegistry(CKeyNode* first);

  // Cuts the next token out of text: 1 and the token, or 0 when there is none.
  static int GetToken(const char16_t* text, std::u16string& token, std::size_t& consumed);
  // Fills entry from a logical line: 1 for a key or value entry, 0 when the line gives none.
  static int ParseEntry(CLineEntry& entry, const std::u16string& line);
  // The same, telling observer (when not nullptr) each lenient decision made on the line.
  static int ParseEntry(CLineEntry& entry, const std::u16string& line, LineObserver* observer);
  // Reads a hexadecimal number after leading blanks, controls, "0" and "x"; never fails.
  static std::uint32_t HexToULong(const char16_t* text);

  CScriptFile& file;
  std::unique_ptr<CKeyNode> keys;
  // Told every lenient decision of ParseFile and every line it parsed; none in the program itself.
  DecisionObserver* observer = nullptr;
};

}  // namespace brixparse
