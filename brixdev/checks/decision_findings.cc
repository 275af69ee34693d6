// The importer's decisions are told with the units they concern and the line
// they were made on; what the finding says beyond the decision (an upper-case
// type word, a desktop editor's habit) is explanation, drawn from that line.
#include "brixdev/checks/decision_findings.h"

#include "brixdev/text.h"
#include "regimport/brixparse.h"

namespace brixdev {
namespace {

using brixparse::CBrixparse;
using brixparse::CLineEntry;
using brixparse::Decision;

// Longest script text a message quotes; a longer one is cut, with "..." behind.
constexpr std::size_t kQuotedUnits = 60;

// Script text in a message, quoted; control characters shown as C escapes, so that a message stays one line.
std::string Quoted(std::u16string_view text) {
  const bool cut = text.size() > kQuotedUnits;
  if (cut) text = text.substr(0, kQuotedUnits);
  std::u16string shown;
  for (const char16_t c : text) {
    if (c >= 0x20 && c != 0x7F) {
      shown += c;
      continue;
    }
    static const char kHex[] = "0123456789abcdef";
    const char16_t escape = c == u'\r' ? u'r' : c == u'\n' ? u'n' : c == u'\t' ? u't' : c == 0 ? u'0' : 0;
    shown += u'\\';
    if (escape != 0) {
      shown += escape;
    } else {
      shown += u'x';
      shown += static_cast<char16_t>(kHex[c >> 4]);
      shown += static_cast<char16_t>(kHex[c & 0xF]);
    }
  }
  return "'" + Utf8(shown) + (cut ? "...'" : "'");
}

std::u16string_view TrimBlanks(std::u16string_view text) {
  while (!text.empty() && (text.front() == u' ' || text.front() == u'\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == u' ' || text.back() == u'\t')) text.remove_suffix(1);
  return text;
}

std::u16string Lower(std::u16string_view text) {
  std::u16string lower(text);
  for (char16_t& c : lower)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
  return lower;
}

// True when the importer's entry parser accepts word as the type word of a value.
bool KnownTypeWord(std::u16string_view word) {
  CLineEntry probe;
  return CBrixparse::ParseEntry(probe, u"\"x\"=" + std::u16string(word) + u":") == 1;
}

// " (3 times on this line)" for a decision made more than once on a line.
std::string Times(std::size_t count) {
  return count > 1 ? " (" + std::to_string(count) + " times on this line)" : "";
}

std::string Hex2(std::uint32_t value) {
  static const char kDigits[] = "0123456789abcdef";
  return std::string{kDigits[(value >> 4) & 0xF], kDigits[value & 0xF]};
}

// The string a string entry stores, up to its terminator.
std::u16string StoredString(const CLineEntry& entry) {
  std::u16string text;
  for (std::size_t i = 0; i + 1 < entry.data.size(); i += 2) {
    const char16_t unit = static_cast<char16_t>(entry.data[i] | (entry.data[i + 1] << 8));
    if (unit == 0) break;
    text += unit;
  }
  return text;
}

// The type word the entry's value type was chosen by, written out.
const char* WholeTypeWord(const RegistryLine& line) {
  if (line.entry == nullptr) return "?";
  switch (line.entry->type) {
    case brixparse::kRegDword:
      return "dword";
    case brixparse::kRegBinary:
      return "hex";
    case brixparse::kRegExpandSz:
      return "hex(2)";
    default:
      break;
  }
  // Type 7 comes from hex(7) or from multi_sz; the value text tells which.
  const std::size_t equals = line.text.find(u"\"=");
  const std::u16string_view value = equals == std::u16string_view::npos ? u"" : line.text.substr(equals + 2);
  return TrimBlanks(value).substr(0, 1) == u"m" ? "multi_sz" : "hex(7)";
}

FindingText NoEntry(std::u16string_view text) {
  const std::u16string_view rest = TrimBlanks(text);
  if (rest == u"REGEDIT4") return {};
  if (rest.substr(0, 1) == u"@" && TrimBlanks(rest.substr(1)).substr(0, 1) == u"=")
    return {Severity::kWarning, "default-value",
            "@= sets the default value in the desktop editors; the importer has no default values and ignores the line"};
  if (rest.substr(0, 36) == u"Windows Registry Editor Version 5.00")
    return {Severity::kWarning, "desktop-export",
            "a desktop registry export: its escapes, default values and UTF-16 hex data mean other things to the "
            "importer ('brixdev reg convert' converts it)"};
  return {Severity::kWarning, "no-entry", "the importer finds neither key nor value here and ignores the line"};
}

FindingText NoKey(const RegistryLine& line) {
  std::string why;
  const std::u16string_view raw = line.firstRaw;
  const std::size_t open = raw.find(u'[');
  const std::size_t semicolon = open == std::u16string_view::npos ? open : raw.find(u';', open);
  if (semicolon != std::u16string_view::npos && raw.find(u']', semicolon) != std::u16string_view::npos)
    why = ": a ';' inside the brackets starts a comment, which takes the ']' with it";
  return {Severity::kError, "no-key",
          "the line begins with '[' but gives no key" + why +
              "; the importer ignores it, and the values after it are not stored until the next key line"};
}

// A value text without type: a desktop deletion, a tab before the type word, or nothing that names a type.
FindingText NoType(std::u16string_view valueText, bool word) {
  if (TrimBlanks(valueText) == u"-")
    return {Severity::kWarning, "deletion",
            "\"name\"=- deletes a value in the desktop editors; the importer cannot delete and ignores the line"};
  const std::size_t first = valueText.find_first_not_of(u' ');
  if (first != std::u16string_view::npos && valueText[first] == u'\t')
    return {Severity::kError, "tab-before-type",
            "a tab before the type word: the importer passes over spaces only, so it finds no type and stores nothing"};
  if (!word) return {Severity::kError, "unknown-type", "no type word with ':' follows the '=': nothing is stored"};
  if (KnownTypeWord(Lower(valueText)))
    return {Severity::kError, "upper-case-type",
            "type word " + Quoted(valueText) + " in capitals: the importer knows lower case only, so it stores nothing"};
  if (Lower(valueText).rfind(u"hex(", 0) == 0)
    return {Severity::kError, "unsupported-type",
            Quoted(valueText) + " is no type the importer has (it has hex, hex(2) and hex(7)): nothing is stored"};
  return {Severity::kError, "unknown-type", "unknown type word " + Quoted(valueText) + ": nothing is stored"};
}

FindingText NumberFinding(Decision decision, std::u16string_view text, const RegistryLine& line) {
  const std::string times = Times(line.count);
  switch (decision) {
    case Decision::kNumberNotHex:
      return {Severity::kWarning, "not-a-number",
              (text.empty() ? std::string("no number follows the ':'") : Quoted(text) + " is no hexadecimal number") +
                  ": the importer stores 0"};
    case Decision::kNumberTooLong:
      return {Severity::kWarning, "long-dword",
              "dword number of " + std::to_string(text.size()) + " digits: the importer keeps only the last eight"};
    case Decision::kNumberForm: {
      const bool dword = line.entry != nullptr && line.entry->type == brixparse::kRegDword;
      const std::u16string word(text);
      const std::uint32_t value = CBrixparse::HexToULong(word.c_str());
      return {Severity::kNote, "number-form",
              "number written " + Quoted(text) + times + ": the importer reads " +
                  (dword ? "it" : Hex2(value)) + "; the dialect writes " +
                  (dword ? "a dword as 1 to 8 hexadecimal digits" : "each number of a list as two hexadecimal digits")};
    }
    case Decision::kByteNotHex: {
      const std::u16string word(text);
      const std::uint32_t value = CBrixparse::HexToULong(word.c_str());
      return {Severity::kWarning, "byte-not-hex",
              Quoted(text) + " is no hexadecimal number" + times + ": the importer reads it up to its first other " +
                  "character and stores " + Hex2(value)};
    }
    case Decision::kByteOverFF: {
      const std::u16string word(text);
      const std::uint32_t value = CBrixparse::HexToULong(word.c_str());
      return {Severity::kWarning, "byte-over-ff",
              Quoted(text) + " is larger than ff" + times + ": the importer keeps its low eight bits, " + Hex2(value)};
    }
    case Decision::kListSeparator:
      return {Severity::kNote, "list-separator",
              "numbers not separated by one ','" + times + " (" + Quoted(text) +
                  "): runs of ',' and blanks count as one separator, and none before the first or behind the last"};
    default:
      return {};
  }
}

FindingText StringFinding(Decision decision, std::u16string_view text, const RegistryLine& line) {
  const bool list = line.entry != nullptr && line.entry->type == brixparse::kRegMultiSz;
  const std::string what = list ? "a string of the list" : "the string";
  switch (decision) {
    case Decision::kStringUnclosed:
      if (text.empty() || text == u"\"")
        return {Severity::kWarning, "unclosed-string",
                what + " has no closing double quote" + Times(line.count) + ": nothing of it is stored"};
      return {Severity::kWarning, "unclosed-string",
              what + " has no closing double quote" + Times(line.count) + ": its last character " +
                  Quoted(text.substr(text.size() - 1)) + " is dropped as if it were one"};
    case Decision::kQuoteInString:
      if (list || line.entry == nullptr)
        return {Severity::kWarning, "quote-in-string", what + " holds a double quote: the importer keeps it as a character"};
      return {Severity::kWarning, "quote-in-string",
              "the string runs to the end of the line: the importer keeps the double quote inside it as a character "
              "and stores one string " +
                  Quoted(StoredString(*line.entry))};
    case Decision::kListOpening:
      return {Severity::kWarning, "ignored-text",
              "the character " + Quoted(text) + " behind 'multi_sz:' is dropped as if it were the opening double "
              "quote; write the first string directly behind the ':'"};
    case Decision::kListTextSkipped:
      return {Severity::kWarning, "ignored-text",
              "text between the strings of the list is ignored" + Times(line.count) + ": " + Quoted(text)};
    default:
      return {};
  }
}

}  // namespace

FindingText RegistryFinding(Decision decision, std::u16string_view text, const RegistryLine& line) {
  switch (decision) {
    case Decision::kCarriageReturn:
      return {Severity::kError, "cr-line-end",
              "carriage return without line feed: the importer reads on across it, so the lines it was meant to "
              "end are one line; save the script with LF or CR LF line ends"};
    case Decision::kBlankAfterBackslash:
      return {Severity::kWarning, "blank-after-backslash",
              "blank behind the continuation backslash: on a continued line blanks are not trimmed, so this line "
              "does not continue and the next one is read as a line of its own"};
    case Decision::kBackslashAtEnd:
      return {Severity::kWarning, "backslash-at-end",
              "the last line ends in a continuation backslash: nothing follows to continue it"};
    case Decision::kLineTooLong:
      return {Severity::kError, "line-too-long",
              "the line is longer than the importer keeps (" + std::to_string(brixparse::kMaxLineUnits) +
                  " characters): it gives no entry" +
                  (text.substr(0, 1) == u"["
                       ? "; as it begins with '[', the values after it are not stored until the next key line"
                       : "")};
    case Decision::kCommandLineFirst:
      return {Severity::kWarning, "importer-command-line",
              "the importer's command line holds a double quote, so its first character " + Quoted(text) +
                  " is dropped as an opening double quote would be; begin the command line with the double quote"};
    case Decision::kCommandLineRest:
      return {Severity::kWarning, "importer-command-line",
              "the importer's script path ends at the second double quote: the rest of its command line, " +
                  Quoted(text) + ", is ignored"};
    case Decision::kValueBeforeKey:
      return {Severity::kWarning, "value-before-key", "a value before the first key line is not stored"};
    case Decision::kValueAfterNoKey:
      return {Severity::kWarning, "value-after-no-key",
              "the value is not stored: the line meant as a key line before it gave no key"};
    case Decision::kZeroCharacter:
      return {Severity::kWarning, "zero-character",
              "a zero character: the importer reads the line only up to it, and the rest of the line is lost"};
    case Decision::kNoEntry:
      return NoEntry(text);
    case Decision::kTextBeforeEntry:
      return {Severity::kWarning, "ignored-text",
              "text before the " + std::string(line.entry != nullptr && line.entry->kind == brixparse::kEntryKey
                                                   ? "key's '['"
                                                   : "value name") +
                  " is ignored: " + Quoted(TrimBlanks(text))};
    case Decision::kKeyUnclosed:
      return NoKey(line);
    case Decision::kTextAfterKey:
      return {Severity::kWarning, "ignored-text", "text behind the key's ']' is ignored: " + Quoted(text)};
    case Decision::kNameUnclosed:
      return {Severity::kError, "no-entry", "the value name has no closing double quote: nothing is stored"};
    case Decision::kNameTooLong:
      return {Severity::kError, "long-name",
              "value name of " + std::to_string(text.size() - 2) +
                  " characters: the importer stores names of up to 255 only, so nothing is stored"};
    case Decision::kNoEquals:
      if (text.find(u'=') != std::u16string_view::npos)
        return {Severity::kError, "equals-not-direct",
                "the '=' must follow the name's closing double quote directly: nothing is stored"};
      return {Severity::kError, "no-entry", "a value name without '=': nothing is stored"};
    case Decision::kNoTypeWord:
      return NoType(text, false);
    case Decision::kUnknownTypeWord:
      return NoType(text, true);
    case Decision::kShortTypeWord:
      return {Severity::kNote, "short-type",
              "type word " + Quoted(text) + " is taken for '" + WholeTypeWord(line) + "', the first type word it "
              "begins; write the whole word"};
    case Decision::kTextBeforeValue:
      return {Severity::kWarning, "ignored-text",
              "text between the '=' and the string's opening double quote is ignored: " + Quoted(TrimBlanks(text))};
    case Decision::kTextAroundType:
      return {Severity::kWarning, "ignored-text",
              "text around the type word is ignored: the importer reads " + Quoted(text) +
                  " as its first word and a ':', and the number starts behind the first ':'"};
    case Decision::kTextAfterValue:
      return {Severity::kWarning, "text-after-value", "text behind the value is ignored: " + Quoted(text)};
    case Decision::kDataTooLarge:
      return {Severity::kError, "large-data", "the data is larger than 1 MiB: the importer does not store the value"};
    case Decision::kStringUnclosed:
    case Decision::kQuoteInString:
    case Decision::kListOpening:
    case Decision::kListTextSkipped:
      return StringFinding(decision, text, line);
    case Decision::kNumberNotHex:
    case Decision::kNumberTooLong:
    case Decision::kNumberForm:
    case Decision::kByteNotHex:
    case Decision::kByteOverFF:
    case Decision::kListSeparator:
      return NumberFinding(decision, text, line);
  }
  return {};
}

std::vector<const char*> FindingIds(brixparse::Decision decision) {
  switch (decision) {
    case Decision::kNoEntry:
      return {"no-entry", "default-value", "desktop-export"};
    case Decision::kNoEquals:
      return {"equals-not-direct", "no-entry"};
    case Decision::kNoTypeWord:
    case Decision::kUnknownTypeWord:
      return {"unknown-type", "upper-case-type", "unsupported-type", "tab-before-type", "deletion"};
    default:
      break;
  }
  // Every other decision has one id, whatever its line holds.
  const FindingText text = RegistryFinding(decision, u"x", RegistryLine{u"\"x\"=x", u"\"x\"=x"});
  return {text.id};
}

std::vector<const char*> FindingIds(brixcopy::Decision decision) {
  using brixcopy::Decision;
  switch (decision) {
    case Decision::kTextBeforeSource:
    case Decision::kTextBetweenFields:
    case Decision::kTextAfterFields:
    case Decision::kIgnoredOptionText:
      return {"ignored-text"};
    case Decision::kNoDestination:
      return {"no-destination"};
    case Decision::kSkippedLine:
      return {"cr-line-end"};
    case Decision::kRelativeIntoFile:
      return {"relative-into-file"};
    case Decision::kForwardSlash:
      return {"forward-slash"};
    case Decision::kNoActionOptions:
      return {"no-action-options"};
    case Decision::kSeveralActions:
      return {"option-order"};
    case Decision::kRelativeWildcard:
      return {"relative-wildcard"};
    case Decision::kWildcardNoMatch:
      return {"empty-wildcard"};
    case Decision::kFolderFromPath:
      return {"destination-folder"};
    case Decision::kQuoteNotFirst:
    case Decision::kAfterQuoteSkipped:
      return {"quoted-program"};
    case Decision::kCabInEntry:
      return {"cab-installer"};
    case Decision::kVbInEntry:
      return {"vb-loader"};
  }
  return {};
}

std::string DeviceError(std::uint32_t error) {
  const char* meaning = nullptr;
  switch (error) {
    case 2:
      meaning = "the file does not exist";
      break;
    case 3:
      meaning = "the path does not exist";
      break;
    case 5:
      meaning = "access denied";
      break;
    case 6:
      meaning = "the handle is not valid";
      break;
    case 8:
      meaning = "not enough memory";
      break;
    case 18:
      meaning = "no more files";
      break;
    case 32:
      meaning = "the file is in use";
      break;
    case 80:
    case 183:
      meaning = "it exists already";
      break;
    case 87:
      meaning = "a parameter is not valid";
      break;
    case 112:
      meaning = "the disk is full";
      break;
    case 122:
      meaning = "the buffer is too small";
      break;
    case 123:
      meaning = "the name is not valid";
      break;
    case 126:
      meaning = "the library is missing";
      break;
    case 127:
      meaning = "the export is missing";
      break;
    case 193:
      meaning = "not a program or library";
      break;
    case 206:
      meaning = "the name is too long";
      break;
    case 1921:
      meaning = "a symbolic link on the path";
      break;
    default:
      break;
  }
  return "error " + std::to_string(error) + (meaning != nullptr ? std::string(", ") + meaning : std::string());
}

}  // namespace brixdev
