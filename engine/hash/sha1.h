// SHA-1 as published in FIPS 180-1; file ids and fingerprints are its digests.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace torquelin {

struct Sha1Context {
  uint32_t state[5];
  uint32_t countLow;   // message length in bits, low word
  uint32_t countHigh;  // and high word, so totals beyond 4 GiB count right
  uint8_t buffer[64];  // bytes not yet processed
};

using Sha1Digest = uint8_t[20];

void Sha1Init(Sha1Context& context);
void Sha1Update(Sha1Context& context, const void* bytes, uint32_t count);
// Pads, writes the digest and clears the context; Init before reusing it.
void Sha1Final(Sha1Digest digest, Sha1Context& context);
// 40 lower-case hexadecimal characters.
std::u16string DigestToHex(const Sha1Digest digest);
// The reverse, for exactly the text DigestToHex writes (40 lower-case
// hexadecimal characters); false for any other text, digest then undefined.
bool DigestFromHex(std::u16string_view text, Sha1Digest digest);

// The block function behind Sha1Update. The first digest picks the SHA
// instructions when the processor has them, else the portable code; both
// give identical digests. Tests and benchmarks force one of them.
enum class Sha1Implementation { Portable, ShaInstructions };
// Whether this processor can run the implementation (Portable always).
bool Sha1Available(Sha1Implementation which);
// Switches every later Sha1Update, on every thread; call it while no digest
// is being computed. Returns false and changes nothing when unavailable.
bool Sha1SetImplementation(Sha1Implementation which);
Sha1Implementation Sha1CurrentImplementation();

}  // namespace torquelin
