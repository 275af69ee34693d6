// The value forms of the entry parser: the bytes of a string, a dword, a byte
// or character list and a string list as they are written to the registry,
// each telling the line's observer (if any) what its reading decided.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "regimport/decisions.h"

namespace brixparse::forms {

// Tells the line's observer, if there is one, what was decided about a range of the line.
class Reporter {
 public:
  Reporter(LineObserver* observer, const char16_t* line) : observer_(observer), line_(line) {}
  explicit operator bool() const { return observer_ != nullptr; }
  void operator()(Decision decision, const char16_t* begin, const char16_t* end) const {
    if (observer_ != nullptr)
      observer_->Decided(decision, static_cast<std::size_t>(begin - line_), static_cast<std::size_t>(end - begin));
  }

 private:
  LineObserver* observer_;
  const char16_t* line_;
};

// Where HexRange found the parts of a number.
struct NumberScan {
  const char16_t* digits = nullptr;  // the first digit after what was passed over
  const char16_t* end = nullptr;     // the first unit behind the digits
  bool zero = false;                 // a "0" was passed over
};

// The first unit of [begin, end) that is not a space or tab, or end.
inline const char16_t* SkipBlanks(const char16_t* begin, const char16_t* end) {
  while (begin < end && (*begin == u' ' || *begin == u'\t')) ++begin;
  return begin;
}
// The end of the text at p (its terminator).
inline const char16_t* EndOf(const char16_t* p) { return p + std::char_traits<char16_t>::length(p); }
// True when [begin, end) holds units other than spaces.
inline bool HoldsNonSpace(const char16_t* begin, const char16_t* end) {
  for (; begin < end; ++begin)
    if (*begin != u' ') return true;
  return false;
}

// Reads a hexadecimal number after leading blanks, controls, "0" and "x", up to the first other unit.
std::uint32_t HexRange(const char16_t* p, NumberScan* scan = nullptr);

// A string: [begin, end) without its first unit and its last, then a terminator; false when too large.
bool FillString(const char16_t* begin, const char16_t* end, std::vector<std::uint8_t>& data);
// A dword: the number read from rest, 32 bits, least significant byte first.
void FillDword(const char16_t* rest, std::vector<std::uint8_t>& data, const Reporter& report);
// A byte list (wide false) or character list (wide true) of the words of rest; false when too large.
bool FillNumbers(const char16_t* rest, bool wide, std::vector<std::uint8_t>& data, const Reporter& report);
// A string list of rest, closed by an empty string; false when too large.
bool FillStringList(const char16_t* rest, std::vector<std::uint8_t>& data, const Reporter& report);

}  // namespace brixparse::forms
