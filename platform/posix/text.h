// UTF-16 <-> UTF-8 conversion for the device simulator: device text is UTF-16,
// host names, arguments and the terminal are UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace plat::posix {

// Converts UTF-16 to UTF-8; false (out unspecified) on an unpaired surrogate.
bool ToUtf8(std::u16string_view text, std::string* out);
// Converts UTF-16 to UTF-8, writing U+FFFD for each unpaired surrogate.
std::string ToUtf8Lenient(std::u16string_view text);
// Converts UTF-8 to UTF-16; false (out unspecified) on a malformed sequence.
bool ToUtf16(std::string_view text, std::u16string* out);
// Converts UTF-8 to UTF-16, writing U+FFFD for each malformed byte.
std::u16string ToUtf16Lenient(std::string_view text);
// Converts UTF-8 to UTF-16, each byte of a malformed sequence becoming the unpaired
// surrogate U+DC80 to U+DCFF: a name the device cannot hold stays visible as one
// that every device path refuses (error 123).
std::u16string ToUtf16Escaped(std::string_view text);

}  // namespace plat::posix
