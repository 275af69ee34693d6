// The script is parsed by the importer's own parse loop on the check device,
// with an observer: every lenient decision of its reader, loop and entry
// parser becomes a finding at the physical line and column the importer names,
// and the check only explains it.
#include "brixdev/checks/registry_script_check.h"

#include <string>
#include <vector>

#include "brixdev/checks/decision_findings.h"
#include "brixdev/text.h"
#include "platform/platform.h"
#include "regimport/brixparse.h"
#include "regimport/script_file.h"

namespace brixdev {

using brixparse::kEntryKey;
using brixparse::kEntryValue;
using brixparse::kRegSz;
using brixparse::kRegExpandSz;
using brixparse::kRegMultiSz;
using brixparse::CLineEntry;
using brixparse::CBrixparse;
using brixparse::CScriptFile;
using brixparse::Decision;
using brixparse::DecisionPlace;
using brixparse::LineTrace;

namespace {

// Watches the importer's parse: each decision it makes becomes a finding, and
// each line it parsed is looked at for what a desktop editor would read into
// it. The decisions of a line are held until the line is parsed, so that a
// kind made several times on one line is one finding.
class RegChecker : public brixparse::DecisionObserver {
 public:
  RegChecker(const std::string& name, Diagnostics* out) : name_(name), out_(out) {}

  void Decided(Decision decision, DecisionPlace place, std::u16string_view text) override {
    for (Held& held : held_) {
      if (held.decision == decision) {
        ++held.count;
        return;
      }
    }
    held_.push_back(Held{decision, place, std::u16string(text), 1});
  }

  void Parsed(const LineTrace& line, const CLineEntry* entry) override {
    for (const Held& held : held_) {
      const brixdev::RegistryLine context{line.Text(), line.FirstRaw(), entry, held.count};
      const FindingText finding = RegistryFinding(held.decision, held.text, context);
      // A script with carriage returns alone as line ends has one on every line: the first says it.
      if (held.decision == Decision::kCarriageReturn && (crReported_ || finding.message.empty())) continue;
      crReported_ = crReported_ || held.decision == Decision::kCarriageReturn;
      if (!finding.message.empty()) Report(held.place, finding.severity, finding.id, finding.message);
    }
    held_.clear();
    if (entry == nullptr) return;
    line_ = &line;
    if (entry->kind == kEntryKey)
      Key(entry->token, line.Text().find(u'[') + 1);
    else
      Value(*entry);
  }

 private:
  struct Held {
    Decision decision;
    DecisionPlace place;
    std::u16string text;
    std::size_t count;
  };

  void Report(DecisionPlace place, Severity severity, const char* id, const std::string& message) {
    out_->Add(name_, static_cast<int>(place.line), static_cast<int>(place.column), severity, id, message);
  }

  void Report(std::size_t offset, Severity severity, const char* id, const std::string& message) {
    Report(line_->At(offset), severity, id, message);
  }

  // What the registry writer will make of a key path the parser gave.
  void Key(const std::u16string& path, std::size_t at) {
    if (!path.empty() && path[0] == u'-') {
      Report(at, Severity::kWarning, "deletion",
             "[-key] deletes a key in the desktop editors; the importer cannot delete: it takes the root '" +
                 Utf8(path.substr(0, path.find(u'\\'))) + "' for unknown and skips the key with its values");
      return;
    }
    const std::size_t slash = path.find(u'\\');
    if (slash == std::u16string::npos) {
      Report(at, Severity::kWarning, "no-subkey",
             std::string("the key path has no backslash: the importer skips the key and its values without a word") +
                 (path.find(u'/') != std::u16string::npos ? "; a key path is written with backslashes" : ""));
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

  // What a desktop editor would read differently in a value the parser gave.
  void Value(const CLineEntry& entry) {
    const std::u16string& text = line_->Text();
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
    if ((entry.type == kRegExpandSz || entry.type == kRegMultiSz) && !word.empty() && (word[0] == u'h' || word[0] == u'H'))
      Utf16Bytes(entry, valueAt);
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

  const std::string& name_;
  Diagnostics* out_;
  const LineTrace* line_ = nullptr;
  std::vector<Held> held_;
  bool crReported_ = false;
};

}  // namespace

ScriptCheck CheckRegistryScript(const std::u16string& commandLine,
                                const std::function<std::string(const std::u16string&)>& nameOf, Diagnostics* out,
                                brixparse::LineObserver* commandLineObserver) {
  // The importer's command-line rule names the script; knowing its path first
  // lets nameOf name it, and have its content in place, before it is read.
  std::string name;
  {
    CScriptFile probe;
    probe.Open(commandLine.c_str(), commandLineObserver);
    if (probe.stream == nullptr) return ScriptCheck::kCannotOpen;
    name = nameOf(probe.path);
    if (name.empty()) return ScriptCheck::kChecked;
  }
  CScriptFile reader;
  reader.Open(commandLine.c_str());
  if (reader.stream == nullptr) return ScriptCheck::kCannotOpen;
  RegChecker checker(name, out);
  CBrixparse parser(reader);
  parser.observer = &checker;
  parser.ParseFile();
  // The parse reads to the end of the script, unless a read failed or memory ran out.
  if (plat::StreamHasError(reader.stream) || !plat::StreamAtEof(reader.stream)) return ScriptCheck::kCannotRead;
  return ScriptCheck::kChecked;
}

}  // namespace brixdev
