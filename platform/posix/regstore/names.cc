#include "platform/posix/regstore/names.h"

#include "platform/utf.h"

namespace regstore {

std::string ToUtf8(std::u16string_view text) { return plat::utf::ToUtf8Keeping(text); }

void ToUtf8Into(std::u16string_view text, bool fold, std::string* out) {
  // Names are mostly ASCII: those units are stored one byte each, with no
  // growth checks (the buffer is sized once for the worst case).
  out->resize(text.size() * 3);
  char* p = out->data();
  std::size_t i = 0;
  for (; i < text.size() && text[i] < 0x80; ++i) {
    const char16_t u = text[i];
    *p++ = static_cast<char>(fold && u >= u'A' && u <= u'Z' ? u + 0x20 : u);
  }
  out->resize(static_cast<std::size_t>(p - out->data()));
  // Folding touches no surrogate, so a pair folds as its code point does; a
  // lone surrogate is kept as its own sequence so that every name survives storage.
  while (i < text.size()) {
    const char32_t c = plat::utf::NextCodePoint(text, &i);
    plat::utf::AppendUtf8(fold && c < 0x100 ? FoldUnit(static_cast<char16_t>(c)) : c, out);
  }
}

std::u16string FromUtf8(std::string_view text) { return plat::utf::ToUtf16Keeping(text); }

char16_t FoldUnit(char16_t unit) {
  if (unit >= u'A' && unit <= u'Z') return static_cast<char16_t>(unit + 0x20);
  // Latin-1 capitals (the multiplication sign excepted) fold as the device folds them.
  if (unit >= 0xC0 && unit <= 0xDE && unit != 0xD7) return static_cast<char16_t>(unit + 0x20);
  return unit;
}

std::u16string Fold(std::u16string_view text) {
  std::u16string out(text);
  for (char16_t& u : out) u = FoldUnit(u);
  return out;
}

}  // namespace regstore
