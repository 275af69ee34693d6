#include <array>
#include <string>
#include <string_view>

#include "regimport/brixparse.h"

namespace brixparse {

namespace {

// Tells the line's observer, if there is one, what was decided about a range of the line.
class Reporter {
 public:
  Reporter(LineObserver* observer, const char16_t* line) : observer_(observer), line_(line) {}
  explicit operator bool() const { return observer_ != nullptr; }
  void operator()(Decision decision, const char16_t* begin, const char16_t* end) const {
    if (observer_ != nullptr)
      observer_->Decided(decision, static_cast<std::size_t>(begin - line_), static_cast<std::size_t>(end - begin));
  }

 private:
  LineObserver* observer_;
  const char16_t* line_;
};

bool IsSpace(char16_t c) { return c == u' '; }
bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

// The first unit of [begin, end) that is not a blank, or end.
const char16_t* SkipBlanks(const char16_t* begin, const char16_t* end) {
  while (begin < end && IsBlank(*begin)) ++begin;
  return begin;
}

// The end of the text at p (its terminator).
const char16_t* EndOf(const char16_t* p) { return p + std::char_traits<char16_t>::length(p); }

// True when [begin, end) holds units other than spaces.
bool HoldsNonSpace(const char16_t* begin, const char16_t* end) {
  for (; begin < end; ++begin)
    if (!IsSpace(*begin)) return true;
  return false;
}

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

// Where HexRange found the parts of a number.
struct NumberScan {
  const char16_t* digits = nullptr;  // the first digit after what was passed over
  const char16_t* end = nullptr;     // the first unit behind the digits
  bool zero = false;                 // a "0" was passed over
};

// Reads a hexadecimal number from text, up to its terminator.
std::uint32_t HexRange(const char16_t* p, NumberScan* scan = nullptr) {
  bool zero = false;
  for (; *p != 0 && (*p <= 0x20 || *p == u'0' || *p == u'x'); ++p) zero = zero || *p == u'0';
  const char16_t* digits = p;
  std::uint32_t value = 0;
  // Wraps: only the last eight digits count.
  for (int digit; (digit = HexDigit(*p)) >= 0; ++p) value = value * 16 + static_cast<std::uint32_t>(digit);
  if (scan != nullptr) *scan = NumberScan{digits, p, zero};
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

// What the reading of a dword number decided: no digit, too many, an unusual
// spelling, or text left behind it.
void ReportDword(const char16_t* rest, const NumberScan& scan, const Reporter& report) {
  const char16_t* end = EndOf(rest);
  const char16_t* number = SkipBlanks(rest, end);
  const char16_t* after = scan.end;
  if (scan.digits == scan.end && !scan.zero) {
    // Nothing numeric: the word up to the next blank stands for the 0 stored.
    after = number;
    while (after < end && !IsBlank(*after)) ++after;
    report(Decision::kNumberNotHex, number, after);
  } else if (scan.end - scan.digits > 8) {
    report(Decision::kNumberTooLong, scan.digits, scan.end);
  } else {
    bool plain = scan.end - number <= 8;
    for (const char16_t* c = number; plain && c < scan.end; ++c) plain = HexDigit(*c) >= 0;
    if (!plain) report(Decision::kNumberForm, number, scan.end);
  }
  const char16_t* text = SkipBlanks(after, end);
  if (text < end) report(Decision::kTextAfterValue, text, end);
}

void FillDword(const char16_t* rest, std::vector<std::uint8_t>& data, const Reporter& report) {
  NumberScan scan;
  const std::uint32_t value = HexRange(rest, &scan);
  if (report) ReportDword(rest, scan, report);
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

// A run of separators [run, p) of a number list is one "," between two
// numbers, and blanks only before the first number and behind the last.
void ReportSeparators(const char16_t* run, const char16_t* p, bool first, const Reporter& report) {
  int commas = 0;
  for (const char16_t* c = run; c < p; ++c) commas += *c == u',' ? 1 : 0;
  const bool between = !first && *p != 0;
  if (commas != (between ? 1 : 0)) report(Decision::kListSeparator, run, p);
}

// A word [word, end) of a number list that is not two hexadecimal digits:
// what its reading made of it.
void ReportWord(const char16_t* word, const char16_t* end, const NumberScan& scan, const Reporter& report) {
  if (scan.end != end || (scan.digits == scan.end && !scan.zero))
    report(Decision::kByteNotHex, word, end);
  else if (scan.end - scan.digits > 2)
    report(Decision::kByteOverFF, word, end);
  else
    report(Decision::kNumberForm, word, end);
}

// Byte list (wide false) or character list (wide true): one number per word
// of the rest, words separated by runs of "," and " ". Each word is read as
// HexToULong reads a text that ends with the word. Observed is a separate
// instantiation, so that the unobserved parse keeps its plain loop.
template <bool kObserved>
bool FillNumberList(const char16_t* rest, bool wide, std::vector<std::uint8_t>& data, const Reporter& report) {
  const char16_t* p = rest;
  for (bool first = true;; first = false) {
    [[maybe_unused]] const char16_t* run = p;
    while (ListClass(*p) & kSeparator) ++p;
    if constexpr (kObserved) ReportSeparators(run, p, first, report);
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
    [[maybe_unused]] const char16_t* word = p;
    [[maybe_unused]] NumberScan scan;
    while ((c = ListClass(*p)) & kLead) {
      if constexpr (kObserved) scan.zero = scan.zero || *p == u'0';
      ++p;
    }
    if constexpr (kObserved) scan.digits = p;
    std::uint32_t value = 0;  // wraps: only the last eight digits count
    for (; c & kDigit; c = ListClass(*++p)) value = value * 16 + (c & 0x0F);
    if constexpr (kObserved) scan.end = p;
    while (!(c & (kSeparator | kEnd))) c = ListClass(*++p);
    if constexpr (kObserved) ReportWord(word, p, scan, report);
    data.push_back(static_cast<std::uint8_t>(value & 0xFF));
    if (wide) data.push_back(0);
  }
}

bool FillNumbers(const char16_t* rest, bool wide, std::vector<std::uint8_t>& data, const Reporter& report) {
  return report ? FillNumberList<true>(rest, wide, data, report) : FillNumberList<false>(rest, wide, data, report);
}

// A string of a list, [q, end) up to its "," or the end of the line: its last
// unit is dropped as the closing double quote, and a double quote before it
// stays a character.
void ReportListString(const char16_t* q, const char16_t* end, const Reporter& report) {
  if (end == q || end[-1] != u'"') report(Decision::kStringUnclosed, end == q ? q : end - 1, end);
  for (const char16_t* c = q; c + 1 < end; ++c) {
    if (*c == u'"') {
      report(Decision::kQuoteInString, c, end - 1);
      break;
    }
  }
}

// String list: the character behind the ":" is skipped; each element runs to
// the next "," or the end of the line and loses its last character (the
// closing double quote); the next element starts behind the next double
// quote. Every step stays inside the line, whatever the line holds.
bool FillStringList(const char16_t* rest, std::vector<std::uint8_t>& data, const Reporter& report) {
  if (*rest != 0) {
    if (report && *rest != u'"') report(Decision::kListOpening, rest, rest + 1);
    const char16_t* q = rest + 1;
    for (;;) {
      const char16_t* end = q;
      while (*end != 0 && *end != u',') ++end;
      if (report) ReportListString(q, end, report);
      // The element's characters but its last, and a terminator.
      const std::size_t units = end > q ? static_cast<std::size_t>(end - q) : 1;
      if (!Fits(data, 2 * units)) return false;
      for (const char16_t* c = q; c + 1 < end; ++c) PushUnit(data, *c);
      PushUnit(data, 0);
      if (*end == 0) break;
      const char16_t* open = end + 1;
      while (*open != 0 && *open != u'"') ++open;
      // Blanks may follow the ","; other text up to the next string, or a
      // "," with no string behind it, ends up nowhere.
      if (report && (*open == 0 || HoldsNonSpace(end + 1, open)))
        report(Decision::kListTextSkipped, end, open);
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


// The value forms a type word selects.
enum class Form { kDword, kBytes, kCharacters, kStrings };

struct TypeWord {
  std::u16string_view prefix;  // the whole word with its ":"
  std::uint32_t type;
  Form form;
};

// Tested in this order: a word selects the first whose prefix it is a leading part of.
constexpr TypeWord kTypeWords[] = {
    {u"dword:", kRegDword, Form::kDword},        {u"hex:", kRegBinary, Form::kBytes},
    {u"hex(7):", kRegMultiSz, Form::kCharacters}, {u"multi_sz:", kRegMultiSz, Form::kStrings},
    {u"hex(2):", kRegExpandSz, Form::kCharacters},
};

// The type word that [begin, end) is a leading part of, or nullptr.
const TypeWord* FindTypeWord(const char16_t* begin, const char16_t* end) {
  for (const TypeWord& form : kTypeWords)
    if (IsLeadingPart(begin, end, form.prefix)) return &form;
  return nullptr;
}

// A line that gives no entry: blank lines and comments are what they seem;
// anything else is text the importer passes over.
void ReportNoEntry(const char16_t* text, const char16_t* end, const Token& first, const Reporter& report) {
  const char16_t* lead = SkipBlanks(text, end);
  if (lead == end || (first.delimiter == u';' && lead == first.begin)) return;
  report(Decision::kNoEntry, lead, end);
}

// A string value: its last unit is dropped as the closing double quote, a
// double quote inside it stays, and what a string cut as a pair leaves behind
// (or what stands before it) is passed over.
void ReportString(const char16_t* value, const Token& token, const char16_t* lineEnd, const Reporter& report) {
  if (HoldsNonSpace(value, token.begin)) report(Decision::kTextBeforeValue, value, token.begin);
  const char16_t* last = token.end - 1;
  if (token.end - token.begin < 2 || *last != u'"')
    report(Decision::kStringUnclosed, token.end - token.begin < 2 ? token.begin : last, token.end);
  for (const char16_t* c = token.begin + 1; c < last; ++c) {
    if (*c == u'"') {
      report(Decision::kQuoteInString, c, last);
      break;
    }
  }
  const char16_t* after = SkipBlanks(token.end, lineEnd);
  if (after < lineEnd) report(Decision::kTextAfterValue, after, lineEnd);
}

// A type word: only spaces may stand around it before its ":", and a leading
// part of a word selects the type as the whole word would.
void ReportTypeWord(const char16_t* value, const Token& type, const TypeWord& form, const Reporter& report) {
  const char16_t* colon = value + type.consumed - 1;
  if (type.begin > colon || HoldsNonSpace(value, type.begin) || HoldsNonSpace(type.end, colon))
    report(Decision::kTextAroundType, value, colon + 1);
  if (static_cast<std::size_t>(type.end - type.begin) + 1 != form.prefix.size())
    report(Decision::kShortTypeWord, type.begin, type.end);
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

int CBrixparse::ParseEntry(CLineEntry& entry, const std::u16string& line) { return ParseEntry(entry, line, nullptr); }

int CBrixparse::ParseEntry(CLineEntry& entry, const std::u16string& line, LineObserver* observer) {
  // The text of a line ends at its first zero unit.
  const char16_t* text = line.c_str();
  const Reporter report(observer, text);
  const char16_t* lineEnd = EndOf(text);
  if (report && lineEnd != text + line.size()) report(Decision::kZeroCharacter, lineEnd, text + line.size());
  // Only a "[" or a double quote can open an entry. With any other first
  // delimiter the first token is a word (":") or no name at all, and a word
  // that happens to begin with a double quote was never closed as a name.
  const Token first = CutToken(text);
  if (first.delimiter != u'[' && first.delimiter != u'"') {
    if (report) ReportNoEntry(text, lineEnd, first, report);
    return 0;
  }
  if (first.end == nullptr) {
    report(first.delimiter == u'[' ? Decision::kKeyUnclosed : Decision::kNameUnclosed, first.begin, lineEnd);
    return 0;
  }
  if (report) {
    const char16_t* lead = SkipBlanks(text, first.begin);
    if (lead < first.begin) report(Decision::kTextBeforeEntry, lead, first.begin);
  }
  // The pair's inner text, delimiters dropped; it may be empty.
  const char16_t* inner = first.begin + 1;
  const char16_t* close = first.end - 1;
  if (first.delimiter == u'[') {
    entry.kind = kEntryKey;
    entry.token.assign(inner, close);
    if (report && SkipBlanks(first.end, lineEnd) < lineEnd)
      report(Decision::kTextAfterKey, SkipBlanks(first.end, lineEnd), lineEnd);
    return 1;
  }
  entry.kind = kEntryValue;
  if (static_cast<std::size_t>(close - inner) > kMaxValueName) {
    report(Decision::kNameTooLong, first.begin, first.end);
    return 0;
  }
  entry.valueName.assign(inner, close);
  // The "=" must stand directly behind the name's closing double quote: the
  // value text starts two characters behind it. (Any "=" further on would
  // be the first delimiter of the value text and so no type.)
  if (close[1] != u'=') {
    report(Decision::kNoEquals, close + 1, lineEnd);
    return 0;
  }
  const char16_t* value = close + 2;

  // The value's token: the whole rest when it opens with a double quote.
  Token type;
  if (*value == u'"') {
    type.begin = value;
    type.end = lineEnd;
  } else {
    type = CutToken(value);
    if (type.end == nullptr || type.delimiter == u'=' || type.delimiter == u'[') {
      // Nothing that names a type: no word before a ":", or an "=" or a key
      // pair as the value's first token.
      report(Decision::kNoTypeWord, value, lineEnd);
      return 0;
    }
  }
  const char16_t* rest = value + type.consumed;

  entry.data.clear();
  bool fits = true;
  if (*type.begin == u'"') {
    entry.type = kRegSz;
    if (report) ReportString(value, type, lineEnd, report);
    fits = FillString(type.begin, type.end, entry.data);
  } else {
    const TypeWord* form = FindTypeWord(type.begin, type.end);
    if (form == nullptr) {
      report(Decision::kUnknownTypeWord, type.begin, type.end);
      return 0;
    }
    if (report) ReportTypeWord(value, type, *form, report);
    entry.type = form->type;
    switch (form->form) {
      case Form::kDword:
        FillDword(rest, entry.data, report);
        break;
      case Form::kBytes:
        fits = FillNumbers(rest, false, entry.data, report);
        break;
      case Form::kCharacters:
        fits = FillNumbers(rest, true, entry.data, report);
        break;
      case Form::kStrings:
        fits = FillStringList(rest, entry.data, report);
        break;
    }
  }
  if (!fits) {
    report(Decision::kDataTooLarge, value, lineEnd);
    return 0;
  }
  entry.size = static_cast<std::uint32_t>(entry.data.size());
  return 1;
}

}  // namespace brixparse
