// Probed on the Windows build (the device API's registry calls): a name
// element of 256 units or more is refused with 87 and nothing of the path is
// made; a leading backslash with 161; runs of backslashes inside a path are
// passed over, so they are not refused here.
#include "platform/registry_rules.h"

namespace plat::registry_rules {

std::uint32_t CheckSubKey(std::u16string_view subKey) {
  if (!subKey.empty() && subKey.front() == u'\\') return kErrorBadPathname;
  std::size_t run = 0;  // length of the name element being read
  for (const char16_t unit : subKey) {
    run = unit == u'\\' ? 0 : run + 1;
    if (run > kMaxKeyName) return kErrorInvalidParameter;
  }
  return 0;
}

std::uint32_t CheckValue(std::u16string_view name, const void* data, std::uint32_t size) {
  if (data == nullptr && size != 0) return kErrorNoAccess;
  if (name.size() > kMaxValueName) return kErrorInvalidParameter;
  return 0;
}

}  // namespace plat::registry_rules
