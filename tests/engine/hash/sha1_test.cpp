// SHA-1 against the published vectors, fed whole and in pieces, on both
// block functions.
#include "engine/hash/sha1.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <functional>
#include <random>
#include <string>
#include <vector>

using namespace torquelin;

namespace {

std::u16string Digest(const std::string& bytes, const std::vector<size_t>& pieces = {}) {
  Sha1Context context;
  Sha1Init(context);
  size_t at = 0;
  for (size_t piece : pieces) {
    Sha1Update(context, bytes.data() + at, static_cast<uint32_t>(piece));
    at += piece;
  }
  Sha1Update(context, bytes.data() + at, static_cast<uint32_t>(bytes.size() - at));
  Sha1Digest digest;
  Sha1Final(digest, context);
  return DigestToHex(digest);
}

// Bytes that differ from position to position and from block to block, so a
// chunk fed twice or skipped changes the digest.
std::string Pattern(size_t n) {
  std::string bytes(n, '\0');
  for (size_t i = 0; i < n; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
  return bytes;
}

// Runs body once per implementation this processor has, then restores the
// one that was active.
void ForEachImplementation(const std::function<void(const char*)>& body) {
  const Sha1Implementation before = Sha1CurrentImplementation();
  const struct {
    Sha1Implementation which;
    const char* name;
  } all[] = {{Sha1Implementation::Portable, "portable"},
             {Sha1Implementation::ShaInstructions, "SHA instructions"}};
  for (const auto& one : all) {
    if (!Sha1SetImplementation(one.which)) {
      std::printf("skipping %s: not available on this processor\n", one.name);
      continue;
    }
    SCOPED_TRACE(one.name);
    body(one.name);
  }
  Sha1SetImplementation(before);
}

}  // namespace

TEST(Sha1, PublishedVectorsAndEveryFinalBlockShape) {
  struct Case {
    std::string input;
    const char16_t* digest;
  } cases[] = {
      {"", u"da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {"abc", u"a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       u"84983e441c3bd26ebaae4aa1f95129e5e54670f1"},
      {std::string(1000000, 'a'), u"34aa973cd4c4daa4f61eeb2bdbad27316534016f"},
      // 55 leaves room for the length in the last block, 56 does not; 63, 64
      // and 65 sit around a block boundary.
      {std::string(55, 'a'), u"c1c8bbdc22796e28c0e15163d20899b65621d65a"},
      {std::string(56, 'a'), u"c2db330f6083854c99d4b5bfb6e8f29f201be699"},
      {std::string(63, 'a'), u"03f09f5b158a7a8cdad920bddc29b81c18a551f5"},
      {std::string(64, 'a'), u"0098ba824b5c16427bd7a1122a5a442a25ec644d"},
      {std::string(65, 'a'), u"11655326c708d70319be2610e8a57d9a5b959d3b"},
  };
  ForEachImplementation([&](const char*) {
    for (const Case& c : cases) EXPECT_EQ(Digest(c.input), c.digest) << c.input.size();
  });
}

TEST(Sha1, SplitFeedingGivesTheSameDigest) {
  const std::string input = Pattern(1000);
  const std::u16string whole = Digest(input);
  const std::vector<std::vector<size_t>> splits = {
      {0},
      {1},
      {63},
      {64},
      {65},
      {0, 0, 1, 0},
      {1, 2, 3, 4, 5, 6, 7, 8, 9, 10},
      {55, 1, 8},
      {100, 0, 128, 1, 63, 64},
      {999},
  };
  ForEachImplementation([&](const char*) {
    for (const auto& split : splits) EXPECT_EQ(Digest(input, split), whole) << split.size();
  });
}

// Random contents of every length around the block and buffer shapes, fed
// in random pieces: the accelerated blocks must match the portable ones
// digest for digest, whatever the alignment of the data they are handed.
TEST(Sha1, ImplementationsAgreeOnRandomInputAndSplits) {
  const Sha1Implementation before = Sha1CurrentImplementation();
  const bool accelerated = Sha1SetImplementation(Sha1Implementation::ShaInstructions);
  Sha1SetImplementation(before);
  if (!accelerated) GTEST_SKIP() << "this processor has no SHA instructions to compare with";
  std::mt19937 random(20261207);
  std::vector<size_t> lengths;
  for (size_t n = 0; n <= 300; ++n) lengths.push_back(n);
  for (int i = 0; i < 40; ++i) lengths.push_back(random() % 70000);
  lengths.push_back(1 << 20);
  lengths.push_back((1 << 20) + 13);
  std::vector<std::string> inputs;
  std::vector<std::vector<size_t>> splits;
  for (size_t n : lengths) {
    std::string bytes(n, '\0');
    for (char& c : bytes) c = static_cast<char>(random());
    std::vector<size_t> pieces;
    for (size_t left = n; left > 0 && random() % 4 != 0;) {
      const size_t piece = random() % 3 == 0 ? random() % 130 : random() % (left + 1);
      if (piece > left) break;
      pieces.push_back(piece);
      left -= piece;
    }
    inputs.push_back(std::move(bytes));
    splits.push_back(std::move(pieces));
  }
  std::vector<std::vector<std::u16string>> results;
  ForEachImplementation([&](const char*) {
    std::vector<std::u16string> digests;
    for (size_t i = 0; i < inputs.size(); ++i) {
      digests.push_back(Digest(inputs[i]));
      EXPECT_EQ(Digest(inputs[i], splits[i]), digests.back()) << inputs[i].size();
    }
    results.push_back(std::move(digests));
  });
  for (size_t r = 1; r < results.size(); ++r) EXPECT_EQ(results[r], results[0]);
}

TEST(Sha1, FinalClearsTheContext) {
  Sha1Context context;
  Sha1Init(context);
  Sha1Update(context, "abc", 3);
  Sha1Digest digest;
  Sha1Final(digest, context);
  const Sha1Context zero{};
  EXPECT_EQ(std::memcmp(&context, &zero, sizeof context), 0);
}
