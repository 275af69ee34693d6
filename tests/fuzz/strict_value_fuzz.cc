// Fuzz target: one value line imported by the whole importer on the fake
// device, below a key line, and read a second time here, strictly: only the
// well-formed forms of docs/fuzzing.md count. Whenever the line is not strictly
// well-formed, or what the registry holds afterwards differs from the strict
// reading, the importer must have reported a lenient decision on that line
// (so that `brixdev check` has a finding there). Besides:
// - every decision is placed on the line that made it (never the key line);
// - watching the parse changes nothing of what it builds.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/fake/fake.h"
#include "regimport/brixparse.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/regimport/import_test_util.h"

namespace {

using brixparse::CBrixparse;
using brixparse::CScriptFile;
using brixparse::Decision;
using brixparse::DecisionPlace;

constexpr char16_t kKeyLine[] = u"[HKEY_LOCAL_MACHINE\\Software\\Fuzz]";
constexpr char16_t kKeyPath[] = u"HKEY_LOCAL_MACHINE\\Software\\Fuzz";

// What the strict reading makes of the line.
struct Strict {
  enum class Form { kNone, kNothing, kKey, kValue } form = Form::kNone;  // kNone: not well formed
  std::u16string name;
  std::uint32_t type = 0;
  std::string data;
};

// A strict reader over the units of one line.
class Reader {
 public:
  explicit Reader(std::u16string_view line) : text_(line) {}

  Strict Read() {
    Strict out;
    Spaces(true);
    if (AtEnd() || Peek() == u';') {
      out.form = Strict::Form::kNothing;
      return out;
    }
    if (Peek() == u'[') {
      ++at_;
      while (!AtEnd() && Peek() != u']' && Peek() != 0) ++at_;
      if (AtEnd() || Peek() != u']') return {};
      ++at_;
      if (Rest()) out.form = Strict::Form::kKey;
      return out;
    }
    if (!Quoted(u"\"", &out.name) || !Take(u'=')) return {};
    if (!Value(&out)) return {};
    if (!Rest()) return {};
    out.form = Strict::Form::kValue;
    return out;
  }

 private:
  bool AtEnd() const { return at_ >= text_.size(); }
  char16_t Peek() const { return text_[at_]; }
  bool Take(char16_t c) {
    if (AtEnd() || Peek() != c) return false;
    ++at_;
    return true;
  }
  // Passes over spaces (and tabs, when tabs).
  void Spaces(bool tabs) {
    while (!AtEnd() && (Peek() == u' ' || (tabs && Peek() == u'\t'))) ++at_;
  }
  // Nothing but blanks, then perhaps a comment, to the end of the line.
  bool Rest() {
    Spaces(true);
    return AtEnd() || Peek() == u';';
  }
  // A double-quoted text without any of the units in `excluded` (besides the double quote and NUL).
  bool Quoted(std::u16string_view excluded, std::u16string* out) {
    if (!Take(u'"')) return false;
    out->clear();
    while (!AtEnd() && Peek() != u'"' && Peek() != 0 && excluded.find(Peek()) == std::u16string_view::npos)
      *out += text_[at_++];
    return Take(u'"');
  }
  static int Digit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
  }
  static void PushUnit(std::string* data, char16_t unit) {
    data->push_back(static_cast<char>(unit & 0xFF));
    data->push_back(static_cast<char>(unit >> 8));
  }
  // Two hexadecimal digits.
  bool Byte(std::uint8_t* value) {
    if (at_ + 1 >= text_.size() || Digit(text_[at_]) < 0 || Digit(text_[at_ + 1]) < 0) return false;
    *value = static_cast<std::uint8_t>(Digit(text_[at_]) * 16 + Digit(text_[at_ + 1]));
    at_ += 2;
    return true;
  }
  // Bytes separated by one comma each, spaces around the commas allowed; perhaps none.
  bool Bytes(bool wide, std::string* data) {
    Spaces(false);
    std::uint8_t value = 0;
    if (!Byte(&value)) return true;
    for (;;) {
      data->push_back(static_cast<char>(value));
      if (wide) data->push_back(0);
      const std::size_t mark = at_;
      Spaces(false);
      if (!Take(u',')) {
        at_ = mark;
        return true;
      }
      Spaces(false);
      if (!Byte(&value)) return false;
    }
  }

  bool Value(Strict* out) {
    Spaces(false);
    if (!AtEnd() && Peek() == u'"') {
      std::u16string text;
      if (!Quoted(u"", &text)) return false;
      out->type = brixparse::kRegSz;
      for (char16_t c : text) PushUnit(&out->data, c);
      PushUnit(&out->data, 0);
      return true;
    }
    std::u16string word;
    while (!AtEnd() && Peek() != u' ' && Peek() != u':') word += text_[at_++];
    Spaces(false);
    if (!Take(u':')) return false;
    if (word == u"dword") {
      Spaces(true);
      std::uint32_t value = 0;
      int digits = 0;
      for (; !AtEnd() && Digit(Peek()) >= 0; ++at_, ++digits) value = value * 16 + static_cast<std::uint32_t>(Digit(Peek()));
      if (digits < 1 || digits > 8) return false;
      out->type = brixparse::kRegDword;
      for (int shift = 0; shift < 32; shift += 8) out->data.push_back(static_cast<char>(value >> shift));
      return true;
    }
    if (word == u"hex" || word == u"hex(2)" || word == u"hex(7)") {
      out->type = word == u"hex" ? brixparse::kRegBinary : word == u"hex(2)" ? brixparse::kRegExpandSz : brixparse::kRegMultiSz;
      return Bytes(word != u"hex", &out->data);
    }
    if (word == u"multi_sz") {
      out->type = brixparse::kRegMultiSz;
      std::u16string text;
      if (!AtEnd() && Peek() == u'"') {
        for (;;) {
          if (!Quoted(u",", &text)) return false;
          for (char16_t c : text) PushUnit(&out->data, c);
          PushUnit(&out->data, 0);
          if (!Take(u',')) break;
          Spaces(false);
        }
      }
      PushUnit(&out->data, 0);
      return true;
    }
    return false;
  }

  std::u16string_view text_;
  std::size_t at_ = 0;
};

class Recorder : public brixparse::DecisionObserver {
 public:
  void Decided(Decision decision, DecisionPlace place, std::u16string_view) override {
    seen.push_back({decision, place.line});
  }
  void Parsed(const brixparse::LineTrace&, const brixparse::CLineEntry*) override {}
  std::vector<std::pair<Decision, std::size_t>> seen;
};

std::string Utf16LeScript(const std::u16string& text) {
  std::string bytes = "\xFF\xFE";
  for (char16_t c : text) {
    bytes.push_back(static_cast<char>(c & 0xFF));
    bytes.push_back(static_cast<char>(c >> 8));
  }
  return bytes;
}

std::string Describe(const std::optional<plat::fake::RegValue>& value) {
  if (!value) return "nothing";
  std::string s = "type " + std::to_string(value->type) + " data";
  for (unsigned char b : value->data) s += " " + std::to_string(b);
  return s;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::u16string line = fuzz::UnitsFromBytes(data, size);
  // One line: up to its first line feed, and without carriage returns at its
  // end (the last would join the line feed that ends the line, as CR LF does).
  line = line.substr(0, line.find(u'\n'));
  while (!line.empty() && line.back() == u'\r') line.pop_back();
  const std::string script = Utf16LeScript(std::u16string(kKeyLine) + u"\n" + line + u"\n");

  plat::fake::Reset();
  plat::fake::PauseCallRecording();
  plat::fake::AddFile(brixparse::regtest::kScriptPath, script);
  Recorder recorder;
  std::vector<brixparse::regtest::KeySummary> observed;
  {
    CScriptFile file;
    file.Open(brixparse::regtest::kScriptPath);
    CBrixparse parser(file);
    parser.observer = &recorder;
    parser.UpdateRegistry(parser.ParseFile());
    observed = brixparse::regtest::Summarise(parser.keys.get());
  }
  const std::string shown = "line \"" + fuzz::Show(line) + "\"";
  bool onLine = false;
  for (const auto& [decision, at] : recorder.seen) {
    FUZZ_CHECK(at == 2, shown + ": decision " + std::to_string(static_cast<int>(decision)) + " placed on line " +
                            std::to_string(at));
    onLine = true;
  }
  // The same parse without an observer (the key paths are cut by the writer alike).
  {
    CScriptFile file;
    file.Open(brixparse::regtest::kScriptPath);
    CBrixparse parser(file);
    parser.UpdateRegistry(parser.ParseFile());
    FUZZ_CHECK(brixparse::regtest::Summarise(parser.keys.get()) == observed, shown + ": watching changed the parse");
  }

  const Strict strict = Reader(line).Read();
  if (strict.form == Strict::Form::kNone) {
    FUZZ_CHECK(onLine, shown + ": not strictly well formed, but no decision was reported");
    return 0;
  }
  if (strict.form != Strict::Form::kValue) return 0;
  const std::optional<plat::fake::RegValue> stored = plat::fake::GetRegValue(kKeyPath, strict.name);
  const bool same = stored && stored->type == strict.type && stored->data == strict.data;
  FUZZ_CHECK(same || onLine, shown + ": stored " + Describe(stored) + ", strictly " +
                                 Describe(plat::fake::RegValue{strict.type, strict.data}) + ", and no decision");
  return 0;
}
