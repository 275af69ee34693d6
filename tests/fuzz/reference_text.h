// A plain reference for the text rules the readers must follow, written from
// platform/text_decoder.h's description rather than from its code: the whole
// input decoded in one go, and that text cut into physical lines.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace fuzz {

// The whole of bytes as text-mode UTF-16: byte order mark, UTF-8 with
// Windows-1252 for stray bytes, UTF-16 LE/BE with pairs joined and lone
// surrogates kept, an odd final byte as U+FFFD, CR LF as LF.
std::u16string ReferenceDecode(const std::uint8_t* bytes, std::size_t size);

// The physical lines of text: the units up to each line feed (removed); a last
// line without line feed counts when it is not empty.
std::vector<std::u16string> ReferenceLines(const std::u16string& text);

}  // namespace fuzz
