// Helpers shared by the importer's tests: scripts on the fake device, and
// key lists flattened into comparable values.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "regimport/key_tree.h"

namespace brixparse::regtest {

// Where the tests put their scripts on the fake device.
inline constexpr char16_t kScriptPath[] = u"\\Temp\\setup.reg";

// Bytes given as numbers, as a byte string.
std::string Bytes(std::initializer_list<int> bytes);
// Text as UTF-16LE bytes (two bytes a unit), without terminator.
std::string Utf16Bytes(const std::u16string& text);
// ASCII or UTF-8 text widened unit by unit (ASCII only).
std::u16string Widen(const std::string& text);

struct ValueSummary {
  std::u16string name;
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const ValueSummary&) const = default;
};
struct KeySummary {
  std::u16string path;
  std::vector<ValueSummary> values;
  bool operator==(const KeySummary&) const = default;
};

// The key list from first on, flattened.
std::vector<KeySummary> Summarise(const CKeyNode* first);

// Outcome of parsing a script placed on a freshly reset fake device.
struct ParseOutcome {
  bool yieldedList = false;        // ParseFile yielded a first key
  std::vector<KeySummary> keys;    // what the parser object holds afterwards
};
ParseOutcome ParseScript(const std::string& scriptBytes);

// Resets the fake, places the script and runs the whole program on it.
int ImportScript(const std::string& scriptBytes);

}  // namespace brixparse::regtest
