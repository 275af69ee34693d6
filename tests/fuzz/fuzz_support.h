// What every fuzz target shares: the oracle's failure report and the turning
// of input bytes into text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace fuzz {

// Reports a broken property (with the input being run, when known) and aborts,
// so that libFuzzer keeps the input and a replay fails.
[[noreturn]] void Fail(const char* file, int line, const char* condition, const std::string& detail);

// Names the input being replayed, for Fail's report.
void SetInputName(const std::string& name);

// Text for a report: printable ASCII as is, every other unit as \uXXXX.
std::string Show(const std::u16string& text);

// UTF-16 text from fuzz bytes: a byte below 0xF8 is the unit of the same value;
// a byte from 0xF8 up takes the next two bytes as one unit (low byte first), so
// that every unit, NUL and surrogates included, can be reached.
std::u16string UnitsFromBytes(const std::uint8_t* data, std::size_t size);

}  // namespace fuzz

// Checks a property; detail (evaluated only on failure) says what was seen.
#define FUZZ_CHECK(condition, detail)                                  \
  do {                                                                 \
    if (!(condition)) ::fuzz::Fail(__FILE__, __LINE__, #condition, (detail)); \
  } while (0)
