#include "tests/fuzz/reference_text.h"

#include "platform/text_decoder.h"

namespace fuzz {

namespace {

// The code point of a well-formed UTF-8 sequence at bytes[i], with its length;
// 0 as length when none starts there. Decodes first, then rejects what is not
// the shortest form, a surrogate or beyond U+10FFFF.
std::size_t Utf8At(const std::uint8_t* bytes, std::size_t size, std::size_t i, char32_t* cp) {
  const std::uint8_t lead = bytes[i];
  std::size_t length = 0;
  char32_t value = 0;
  if ((lead & 0xE0) == 0xC0) {
    length = 2;
    value = lead & 0x1F;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3;
    value = lead & 0x0F;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4;
    value = lead & 0x07;
  } else {
    return 0;
  }
  if (i + length > size) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((bytes[i + k] & 0xC0) != 0x80) return 0;
    value = (value << 6) | (bytes[i + k] & 0x3F);
  }
  static const char32_t kShortest[5] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kShortest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
    return 0;
  *cp = value;
  return length;
}

void Append(std::u16string& out, char32_t cp) {
  if (cp > 0xFFFF) {
    out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
  } else {
    out.push_back(static_cast<char16_t>(cp));
  }
}

}  // namespace

std::u16string ReferenceDecode(const std::uint8_t* bytes, std::size_t size) {
  std::u16string units;
  std::size_t i = 0;
  int utf16 = 0;  // 0 UTF-8, 1 little-endian, 2 big-endian
  if (size >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
    utf16 = 1;
    i = 2;
  } else if (size >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
    utf16 = 2;
    i = 2;
  } else if (size >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
    i = 3;
  }
  if (utf16 != 0) {
    for (; i + 1 < size; i += 2) {
      const char16_t unit = utf16 == 1 ? static_cast<char16_t>(bytes[i] | (bytes[i + 1] << 8))
                                       : static_cast<char16_t>((bytes[i] << 8) | bytes[i + 1]);
      units.push_back(unit);
    }
    if (i < size) units.push_back(0xFFFD);
  } else {
    while (i < size) {
      char32_t cp = 0;
      const std::size_t length = bytes[i] < 0x80 ? 0 : Utf8At(bytes, size, i, &cp);
      if (length == 0) {
        cp = bytes[i] < 0x80 ? bytes[i] : plat::text::Windows1252(bytes[i]);
        ++i;
      } else {
        i += length;
      }
      Append(units, cp);
    }
  }
  // CR LF is one line feed; a CR before anything else stays. UTF-16 units are
  // already the text, pairs included.
  std::u16string text;
  for (std::size_t k = 0; k < units.size(); ++k) {
    if (units[k] == u'\r' && k + 1 < units.size() && units[k + 1] == u'\n') continue;
    text.push_back(units[k]);
  }
  return text;
}

std::vector<std::u16string> ReferenceLines(const std::u16string& text) {
  std::vector<std::u16string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    const std::size_t feed = text.find(u'\n', start);
    if (feed == std::u16string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, feed - start));
    start = feed + 1;
  }
  return lines;
}

}  // namespace fuzz
