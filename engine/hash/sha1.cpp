// SHA-1 (FIPS 180-1): the portable block function, the choice between it and
// the accelerated one, and the byte-stream interface over both.
#include "engine/hash/sha1.h"

#include <atomic>
#include <cstring>

#include "engine/hash/sha1_x86.h"

namespace torquelin {

namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

inline uint32_t LoadBigEndian(const uint8_t* p) {
  return (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | uint32_t{p[3]};
}

// The 80 rounds fully unrolled over a 16-word rolling schedule: no branch on
// the round number and no 80-word array, which roughly doubles throughput
// over the textbook loop. File ids of whole trees go through here.
#define SHA1_W(i) \
  (w[(i)&15] = Rotl(w[((i) + 13) & 15] ^ w[((i) + 8) & 15] ^ w[((i) + 2) & 15] ^ w[(i)&15], 1))
#define SHA1_ROUND(a, b, c, d, e, f, k, wi) \
  do {                                      \
    e += Rotl(a, 5) + (f) + (k) + (wi);     \
    b = Rotl(b, 30);                        \
  } while (0)
#define SHA1_F1(b, c, d) ((d) ^ ((b) & ((c) ^ (d))))
#define SHA1_F2(b, c, d) ((b) ^ (c) ^ (d))
#define SHA1_F3(b, c, d) (((b) & (c)) | ((d) & ((b) | (c))))
#define SHA1_R0(a, b, c, d, e, i) SHA1_ROUND(a, b, c, d, e, SHA1_F1(b, c, d), 0x5A827999u, w[i])
#define SHA1_R1(a, b, c, d, e, i) \
  SHA1_ROUND(a, b, c, d, e, SHA1_F1(b, c, d), 0x5A827999u, SHA1_W(i))
#define SHA1_R2(a, b, c, d, e, i) \
  SHA1_ROUND(a, b, c, d, e, SHA1_F2(b, c, d), 0x6ED9EBA1u, SHA1_W(i))
#define SHA1_R3(a, b, c, d, e, i) \
  SHA1_ROUND(a, b, c, d, e, SHA1_F3(b, c, d), 0x8F1BBCDCu, SHA1_W(i))
#define SHA1_R4(a, b, c, d, e, i) \
  SHA1_ROUND(a, b, c, d, e, SHA1_F2(b, c, d), 0xCA62C1D6u, SHA1_W(i))
// Five rounds rotate the roles of the working variables back to the start.
#define SHA1_FIVE(R, i)      \
  R(a, b, c, d, e, (i) + 0); \
  R(e, a, b, c, d, (i) + 1); \
  R(d, e, a, b, c, (i) + 2); \
  R(c, d, e, a, b, (i) + 3); \
  R(b, c, d, e, a, (i) + 4)

void Transform(uint32_t state[5], const uint8_t block[64]) {
  uint32_t w[16];
  for (int i = 0; i < 16; ++i) w[i] = LoadBigEndian(block + 4 * i);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  SHA1_FIVE(SHA1_R0, 0);
  SHA1_FIVE(SHA1_R0, 5);
  SHA1_FIVE(SHA1_R0, 10);
  SHA1_R0(a, b, c, d, e, 15);
  SHA1_R1(e, a, b, c, d, 16);
  SHA1_R1(d, e, a, b, c, 17);
  SHA1_R1(c, d, e, a, b, 18);
  SHA1_R1(b, c, d, e, a, 19);
  SHA1_FIVE(SHA1_R2, 20);
  SHA1_FIVE(SHA1_R2, 25);
  SHA1_FIVE(SHA1_R2, 30);
  SHA1_FIVE(SHA1_R2, 35);
  SHA1_FIVE(SHA1_R3, 40);
  SHA1_FIVE(SHA1_R3, 45);
  SHA1_FIVE(SHA1_R3, 50);
  SHA1_FIVE(SHA1_R3, 55);
  SHA1_FIVE(SHA1_R4, 60);
  SHA1_FIVE(SHA1_R4, 65);
  SHA1_FIVE(SHA1_R4, 70);
  SHA1_FIVE(SHA1_R4, 75);
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

#undef SHA1_W
#undef SHA1_ROUND
#undef SHA1_F1
#undef SHA1_F2
#undef SHA1_F3
#undef SHA1_R0
#undef SHA1_R1
#undef SHA1_R2
#undef SHA1_R3
#undef SHA1_R4
#undef SHA1_FIVE

Sha1BlockFunction Pick(Sha1Implementation which) {
  return which == Sha1Implementation::ShaInstructions ? Sha1BlocksShaNi : Sha1BlocksPortable;
}

void ResolveBlocks(uint32_t state[5], const uint8_t* data, size_t blocks);

// Starts at a resolver, constant-initialised, so that a digest taken before
// any other start-up code ran still finds a block function; the first call
// replaces it with the best one this processor runs.
std::atomic<Sha1BlockFunction> gBlocks{ResolveBlocks};

Sha1Implementation Best() {
  return Sha1CpuHasShaInstructions() ? Sha1Implementation::ShaInstructions
                                     : Sha1Implementation::Portable;
}

void ResolveBlocks(uint32_t state[5], const uint8_t* data, size_t blocks) {
  const Sha1BlockFunction best = Pick(Best());
  Sha1BlockFunction expected = ResolveBlocks;
  gBlocks.compare_exchange_strong(expected, best, std::memory_order_relaxed);
  best(state, data, blocks);
}

}  // namespace

void Sha1BlocksPortable(uint32_t state[5], const uint8_t* data, size_t blocks) {
  for (; blocks != 0; --blocks, data += 64) Transform(state, data);
}

bool Sha1Available(Sha1Implementation which) {
  return which == Sha1Implementation::Portable || Sha1CpuHasShaInstructions();
}

bool Sha1SetImplementation(Sha1Implementation which) {
  if (!Sha1Available(which)) return false;
  gBlocks.store(Pick(which), std::memory_order_relaxed);
  return true;
}

Sha1Implementation Sha1CurrentImplementation() {
  const Sha1BlockFunction blocks = gBlocks.load(std::memory_order_relaxed);
  if (blocks == ResolveBlocks) return Best();
  return blocks == Sha1BlocksPortable ? Sha1Implementation::Portable
                                      : Sha1Implementation::ShaInstructions;
}

void Sha1Init(Sha1Context& context) {
  context.state[0] = 0x67452301;
  context.state[1] = 0xEFCDAB89;
  context.state[2] = 0x98BADCFE;
  context.state[3] = 0x10325476;
  context.state[4] = 0xC3D2E1F0;
  context.countLow = context.countHigh = 0;
}

void Sha1Update(Sha1Context& context, const void* bytes, uint32_t count) {
  const uint8_t* data = static_cast<const uint8_t*>(bytes);
  uint32_t used = (context.countLow >> 3) & 63;
  const uint64_t bits =
      (uint64_t{context.countHigh} << 32 | context.countLow) + uint64_t{count} * 8;
  context.countLow = static_cast<uint32_t>(bits);
  context.countHigh = static_cast<uint32_t>(bits >> 32);
  if (used != 0) {
    const uint32_t take = count < 64 - used ? count : 64 - used;
    std::memcpy(context.buffer + used, data, take);
    used += take;
    data += take;
    count -= take;
    if (used < 64) return;
    gBlocks.load(std::memory_order_relaxed)(context.state, context.buffer, 1);
  }
  if (count >= 64) {
    gBlocks.load(std::memory_order_relaxed)(context.state, data, count / 64);
    data += count & ~63u;
    count &= 63;
  }
  std::memcpy(context.buffer, data, count);
}

void Sha1Final(Sha1Digest digest, Sha1Context& context) {
  uint8_t length[8];
  for (int i = 0; i < 4; ++i) {
    length[i] = static_cast<uint8_t>(context.countHigh >> (24 - 8 * i));
    length[4 + i] = static_cast<uint8_t>(context.countLow >> (24 - 8 * i));
  }
  static const uint8_t kPad[64] = {0x80};
  const uint32_t used = (context.countLow >> 3) & 63;
  Sha1Update(context, kPad, used < 56 ? 56 - used : 120 - used);
  Sha1Update(context, length, 8);
  for (int i = 0; i < 20; ++i) {
    digest[i] = static_cast<uint8_t>(context.state[i / 4] >> (24 - 8 * (i % 4)));
  }
  std::memset(&context, 0, sizeof context);
}

std::u16string DigestToHex(const Sha1Digest digest) {
  static constexpr char16_t kDigits[] = u"0123456789abcdef";
  std::u16string text(40, u'0');
  for (int i = 0; i < 20; ++i) {
    text[2 * i] = kDigits[digest[i] >> 4];
    text[2 * i + 1] = kDigits[digest[i] & 0xF];
  }
  return text;
}

bool DigestFromHex(std::u16string_view text, Sha1Digest digest) {
  if (text.size() != 40) return false;
  auto value = [](char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    return -1;
  };
  for (size_t i = 0; i < 20; ++i) {
    const int high = value(text[2 * i]);
    const int low = value(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    digest[i] = static_cast<uint8_t>(high << 4 | low);
  }
  return true;
}

}  // namespace torquelin
