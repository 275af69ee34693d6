// Text helpers of the simulated registry: UTF-16 names to and from the UTF-8
// stored in the database, and the case folding that makes names match.
#pragma once

#include <string>
#include <string_view>

namespace regstore {

// UTF-8 of UTF-16 text; a lone surrogate becomes its own three-byte sequence, so nothing is lost.
std::string ToUtf8(std::u16string_view text);
// Writes into *out (replacing its content) the UTF-8 of text, folded with FoldUnit when fold is set, as ToUtf8(Fold(text)) would.
void ToUtf8Into(std::u16string_view text, bool fold, std::string* out);
// UTF-16 of text written by ToUtf8; a byte that begins no valid sequence becomes U+FFFD.
std::u16string FromUtf8(std::string_view text);
// One unit folded for name comparison: ASCII and Latin-1 capitals to small letters.
char16_t FoldUnit(char16_t unit);
// Text folded unit by unit with FoldUnit.
std::u16string Fold(std::u16string_view text);

}  // namespace regstore
