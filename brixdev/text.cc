#include "brixdev/text.h"

#include "platform/posix/regstore/names.h"
#include "platform/utf.h"

namespace brixdev {
namespace {

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c + 0x20) : c; }

}  // namespace

std::string Utf8(std::u16string_view text) { return plat::utf::ToUtf8Lenient(text); }

std::u16string Utf16(std::string_view text) { return plat::utf::ToUtf16Keeping(text); }

std::vector<std::u16string> PathNames(std::u16string_view devicePath) {
  std::vector<std::u16string> names;
  std::size_t i = 0;
  while (i < devicePath.size()) {
    std::size_t end = i;
    while (end < devicePath.size() && devicePath[end] != u'\\' && devicePath[end] != u'/') ++end;
    const std::u16string_view name = devicePath.substr(i, end - i);
    if (name == u"..") {
      if (!names.empty()) names.pop_back();
    } else if (!name.empty() && name != u".") {
      names.emplace_back(name);
    }
    i = end + 1;
  }
  return names;
}

std::u16string PathKey(std::u16string_view devicePath) {
  std::u16string key;
  for (const std::u16string& name : PathNames(devicePath)) {
    key += u'\\';
    for (const char16_t c : name) key += FoldAscii(c);
  }
  return key.empty() ? u"\\" : key;
}

bool SameIgnoringCase(std::u16string_view a, std::u16string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  return true;
}

std::u16string_view BaseName(std::u16string_view devicePath) {
  const std::size_t slash = devicePath.find_last_of(u"\\/");
  return slash == std::u16string_view::npos ? devicePath : devicePath.substr(slash + 1);
}

}  // namespace brixdev
