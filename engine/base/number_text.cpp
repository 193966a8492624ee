// Decimal and hexadecimal number text.
#include "engine/base/number_text.h"

namespace torquelin {

std::u16string DecimalText(int64_t value) {
  char16_t digits[24];
  int n = 0;
  // Work in unsigned so the most negative value has a magnitude too.
  uint64_t magnitude = value < 0 ? 0 - static_cast<uint64_t>(value) : static_cast<uint64_t>(value);
  do {
    digits[n++] = static_cast<char16_t>(u'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  std::u16string text;
  text.reserve(n + 1);
  if (value < 0) text.push_back(u'-');
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

std::u16string HexText(uint32_t value) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  char16_t digits[8];
  int n = 0;
  do {
    digits[n++] = kDigits[value & 0xF];
    value >>= 4;
  } while (value != 0);
  std::u16string text;
  text.reserve(n);
  while (n > 0) text.push_back(digits[--n]);
  return text;
}

}  // namespace torquelin
