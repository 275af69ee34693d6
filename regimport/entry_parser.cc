#include <string>
#include <string_view>

#include "regimport/brixparse.h"

namespace {

bool IsDelimiter(char16_t c) {
  return c == u';' || c == u'[' || c == u'"' || c == u'=' || c == u':';
}

bool IsListSeparator(char16_t c) { return c == u',' || c == u' '; }

// Reads a hexadecimal number from p, stopping at end (nullptr: no bound) or a terminator.
std::uint32_t HexRange(const char16_t* p, const char16_t* end) {
  while (p != end && *p != 0 && (*p <= 0x20 || *p == u'0' || *p == u'x')) ++p;
  std::uint32_t value = 0;
  for (; p != end; ++p) {
    const char16_t c = *p;
    std::uint32_t digit = 0;
    if (c >= u'0' && c <= u'9')
      digit = c - u'0';
    else if (c >= u'a' && c <= u'f')
      digit = c - u'a' + 10;
    else if (c >= u'A' && c <= u'F')
      digit = c - u'A' + 10;
    else
      break;
    value = value * 16 + digit;  // wraps: only the last eight digits count
  }
  return value;
}

void PushUnit(std::vector<std::uint8_t>& data, char16_t unit) {
  data.push_back(static_cast<std::uint8_t>(unit & 0xFF));
  data.push_back(static_cast<std::uint8_t>(unit >> 8));
}

// True when token is a leading part of prefix (compared over the token's length).
bool IsLeadingPart(const std::u16string& token, std::u16string_view prefix) {
  return token.size() <= prefix.size() && prefix.substr(0, token.size()) == token;
}

// True when data can take n more bytes without growing beyond the largest
// value; a value that would is given up at once, before its data is built.
bool Fits(const std::vector<std::uint8_t>& data, std::size_t n) {
  return n <= kMaxValueData - data.size();
}

// String: the text between the opening double quote and the last character, then a terminator.
bool FillString(const std::u16string& token, std::vector<std::uint8_t>& data) {
  const std::size_t inner = token.size() >= 2 ? token.size() - 2 : 0;
  if (inner + 1 > kMaxValueData / 2) return false;
  data.resize((inner + 1) * 2);
  std::uint8_t* out = data.data();
  for (std::size_t i = 1; i <= inner; ++i, out += 2) {
    out[0] = static_cast<std::uint8_t>(token[i] & 0xFF);
    out[1] = static_cast<std::uint8_t>(token[i] >> 8);
  }
  out[0] = 0;
  out[1] = 0;
  return true;
}

void FillDword(const char16_t* rest, std::vector<std::uint8_t>& data) {
  const std::uint32_t value = HexRange(rest, nullptr);
  for (int shift = 0; shift < 32; shift += 8)
    data.push_back(static_cast<std::uint8_t>(value >> shift));
}

// Byte list (wide false) or character list (wide true): one number per word
// of the rest, words separated by runs of "," and " ".
bool FillNumberList(const char16_t* rest, bool wide, std::vector<std::uint8_t>& data) {
  const char16_t* p = rest;
  for (;;) {
    while (IsListSeparator(*p)) ++p;
    if (*p == 0) return true;
    if (!Fits(data, wide ? 2 : 1)) return false;
    const char16_t* wordEnd = p;
    while (*wordEnd != 0 && !IsListSeparator(*wordEnd)) ++wordEnd;
    const std::uint32_t value = HexRange(p, wordEnd);
    data.push_back(static_cast<std::uint8_t>(value & 0xFF));
    if (wide) data.push_back(0);
    p = wordEnd;
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

}  // namespace

std::uint32_t CBrixparse::HexToULong(const char16_t* text) { return HexRange(text, nullptr); }

int CBrixparse::GetToken(const char16_t* text, std::u16string& token, std::size_t& consumed) {
  const char16_t* delimiter = text;
  while (*delimiter != 0 && !IsDelimiter(*delimiter)) ++delimiter;
  if (*delimiter == 0) return 0;
  const std::size_t position = static_cast<std::size_t>(delimiter - text);
  consumed = 0;
  switch (*delimiter) {
    case u'=':
      token.assign(u"=");
      consumed = 1;
      return 1;
    case u':': {
      consumed = position + 1;
      const char16_t* word = text;
      while (*word == u' ' || *word == u':') ++word;
      if (*word == 0) return 0;
      const char16_t* wordEnd = word;
      while (*wordEnd != 0 && *wordEnd != u' ' && *wordEnd != u':') ++wordEnd;
      token.assign(word, wordEnd);
      return 1;
    }
    case u'[':
    case u'"': {
      const char16_t closing = *delimiter == u'[' ? u']' : u'"';
      const char16_t* close = delimiter + 1;
      while (*close != 0 && *close != closing) ++close;
      if (*close == 0) return 0;
      token.assign(delimiter, close + 1);
      consumed = static_cast<std::size_t>(close - text);
      return 1;
    }
    default:  // ";": the rest of the line is a comment
      return 0;
  }
}

int CBrixparse::ParseEntry(CLineEntry& entry, const std::u16string& line) {
  const char16_t* text = line.c_str();
  // Only a "[" or a double quote can open an entry. With any other first
  // delimiter the first token is a word (":") or no name at all, and a word
  // that happens to begin with a double quote was never closed as a name.
  const char16_t* first = text;
  while (*first != 0 && !IsDelimiter(*first)) ++first;
  if (*first != u'[' && *first != u'"') return 0;
  std::size_t consumed = 0;
  if (GetToken(text, entry.token, consumed) == 0) return 0;
  std::u16string& token = entry.token;
  entry.kind = *first == u'[' ? kEntryKey : kEntryValue;
  // Drop the enclosing pair; a one-character token has no inner text.
  if (token.size() >= 2) {
    token.pop_back();
    token.erase(0, 1);
  } else {
    token.clear();
  }
  if (entry.kind == kEntryKey) return 1;

  if (token.size() > kMaxValueName) return 0;
  entry.valueName.swap(token);
  // The "=" must stand directly behind the name's closing double quote: the
  // value text starts two characters behind it.
  std::size_t p = consumed + 1;
  if (p > line.size()) p = line.size();
  std::size_t equalsConsumed = 0;
  if (GetToken(text + p, token, equalsConsumed) == 0 || token != u"=") return 0;
  p += equalsConsumed;

  const char16_t* value = text + p;
  std::size_t typeConsumed = 0;
  // The text of a line ends at its first zero unit, for a string too.
  if (*value == u'"')
    token.assign(value, std::char_traits<char16_t>::length(value));
  else if (GetToken(value, token, typeConsumed) == 0)
    return 0;
  const char16_t* rest = value + typeConsumed;

  entry.data.clear();
  bool fits = true;
  if (token[0] == u'"') {
    entry.type = kRegSz;
    fits = FillString(token, entry.data);
  } else if (IsLeadingPart(token, u"dword:")) {
    entry.type = kRegDword;
    FillDword(rest, entry.data);
  } else if (IsLeadingPart(token, u"hex:")) {
    entry.type = kRegBinary;
    fits = FillNumberList(rest, false, entry.data);
  } else if (IsLeadingPart(token, u"hex(7):")) {
    entry.type = kRegMultiSz;
    fits = FillNumberList(rest, true, entry.data);
  } else if (IsLeadingPart(token, u"multi_sz:")) {
    entry.type = kRegMultiSz;
    fits = FillStringList(rest, entry.data);
  } else if (IsLeadingPart(token, u"hex(2):")) {
    entry.type = kRegExpandSz;
    fits = FillNumberList(rest, true, entry.data);
  } else {
    return 0;  // an unknown type word gives no value
  }
  if (!fits) return 0;
  entry.size = static_cast<std::uint32_t>(entry.data.size());
  return 1;
}
