// The two ways numbers become text everywhere in the engine.
#pragma once

#include <cstdint>
#include <string>

namespace torquelin {

// Signed decimal, no leading zeros ("%d").
std::u16string DecimalText(int64_t value);
// Lower-case hexadecimal without prefix or leading zeros ("%x").
std::u16string HexText(uint32_t value);

}  // namespace torquelin
