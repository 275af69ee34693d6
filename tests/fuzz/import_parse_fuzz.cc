// Fuzz target: the importer's whole run on a script placed on the in-memory
// fake device. Checks, for any script bytes:
// - the physical lines read are the lines of the whole file decoded in one go;
// - the key list ParseFile builds is the one the line rules of
//   docs/behaviour.md give (comments, continuations, keys and values in script
//   order, values only under a key), every node well formed;
// - the registry then holds, for each written key and value name, the last
//   value the list gives it.
#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "platform/fake/fake.h"
#include "regimport/brixparse.h"
#include "tests/fuzz/fuzz_support.h"
#include "tests/fuzz/reference_text.h"
#include "tests/regimport/import_test_util.h"

using brixparse::kEntryKey;
using brixparse::kRegSz;
using brixparse::kRegExpandSz;
using brixparse::kRegBinary;
using brixparse::kRegDword;
using brixparse::kRegMultiSz;
using brixparse::kMaxValueName;
using brixparse::kMaxValueData;
using brixparse::CLineEntry;
using brixparse::CBrixparse;
using brixparse::CValueNode;
using brixparse::CKeyNode;
using brixparse::kLineRead;
using brixparse::kLineEndOfFile;
using brixparse::CScriptFile;

namespace {

using brixparse::regtest::KeySummary;
using brixparse::regtest::ValueSummary;

constexpr char16_t kScript[] = u"\\Temp\\fuzz.reg";

bool IsBlank(char16_t c) { return c == u' ' || c == u'\t'; }

void TrimBlanks(std::u16string& line) {
  while (!line.empty() && IsBlank(line.back())) line.pop_back();
}

// docs/behaviour.md: the last ";" starts a comment unless a double quote follows it.
void CutComment(std::u16string& line) {
  TrimBlanks(line);
  const std::size_t semicolon = line.rfind(u';');
  const std::size_t quote = line.rfind(u'"');
  if (semicolon == std::u16string::npos || (quote != std::u16string::npos && quote > semicolon)) return;
  line.resize(semicolon);
  TrimBlanks(line);
}

// Logical lines: the first physical line loses its comment and trailing blanks;
// a final backslash joins the next physical line as read.
std::vector<std::u16string> LogicalLines(const std::vector<std::u16string>& physical) {
  std::vector<std::u16string> logical;
  std::size_t next = 0;
  while (next < physical.size()) {
    std::u16string line = physical[next++];
    CutComment(line);
    std::u16string joined;
    while (!line.empty() && line.back() == u'\\') {
      line.pop_back();
      joined += line;
      line = next < physical.size() ? physical[next++] : std::u16string();
    }
    logical.push_back(joined + line);
  }
  return logical;
}

bool BeginsWithBracket(const std::u16string& line) {
  std::size_t i = 0;
  while (i < line.size() && IsBlank(line[i])) ++i;
  return i < line.size() && line[i] == u'[';
}

// The key list the rules give for these logical lines, each parsed on a fresh record.
std::vector<KeySummary> ModelKeys(const std::vector<std::u16string>& logical) {
  std::vector<KeySummary> keys;
  bool haveKey = false;
  for (const std::u16string& line : logical) {
    CLineEntry entry;
    if (CBrixparse::ParseEntry(entry, line) == 0) {
      // A line that begins with "[" but gives no key ends the current key.
      if (BeginsWithBracket(line)) haveKey = false;
      continue;
    }
    if (entry.kind == kEntryKey) {
      keys.push_back({entry.token, {}});
      haveKey = true;
    } else if (haveKey) {
      FUZZ_CHECK(entry.size == entry.data.size(), fuzz::Show(line));
      keys.back().values.push_back(
          {entry.valueName, entry.type, std::string(entry.data.begin(), entry.data.end())});
    }
  }
  return keys;
}

std::vector<std::u16string> ReadPhysicalLines(std::size_t bound) {
  CScriptFile file;
  file.Open(kScript);
  FUZZ_CHECK(file.stream != nullptr, "script not opened");
  std::vector<std::u16string> lines;
  std::u16string line;
  int result = kLineRead;
  while ((result = file.ReadLine(line)) == kLineRead) {
    lines.push_back(line);
    FUZZ_CHECK(lines.size() <= bound, "more lines than the file has: " + std::to_string(lines.size()));
  }
  FUZZ_CHECK(result == kLineEndOfFile, "read error on the fake: " + std::to_string(result));
  return lines;
}

// Lines are read whole; a line's text may end at its first NUL.
void CheckPhysicalLines(const std::vector<std::u16string>& got, const std::u16string& text) {
  const std::vector<std::u16string> want = fuzz::ReferenceLines(text);
  FUZZ_CHECK(got.size() == want.size(),
             std::to_string(got.size()) + " lines read, the file has " + std::to_string(want.size()));
  for (std::size_t i = 0; i < want.size(); ++i) {
    const std::u16string cut = want[i].substr(0, want[i].find(u'\0'));
    FUZZ_CHECK(got[i] == want[i] || got[i] == cut, "line " + std::to_string(i + 1) + ": read \"" +
                                                        fuzz::Show(got[i]) + "\", file \"" +
                                                        fuzz::Show(want[i]) + "\"");
  }
}

void CheckNode(const CValueNode& v) {
  const auto what = [&] {
    return "value \"" + fuzz::Show(v.name) + "\" type " + std::to_string(v.type) + " size " +
           std::to_string(v.size);
  };
  FUZZ_CHECK(v.name.size() <= kMaxValueName, what());
  FUZZ_CHECK(v.name.find(u'\0') == std::u16string::npos, what());
  FUZZ_CHECK((v.data == nullptr) == (v.size == 0), what());
  FUZZ_CHECK(v.size <= kMaxValueData, what());
  const std::uint8_t* d = v.data.get();
  switch (v.type) {
    case kRegSz:
      FUZZ_CHECK(v.size >= 2 && v.size % 2 == 0 && d[v.size - 1] == 0 && d[v.size - 2] == 0, what());
      break;
    case kRegDword:
      FUZZ_CHECK(v.size == 4, what());
      break;
    case kRegExpandSz:
      FUZZ_CHECK(v.size % 2 == 0, what());
      for (std::uint32_t i = 1; i < v.size; i += 2) FUZZ_CHECK(d[i] == 0, what());
      break;
    case kRegMultiSz:
      FUZZ_CHECK(v.size % 2 == 0, what());
      break;
    case kRegBinary:
      break;
    default:
      FUZZ_CHECK(false, what());
  }
}

std::u16string Fold(std::u16string text) {
  for (char16_t& c : text)
    if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
  return text;
}

// The key's place in the registry when the writer writes it: root name, then
// the subkey's non-empty elements folded. Empty when the key is not written:
// an unknown root, or a subkey the device refuses (one that starts with a
// backslash, or an element of more than 255 units).
std::u16string RegistryPlace(const std::u16string& path) {
  const std::size_t separator = path.find(u'\\');
  if (separator == std::u16string::npos) return u"";
  const std::u16string root = path.substr(0, separator);
  if (root != u"HKEY_LOCAL_MACHINE" && root != u"HKEY_CLASSES_ROOT" && root != u"HKEY_CURRENT_USER")
    return u"";
  if (separator + 1 < path.size() && path[separator + 1] == u'\\') return u"";
  std::u16string place = root;
  std::size_t i = separator;
  while (i < path.size()) {
    while (i < path.size() && path[i] == u'\\') ++i;
    const std::size_t end = std::min(path.find(u'\\', i), path.size());
    if (end - i > 255) return u"";
    if (end > i) place += u"\\" + Fold(path.substr(i, end - i));
    i = end;
  }
  return place;
}

// docs/behaviour.md: a string is written up to its first terminator; one without data as "".
std::string Written(const ValueSummary& v) {
  if (v.type != kRegSz) return v.data;
  if (v.data.empty()) return std::string(2, '\0');
  for (std::size_t i = 0; i + 1 < v.data.size(); i += 2)
    if (v.data[i] == 0 && v.data[i + 1] == 0) return v.data.substr(0, i + 2);
  return v.data;
}

void CheckRegistry(const std::vector<KeySummary>& keys) {
  std::map<std::pair<std::u16string, std::u16string>, ValueSummary> last;
  for (const KeySummary& key : keys) {
    const std::u16string place = RegistryPlace(key.path);
    if (place.empty()) continue;
    FUZZ_CHECK(plat::fake::RegKeyExists(place), "key missing: " + fuzz::Show(key.path));
    for (const ValueSummary& v : key.values) last[{place, Fold(v.name)}] = v;
  }
  for (const auto& entry : last) {
    const std::u16string& place = entry.first.first;
    const ValueSummary& v = entry.second;
    const auto stored = plat::fake::GetRegValue(place, v.name);
    const auto what = [&] { return fuzz::Show(place) + " \"" + fuzz::Show(v.name) + "\""; };
    FUZZ_CHECK(stored.has_value(), "value missing: " + what());
    FUZZ_CHECK(stored->type == v.type && stored->data == Written(v), "value differs: " + what());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  plat::fake::Reset();
  plat::fake::AddFile(kScript, std::string(reinterpret_cast<const char*>(data), size));
  const std::u16string text = fuzz::ReferenceDecode(data, size);

  const std::vector<std::u16string> physical = ReadPhysicalLines(text.size() + 1);
  CheckPhysicalLines(physical, text);

  CScriptFile file;
  file.Open(kScript);
  CBrixparse parser(file);
  CKeyNode* first = parser.ParseFile();
  FUZZ_CHECK(first == parser.keys.get(), "ParseFile's result is not the list it holds");
  for (const CKeyNode* key = first; key != nullptr; key = key->next.get()) {
    FUZZ_CHECK(key->path.find(u'\0') == std::u16string::npos, fuzz::Show(key->path));
    for (const CValueNode* v = key->values.get(); v != nullptr; v = v->next.get()) CheckNode(*v);
  }
  const std::vector<KeySummary> keys = brixparse::regtest::Summarise(first);
  const std::vector<KeySummary> model = ModelKeys(LogicalLines(physical));
  FUZZ_CHECK(keys.size() == model.size(),
             std::to_string(keys.size()) + " keys, the rules give " + std::to_string(model.size()));
  for (std::size_t i = 0; i < keys.size(); ++i) {
    const auto what = [&] {
      return "key " + std::to_string(i + 1) + " \"" + fuzz::Show(keys[i].path) + "\"";
    };
    FUZZ_CHECK(keys[i].path == model[i].path,
               what() + ", the rules give \"" + fuzz::Show(model[i].path) + "\"");
    FUZZ_CHECK(keys[i].values.size() == model[i].values.size(),
               what() + ": " + std::to_string(keys[i].values.size()) + " values, the rules give " +
                   std::to_string(model[i].values.size()));
    for (std::size_t k = 0; k < keys[i].values.size(); ++k)
      FUZZ_CHECK(keys[i].values[k] == model[i].values[k],
                 what() + " value " + std::to_string(k + 1) + " \"" +
                     fuzz::Show(keys[i].values[k].name) + "\"");
  }

  parser.UpdateRegistry(first);
  CheckRegistry(keys);
  return 0;
}
