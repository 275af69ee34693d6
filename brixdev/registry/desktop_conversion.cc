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
#include "brixdev/text.h"
#include "regimport/brixparse.h"
#include "regimport/script_file.h"

namespace brixdev {

using brixparse::kEntryKey;
using brixparse::kEntryValue;
using brixparse::kMaxValueName;
using brixparse::kMaxValueData;
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

std::u16string Hex(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
  return Ascii(text);
}

std::vector<char16_t> Units(const std::string& data) {
  std::vector<char16_t> units;
  for (std::size_t i = 0; i + 1 < data.size(); i += 2)
    units.push_back(static_cast<char16_t>(static_cast<unsigned char>(data[i]) | (static_cast<unsigned char>(data[i + 1]) << 8)));
  return units;
}

// head followed by the numbers, continued on further lines when they are many.
std::vector<std::u16string> NumberLines(const std::u16string& head, const std::vector<unsigned>& numbers) {
  std::vector<std::u16string> lines{head};
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0 && i % kNumbersPerLine == 0) {
      lines.back() += u",\\";
      lines.emplace_back(u"  ");
    } else if (i > 0) {
      lines.back() += u',';
    }
    lines.back() += Hex(numbers[i]);
  }
  return lines;
}

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
    if (value.name.size() > kMaxValueName) return LeaveOut(line, "long-name", "the value name is longer than 255 characters");
    if (value.name.find(u'"') != std::u16string::npos)
      return LeaveOut(line, "name-quote", "the value name holds a double quote, which would end it");
    if (value.data.size() > kMaxValueData) return LeaveOut(line, "large-data", "the data is larger than 1 MiB");
    Entry entry;
    entry.line = line;
    entry.kind = kEntryValue;
    entry.text = value.name;
    entry.type = value.type;
    entry.data.assign(value.data.begin(), value.data.end());
    entry.key = currentKey_;
    const std::u16string head = u"\"" + value.name + u"\"=";
    const std::vector<char16_t> units = Units(value.data);
    switch (value.type) {
      case 1: {
        std::u16string text(units.begin(), units.end());
        if (value.data.size() % 2 != 0 || text.empty() || text.back() != 0)
          return LeaveOut(line, "unsupported-type", "a string value without terminator");
        text.pop_back();
        if (text.find(u'\0') != std::u16string::npos)
          return LeaveOut(line, "zero-character", "the text holds a zero character, where the importer would end it");
        if (text.find_first_of(u"\r\n") != std::u16string::npos)
          return LeaveOut(line, "line-break", "the text holds a line break, which a script line cannot");
        entry.lines = {head + u"\"" + text + u"\""};
        break;
      }
      case 4:
        if (value.data.size() != 4) return LeaveOut(line, "unsupported-type", "a dword value not of 4 bytes");
        {
          char text[16];
          std::snprintf(text, sizeof text, "dword:%08x",
                        static_cast<unsigned>(entry.data[0] | (entry.data[1] << 8) | (entry.data[2] << 16)) |
                            (static_cast<unsigned>(entry.data[3]) << 24));
          entry.lines = {head + Ascii(text)};
        }
        break;
      case 3:
        entry.lines = NumberLines(head + u"hex:", std::vector<unsigned>(entry.data.begin(), entry.data.end()));
        break;
      case 2:
      case 7: {
        if (value.data.size() % 2 != 0) return LeaveOut(line, "unsupported-type", "text data of odd length");
        bool narrow = true;
        for (const char16_t u : units) narrow = narrow && u <= 0xFF;
        if (narrow) {
          entry.lines = NumberLines(head + (value.type == 2 ? u"hex(2):" : u"hex(7):"), std::vector<unsigned>(units.begin(), units.end()));
        } else if (value.type == 7 && !StringList(head, units, &entry.lines)) {
          return LeaveOut(line, "wide-character",
                          "a character beyond U+00FF in a list the importer can write only as hex(7), one number "
                          "from 00 to ff per character");
        } else if (value.type == 2) {
          return LeaveOut(line, "wide-character",
                          "a character beyond U+00FF: the importer's hex(2) takes one number from 00 to ff per character");
        }
        break;
      }
      default:
        char type[16];
        std::snprintf(type, sizeof type, "hex(%x)", static_cast<unsigned>(value.type));
        return LeaveOut(line, "unsupported-type", std::string("type ") + type + " is none the importer knows");
    }
    entries_.push_back(std::move(entry));
  }

  // multi_sz:"a","b" for a list of texts, each terminated, with the closing terminator; false when it is none.
  static bool StringList(const std::u16string& head, const std::vector<char16_t>& units, std::vector<std::u16string>* lines) {
    if (units.empty() || units.back() != 0) return false;
    std::u16string text = head + u"multi_sz:";
    std::u16string item;
    bool first = true;
    for (std::size_t i = 0; i + 1 < units.size(); ++i) {
      if (units[i] != 0) {
        item += units[i];
        continue;
      }
      if (item.find_first_of(u",\r\n") != std::u16string::npos) return false;
      text += (first ? u"\"" : u",\"") + item + u"\"";
      first = false;
      item.clear();
    }
    if (!item.empty()) return false;
    *lines = {text};
    return true;
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
