// The desktop editors' format, as far as an export holds it: a header line,
// [key] and [-key] lines, "name"= and @= value lines with backslash escapes
// in quoted texts, hex data continued on lines ending in a backslash, and
// comments starting with ';'.
#include "brixdev/registry/desktop_reg_reader.h"

#include <cctype>

#include "platform/text_decoder.h"
#include "platform/utf.h"

namespace brixdev {
namespace {

std::u16string DecodeAnsi(std::string_view bytes) {
  std::u16string out;
  for (const char c : bytes) plat::utf::AppendUtf16(plat::text::Windows1252(static_cast<std::uint8_t>(c)), &out);
  return out;
}

std::string Utf16Le(std::u16string_view text) {
  std::string out;
  for (const char16_t u : text) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  }
  return out;
}

bool IsSpace(char16_t c) { return c == u' ' || c == u'\t'; }

std::u16string_view TrimLeft(std::u16string_view text) {
  while (!text.empty() && IsSpace(text[0])) text.remove_prefix(1);
  return text;
}

std::u16string_view TrimRight(std::u16string_view text) {
  while (!text.empty() && IsSpace(text.back())) text.remove_suffix(1);
  return text;
}

// A quoted text at text[0] == '"' with backslash escapes; *end is the position behind the closing quote.
bool Quoted(std::u16string_view text, std::u16string* value, std::size_t* end) {
  value->clear();
  for (std::size_t i = 1; i < text.size(); ++i) {
    const char16_t c = text[i];
    if (c == u'"') {
      *end = i + 1;
      return true;
    }
    if (c == u'\\' && i + 1 < text.size()) {
      const char16_t next = text[++i];
      switch (next) {
        case u'n':
          *value += u'\n';
          break;
        case u'r':
          *value += u'\r';
          break;
        case u'0':
          *value += u'\0';
          break;
        case u'\\':
        case u'"':
          *value += next;
          break;
        default:  // not an escape: both characters stand for themselves
          *value += u'\\';
          *value += next;
          break;
      }
      continue;
    }
    *value += c;
  }
  return false;
}

int HexDigit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// "01,02,ff": bytes of one or two hex digits each, separated by commas.
bool HexBytes(std::u16string_view text, std::string* bytes) {
  text = TrimRight(TrimLeft(text));
  if (text.empty()) return true;
  while (true) {
    text = TrimLeft(text);
    std::size_t n = 0;
    int value = 0;
    while (n < text.size() && n < 3 && HexDigit(text[n]) >= 0) value = value * 16 + HexDigit(text[n++]);
    if (n == 0 || n > 2) return false;
    *bytes += static_cast<char>(value);
    text = TrimLeft(text.substr(n));
    if (text.empty()) return true;
    if (text[0] != u',') return false;
    text.remove_prefix(1);
    if (TrimLeft(text).empty()) return true;  // a trailing comma
  }
}

bool StartsWithIgnoringCase(std::u16string_view text, std::u16string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

class Reader {
 public:
  Reader(DesktopExport* out, bool utf8) : out_(out), utf8_(utf8) {}

  void Line(int number, std::u16string_view text) {
    text = TrimLeft(text);
    if (text.empty() || text[0] == u';') return;
    if (text[0] == u'[') {
      Key(number, text);
    } else if (out_->keys.empty()) {
      Problem(number, "a value before the first key");
    } else {
      Value(number, text);
    }
  }

 private:
  void Problem(int line, std::string text) { out_->problems.push_back({line, std::move(text)}); }

  void Key(int number, std::u16string_view text) {
    const std::size_t close = text.rfind(u']');
    if (close == std::u16string_view::npos) {
      Problem(number, "a key line without ']'");
      return;
    }
    DesktopKey key;
    key.line = number;
    std::u16string_view path = text.substr(1, close - 1);
    if (!path.empty() && path[0] == u'-') {
      key.deletion = true;
      path.remove_prefix(1);
    }
    key.path = path;
    out_->keys.push_back(std::move(key));
  }

  void Value(int number, std::u16string_view text) {
    DesktopValue value;
    value.line = number;
    std::size_t at = 0;
    if (text[0] == u'@') {
      value.isDefault = true;
      at = 1;
    } else if (text[0] != u'"' || !Quoted(text, &value.name, &at)) {
      Problem(number, "a value line whose name is not in double quotes");
      return;
    }
    std::u16string_view rest = TrimLeft(text.substr(at));
    if (rest.empty() || rest[0] != u'=') {
      Problem(number, "a value line without '=' behind its name");
      return;
    }
    rest = TrimRight(TrimLeft(rest.substr(1)));
    if (!Data(rest, &value)) {
      Problem(number, "a value in a form no registry editor writes");
      return;
    }
    out_->keys.back().values.push_back(std::move(value));
  }

  bool Data(std::u16string_view rest, DesktopValue* value) {
    if (rest == u"-") {
      value->deletion = true;
      return true;
    }
    if (!rest.empty() && rest[0] == u'"') {
      std::u16string text;
      std::size_t end = 0;
      if (!Quoted(rest, &text, &end) || !TrimLeft(rest.substr(end)).empty()) return false;
      value->type = 1;
      value->data = Utf16Le(text) + std::string(2, '\0');
      return true;
    }
    if (StartsWithIgnoringCase(rest, u"dword:")) {
      const std::u16string_view digits = rest.substr(6);
      if (digits.empty() || digits.size() > 8) return false;
      std::uint32_t number = 0;
      for (const char16_t c : digits) {
        if (HexDigit(c) < 0) return false;
        number = number * 16 + static_cast<std::uint32_t>(HexDigit(c));
      }
      value->type = 4;
      for (int i = 0; i < 4; ++i) value->data += static_cast<char>((number >> (8 * i)) & 0xFF);
      return true;
    }
    if (!StartsWithIgnoringCase(rest, u"hex")) return false;
    rest.remove_prefix(3);
    value->type = 3;
    if (!rest.empty() && rest[0] == u'(') {
      const std::size_t close = rest.find(u')');
      if (close == std::u16string_view::npos || close == 1 || close > 9) return false;
      std::uint32_t type = 0;
      for (const char16_t c : rest.substr(1, close - 1)) {
        if (HexDigit(c) < 0) return false;
        type = type * 16 + static_cast<std::uint32_t>(HexDigit(c));
      }
      value->type = type;
      rest.remove_prefix(close + 1);
    }
    if (rest.empty() || rest[0] != u':' || !HexBytes(rest.substr(1), &value->data)) return false;
    // REGEDIT4 writes texts as bytes of the ANSI code page (or of UTF-8 in a UTF-8 file);
    // the desktop registry holds them as UTF-16.
    if (!out_->version5 && (value->type == 1 || value->type == 2 || value->type == 7)) {
      std::u16string text;
      if (!utf8_ || !plat::utf::ToUtf16(value->data, &text)) text = DecodeAnsi(value->data);
      value->data = Utf16Le(text);
    }
    return true;
  }

  DesktopExport* out_;
  bool utf8_;
};

}  // namespace

bool ReadDesktopExport(const std::string& bytes, DesktopExport* out, std::string* error) {
  std::u16string text;
  bool utf8 = false;
  if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFF && static_cast<unsigned char>(bytes[1]) == 0xFE) {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) | (static_cast<unsigned char>(bytes[i + 1]) << 8));
  } else if (bytes.size() >= 2 && static_cast<unsigned char>(bytes[0]) == 0xFE &&
             static_cast<unsigned char>(bytes[1]) == 0xFF) {
    for (std::size_t i = 2; i + 1 < bytes.size(); i += 2)
      text += static_cast<char16_t>((static_cast<unsigned char>(bytes[i]) << 8) | static_cast<unsigned char>(bytes[i + 1]));
  } else {
    const bool bom = bytes.size() >= 3 && bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const std::string_view body = std::string_view(bytes).substr(bom ? 3 : 0);
    utf8 = plat::utf::ToUtf16(body, &text);
    if (!utf8) text = DecodeAnsi(body);
  }
  // Physical lines end in LF or CR LF; lines ending in a backslash continue on
  // the next, whose leading blanks are dropped.
  std::vector<std::pair<int, std::u16string>> lines;
  int number = 0;
  bool continued = false;
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find(u'\n', start);
    if (end == std::u16string::npos) end = text.size();
    std::u16string_view line = std::u16string_view(text).substr(start, end - start);
    if (!line.empty() && line.back() == u'\r') line.remove_suffix(1);
    ++number;
    if (continued) {
      lines.back().second += TrimLeft(line);
    } else {
      lines.emplace_back(number, std::u16string(line));
    }
    std::u16string& joined = lines.back().second;
    const std::u16string_view trimmed = TrimRight(joined);
    continued = !trimmed.empty() && trimmed.back() == u'\\' && TrimLeft(joined)[0] != u';';
    if (continued) joined.resize(trimmed.size() - 1);
    start = end + 1;
  }
  const std::u16string_view header = lines.empty() ? std::u16string_view() : TrimRight(lines[0].second);
  if (header == u"Windows Registry Editor Version 5.00") {
    out->version5 = true;
  } else if (header != u"REGEDIT4") {
    *error = "not a registry export: the first line is neither REGEDIT4 nor Windows Registry Editor Version 5.00";
    return false;
  }
  Reader reader(out, utf8);
  for (std::size_t i = 1; i < lines.size(); ++i) reader.Line(lines[i].first, lines[i].second);
  return true;
}

}  // namespace brixdev
