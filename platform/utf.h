// UTF-16 and UTF-8: the one place where surrogate pairs are assembled and split,
// for every backend and the host tools. Device text is UTF-16 code units and may
// hold lone surrogates; host names, arguments, terminals and the registry store
// are UTF-8. Portable: no OS, built for the device's CPU too.
//
// Four ways to meet a lone surrogate or a byte that is no UTF-8, chosen by the caller:
//   strict   the conversion fails (host names must be exact);
//   lenient  it becomes U+FFFD (text shown to people);
//   keeping  a lone surrogate becomes its own three-byte sequence and comes back
//            from it (storage that must give back every unit it was given);
//   escaped  a stray byte becomes the lone surrogate U+DC80..U+DCFF (a host name
//            that is no UTF-8 stays visible, as a name every device path refuses).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace plat::utf {

inline constexpr char32_t kReplacement = 0xFFFD;

// True for the first unit of a surrogate pair (U+D800..U+DBFF).
constexpr bool IsHighSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
// True for the second unit of a surrogate pair (U+DC00..U+DFFF).
constexpr bool IsLowSurrogate(char32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
// True for either half of a pair.
constexpr bool IsSurrogate(char32_t u) { return u >= 0xD800 && u <= 0xDFFF; }
// The code point of a high and a low surrogate.
constexpr char32_t FromPair(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }
// The high surrogate of a code point above U+FFFF.
constexpr char16_t HighOf(char32_t c) { return static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)); }
// The low surrogate of a code point above U+FFFF.
constexpr char16_t LowOf(char32_t c) { return static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)); }

// The code point at text[*i], moving *i past it: a pair as one code point, any other
// unit (a lone surrogate too) as itself.
char32_t NextCodePoint(std::u16string_view text, std::size_t* i);
// Appends c as one unit, or as a pair when it lies above U+FFFF.
void AppendUtf16(char32_t c, std::u16string* out);
// Appends the UTF-8 of c; a surrogate becomes its own three-byte sequence.
void AppendUtf8(char32_t c, std::string* out);
// True when text holds no lone surrogate, so that its UTF-8 is valid.
bool IsWellFormed(std::u16string_view text);

// UTF-16 to UTF-8, strict: false (out unspecified) on a lone surrogate.
bool ToUtf8(std::u16string_view text, std::string* out);
// UTF-16 to UTF-8, lenient: each lone surrogate becomes U+FFFD.
std::string ToUtf8Lenient(std::u16string_view text);
// UTF-16 to UTF-8, keeping: each lone surrogate becomes its own three-byte sequence.
std::string ToUtf8Keeping(std::u16string_view text);

// UTF-8 to UTF-16, strict: false (out unspecified) on a malformed, overlong or
// surrogate sequence or a code point above U+10FFFF.
bool ToUtf16(std::string_view text, std::u16string* out);
// UTF-8 to UTF-16, lenient: each byte that begins no valid sequence becomes U+FFFD.
std::u16string ToUtf16Lenient(std::string_view text);
// UTF-8 to UTF-16, keeping: reads ToUtf8Keeping back (an encoded surrogate gives its
// unit); otherwise as ToUtf16Lenient.
std::u16string ToUtf16Keeping(std::string_view text);
// UTF-8 to UTF-16, escaped: each byte that begins no valid sequence becomes the
// unpaired surrogate U+DC80 to U+DCFF (U+DC00 plus the byte).
std::u16string ToUtf16Escaped(std::string_view text);

}  // namespace plat::utf
