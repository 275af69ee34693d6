#include "platform/posix/text.h"

#include <cstdint>

namespace plat::posix {
namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf8(char32_t c, std::string* out) {
  if (c < 0x80) {
    out->push_back(static_cast<char>(c));
  } else if (c < 0x800) {
    out->push_back(static_cast<char>(0xC0 | (c >> 6)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else if (c < 0x10000) {
    out->push_back(static_cast<char>(0xE0 | (c >> 12)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  } else {
    out->push_back(static_cast<char>(0xF0 | (c >> 18)));
    out->push_back(static_cast<char>(0x80 | ((c >> 12) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | ((c >> 6) & 0x3F)));
    out->push_back(static_cast<char>(0x80 | (c & 0x3F)));
  }
}

void AppendUtf16(char32_t c, std::u16string* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    c -= 0x10000;
    out->push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
    out->push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
  }
}

// Decodes one code point of UTF-16 at text[*i], advancing *i; false for an unpaired surrogate.
bool NextUtf16(std::u16string_view text, std::size_t* i, char32_t* c) {
  const char16_t u = text[(*i)++];
  if (u < 0xD800 || u > 0xDFFF) {
    *c = u;
    return true;
  }
  if (u <= 0xDBFF && *i < text.size() && text[*i] >= 0xDC00 && text[*i] <= 0xDFFF) {
    *c = 0x10000 + ((static_cast<char32_t>(u) - 0xD800) << 10) + (text[(*i)++] - 0xDC00);
    return true;
  }
  return false;
}

// Decodes one code point of UTF-8 at text[*i]; on a malformed sequence consumes one byte and fails.
bool NextUtf8(std::string_view text, std::size_t* i, char32_t* c) {
  const auto b0 = static_cast<unsigned char>(text[*i]);
  std::size_t len = 0;
  char32_t min = 0;
  if (b0 < 0x80) {
    *c = b0;
    ++*i;
    return true;
  } else if (b0 >= 0xC2 && b0 <= 0xDF) {
    len = 2, min = 0x80, *c = b0 & 0x1F;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    len = 3, min = 0x800, *c = b0 & 0x0F;
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    len = 4, min = 0x10000, *c = b0 & 0x07;
  } else {
    ++*i;
    return false;
  }
  if (*i + len > text.size()) {
    ++*i;
    return false;
  }
  for (std::size_t k = 1; k < len; ++k) {
    const auto b = static_cast<unsigned char>(text[*i + k]);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return false;
    }
    *c = (*c << 6) | (b & 0x3F);
  }
  if (*c < min || *c > 0x10FFFF || (*c >= 0xD800 && *c <= 0xDFFF)) {
    ++*i;
    return false;
  }
  *i += len;
  return true;
}

}  // namespace

bool ToUtf8(std::u16string_view text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    if (!NextUtf16(text, &i, &c)) return false;
    AppendUtf8(c, out);
  }
  return true;
}

std::string ToUtf8Lenient(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    AppendUtf8(NextUtf16(text, &i, &c) ? c : kReplacement, &out);
  }
  return out;
}

bool ToUtf16(std::string_view text, std::u16string* out) {
  out->clear();
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    if (!NextUtf8(text, &i, &c)) return false;
    AppendUtf16(c, out);
  }
  return true;
}

std::u16string ToUtf16Lenient(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    AppendUtf16(NextUtf8(text, &i, &c) ? c : kReplacement, &out);
  }
  return out;
}

std::u16string ToUtf16Escaped(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t at = i;
    char32_t c = 0;
    if (NextUtf8(text, &i, &c))
      AppendUtf16(c, &out);
    else
      out.push_back(static_cast<char16_t>(0xDC00u | static_cast<unsigned char>(text[at])));
  }
  return out;
}

}  // namespace plat::posix
