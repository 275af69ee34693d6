#include "tests/fuzz/fuzz_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace fuzz {

namespace {
std::string gInputName;
}  // namespace

void Fail(const char* file, int line, const char* condition, const std::string& detail) {
  std::fprintf(stderr, "fuzz check failed at %s:%d: %s\n  %s\n", file, line, condition,
               detail.c_str());
  if (!gInputName.empty()) std::fprintf(stderr, "  input: %s\n", gInputName.c_str());
  std::fflush(stderr);
  std::abort();
}

void SetInputName(const std::string& name) { gInputName = name; }

std::string Show(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    if (c == u'\\') {
      out += "\\\\";
    } else if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
    } else {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned>(c));
      out += escaped;
    }
  }
  return out;
}

std::u16string UnitsFromBytes(const std::uint8_t* data, std::size_t size) {
  std::u16string units;
  units.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    if (data[i] >= 0xF8 && i + 2 < size) {
      units.push_back(static_cast<char16_t>(data[i + 1] | (data[i + 2] << 8)));
      i += 2;
    } else {
      units.push_back(data[i]);
    }
  }
  return units;
}

}  // namespace fuzz
