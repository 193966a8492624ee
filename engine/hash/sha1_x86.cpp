// SHA-1 blocks on the x86 SHA instructions, four rounds per instruction.
// Only this function is compiled for those instructions (a target attribute,
// not a build flag), so the rest of the program runs on any x86-64 and the
// processor is asked at run time before it is used.
#include "engine/hash/sha1_x86.h"

#if defined(__x86_64__) || defined(__i386__)

#include <cpuid.h>
#include <immintrin.h>

#include <utility>

#define SHA1_X86_TARGET __attribute__((target("sha,ssse3,sse4.1")))

namespace torquelin {

namespace {

// Four rounds 4g..4g+3. Register m[g % 4] holds words 4g..4g+3; the words
// four groups later replace them in three steps, taken one, two and three
// groups after g (msg1, xor, msg2), so only groups 1..18 take such steps
// and only for words up to 79. e[g % 2] carries E into the rounds; the other receives the
// state from which sha1nexte derives the next group's E.
template <int g>
SHA1_X86_TARGET __attribute__((always_inline)) inline void Rounds(__m128i& abcd, __m128i (&e)[2],
                                                                  __m128i (&m)[4]) {
  __m128i& in = e[g % 2];
  if constexpr (g == 0) {
    in = _mm_add_epi32(in, m[0]);
  } else {
    in = _mm_sha1nexte_epu32(in, m[g % 4]);
  }
  e[(g + 1) % 2] = abcd;
  if constexpr (g >= 3 && g <= 18) m[(g + 1) % 4] = _mm_sha1msg2_epu32(m[(g + 1) % 4], m[g % 4]);
  abcd = _mm_sha1rnds4_epu32(abcd, in, g / 5);
  if constexpr (g >= 1 && g <= 16) m[(g + 3) % 4] = _mm_sha1msg1_epu32(m[(g + 3) % 4], m[g % 4]);
  if constexpr (g >= 2 && g <= 17) m[(g + 2) % 4] = _mm_xor_si128(m[(g + 2) % 4], m[g % 4]);
}

template <int... g>
SHA1_X86_TARGET __attribute__((always_inline)) inline void AllRounds(
    __m128i& abcd, __m128i (&e)[2], __m128i (&m)[4], std::integer_sequence<int, g...>) {
  (Rounds<g>(abcd, e, m), ...);
}

}  // namespace

bool Sha1CpuHasShaInstructions() {
  unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
  if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx)) return false;
  const bool ssse3 = (ecx & bit_SSSE3) != 0;
  const bool sse41 = (ecx & bit_SSE4_1) != 0;
  if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx)) return false;
  const bool sha = (ebx & (1u << 29)) != 0;
  return ssse3 && sse41 && sha;
}

SHA1_X86_TARGET void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* data, size_t blocks) {
  // The instructions keep A in the highest lane and E alone in the highest
  // lane of its register; message words arrive big-endian.
  const __m128i byteSwap = _mm_set_epi64x(0x0001020304050607LL, 0x08090a0b0c0d0e0fLL);
  __m128i abcd = _mm_shuffle_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(state)), 0x1B);
  __m128i e0 = _mm_set_epi32(static_cast<int>(state[4]), 0, 0, 0);
  for (; blocks != 0; --blocks, data += 64) {
    const __m128i abcdBefore = abcd;
    const __m128i eBefore = e0;
    __m128i m[4];
    for (int i = 0; i < 4; ++i) {
      m[i] = _mm_shuffle_epi8(_mm_loadu_si128(reinterpret_cast<const __m128i*>(data + 16 * i)),
                              byteSwap);
    }
    __m128i e[2] = {e0, e0};
    AllRounds(abcd, e, m, std::make_integer_sequence<int, 20>{});
    // After the last (odd) group e[0] holds the state sha1nexte needs to
    // recover the final E.
    e0 = _mm_sha1nexte_epu32(e[0], eBefore);
    abcd = _mm_add_epi32(abcd, abcdBefore);
  }
  _mm_storeu_si128(reinterpret_cast<__m128i*>(state), _mm_shuffle_epi32(abcd, 0x1B));
  state[4] = static_cast<uint32_t>(_mm_extract_epi32(e0, 3));
}

}  // namespace torquelin

#else

namespace torquelin {

bool Sha1CpuHasShaInstructions() { return false; }

void Sha1BlocksShaNi(uint32_t state[5], const uint8_t* data, size_t blocks) {
  Sha1BlocksPortable(state, data, blocks);
}

}  // namespace torquelin

#endif
