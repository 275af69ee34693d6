#include <exception>
#include <optional>
#include <utility>

#include "regimport/brixparse.h"

namespace brixparse {

namespace {

constexpr char16_t kCannotRead[] = u"CBrixparse::ParseFile::cannot read script = %s err = %d\r\n";

}  // namespace

CBrixparse::CBrixparse(CScriptFile& script) : file(script) {}

CBrixparse::~CBrixparse() = default;

CKeyNode* CBrixparse::ParseFile() {
  keys.reset();
  if (file.stream == nullptr) return nullptr;
  // Keys are linked into the owned list as they are built, so that whatever
  // ends the parse early leaves nothing unowned.
  CKeyNode* last = nullptr;
  // The key that value lines belong to: none before the first key line, and
  // none after a line meant as a key line that gave no key, so that its
  // values never land in the key before it.
  CKeyNode* current = nullptr;
  bool keyLineSeen = false;  // a line meant as a key line has been read
  int result = kLineReadError;
  try {
    std::u16string physical;
    std::u16string logical;
    CLineEntry entry;
    std::optional<LineTrace> trace;
    if (observer != nullptr) trace.emplace(*observer);
    LineTrace* traced = trace ? &*trace : nullptr;
    while ((result = ReadLogicalLine(file, physical, logical, traced)) == kLineRead ||
           result == kLineTooLong) {
      if (traced != nullptr) traced->SetText(logical);
      if (result == kLineTooLong && traced != nullptr) traced->Decided(Decision::kLineTooLong, 0, logical.size());
      const bool given = result != kLineTooLong && ParseEntry(entry, logical, traced) == 1;
      if (!given) {
        if (BeginsKeyLine(logical)) {
          current = nullptr;
          keyLineSeen = true;
        }
      } else if (entry.kind == kEntryKey) {
        auto key = std::make_unique<CKeyNode>(entry.token.c_str());
        CKeyNode* added = key.get();
        if (last == nullptr)
          keys = std::move(key);
        else
          last->next = std::move(key);
        last = added;
        current = added;
        keyLineSeen = true;
      } else if (current != nullptr) {
        current->AppendValue(std::make_unique<CValueNode>(entry.valueName.c_str(), entry.type,
                                                           entry.data.data(), entry.size));
      } else if (traced != nullptr) {
        const std::size_t name = logical.find(u'"');
        traced->Decided(keyLineSeen ? Decision::kValueAfterNoKey : Decision::kValueBeforeKey, name,
                        logical.size() - name);
      }
      if (traced != nullptr) observer->Parsed(*traced, given ? &entry : nullptr);
    }
  } catch (const std::exception&) {
    // Only allocation can throw here (out of memory, or a text beyond the
    // library's size limit). It ends the parse as a read error does: nothing
    // is written, and the keys built so far go with this object.
    result = kLineReadError;
    plat::SetLastErrorCode(plat::kErrorNotEnoughMemory);
  }
  if (result == kLineEndOfFile) return keys.get();
  // Nothing of the script is written then, so the keys go at once: after
  // memory ran out, the report needs some of what they hold.
  keys.reset();
  // Without this line the operator could not tell a script that was not read
  // from a finished import.
  plat::DebugPrint(kCannotRead, static_cast<const char16_t*>(file.path), plat::LastError());
  return nullptr;
}

}  // namespace brixparse
