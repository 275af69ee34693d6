#include "platform/posix/regstore/names.h"

#include <cstdint>

namespace regstore {
namespace {

bool IsHigh(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool IsLow(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

void PutCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (cp >> 18));
    out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
}

void PutUnitOrPair(std::u16string& out, std::uint32_t cp) {
  if (cp < 0x10000) {
    out += static_cast<char16_t>(cp);
  } else {
    cp -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (cp >> 10));
    out += static_cast<char16_t>(0xDC00 + (cp & 0x3FF));
  }
}

}  // namespace

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  ToUtf8Into(text, false, &out);
  return out;
}

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
  for (; i < text.size(); ++i) {
    const char16_t u = fold ? FoldUnit(text[i]) : text[i];
    if (IsHigh(u) && i + 1 < text.size() && IsLow(text[i + 1])) {
      PutCodePoint(*out, 0x10000 + ((static_cast<std::uint32_t>(u) - 0xD800) << 10) + (text[i + 1] - 0xDC00));
      ++i;
    } else {
      // A lone surrogate is kept as its own sequence so that every name survives storage.
      PutCodePoint(*out, u);
    }
  }
}

std::u16string FromUtf8(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  std::size_t i = 0;
  while (i < text.size()) {
    const auto b = static_cast<unsigned char>(text[i]);
    std::size_t extra = 0;
    std::uint32_t cp = 0;
    if (b < 0x80) {
      cp = b;
    } else if ((b & 0xE0) == 0xC0) {
      extra = 1, cp = b & 0x1F;
    } else if ((b & 0xF0) == 0xE0) {
      extra = 2, cp = b & 0x0F;
    } else if ((b & 0xF8) == 0xF0) {
      extra = 3, cp = b & 0x07;
    } else {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    if (i + extra >= text.size()) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    bool ok = true;
    for (std::size_t k = 1; k <= extra; ++k) {
      const auto c = static_cast<unsigned char>(text[i + k]);
      if ((c & 0xC0) != 0x80) {
        ok = false;
        break;
      }
      cp = (cp << 6) | (c & 0x3F);
    }
    if (!ok || cp > 0x10FFFF) {
      out += u'\uFFFD';
      ++i;
      continue;
    }
    PutUnitOrPair(out, cp);
    i += extra + 1;
  }
  return out;
}

bool IsWellFormed(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (IsHigh(text[i])) {
      if (i + 1 >= text.size() || !IsLow(text[i + 1])) return false;
      ++i;
    } else if (IsLow(text[i])) {
      return false;
    }
  }
  return true;
}

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
