// The UTF-8 rules are those of the standard (shortest form only, nothing above
// U+10FFFF); the "keeping" pair of conversions relaxes exactly one of them, so
// that a lone surrogate written as its three bytes comes back as the same unit.
#include "platform/utf.h"

namespace plat::utf {
namespace {

// Decodes one UTF-8 sequence at text[*i]. A byte that begins no valid sequence
// is consumed alone and false returned, so that one bad byte never swallows
// the text behind it. An encoded surrogate is valid only when keepSurrogates.
bool NextUtf8(std::string_view text, std::size_t* i, bool keepSurrogates, char32_t* c) {
  const auto lead = static_cast<unsigned char>(text[*i]);
  std::size_t length = 0;
  char32_t least = 0;
  if (lead < 0x80) {
    *c = lead;
    ++*i;
    return true;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, least = 0x80, *c = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, least = 0x800, *c = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, least = 0x10000, *c = lead & 0x07;
  } else {
    ++*i;
    return false;
  }
  if (text.size() - *i < length) {
    ++*i;
    return false;
  }
  for (std::size_t k = 1; k < length; ++k) {
    const auto b = static_cast<unsigned char>(text[*i + k]);
    if ((b & 0xC0) != 0x80) {
      ++*i;
      return false;
    }
    *c = (*c << 6) | (b & 0x3F);
  }
  if (*c < least || *c > 0x10FFFF || (IsSurrogate(*c) && !keepSurrogates)) {
    ++*i;
    return false;
  }
  *i += length;
  return true;
}

std::u16string DecodeReplacing(std::string_view text, bool keepSurrogates) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    AppendUtf16(NextUtf8(text, &i, keepSurrogates, &c) ? c : kReplacement, &out);
  }
  return out;
}

}  // namespace

char32_t NextCodePoint(std::u16string_view text, std::size_t* i) {
  const char16_t u = text[(*i)++];
  if (IsHighSurrogate(u) && *i < text.size() && IsLowSurrogate(text[*i])) return FromPair(u, text[(*i)++]);
  return u;
}

void AppendUtf16(char32_t c, std::u16string* out) {
  if (c < 0x10000) {
    out->push_back(static_cast<char16_t>(c));
  } else {
    out->push_back(HighOf(c));
    out->push_back(LowOf(c));
  }
}

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

bool IsWellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size();)
    if (IsSurrogate(NextCodePoint(text, &i))) return false;
  return true;
}

bool ToUtf8(std::u16string_view text, std::string* out) {
  out->clear();
  out->reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = NextCodePoint(text, &i);
    if (IsSurrogate(c)) return false;
    AppendUtf8(c, out);
  }
  return true;
}

std::string ToUtf8Lenient(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = NextCodePoint(text, &i);
    AppendUtf8(IsSurrogate(c) ? kReplacement : c, &out);
  }
  return out;
}

std::string ToUtf8Keeping(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) AppendUtf8(NextCodePoint(text, &i), &out);
  return out;
}

bool ToUtf16(std::string_view text, std::u16string* out) {
  out->clear();
  out->reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    char32_t c = 0;
    if (!NextUtf8(text, &i, false, &c)) return false;
    AppendUtf16(c, out);
  }
  return true;
}

std::u16string ToUtf16Lenient(std::string_view text) { return DecodeReplacing(text, false); }

std::u16string ToUtf16Keeping(std::string_view text) { return DecodeReplacing(text, true); }

std::u16string ToUtf16Escaped(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size();) {
    const std::size_t at = i;
    char32_t c = 0;
    if (NextUtf8(text, &i, false, &c))
      AppendUtf16(c, &out);
    else
      out.push_back(static_cast<char16_t>(0xDC00u | static_cast<unsigned char>(text[at])));
  }
  return out;
}

}  // namespace plat::utf
