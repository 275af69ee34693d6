// The names and arguments a device's registry refuses, shared by every backend
// that keeps a registry of its own (the fake and the simulator), so that both
// refuse exactly what a device refuses.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace plat::registry_rules {

inline constexpr std::uint32_t kErrorInvalidParameter = 87;  // a name too long
inline constexpr std::uint32_t kErrorBadPathname = 161;      // a subkey path starting with a backslash
inline constexpr std::uint32_t kErrorNoAccess = 998;         // no data for a nonzero byte count

// Longest name of one key in a path, and of a value, in UTF-16 units.
inline constexpr std::size_t kMaxKeyName = 255;
inline constexpr std::size_t kMaxValueName = 16383;

// 0 when a device creates or opens subKey below a key, else the error it refuses it with.
std::uint32_t CheckSubKey(std::u16string_view subKey);

// 0 when a device sets a value of this name and data, else the error it refuses it with.
std::uint32_t CheckValue(std::u16string_view name, const void* data, std::uint32_t size);

}  // namespace plat::registry_rules
