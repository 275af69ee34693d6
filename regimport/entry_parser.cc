#include <string>
#include <string_view>

#include "regimport/brixparse.h"
#include "regimport/value_forms.h"

namespace brixparse {

namespace {

using forms::EndOf;
using forms::HoldsNonSpace;
using forms::Reporter;
using forms::SkipBlanks;

bool IsDelimiter(char16_t c) {
  return c == u';' || c == u'[' || c == u'"' || c == u'=' || c == u':';
}

// True when [begin, end) is a leading part of prefix (compared over its own length).
bool IsLeadingPart(const char16_t* begin, const char16_t* end, std::u16string_view prefix) {
  const std::size_t length = static_cast<std::size_t>(end - begin);
  return length <= prefix.size() && prefix.substr(0, length) == std::u16string_view(begin, length);
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

std::uint32_t CBrixparse::HexToULong(const char16_t* text) { return forms::HexRange(text); }

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
  // The line's end is looked for only when someone observes: the parse itself
  // never needs it but for a string value, which runs to it.
  const char16_t* lineEnd = report ? EndOf(text) : nullptr;
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
    type.end = lineEnd != nullptr ? lineEnd : EndOf(value);
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
    fits = forms::FillString(type.begin, type.end, entry.data);
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
        forms::FillDword(rest, entry.data, report);
        break;
      case Form::kBytes:
        fits = forms::FillNumbers(rest, false, entry.data, report);
        break;
      case Form::kCharacters:
        fits = forms::FillNumbers(rest, true, entry.data, report);
        break;
      case Form::kStrings:
        fits = forms::FillStringList(rest, entry.data, report);
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
