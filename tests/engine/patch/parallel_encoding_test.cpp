// Blocks encoded on threads come out in order, as on one thread, and the
// first failure in block order is the one that leaves, with every thread
// stopped.
#include "engine/patch/parallel_encoding.h"

#include <gtest/gtest.h>

#include "tests/support/memory_contents.h"
#include "tests/support/patch_test_util.h"

using namespace torquelin;

namespace {

struct Sample {
  MemoryOpener older;
  MemoryOpener newer;
  std::vector<ContentBlockPlan> blocks;
  CompactOptions options;

  // Twelve contents, each a block: some small, some in several chunks.
  Sample() {
    options.level = 3;
    options.smallContent = 0;
    options.chunkContent = 20000;
    options.chunkReference = 40000;
    for (int i = 0; i < 12; ++i) {
      const std::u16string path = u"\\f" + std::u16string(1, u'a' + i);
      const std::string before = SampleText(i % 3 == 0 ? 70000 : 3000, i);
      const std::string after = "v2" + before;
      older.files[path] = before;
      newer.files[path] = after;
      blocks.push_back({{path, IdOf(after), after.size(), ContentKind::Delta, path, IdOf(before),
                         before.size()}});
    }
  }

  // Every piece, as "block:bytes" in the order emit had them.
  std::vector<std::string> Run(unsigned threads, uint64_t budget,
                               const std::function<void(size_t)>& onBlock = {}) {
    std::vector<std::string> pieces;
    EncodeBlocksInOrder(
        blocks, newer, older, options, threads,
        [&](size_t block, std::string&& piece) {
          if (onBlock) onBlock(block);
          pieces.push_back(std::to_string(block) + ":" + piece);
        },
        budget);
    return pieces;
  }
};

}  // namespace

TEST(ParallelEncoding, ThreadsGiveTheBytesOfOneThread) {
  Sample sample;
  const std::vector<std::string> alone = sample.Run(1, uint64_t{1} << 30);
  EXPECT_GT(alone.size(), sample.blocks.size());  // the large ones in pieces
  EXPECT_EQ(sample.Run(3, uint64_t{1} << 30), alone);
  EXPECT_EQ(sample.Run(3, 1), alone);  // one block at a time
}

TEST(ParallelEncoding, TheFirstFailureInBlockOrderLeaves) {
  for (unsigned threads : {1u, 3u}) {
    Sample sample;
    sample.newer.files[u"\\fe"] += "!";  // block 4 changed since its scan
    sample.newer.files.erase(u"\\fh");   // block 7 gone
    size_t lastBlock = 0;
    EXPECT_EQ(
        ErrorOf([&] { sample.Run(threads, uint64_t{1} << 30, [&](size_t b) { lastBlock = b; }); }),
        "Unable read a source file:mem:\\fe")
        << threads;
    EXPECT_EQ(lastBlock, 3u) << threads;

    bool cancelled = false;
    try {
      sample.Run(threads, uint64_t{1} << 30, [](size_t b) {
        if (b == 2) throw COPCancel();
      });
    } catch (const COPCancel&) {
      cancelled = true;
    }
    EXPECT_TRUE(cancelled) << threads;
  }
}
