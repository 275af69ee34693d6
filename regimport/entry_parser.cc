#include <array>
#include <string>
#include <string_view>

#include "regimport/brixparse.h"

namespace brixparse {

namespace {

bool IsDelimiter(char16_t c) {
  return c == u';' || c == u'[' || c == u'"' || c == u'=' || c == u':';
}

// The value of a hexadecimal digit, or -1 for any other character.
int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// Reads a hexadecimal number from text, up to its terminator.
std::uint32_t HexRange(const char16_t* p) {
  while (*p != 0 && (*p <= 0x20 || *p == u'0' || *p == u'x')) ++p;
  std::uint32_t value = 0;
  // Wraps: only the last eight digits count.
  for (int digit; (digit = HexDigit(*p)) >= 0; ++p) value = value * 16 + static_cast<std::uint32_t>(digit);
  return value;
}

void PushUnit(std::vector<std::uint8_t>& data, char16_t unit) {
  data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  data.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// True when [begin, end) is a leading part of prefix (compared over its own length).
bool IsLeadingPart(const char16_t* begin, const char16_t* end, std::u16string_view prefix) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  return length <= prefix.size() && prefix.substr(0, length) == std::u16string_view(begin, length);
}

// True when data can take n more bytes without growing beyond the largest
// value; a value that would is given up at once, before its data is built.
bool Fits(const std::vector<std::uint8_t>& data, std::size_t n) {
  return n <= kMaxValueData - data.size();
}

// String: the token [begin, end) without its first character (the opening
// double quote) and its last, then a terminator.
bool FillString(const char16_t* begin, const char16_t* end, std::vector<std::uint8_t>& data) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  const std::size_t inner = length >= 2 ? length - 2 : 0;
  if (inner + 1 > kMaxValueData / 2) return false;
  data.resize((inner + 1) * 2);
  std::uint8_t* out = data.data();
  for (std::size_t i = 1; i <= inner; ++i, out += 2) {
    out[0] = static_cast<std::uint8_t>(begin[i] & 0xFF);
    out[1] = static_cast<std::uint8_t>(begin[i] >> 8);
  }
  out[0] = 0;
  out[1] = 0;
  return true;
}

void FillDword(const char16_t* rest, std::vector<std::uint8_t>& data) {
  const std::uint32_t value = HexRange(rest);
  for (int shift = 0; shift < 32; shift += 8)
    data.push_back(static_cast<std::uint8_t>(value >> shift));
}

// What a character is to a number list: a bit set over the classes below,
// with a hexadecimal digit's value in the low four bits.
constexpr std::uint8_t kDigit = 0x10;      // "0"-"9", "a"-"f", "A"-"F"
constexpr std::uint8_t kLead = 0x20;       // passed over before the digits: controls, "0", "x"
constexpr std::uint8_t kSeparator = 0x40;  // "," and " "
constexpr std::uint8_t kEnd = 0x80;        // the terminator

constexpr std::array<std::uint8_t, 128> kListClass = [] {
  std::array<std::uint8_t, 128> table{};
  table[0] = kEnd;
  for (int c = 1; c < 0x20; ++c) table[c] = kLead;
  table[u','] = table[u' '] = kSeparator;
  for (int d = 0; d < 10; ++d) table[u'0' + d] = static_cast<std::uint8_t>(kDigit | d);
  for (int d = 0; d < 6; ++d) {
    table[u'a' + d] = static_cast<std::uint8_t>(kDigit | (10 + d));
    table[u'A' + d] = static_cast<std::uint8_t>(kDigit | (10 + d));
  }
  table[u'0'] |= kLead;
  table[u'x'] = kLead;
  return table;
}();

std::uint8_t ListClass(char16_t c) { return c < kListClass.size() ? kListClass[c] : 0; }

// Byte list (wide false) or character list (wide true): one number per word
// of the rest, words separated by runs of "," and " ". Each word is read as
// HexToULong reads a text that ends with the word.
bool FillNumberList(const char16_t* rest, bool wide, std::vector<std::uint8_t>& data) {
  const char16_t* p = rest;
  for (;;) {
    while (ListClass(*p) & kSeparator) ++p;
    if (*p == 0) return true;
    if (!Fits(data, wide ? 2 : 1)) return false;
    std::uint8_t c = ListClass(*p);
    const std::uint8_t second = ListClass(p[1]);
    if ((c & second & kDigit) && (ListClass(p[2]) & (kSeparator | kEnd))) {
      // The usual word of two digits; a leading "0" passed over adds nothing.
      data.push_back(static_cast<std::uint8_t>(((c & 0x0F) << 4) | (second & 0x0F)));
      if (wide) data.push_back(0);
      p += 2;
      continue;
    }
    while ((c = ListClass(*p)) & kLead) ++p;
    std::uint32_t value = 0;  // wraps: only the last eight digits count
    for (; c & kDigit; c = ListClass(*++p)) value = value * 16 + (c & 0x0F);
    while (!(c & (kSeparator | kEnd))) c = ListClass(*++p);
    data.push_back(static_cast<std::uint8_t>(value & 0xFF));
    if (wide) data.push_back(0);
  }
}

// String list: the character behind the ":" is skipped; each element runs to
// the next "," or the end of the line and loses its last character (the
// closing double quote); the next element starts behind the next double
// quote. Every step stays inside the line, whatever the line holds.
bool FillStringList(const char16_t* rest, std::vector<std::uint8_t>& data) {
  if (*rest != 0) {
    const char16_t* q = rest + 1;
    for (;;) {
      const char16_t* end = q;
      while (*end != 0 && *end != u',') ++end;
      // The element's characters but its last, and a terminator.
      const std::size_t units = end > q ? static_cast<std::size_t>(end - q) : 1;
      if (!Fits(data, 2 * units)) return false;
      for (const char16_t* c = q; c + 1 < end; ++c) PushUnit(data, *c);
      PushUnit(data, 0);
      if (*end == 0) break;
      const char16_t* open = end + 1;
      while (*open != 0 && *open != u'"') ++open;
      if (*open == 0) break;
      q = open + 1;
    }
  }
  if (!Fits(data, 2)) return false;
  PushUnit(data, 0);
  return true;
}

// A token of a text, as a range of it: begin nullptr when the text has no
// delimiter (consumed then not set), end nullptr when there is no token.
struct Token {
  char16_t delimiter = 0;  // the text's first delimiter
  const char16_t* begin = nullptr;
  const char16_t* end = nullptr;
  std::size_t consumed = 0;
};

// GetToken's rules without the copy.
Token CutToken(const char16_t* text) {
  const char16_t* delimiter = text;
  while (*delimiter != 0 && !IsDelimiter(*delimiter)) ++delimiter;
  if (*delimiter == 0) return {};
  Token t;
  t.delimiter = *delimiter;
  t.begin = delimiter;
  switch (*delimiter) {
    case u'=':
      t.end = delimiter + 1;
      t.consumed = 1;
      return t;
    case u':': {
      t.consumed = static_cast<std::size_t>(delimiter - text) + 1;
      const char16_t* word = text;
      while (*word == u' ' || *word == u':') ++word;
      if (*word == 0) return t;
      const char16_t* wordEnd = word;
      while (*wordEnd != 0 && *wordEnd != u' ' && *wordEnd != u':') ++wordEnd;
      t.begin = word;
      t.end = wordEnd;
      return t;
    }
    case u'[':
    case u'"': {
      const char16_t closing = *delimiter == u'[' ? u']' : u'"';
      const char16_t* close = delimiter + 1;
      while (*close != 0 && *close != closing) ++close;
      if (*close == 0) return t;
      t.end = close + 1;
      t.consumed = static_cast<std::size_t>(close - text);
      return t;
    }
    default:  // ";": the rest of the line is a comment
      return t;
  }
}

}  // namespace

std::uint32_t CBrixparse::HexToULong(const char16_t* text) { return HexRange(text); }

int CBrixparse::GetToken(const char16_t* text, std::u16string& token, std::size_t& consumed) {
  const Token found = CutToken(text);
  if (found.begin == nullptr) return 0;
  consumed = found.consumed;
  if (found.end == nullptr) return 0;
  token.assign(found.begin, found.end);
  return 1;
}

int CBrixparse::ParseEntry(CLineEntry& entry, const std::u16string& line) {
  // The text of a line ends at its first zero unit.
  const char16_t* text = line.c_str();
  // Only a "[" or a double quote can open an entry. With any other first
  // delimiter the first token is a word (":") or no name at all, and a word
  // that happens to begin with a double quote was never closed as a name.
  const Token first = CutToken(text);
  if ((first.delimiter != u'[' && first.delimiter != u'"') || first.end == nullptr) return 0;
  // The pair's inner text, delimiters dropped; it may be empty.
  const char16_t* inner = first.begin + 1;
  const char16_t* close = first.end - 1;
  if (first.delimiter == u'[') {
    entry.kind = kEntryKey;
    entry.token.assign(inner, close);
    return 1;
  }
  entry.kind = kEntryValue;
  if (static_cast<std::size_t>(close - inner) > kMaxValueName) return 0;
  entry.valueName.assign(inner, close);
  // The "=" must stand directly behind the name's closing double quote: the
  // value text starts two characters behind it. (Any "=" further on would
  // be the first delimiter of the value text and so no type.)
  if (close[1] != u'=') return 0;
  const char16_t* value = close + 2;

  // The value's token: the whole rest when it opens with a double quote.
  Token type;
  if (*value == u'"') {
    type.begin = value;
    type.end = value + std::char_traits<char16_t>::length(value);
  } else {
    type = CutToken(value);
    if (type.end == nullptr) return 0;
  }
  const char16_t* rest = value + type.consumed;

  entry.data.clear();
  bool fits = true;
  if (*type.begin == u'"') {
    entry.type = kRegSz;
    fits = FillString(type.begin, type.end, entry.data);
  } else if (IsLeadingPart(type.begin, type.end, u"dword:")) {
    entry.type = kRegDword;
    FillDword(rest, entry.data);
  } else if (IsLeadingPart(type.begin, type.end, u"hex:")) {
    entry.type = kRegBinary;
    fits = FillNumberList(rest, false, entry.data);
  } else if (IsLeadingPart(type.begin, type.end, u"hex(7):")) {
    entry.type = kRegMultiSz;
    fits = FillNumberList(rest, true, entry.data);
  } else if (IsLeadingPart(type.begin, type.end, u"multi_sz:")) {
    entry.type = kRegMultiSz;
    fits = FillStringList(rest, entry.data);
  } else if (IsLeadingPart(type.begin, type.end, u"hex(2):")) {
    entry.type = kRegExpandSz;
    fits = FillNumberList(rest, true, entry.data);
  } else {
    return 0;  // an unknown type word gives no value
  }
  if (!fits) return 0;
  entry.size = static_cast<std::uint32_t>(entry.data.size());
  return 1;
}

}  // namespace brixparse
