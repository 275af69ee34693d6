// The script is read by the importer's own reader on the check device, and
// each logical line goes through the importer's own entry parser; what it
// parses (or refuses) decides the finding, and the check only explains why,
// pointing at the physical line and column where the cause stands.
#include "brixdev/checks/registry_script_check.h"

#include <string>
#include <vector>

#include "brixdev/text.h"
#include "regimport/brixparse.h"
#include "regimport/script_file.h"

namespace brixdev {

using brixparse::kEntryKey;
using brixparse::kEntryValue;
using brixparse::kRegSz;
using brixparse::kRegExpandSz;
using brixparse::kRegDword;
using brixparse::kRegMultiSz;
using brixparse::kMaxValueName;
using brixparse::CLineEntry;
using brixparse::CBrixparse;
using brixparse::kLineRead;
using brixparse::kLineReadError;
using brixparse::kLineTooLong;
using brixparse::kMaxLineUnits;
using brixparse::LineEnds;
using brixparse::CScriptFile;
using brixparse::ReadLogicalLine;
using brixparse::StripComment;
using brixparse::TrimRight;
namespace {

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

std::size_t SkipBlanks(std::u16string_view text, std::size_t at) {
  while (at < text.size() && IsBlank(text[at])) ++at;
  return at;
}

bool EndsWithBackslash(std::u16string_view text) { return !text.empty() && text.back() == u'\\'; }

std::u16string Lower(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 0x20);
  return text;
}

// True when the importer's entry parser accepts word as the type word of a value.
bool KnownTypeWord(const std::u16string& word) {
  CLineEntry probe;
  return CBrixparse::ParseEntry(probe, u"\"x\"=" + word + u":") == 1 && probe.kind == kEntryValue;
}

// One logical line and the physical lines it was joined from.
struct Logical {
  std::size_t first = 1, last = 1;
  std::u16string text;
};

enum class KeyState { kNone, kKey, kAfterNoKey };

class RegChecker {
 public:
  RegChecker(const std::string& name, Diagnostics* out, const std::vector<std::u16string>& physical)
      : name_(name), out_(out), physical_(physical) {}

  void Check(const Logical& line) {
    line_ = &line;
    LineEnds();
    const std::u16string& text = line.text;
    const std::size_t lead = SkipBlanks(text, 0);
    if (lead == text.size()) return;
    CLineEntry entry;
    const bool parsed = CBrixparse::ParseEntry(entry, text) == 1;
    if (text[lead] == u'[' && !(parsed && entry.kind == kEntryKey)) return NoKey(lead);
    if (parsed && entry.kind == kEntryKey) return Key(entry.token, text.find(u'[') + 1);
    if (parsed) return Value(entry, lead);
    NoEntry(lead);
  }

  // A logical line longer than the importer keeps: it is passed over whole.
  void TooLong(const Logical& line) {
    line_ = &line;
    const bool key = !line.text.empty() && line.text[0] == u'[';
    ReportLine(line.first, 1, Severity::kError, "line-too-long",
               "the line is longer than the importer keeps (" + std::to_string(kMaxLineUnits) +
                   " characters): it gives no entry" +
                   (key ? "; as it begins with '[', the values after it are not stored until the next key line"
                        : ""));
    if (key) state_ = KeyState::kAfterNoKey;
  }

 private:
  struct Position {
    int line, column;
  };

  // Where an offset of the logical line stands among its physical lines.
  Position At(std::size_t offset) const {
    std::size_t rest = offset;
    for (std::size_t i = line_->first; i <= line_->last; ++i) {
      std::u16string segment = physical_[i - 1];
      if (i == line_->first) StripComment(segment);
      if ((i < line_->last || i == physical_.size()) && EndsWithBackslash(segment)) segment.pop_back();
      if (rest < segment.size() || i == line_->last) {
        return {static_cast<int>(i), static_cast<int>(rest < segment.size() ? rest : segment.size()) + 1};
      }
      rest -= segment.size();
    }
    return {static_cast<int>(line_->first), 1};
  }

  void Report(std::size_t offset, Severity severity, const char* id, const std::string& message) {
    const Position at = At(offset);
    out_->Add(name_, at.line, at.column, severity, id, message);
  }

  void ReportLine(std::size_t line, std::size_t column, Severity severity, const char* id, const std::string& message) {
    out_->Add(name_, static_cast<int>(line), static_cast<int>(column), severity, id, message);
  }

  // Line-level surprises: lone carriage returns, blanks behind a continuation backslash, a final backslash.
  void LineEnds() {
    for (std::size_t i = line_->first; i <= line_->last && !crReported_; ++i) {
      const std::u16string& raw = physical_[i - 1];
      const std::size_t cr = raw.find(u'\r');
      if (cr != std::u16string::npos && raw.find_first_not_of(u"\r", cr) != std::u16string::npos) {
        ReportLine(i, cr + 1, Severity::kError, "cr-line-end",
                   "carriage return without line feed: the importer reads on across it, so the lines it was meant "
                   "to end are one line");
        crReported_ = true;
      }
    }
    const std::u16string& last = physical_[line_->last - 1];
    std::u16string trimmed = last;
    TrimRight(trimmed);
    if (line_->last > line_->first && !EndsWithBackslash(last) && EndsWithBackslash(trimmed)) {
      ReportLine(line_->last, trimmed.size(), Severity::kWarning, "blank-after-backslash",
                 "blank behind the continuation backslash: on a continued line blanks are not trimmed, so this "
                 "line does not continue and the next one is read as a line of its own");
    }
    std::u16string first = physical_[line_->first - 1];
    StripComment(first);
    const bool continues = line_->last > line_->first ? EndsWithBackslash(last) : EndsWithBackslash(first);
    if (line_->last == physical_.size() && continues) {
      ReportLine(line_->last, (line_->last > line_->first ? last.size() : first.size()), Severity::kWarning,
                 "backslash-at-end", "the last line ends in a continuation backslash: nothing follows to continue it");
    }
  }

  void NoKey(std::size_t lead) {
    std::string why;
    const std::u16string& raw = physical_[line_->first - 1];
    const std::size_t semicolon = raw.find(u';', raw.find(u'['));
    if (semicolon != std::u16string::npos && raw.find(u']', semicolon) != std::u16string::npos)
      why = ": a ';' inside the brackets starts a comment, which takes the ']' with it";
    Report(lead, Severity::kError, "no-key",
           "the line begins with '[' but gives no key" + why +
               "; the importer ignores it, and the values after it are not stored until the next key line");
    state_ = KeyState::kAfterNoKey;
  }

  void Key(const std::u16string& path, std::size_t at) {
    state_ = KeyState::kKey;
    if (!path.empty() && path[0] == u'-') {
      Report(at, Severity::kWarning, "deletion",
             "[-key] deletes a key in the desktop editors; the importer cannot delete: it takes the root '" +
                 Utf8(path.substr(0, path.find(u'\\'))) + "' for unknown and skips the key with its values");
      return;
    }
    const std::size_t slash = path.find(u'\\');
    if (slash == std::u16string::npos) {
      Report(at, Severity::kWarning, "no-subkey",
             "the key path has no backslash: the importer skips the key and its values without a word");
      return;
    }
    const std::u16string root = path.substr(0, slash);
    bool known = false, otherCase = false;
    for (const char16_t* name : {u"HKEY_LOCAL_MACHINE", u"HKEY_CLASSES_ROOT", u"HKEY_CURRENT_USER"}) {
      known = known || root == name;
      otherCase = otherCase || SameIgnoringCase(root, name);
    }
    if (!known) {
      Report(at, Severity::kError, "unknown-root",
             "unknown root '" + Utf8(root) + "'" + (otherCase ? " (root names are compared exactly)" : "") +
                 ": the importer skips the key and its values");
    }
  }

  void Value(const CLineEntry& entry, std::size_t lead) {
    if (state_ == KeyState::kNone) {
      Report(lead, Severity::kWarning, "value-before-key", "a value before the first key line is not stored");
    }
    const std::u16string& text = line_->text;
    std::u16string token;
    std::size_t consumed = 0;
    CBrixparse::GetToken(text.c_str(), token, consumed);
    const std::size_t valueAt = consumed + 2;  // behind the name's closing quote and the '='
    const std::u16string_view valueText = std::u16string_view(text).substr(valueAt < text.size() ? valueAt : text.size());
    if (entry.type == kRegSz) {
      const std::size_t escape = valueText.find_first_of(u"\\");
      for (std::size_t i = escape; i != std::u16string_view::npos && i + 1 < valueText.size();
           i = valueText.find(u'\\', i + 2)) {
        // A backslash before the closing quote ends a path such as \Windows\ and is no escape.
        const bool closing = valueText[i + 1] == u'"' && i + 2 == valueText.size();
        if (valueText[i + 1] == u'\\' || (valueText[i + 1] == u'"' && !closing)) {
          Report(valueAt + i, Severity::kWarning, "backslash-escape",
                 "'\\" + Utf8(valueText.substr(i + 1, 1)) +
                     "' is stored as written: the importer has no escapes (in the desktop editors it stands for '" +
                     Utf8(valueText.substr(i + 1, 1)) + "')");
          break;
        }
      }
      return;
    }
    std::u16string word;
    std::size_t wordEnd = 0;
    CBrixparse::GetToken(std::u16string(valueText).c_str(), word, wordEnd);
    if (entry.type == kRegDword) return LongDword(valueAt + wordEnd, valueText.substr(wordEnd));
    if ((entry.type == kRegExpandSz || entry.type == kRegMultiSz) && !word.empty() && Lower(word)[0] == u'h')
      Utf16Bytes(entry, valueAt);
  }

  void LongDword(std::size_t at, std::u16string_view rest) {
    std::size_t i = 0;
    while (i < rest.size() && (rest[i] <= 0x20 || rest[i] == u'0' || rest[i] == u'x')) ++i;
    std::size_t digits = 0;
    while (i + digits < rest.size() && std::u16string_view(u"0123456789abcdefABCDEF").find(rest[i + digits]) !=
                                           std::u16string_view::npos)
      ++digits;
    if (digits > 8) {
      Report(at + i, Severity::kWarning, "long-dword",
             "dword number of " + std::to_string(digits) + " digits: the importer keeps only the last eight");
    }
  }

  // A list of the desktop editors' UTF-16 bytes (every second number 00) where the importer takes one number per character.
  void Utf16Bytes(const CLineEntry& entry, std::size_t at) {
    const std::size_t numbers = entry.size / 2;
    if (numbers < 4 || numbers % 2 != 0) return;
    bool text = false;
    for (std::size_t i = 0; i < numbers; ++i) {
      const std::uint8_t number = entry.data[2 * i];
      if (i % 2 == 1 && number != 0) return;
      text = text || number != 0;
    }
    if (!text) return;
    Report(at, Severity::kWarning, "utf16-bytes",
           "every second number is 00, as in the UTF-16 bytes of a desktop export; the importer reads one number "
           "per character, so each 00 becomes a character of its own ('brixdev reg convert' converts exports)");
  }

  void NoEntry(std::size_t lead) {
    const std::u16string& text = line_->text;
    const std::u16string_view rest = std::u16string_view(text).substr(lead);
    if (rest.substr(0, 1) == u"@" && rest.substr(SkipBlanks(rest, 1), 1) == u"=") {
      return Report(lead, Severity::kWarning, "default-value",
                    "@= sets the default value in the desktop editors; the importer has no default values and "
                    "ignores the line");
    }
    if (rest == u"REGEDIT4") return;
    if (rest.substr(0, 36) == u"Windows Registry Editor Version 5.00") {
      return Report(lead, Severity::kWarning, "desktop-export",
                    "a desktop registry export: its escapes, default values and UTF-16 hex data mean other things "
                    "to the importer ('brixdev reg convert' converts it)");
    }
    if (rest[0] != u'"') {
      return Report(lead, Severity::kWarning, "no-entry", "the importer finds neither key nor value here and ignores the line");
    }
    BadValue(lead);
  }

  void BadValue(std::size_t lead) {
    const std::u16string& text = line_->text;
    const std::size_t close = text.find(u'"', lead + 1);
    if (close == std::u16string::npos) {
      return Report(lead, Severity::kError, "no-entry", "the value name has no closing double quote: nothing is stored");
    }
    if (close - lead - 1 > kMaxValueName) {
      return Report(lead, Severity::kError, "long-name",
                    "value name of " + std::to_string(close - lead - 1) +
                        " characters: the importer stores names of up to 255 only, so nothing is stored");
    }
    if (close + 1 >= text.size() || text[close + 1] != u'=') {
      const bool later = text.find(u'=', close) != std::u16string::npos;
      return Report(close + 1, Severity::kError, later ? "equals-not-direct" : "no-entry",
                    later ? "the '=' must follow the name's closing double quote directly: nothing is stored"
                          : "a value name without '=': nothing is stored");
    }
    const std::size_t valueAt = close + 2;
    const std::u16string valueText = text.substr(valueAt);
    const std::size_t start = SkipBlanks(valueText, 0);
    if (valueText.substr(start) == u"-") {
      return Report(valueAt, Severity::kWarning, "deletion",
                    "\"name\"=- deletes a value in the desktop editors; the importer cannot delete and ignores the line");
    }
    std::size_t spaces = 0;
    while (spaces < valueText.size() && valueText[spaces] == u' ') ++spaces;
    if (spaces < valueText.size() && valueText[spaces] == u'\t') {
      return Report(valueAt + spaces, Severity::kError, "tab-before-type",
                    "a tab before the type word: the importer passes over spaces only, so it finds no type and "
                    "stores nothing");
    }
    std::u16string word;
    std::size_t consumed = 0;
    if (CBrixparse::GetToken(valueText.c_str(), word, consumed) == 0 || word == u"=") {
      return Report(valueAt, Severity::kError, "unknown-type", "no type word with ':' follows the '=': nothing is stored");
    }
    const std::size_t wordAt = valueAt + valueText.find(word);
    if (KnownTypeWord(word)) {
      return Report(wordAt, Severity::kError, "large-data",
                    "the data is larger than 1 MiB: the importer does not store the value");
    }
    if (KnownTypeWord(Lower(word))) {
      return Report(wordAt, Severity::kError, "upper-case-type",
                    "type word '" + Utf8(word) + "' in capitals: the importer knows lower case only, so it stores nothing");
    }
    if (Lower(word).rfind(u"hex(", 0) == 0) {
      return Report(wordAt, Severity::kError, "unsupported-type",
                    "'" + Utf8(word) + "' is no type the importer has (it has hex, hex(2) and hex(7)): nothing is stored");
    }
    Report(wordAt, Severity::kError, "unknown-type", "unknown type word '" + Utf8(word) + "': nothing is stored");
  }

  const std::string& name_;
  Diagnostics* out_;
  const std::vector<std::u16string>& physical_;
  const Logical* line_ = nullptr;
  KeyState state_ = KeyState::kNone;
  bool crReported_ = false;
};

}  // namespace

ScriptCheck CheckRegistryScript(const std::u16string& commandLine,
                                const std::function<std::string(const std::u16string&)>& nameOf, Diagnostics* out) {
  CScriptFile physicalReader;
  physicalReader.Open(commandLine.c_str());
  if (physicalReader.stream == nullptr) return ScriptCheck::kCannotOpen;
  const std::string name = nameOf(physicalReader.path);
  if (name.empty()) return ScriptCheck::kChecked;
  std::vector<std::u16string> physical;
  std::u16string line;
  int result = kLineRead;
  // A physical line too long to keep is remembered as empty: only its number matters then.
  while ((result = physicalReader.ReadLine(line)) == kLineRead || result == kLineTooLong)
    physical.push_back(result == kLineRead ? line : std::u16string());
  if (result == kLineReadError) return ScriptCheck::kCannotRead;
  CScriptFile reader;
  reader.Open(commandLine.c_str());
  if (reader.stream == nullptr) return ScriptCheck::kCannotOpen;
  RegChecker checker(name, out, physical);
  std::u16string scratch;
  Logical logical;
  while ((result = ReadLogicalLine(reader, scratch, logical.text)) == kLineRead || result == kLineTooLong) {
    logical.last = reader.physicalLines;
    // The two readings see the same file; should it change between them, the lines are what the second saw.
    if (logical.last > physical.size() || logical.first > logical.last) break;
    if (result == kLineTooLong)
      checker.TooLong(logical);
    else
      checker.Check(logical);
    logical.first = logical.last + 1;
  }
  return ScriptCheck::kChecked;
}

}  // namespace brixdev
