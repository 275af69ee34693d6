#include "tests/regimport/import_test_util.h"

#include "platform/fake/fake.h"
#include "platform/platform.h"
#include "regimport/brixparse.h"

namespace brixparse::regtest {

std::string Bytes(std::initializer_list<int> bytes) {
  std::string out;
  for (int b : bytes) out.push_back(static_cast<char>(b));
  return out;
}

std::string Utf16Bytes(const std::u16string& text) {
  std::string out;
  for (char16_t c : text) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

std::u16string Widen(const std::string& text) {
  return std::u16string(text.begin(), text.end());
}

std::vector<KeySummary> Summarise(const CKeyNode* first) {
  std::vector<KeySummary> keys;
  for (const CKeyNode* key = first; key != nullptr; key = key->next.get()) {
    KeySummary summary{key->path, {}};
    for (const CValueNode* v = key->values.get(); v != nullptr; v = v->next.get()) {
      std::string data;
      if (v->data) data.assign(reinterpret_cast<const char*>(v->data.get()), v->size);
      summary.values.push_back({v->name, v->type, data});
    }
    keys.push_back(summary);
  }
  return keys;
}

ParseOutcome ParseScript(const std::string& scriptBytes) {
  plat::fake::Reset();
  plat::fake::AddFile(kScriptPath, scriptBytes);
  CScriptFile script;
  script.Open(kScriptPath);
  CBrixparse parser(script);
  ParseOutcome outcome;
  outcome.yieldedList = parser.ParseFile() != nullptr;
  outcome.keys = Summarise(parser.keys.get());
  return outcome;
}

int ImportScript(const std::string& scriptBytes) {
  plat::fake::Reset();
  plat::fake::AddFile(kScriptPath, scriptBytes);
  return plat::AppMain(nullptr, kScriptPath);
}

}  // namespace brixparse::regtest
