// Comparing paths in code-unit order (std::u16string's '<') four units at a
// time: sorting a tree's paths compares long shared prefixes over and over.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>

namespace torquelin {

// The first position in [from, n) where a and b differ, or n.
inline size_t FirstDifference(const char16_t* a, const char16_t* b, size_t from, size_t n) {
  size_t i = from;
  if constexpr (std::endian::native == std::endian::little) {
    for (; i + 4 <= n; i += 4) {
      uint64_t x;
      uint64_t y;
      std::memcpy(&x, a + i, 8);
      std::memcpy(&y, b + i, 8);
      // The lowest differing bits belong to the first differing unit.
      if (x != y) return i + static_cast<size_t>(std::countr_zero(x ^ y)) / 16;
    }
  }
  while (i < n && a[i] == b[i]) ++i;
  return i;
}

inline bool PathLess(const std::u16string& a, const std::u16string& b) {
  const size_t n = a.size() < b.size() ? a.size() : b.size();
  const size_t i = FirstDifference(a.data(), b.data(), 0, n);
  return i < n ? a[i] < b[i] : a.size() < b.size();
}

}  // namespace torquelin
