// Text helpers of brixdev: device text (UTF-16) for the terminal (UTF-8), and
// device paths compared as the device compares them.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace brixdev {

// UTF-8 of device text; an unpaired surrogate becomes U+FFFD.
std::string Utf8(std::u16string_view text);
// Device text of UTF-8; a malformed byte becomes U+FFFD.
std::u16string Utf16(std::string_view text);

// The names of a device path: separators \ and /, runs of them count as one, "." is
// dropped and ".." removes the name before it without ever leaving the root.
std::vector<std::u16string> PathNames(std::u16string_view devicePath);
// A key equal for device paths naming the same file: names joined by \, ASCII capitals folded.
std::u16string PathKey(std::u16string_view devicePath);
// True when a and b are equal ignoring ASCII case.
bool SameIgnoringCase(std::u16string_view a, std::u16string_view b);
// The last name of a device path (after its last backslash).
std::u16string_view BaseName(std::u16string_view devicePath);

}  // namespace brixdev
