// SHA-1 (FIPS 180-1), portable C++.
#include "engine/sha1.h"

#include <cstring>

namespace {

inline uint32_t Rotl(uint32_t x, int n) { return (x << n) | (x >> (32 - n)); }

void Transform(uint32_t state[5], const uint8_t block[64]) {
  uint32_t w[80];
  for (int i = 0; i < 16; ++i) {
    w[i] = (uint32_t{block[4 * i]} << 24) | (uint32_t{block[4 * i + 1]} << 16) |
           (uint32_t{block[4 * i + 2]} << 8) | uint32_t{block[4 * i + 3]};
  }
  for (int i = 16; i < 80; ++i) w[i] = Rotl(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
  uint32_t a = state[0], b = state[1], c = state[2], d = state[3], e = state[4];
  for (int i = 0; i < 80; ++i) {
    uint32_t f, k;
    if (i < 20) {
      f = (b & c) | (~b & d);
      k = 0x5A827999;
    } else if (i < 40) {
      f = b ^ c ^ d;
      k = 0x6ED9EBA1;
    } else if (i < 60) {
      f = (b & c) | (b & d) | (c & d);
      k = 0x8F1BBCDC;
    } else {
      f = b ^ c ^ d;
      k = 0xCA62C1D6;
    }
    const uint32_t t = Rotl(a, 5) + f + e + k + w[i];
    e = d;
    d = c;
    c = Rotl(b, 30);
    b = a;
    a = t;
  }
  state[0] += a;
  state[1] += b;
  state[2] += c;
  state[3] += d;
  state[4] += e;
}

}  // namespace

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
  const uint64_t bits = (uint64_t{context.countHigh} << 32 | context.countLow) + uint64_t{count} * 8;
  context.countLow = static_cast<uint32_t>(bits);
  context.countHigh = static_cast<uint32_t>(bits >> 32);
  if (used != 0) {
    const uint32_t take = count < 64 - used ? count : 64 - used;
    std::memcpy(context.buffer + used, data, take);
    used += take;
    data += take;
    count -= take;
    if (used < 64) return;
    Transform(context.state, context.buffer);
  }
  while (count >= 64) {
    Transform(context.state, data);
    data += 64;
    count -= 64;
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
