#include "brixdev/registry/dialect_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "platform/posix/regstore/names.h"

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

char16_t UnitAt(const std::string& data, std::size_t i) {
  return static_cast<char16_t>(static_cast<unsigned char>(data[2 * i]) |
                               (static_cast<unsigned char>(data[2 * i + 1]) << 8));
}

std::u16string Ascii(const std::string& text) { return std::u16string(text.begin(), text.end()); }

std::string HexByte(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02x", value & 0xFFu);
  return text;
}

// The data as two-digit numbers separated by commas, one per byte or (wide) per UTF-16 unit.
std::string HexList(const std::string& data, bool wide) {
  std::string out;
  const std::size_t count = wide ? data.size() / 2 : data.size();
  for (std::size_t i = 0; i < count; ++i) {
    if (i > 0) out += ',';
    out += HexByte(wide ? UnitAt(data, i) : static_cast<unsigned char>(data[i]));
  }
  return out;
}

// Text for a comment line: one line of valid UTF-8 that holds no ";". A
// further ";" would let the importer's comment stripping leave a line behind
// that might end in a backslash and swallow the next line.
std::string CommentText(const std::u16string& text) {
  std::u16string safe;
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t u = text[i];
    const bool pair = u >= 0xD800 && u <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
                      text[i + 1] <= 0xDFFF;
    if (pair) {
      safe += u;
      safe += text[++i];
    } else if (u < 0x20 || u == u';' || (u >= 0xD800 && u <= 0xDFFF)) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(u));
      safe += std::u16string(escape, escape + 6);
    } else {
      safe += u;
    }
  }
  return regstore::ToUtf8(safe);
}

bool NameReadsBack(const std::u16string& name) {
  return name.size() <= kMaxNameUnits && name.find(u'"') == std::u16string::npos &&
         name.find(u'\n') == std::u16string::npos && regstore::IsWellFormed(name);
}

// The text of a type-1 value when the importer could have written it: the
// units up to a single terminator at the very end, none of them a line feed.
bool StringText(const regstore::Value& value, std::u16string* text) {
  const std::string& data = value.data;
  if (data.size() < 2 || data.size() % 2 != 0 || data.size() > kMaxDataBytes) return false;
  const std::size_t units = data.size() / 2;
  if (UnitAt(data, units - 1) != 0) return false;
  text->clear();
  for (std::size_t i = 0; i + 1 < units; ++i) {
    const char16_t u = UnitAt(data, i);
    if (u == 0 || u == u'\n') return false;
    *text += u;
  }
  return regstore::IsWellFormed(*text);
}

// Types 2 and 7 come from lists of numbers 0..255, one per UTF-16 unit.
bool IsUnitList(const std::string& data) {
  if (data.size() % 2 != 0 || data.size() > kMaxDataBytes) return false;
  for (std::size_t i = 1; i < data.size(); i += 2)
    if (data[i] != 0) return false;
  return true;
}

std::string Comment(const regstore::Value& value) {
  std::string line = "; \"" + CommentText(value.name) + "\" type " + std::to_string(value.type) + ":";
  if (!value.data.empty()) line += " " + HexList(value.data, false);
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
  if (line.find(u'\n') != std::u16string::npos || !regstore::IsWellFormed(line)) return false;
  if (!line.empty() && (line.back() == u' ' || line.back() == u'\t' || line.back() == u'\\')) return false;
  const std::size_t semicolon = line.rfind(u';');
  if (semicolon == std::u16string::npos) return true;
  const std::size_t quote = line.rfind(u'"');
  return quote != std::u16string::npos && quote > semicolon;
}

std::string FormatValue(const regstore::Value& value) {
  if (!NameReadsBack(value.name)) return Comment(value);
  const std::u16string head = u"\"" + value.name + u"\"=";
  std::u16string line;
  switch (value.type) {
    case kTypeString: {
      std::u16string text;
      if (StringText(value, &text)) line = head + u"\"" + text + u"\"";
      break;
    }
    case kTypeDword:
      if (value.data.size() == 4) {
        std::uint32_t number = 0;
        for (int i = 3; i >= 0; --i) number = (number << 8) | static_cast<unsigned char>(value.data[i]);
        char text[16];
        std::snprintf(text, sizeof text, "dword:%08x", static_cast<unsigned>(number));
        line = head + Ascii(text);
      }
      break;
    case kTypeBinary:
      if (value.data.size() <= kMaxDataBytes) line = head + u"hex:" + Ascii(HexList(value.data, false));
      break;
    case kTypeExpandString:
    case kTypeMultiString:
      if (IsUnitList(value.data))
        line = head + (value.type == kTypeExpandString ? u"hex(2):" : u"hex(7):") + Ascii(HexList(value.data, true));
      break;
    default:
      break;
  }
  // Every entry is checked against the reader's line rules once more, so
  // that no entry can come back different from what the registry holds.
  if (line.empty() || !ReadsBack(line)) return Comment(value);
  return regstore::ToUtf8(line);
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
