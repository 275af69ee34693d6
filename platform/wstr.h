// Bounded wide-string routines over zero-terminated char16_t text.
// Every copy states its buffer capacity and refuses to overflow or truncate.
#pragma once

#include <cstddef>

namespace wstr {

// Number of units before the terminator.
inline std::size_t Len(const char16_t* s) {
  std::size_t n = 0;
  while (s[n] != 0) ++n;
  return n;
}

// First occurrence of c in s, or nullptr.
inline const char16_t* Chr(const char16_t* s, char16_t c) {
  for (; *s != 0; ++s)
    if (*s == c) return s;
  return nullptr;
}
inline char16_t* Chr(char16_t* s, char16_t c) {
  return const_cast<char16_t*>(Chr(static_cast<const char16_t*>(s), c));
}

// Last occurrence of c in s, or nullptr.
inline const char16_t* RChr(const char16_t* s, char16_t c) {
  const char16_t* found = nullptr;
  for (; *s != 0; ++s)
    if (*s == c) found = s;
  return found;
}
inline char16_t* RChr(char16_t* s, char16_t c) {
  return const_cast<char16_t*>(RChr(static_cast<const char16_t*>(s), c));
}

// First occurrence of needle in s, or nullptr; an empty needle matches at s.
inline const char16_t* Str(const char16_t* s, const char16_t* needle) {
  if (*needle == 0) return s;
  for (; *s != 0; ++s) {
    std::size_t i = 0;
    while (needle[i] != 0 && s[i] == needle[i]) ++i;
    if (needle[i] == 0) return s;
  }
  return nullptr;
}

// Exact comparison: <0, 0 or >0.
inline int Cmp(const char16_t* a, const char16_t* b) {
  while (*a != 0 && *a == *b) ++a, ++b;
  return static_cast<int>(*a) - static_cast<int>(*b);
}

// Copies n units of src plus a terminator into dst of capacity cap; false (dst untouched) when it does not fit.
inline bool CopyN(char16_t* dst, std::size_t cap, const char16_t* src, std::size_t n) {
  if (n + 1 > cap) return false;
  for (std::size_t i = 0; i < n; ++i) dst[i] = src[i];
  dst[n] = 0;
  return true;
}

// Copies src into dst of capacity cap; false (dst untouched) when it does not fit.
inline bool Copy(char16_t* dst, std::size_t cap, const char16_t* src) {
  return CopyN(dst, cap, src, Len(src));
}

// Appends src to dst of capacity cap; false (dst untouched) when it does not fit.
inline bool Cat(char16_t* dst, std::size_t cap, const char16_t* src) {
  const std::size_t used = Len(dst);
  if (used >= cap) return false;
  return Copy(dst + used, cap - used, src);
}

}  // namespace wstr
