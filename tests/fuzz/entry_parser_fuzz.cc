// Fuzz target: the entry parser on one logical line, against the key and value
// line grammar of docs/behaviour.md worked out independently here:
// - a line gives a key only from a "[" ... "]" pair and a value only from a
//   name in double quotes that is directly followed by "=", as the first token
//   of the line (a line whose first token is a word before ":" gives nothing);
// - a known type word gives exactly its bytes, an unknown one gives nothing;
// - the outcome never depends on what the record held from an earlier line.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "regimport/brixparse.h"
#include "tests/fuzz/fuzz_support.h"

using brixparse::kEntryKey;
using brixparse::kEntryValue;
using brixparse::kRegSz;
using brixparse::kRegExpandSz;
using brixparse::kRegBinary;
using brixparse::kRegDword;
using brixparse::kRegMultiSz;
using brixparse::kMaxValueName;
using brixparse::kMaxValueData;
using brixparse::CLineEntry;
using brixparse::CBrixparse;

namespace {

constexpr std::size_t npos = std::u16string::npos;

struct Outcome {
  int result = 0;
  std::int32_t kind = 0;
  std::u16string text;  // key path or value name
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const Outcome&) const = default;
};

bool IsDelimiter(char16_t c) { return c == u';' || c == u'[' || c == u'"' || c == u'=' || c == u':'; }

std::size_t FirstDelimiter(const std::u16string& text, std::size_t from) {
  for (std::size_t i = from; i < text.size(); ++i)
    if (IsDelimiter(text[i])) return i;
  return npos;
}

// docs: pass over codes up to U+0020, "0" and "x"; then hexadecimal digits, 32 bits wrapping.
std::uint32_t Hex(std::u16string_view text) {
  std::size_t i = 0;
  while (i < text.size() && (text[i] <= 0x20 || text[i] == u'0' || text[i] == u'x')) ++i;
  std::uint32_t value = 0;
  for (; i < text.size(); ++i) {
    const char16_t c = text[i];
    const int digit = c >= u'0' && c <= u'9' ? c - u'0'
                      : c >= u'a' && c <= u'f' ? c - u'a' + 10
                      : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                               : -1;
    if (digit < 0) break;
    value = value * 16 + static_cast<std::uint32_t>(digit);
  }
  return value;
}

std::string Units(std::u16string_view text) {
  std::string bytes;
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

// The words of a number list: runs of characters other than "," and " ".
std::vector<std::u16string_view> Words(std::u16string_view rest) {
  std::vector<std::u16string_view> words;
  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && (rest[i] == u',' || rest[i] == u' ')) ++i;
    const std::size_t start = i;
    while (i < rest.size() && rest[i] != u',' && rest[i] != u' ') ++i;
    if (i > start) words.push_back(rest.substr(start, i - start));
  }
  return words;
}

bool LeadingPart(const std::u16string& word, std::u16string_view prefix) {
  return word.size() <= prefix.size() && prefix.substr(0, word.size()) == word;
}

// The outcome the grammar gives; nullopt where it asks nothing (a string
// value running into a NUL, whose data may or may not stop there).
std::optional<Outcome> Expected(const std::u16string& line, bool* multiSz) {
  const std::u16string text = line.substr(0, line.find(u'\0'));  // what the token scanner sees
  Outcome none;
  const std::size_t first = FirstDelimiter(text, 0);
  if (first == npos || text[first] == u';' || text[first] == u'=') return none;
  // Only a "[" or a name's opening double quote opens an entry.
  if (text[first] == u':') return none;
  const char16_t closing = text[first] == u'[' ? u']' : u'"';
  const std::size_t close = text.find(closing, first + 1);
  if (close == npos) return none;
  Outcome out;
  out.result = 1;
  out.text = text.substr(first + 1, close - first - 1);
  if (closing == u']') {
    out.kind = kEntryKey;
    return out;
  }
  out.kind = kEntryValue;
  if (out.text.size() > kMaxValueName) return none;
  // The "=" must follow the name's closing double quote directly.
  if (close + 1 >= text.size() || text[close + 1] != u'=') return none;
  const std::size_t value = close + 2;
  if (value < text.size() && text[value] == u'"') {
    // The token is the rest of the line; its last character is dropped.
    if (line.size() != text.size()) return std::nullopt;
    out.type = kRegSz;
    const std::size_t length = text.size() - value;
    out.data = Units(std::u16string_view(text).substr(value + 1, length >= 2 ? length - 2 : 0)) +
               std::string(2, '\0');
    return out;
  }
  const std::size_t delimiter = FirstDelimiter(text, value);
  if (delimiter == npos || text[delimiter] != u':') {
    if (delimiter == npos || text[delimiter] != u'"') return none;
    const std::size_t end = text.find(u'"', delimiter + 1);
    if (end == npos) return none;
    out.type = kRegSz;
    out.data = Units(std::u16string_view(text).substr(delimiter + 1, end - delimiter - 1)) +
               std::string(2, '\0');
    return out;
  }
  std::size_t w = value;
  while (w < text.size() && (text[w] == u' ' || text[w] == u':')) ++w;
  if (w == text.size()) return none;
  std::size_t wordEnd = w;
  while (wordEnd < text.size() && text[wordEnd] != u' ' && text[wordEnd] != u':') ++wordEnd;
  const std::u16string word = text.substr(w, wordEnd - w);
  const std::u16string_view rest = std::u16string_view(text).substr(delimiter + 1);
  if (word[0] == u'"') {
    // A word that begins with a double quote is a string, cut like any string token.
    out.type = kRegSz;
    out.data = Units(std::u16string_view(word).substr(1, word.size() >= 2 ? word.size() - 2 : 0)) +
               std::string(2, '\0');
  } else if (LeadingPart(word, u"dword:")) {
    const std::uint32_t number = Hex(rest);
    out.type = kRegDword;
    for (int shift = 0; shift < 32; shift += 8) out.data.push_back(static_cast<char>(number >> shift));
  } else if (LeadingPart(word, u"hex:")) {
    out.type = kRegBinary;
    for (std::u16string_view number : Words(rest)) out.data.push_back(static_cast<char>(Hex(number)));
  } else if (LeadingPart(word, u"hex(7):") || LeadingPart(word, u"hex(2):")) {
    out.type = LeadingPart(word, u"hex(7):") ? kRegMultiSz : kRegExpandSz;
    for (std::u16string_view number : Words(rest)) {
      out.data.push_back(static_cast<char>(Hex(number)));
      out.data.push_back(0);
    }
  } else if (LeadingPart(word, u"multi_sz:")) {
    out.type = kRegMultiSz;
    *multiSz = true;  // its data is checked for form only
  } else {
    return none;
  }
  if (out.data.size() > kMaxValueData) return none;
  return out;
}

Outcome Run(CLineEntry& entry, const std::u16string& line) {
  Outcome out;
  out.result = CBrixparse::ParseEntry(entry, line);
  if (out.result == 0) return out;
  out.kind = entry.kind;
  if (entry.kind == kEntryKey) {
    out.text = entry.token;
    return out;
  }
  out.text = entry.valueName;
  out.type = entry.type;
  FUZZ_CHECK(entry.size == entry.data.size(), "size " + std::to_string(entry.size) + " for " +
                                                  std::to_string(entry.data.size()) + " bytes");
  out.data.assign(entry.data.begin(), entry.data.end());
  return out;
}

std::string Describe(const Outcome& o) {
  if (o.result == 0) return "no entry";
  std::string s = (o.kind == kEntryKey ? "key \"" : "value \"") + fuzz::Show(o.text) + "\"";
  if (o.kind == kEntryValue) {
    s += " type " + std::to_string(o.type) + " data";
    for (unsigned char b : o.data) s += " " + std::to_string(b);
  }
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::u16string line = fuzz::UnitsFromBytes(data, size);

  CLineEntry fresh;
  const Outcome got = Run(fresh, line);
  // A record left over from an earlier value line must not change the outcome.
  CLineEntry stale;
  stale.kind = kEntryValue;
  stale.token = u"stale";
  stale.valueName = u"stale";
  stale.type = kRegDword;
  stale.data = {1, 2, 3, 4};
  stale.size = 4;
  const Outcome again = Run(stale, line);
  FUZZ_CHECK(again == got, "after an earlier line: " + Describe(again) + "; alone: " + Describe(got) +
                               "; line \"" + fuzz::Show(line) + "\"");

  bool multiSz = false;
  const std::optional<Outcome> want = Expected(line, &multiSz);
  if (!want) return 0;
  const std::string report = "line \"" + fuzz::Show(line) + "\": got " + Describe(got) + "; rules give " +
                             Describe(*want);
  if (!multiSz) {
    FUZZ_CHECK(got == *want, report);
    return 0;
  }
  FUZZ_CHECK(got.result == 1 && got.kind == kEntryValue && got.text == want->text && got.type == kRegMultiSz,
             report);
  // A string list: whole units, closed by an empty string.
  const std::string& d = got.data;
  FUZZ_CHECK(d.size() >= 2 && d.size() % 2 == 0 && d[d.size() - 1] == 0 && d[d.size() - 2] == 0, report);
  return 0;
}
