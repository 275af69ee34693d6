#include "brixdev/registry/dialect_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/posix/regstore/names.h"
#include "platform/utf.h"

namespace brixdev {
namespace {

// What the importer stores: longer names and larger data it refuses.
constexpr std::size_t kMaxNameUnits = 255;
constexpr std::size_t kMaxDataBytes = std::size_t{1} << 20;

constexpr std::uint32_t kTypeString = 1;
constexpr std::uint32_t kTypeExpandString = 2;
constexpr std::uint32_t kTypeBinary = 3;
constexpr std::uint32_t kTypeDword = 4;
constexpr std::uint32_t kTypeMultiString = 7;

char16_t UnitAt(std::string_view data, std::size_t i) {
  return static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                               (static_cast<unsigned char>(data[2 * i + 1]) << 8));
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string HexByte(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
  return text;
}

// Text for a comment line: one line of valid UTF-8 that holds no ";". A
// further ";" would let the importer's comment stripping leave a line behind
// that might end in a backslash and swallow the next line.
std::string CommentText(const std::u16string& text) {
  std::string safe;
  for (std::size_t i = 0; i < text.size();) {
    const char32_t c = plat::utf::NextCodePoint(text, &i);
    if (c < 0x20 || c == u';' || plat::utf::IsSurrogate(c)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      safe += escape;
    } else {
      plat::utf::AppendUtf8(c, &safe);
    }
  }
  return safe;
}

// The text of a type-1 value: the units up to a single terminator at the very end.
Unwritable StringText(std::string_view data, std::u16string* text) {
  if (data.size() < 2 || data.size() % 2 != 0) return Unwritable::kNoTerminator;
  const std::size_t units = data.size() / 2;
  if (UnitAt(data, units - 1) != 0) return Unwritable::kNoTerminator;
  text->clear();
  for (std::size_t i = 0; i + 1 < units; ++i) {
    const char16_t u = UnitAt(data, i);
    if (u == 0) return Unwritable::kZeroCharacter;
    if (u == u'\n') return Unwritable::kLineBreak;
    *text += u;
  }
  return Unwritable::kNone;
}

// Types 2 and 7 written as hex(2) and hex(7): one number 0..255 per UTF-16 unit.
bool IsUnitList(std::string_view data) {
  for (std::size_t i = 1; i < data.size(); i += 2)
    if (data[i] != 0) return false;
  return true;
}

// The multi_sz form "a","b" of a type-7 list: texts, each terminated, then the
// closing terminator; false when the list is none, or a text holds a "," (which
// ends an element) or a line feed.
bool StringList(std::string_view data, std::u16string* out) {
  const std::size_t units = data.size() / 2;
  if (units == 0 || UnitAt(data, units - 1) != 0) return false;
  std::u16string item;
  bool first = true;
  for (std::size_t i = 0; i + 1 < units; ++i) {
    const char16_t u = UnitAt(data, i);
    if (u != 0) {
      if (u == u',' || u == u'\n') return false;
      item += u;
      continue;
    }
    *out += (first ? u"\"" : u",\"") + item + u"\"";
    first = false;
    item.clear();
  }
  return item.empty();
}

// head followed by the numbers, perLine to a line when perLine is not 0.
std::vector<std::u16string> NumberLines(const std::u16string& head, const std::vector<unsigned>& numbers,
                                        std::size_t perLine) {
  std::vector<std::u16string> lines{head};
  for (std::size_t i = 0; i < numbers.size(); ++i) {
    if (i > 0 && perLine != 0 && i % perLine == 0) {
      lines.back() += u",\\";
      lines.emplace_back(u"  ");
    } else if (i > 0) {
      lines.back() += u',';
    }
    lines.back() += Ascii(HexByte(numbers[i]));
  }
  return lines;
}

std::string Comment(const regstore::Value& value) {
  std::string line = "; \"" + CommentText(value.name) + "\" type " + std::to_string(value.type) + ":";
  for (std::size_t i = 0; i < value.data.size(); ++i)
    line += (i == 0 ? " " : ",") + HexByte(static_cast<unsigned char>(value.data[i]));
  return line;
}

std::u16string KeyPath(std::uint32_t root, const std::vector<std::u16string>& names) {
  std::u16string path = regstore::RootName(root);
  path += u'\\';
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i > 0) path += u'\\';
    path += names[i];
  }
  return path;
}

// Keys in tree order: by root, then name by name, so that a key's parent and
// siblings stand before its children.
bool KeyBefore(const regstore::Key& a, const regstore::Key& b) {
  if (a.root != b.root) return a.root < b.root;
  return std::lexicographical_compare(a.path.begin(), a.path.end(), b.path.begin(), b.path.end(), NameBefore);
}

}  // namespace

bool ReadsBack(const std::u16string& line) {
  if (line.find(u'\n') != std::u16string::npos || !plat::utf::IsWellFormed(line)) return false;
  if (!line.empty() && (line.back() == u' ' || line.back() == u'\t' || line.back() == u'\\')) return false;
  const std::size_t semicolon = line.rfind(u';');
  if (semicolon == std::u16string::npos) return true;
  const std::size_t quote = line.rfind(u'"');
  return quote != std::u16string::npos && quote > semicolon;
}

Unwritable WriteValue(std::u16string_view name, std::uint32_t type, std::string_view data,
                      std::size_t numbersPerLine, std::vector<std::u16string>* lines) {
  lines->clear();
  if (name.size() > kMaxNameUnits) return Unwritable::kLongName;
  if (name.find(u'"') != std::u16string_view::npos) return Unwritable::kNameQuote;
  if (data.size() > kMaxDataBytes) return Unwritable::kLargeData;
  const std::u16string head = u"\"" + std::u16string(name) + u"\"=";
  std::u16string line;
  std::u16string form;  // the type word of a number list
  std::vector<unsigned> numbers;
  switch (type) {
    case kTypeString: {
      std::u16string text;
      if (const Unwritable why = StringText(data, &text); why != Unwritable::kNone) return why;
      line = head + u"\"" + text + u"\"";
      break;
    }
    case kTypeDword: {
      if (data.size() != 4) return Unwritable::kDwordSize;
      std::uint32_t number = 0;
      for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(data[i]);
      char text[16];
      std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
      line = head + Ascii(text);
      break;
    }
    case kTypeBinary:
      form = u"hex:";
      numbers.assign(reinterpret_cast<const unsigned char*>(data.data()),
                     reinterpret_cast<const unsigned char*>(data.data()) + data.size());
      break;
    case kTypeExpandString:
    case kTypeMultiString:
      if (data.size() % 2 != 0) return Unwritable::kOddText;
      if (IsUnitList(data)) {
        form = type == kTypeExpandString ? u"hex(2):" : u"hex(7):";
        for (std::size_t i = 0; i < data.size() / 2; ++i) numbers.push_back(UnitAt(data, i));
      } else if (std::u16string list; type == kTypeMultiString && StringList(data, &list)) {
        line = head + u"multi_sz:" + list;
      } else {
        return Unwritable::kWideCharacter;
      }
      break;
    default:
      return Unwritable::kUnknownType;
  }
  if (!form.empty()) line = NumberLines(head + form, numbers, 0)[0];
  // Every entry is checked against the reader's line rules once more, so
  // that no entry can come back different from what was written.
  if (!ReadsBack(line)) return Unwritable::kReadsDifferently;
  *lines = form.empty() || numbersPerLine == 0 ? std::vector<std::u16string>{line}
                                               : NumberLines(head + form, numbers, numbersPerLine);
  return Unwritable::kNone;
}

std::string FormatValue(const regstore::Value& value) {
  std::vector<std::u16string> lines;
  if (WriteValue(value.name, value.type, value.data, 0, &lines) != Unwritable::kNone) return Comment(value);
  return regstore::ToUtf8(lines[0]);
}

bool NameBefore(const std::u16string& a, const std::u16string& b) { return regstore::Fold(a) < regstore::Fold(b); }

std::string FormatKeyBlock(std::uint32_t root, const std::vector<std::u16string>& path,
                           std::vector<regstore::Value> values) {
  // A root is no key line of its own unless it holds values; it is then
  // written with a final backslash, which the importer opens as the root.
  if (path.empty() && values.empty()) return "";
  std::sort(values.begin(), values.end(),
            [](const regstore::Value& a, const regstore::Value& b) { return NameBefore(a.name, b.name); });
  const std::u16string keyLine = u"[" + KeyPath(root, path) + u"]";
  bool printable = ReadsBack(keyLine);
  for (const std::u16string& name : path) printable = printable && name.find(u']') == std::u16string::npos;
  std::string out;
  if (printable) {
    out += regstore::ToUtf8(keyLine) + "\n";
    for (const regstore::Value& value : values) out += FormatValue(value) + "\n";
  } else {
    // A key the importer cannot name is shown, with its values, as comments:
    // values under no key line would land in the key before it.
    out += "; " + CommentText(keyLine) + "\n";
    for (const regstore::Value& value : values) out += Comment(value) + "\n";
  }
  return out + "\n";
}

std::string FormatExport(std::vector<regstore::Key> keys) {
  std::sort(keys.begin(), keys.end(), KeyBefore);
  std::string out = kExportHeader;
  for (regstore::Key& key : keys) out += FormatKeyBlock(key.root, key.path, std::move(key.values));
  return out;
}

}  // namespace brixdev
