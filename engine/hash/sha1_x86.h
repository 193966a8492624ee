// The block functions behind Sha1Update: the portable one and the one that
// uses the x86 SHA instructions. Only the SHA-1 code includes this header.
#pragma once

#include <cstddef>
#include <cstdint>

namespace torquelin {

// Each absorbs blocks * 64 bytes into the five chaining words.
using Sha1BlockFunction = void (*)(uint32_t state[5], const uint8_t* data, size_t blocks);

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks);

// True when this processor runs Sha1BlocksShaNi (SHA, SSSE3 and SSE4.1);
// always false where the build does not target x86.
bool Sha1CpuHasShaInstructions();
// Must only be called when Sha1CpuHasShaInstructions() is true.
void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* data, size_t blocks);

}  // namespace torquelin
