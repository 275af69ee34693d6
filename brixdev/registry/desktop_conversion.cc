// Every entry written is read back by the importer's own reader and entry
// parser (on a throw-away device, as the device reads it) and compared with
// what the desktop registry holds; an entry the importer would read
// differently is left out and reported instead of being written wrong.
#include "brixdev/registry/desktop_conversion.h"

#include <cstdio>
#include <fstream>
#include <vector>

#include "brixdev/device/check_device.h"
#include "brixdev/registry/desktop_reg_reader.h"
#include "brixdev/registry/dialect_writer.h"
#include "brixdev/text.h"
#include "regimport/brixparse.h"
#include "regimport/script_file.h"

namespace brixdev {

using brixparse::kEntryKey;
using brixparse::kEntryValue;
using brixparse::CLineEntry;
using brixparse::CBrixparse;
using brixparse::kLineRead;
using brixparse::kLineEndOfFile;
using brixparse::CScriptFile;
using brixparse::ReadLogicalLine;
namespace {

constexpr std::size_t kNumbersPerLine = 25;
constexpr char16_t kScratchScript[] = u"\\Temp\\converted.reg";
constexpr const char* kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_CLASSES_ROOT", "HKEY_CURRENT_USER"};

// One entry of the converted script: its lines and what the importer must read from them.
struct Entry {
  int line = 0;                   // where it stands in the export
  std::vector<std::u16string> lines;
  std::int32_t kind = kEntryKey;
  std::u16string text;            // the key path, or the value name
  std::uint32_t type = 0;
  std::vector<std::uint8_t> data;
  int key = -1;                   // for a value: the index of its key entry
  bool dropped = false;
};

std::u16string Ascii(const char* text) { return std::u16string(text, text + std::char_traits<char>::length(text)); }

class Converter {
 public:
  Converter(const std::string& name, Diagnostics* leftOut) : name_(name), leftOut_(leftOut) {}

  void Key(const DesktopKey& key) {
    if (key.deletion) return LeaveOut(key.line, "deletion", "[-key] deletes a key; the importer cannot delete");
    const std::size_t slash = key.path.find(u'\\');
    const std::u16string root = key.path.substr(0, slash);
    std::u16string path;
    for (const char* known : kRoots) {
      if (SameIgnoringCase(root, Ascii(known))) path = Ascii(known) + u"\\" + (slash == std::u16string::npos ? u"" : key.path.substr(slash + 1));
    }
    if (path.empty()) {
      return LeaveOut(key.line, "unknown-root",
                      "root " + Utf8(root) + " is none the device has; the key and its values are left out");
    }
    Entry entry;
    entry.line = key.line;
    entry.lines = {u"[" + path + u"]"};
    entry.text = path;
    currentKey_ = static_cast<int>(entries_.size());
    entries_.push_back(std::move(entry));
    for (const DesktopValue& value : key.values) Value(value);
  }

  // Drops entries the importer reads differently, comparing what it parses from the script with what was meant.
  bool Verify(std::string* error) {
    for (;;) {
      std::vector<CLineEntry> parsed;
      if (!ReadBack(Script(), &parsed, error)) return false;
      std::size_t p = 0, bad = entries_.size(), last = entries_.size();
      for (std::size_t i = 0; i < entries_.size() && bad == entries_.size(); ++i) {
        if (entries_[i].dropped) continue;
        if (p >= parsed.size() || !Same(entries_[i], parsed[p])) bad = i;
        last = i;
        ++p;
      }
      // Entries beyond those written can only come from the last one's lines.
      if (bad == entries_.size() && p < parsed.size()) bad = last;
      if (bad == entries_.size()) return true;
      Drop(bad);
    }
  }

  std::string Script() const {
    std::u16string text = u"REGEDIT4\n";
    for (const Entry& entry : entries_) {
      if (entry.dropped) continue;
      if (entry.kind == kEntryKey) text += u"\n";
      for (const std::u16string& line : entry.lines) text += line + u"\n";
    }
    return Utf8(text);
  }

 private:
  void LeaveOut(int line, const char* id, const std::string& why) {
    leftOut_->Add(name_, line, 1, Severity::kWarning, id, "left out: " + why);
  }

  void Value(const DesktopValue& value) {
    const int line = value.line;
    if (value.deletion) return LeaveOut(line, "deletion", "\"name\"=- deletes a value; the importer cannot delete");
    if (value.isDefault) return LeaveOut(line, "default-value", "@= sets the default value; the importer has none");
    Entry entry;
    entry.line = line;
    entry.kind = kEntryValue;
    entry.text = value.name;
    entry.type = value.type;
    entry.data.assign(value.data.begin(), value.data.end());
    entry.key = currentKey_;
    const Unwritable why = WriteValue(value.name, value.type, value.data, kNumbersPerLine, &entry.lines);
    if (why != Unwritable::kNone) return LeaveOut(line, why, value.type);
    entries_.push_back(std::move(entry));
  }

  // Reports a value the dialect cannot carry, by why.
  void LeaveOut(int line, Unwritable why, std::uint32_t type) {
    switch (why) {
      case Unwritable::kNone:
        return;
      case Unwritable::kLongName:
        return LeaveOut(line, "long-name", "the value name is longer than 255 characters");
      case Unwritable::kNameQuote:
        return LeaveOut(line, "name-quote", "the value name holds a double quote, which would end it");
      case Unwritable::kLargeData:
        return LeaveOut(line, "large-data", "the data is larger than 1 MiB");
      case Unwritable::kNoTerminator:
        return LeaveOut(line, "unsupported-type", "a string value without terminator");
      case Unwritable::kZeroCharacter:
        return LeaveOut(line, "zero-character", "the text holds a zero character, where the importer would end it");
      case Unwritable::kLineBreak:
        return LeaveOut(line, "line-break", "the text holds a line break, which a script line cannot");
      case Unwritable::kDwordSize:
        return LeaveOut(line, "unsupported-type", "a dword value not of 4 bytes");
      case Unwritable::kOddText:
        return LeaveOut(line, "unsupported-type", "text data of odd length");
      case Unwritable::kWideCharacter:
        return LeaveOut(line, "wide-character",
                        type == 2 ? "a character beyond U+00FF: the importer's hex(2) takes one number from 00 to ff "
                                    "per character"
                                  : "a character beyond U+00FF in a list the importer can write only as hex(7), one "
                                    "number from 00 to ff per character");
      case Unwritable::kUnknownType: {
        char name[16];
        std::snprintf(name, sizeof name, "hex(%x)", static_cast<unsigned>(type));
        return LeaveOut(line, "unsupported-type", std::string("type ") + name + " is none the importer knows");
      }
      case Unwritable::kReadsDifferently:
        return LeaveOut(line, "reads-differently", "the importer would read this value differently");
    }
  }

  static bool Same(const Entry& entry, const CLineEntry& parsed) {
    if (parsed.kind != entry.kind) return false;
    if (entry.kind == kEntryKey) return parsed.token == entry.text;
    return parsed.valueName == entry.text && parsed.type == entry.type && parsed.size == entry.data.size() &&
           std::vector<std::uint8_t>(parsed.data.begin(), parsed.data.begin() + parsed.size) == entry.data;
  }

  void Drop(std::size_t index) {
    Entry& entry = entries_[index];
    entry.dropped = true;
    if (entry.kind == kEntryValue) {
      return LeaveOut(entry.line, "reads-differently", "the importer would read this value differently");
    }
    int values = 0;
    for (Entry& value : entries_) {
      if (value.kind == kEntryValue && value.key == static_cast<int>(index) && !value.dropped) {
        value.dropped = true;
        ++values;
      }
    }
    LeaveOut(entry.line, "key-name",
             "the importer cannot name this key (a ']', or a ';' it takes for a comment); the key is left out" +
                 (values == 0 ? std::string() : " with its " + std::to_string(values) + (values == 1 ? " value" : " values")));
  }

  // Reads the script as the importer does, on a throw-away device: every entry it parses.
  static bool ReadBack(const std::string& script, std::vector<CLineEntry>* parsed, std::string* error) {
    CheckDevice device;
    if (!device.Create("", "", error)) return false;
    {
      std::ofstream file(device.HostPath(kScratchScript), std::ios::binary);
      file << script;
      if (!file.flush()) {
        *error = "cannot write the script to read it back";
        return false;
      }
    }
    device.Activate();
    CScriptFile reader;
    reader.Open(kScratchScript);
    if (reader.stream == nullptr) {
      *error = "cannot read the script back";
      return false;
    }
    std::u16string physical, logical;
    CLineEntry entry;
    int result = kLineRead;
    while ((result = ReadLogicalLine(reader, physical, logical)) == kLineRead) {
      if (CBrixparse::ParseEntry(entry, logical) == 1) parsed->push_back(entry);
    }
    if (result != kLineEndOfFile) {
      *error = "cannot read the script back";
      return false;
    }
    return true;
  }

  const std::string& name_;
  Diagnostics* leftOut_;
  std::vector<Entry> entries_;
  int currentKey_ = -1;
};

}  // namespace

bool ConvertExport(const std::string& bytes, const std::string& name, Conversion* out, std::string* error) {
  DesktopExport desktop;
  if (!ReadDesktopExport(bytes, &desktop, error)) return false;
  for (const DesktopProblem& problem : desktop.problems)
    out->leftOut.Add(name, problem.line, 1, Severity::kWarning, "unreadable-line", "left out: " + problem.text);
  Converter converter(name, &out->leftOut);
  for (const DesktopKey& key : desktop.keys) converter.Key(key);
  if (!converter.Verify(error)) return false;
  out->script = converter.Script();
  return true;
}

}  // namespace brixdev
