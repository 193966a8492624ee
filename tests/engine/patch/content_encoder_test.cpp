// How contents are grouped into blocks, and files that are no longer what
// their scan found. (What the encoder writes is read back in
// content_decoder_test.cpp.)
#include "engine/patch/content_encoder.h"

#include <gtest/gtest.h>

#include "tests/support/memory_contents.h"
#include "tests/support/patch_test_util.h"

using namespace torquelin;

namespace {

ContentRequest Request(char name, uint64_t length, ContentKind kind = ContentKind::Compressed,
                       uint64_t referenceLength = 0) {
  const std::u16string path = u"\\" + std::u16string(1, static_cast<char16_t>(name));
  return {path,           {}, length, kind, kind == ContentKind::Compressed ? u"" : path, {},
          referenceLength};
}

// Block sizes as text: "2 1 3".
std::string Shape(const std::vector<ContentBlockPlan>& blocks) {
  std::string shape;
  for (const ContentBlockPlan& block : blocks) {
    shape += (shape.empty() ? "" : " ") + std::to_string(block.size());
  }
  return shape;
}

}  // namespace

TEST(ContentEncoder, SmallContentsAreGroupedUpToTheLimits) {
  CompactOptions options;
  options.smallContent = 100;
  options.groupContent = 250;
  options.groupReference = 300;
  options.groupMembers = 4;
  const ContentKind delta = ContentKind::Delta;
  const ContentKind copy = ContentKind::Copy;
  struct Case {
    const char* name;
    std::vector<ContentRequest> requests;
    std::string shape;
  } cases[] = {
      {"nothing", {}, ""},
      {"small ones up to the content limit",
       {Request('a', 100), Request('b', 100), Request('c', 50), Request('d', 1)},
       "3 1"},
      {"a large one alone, in order",
       {Request('a', 10), Request('b', 101), Request('c', 10)},
       "1 1 1"},
      {"a large older file makes a large content", {Request('a', 10, delta, 101)}, "1"},
      {"older bytes up to their limit",
       {Request('a', 1, delta, 100), Request('b', 1, delta, 100), Request('c', 1, delta, 100),
        Request('d', 1, delta, 100)},
       "3 1"},
      {"copies take no room but count as members",
       {Request('a', 5000, copy), Request('b', 5000, copy), Request('c', 100), Request('d', 100),
        Request('e', 0)},
       "4 1"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Shape(PlanContentBlocks(c.requests, options)), c.shape) << c.name;
  }
}

TEST(ContentEncoder, FilesChangedSinceTheirScanFailThePatch) {
  const std::string text = SampleText(5000, 1);
  struct Case {
    const char* name;
    std::function<void(MemoryOpener& older, MemoryOpener& newer)> change;
    std::string message;
  } cases[] = {
      {"new content changed", [](MemoryOpener&, MemoryOpener& n) { n.files[u"\\a"][7] = '!'; },
       "Unable read a source file:mem:\\a"},
      {"new content grew", [](MemoryOpener&, MemoryOpener& n) { n.files[u"\\a"] += "!"; },
       "Unable read a source file:mem:\\a"},
      {"new content shrank", [](MemoryOpener&, MemoryOpener& n) { n.files[u"\\a"].pop_back(); },
       "Unable read a source file:mem:\\a"},
      {"older file changed", [](MemoryOpener& o, MemoryOpener&) { o.files[u"\\a"][7] = '!'; },
       "Unable read a source file:mem:\\a"},
      {"new file gone", [](MemoryOpener&, MemoryOpener& n) { n.files.clear(); },
       "Unable to ioen file:mem:\\a"},
  };
  for (const Case& c : cases) {
    MemoryOpener older;
    MemoryOpener newer;
    older.files[u"\\a"] = text;
    newer.files[u"\\a"] = text + "2";
    const ContentRequest request{u"\\a", IdOf(text + "2"), text.size() + 1, ContentKind::Delta,
                                 u"\\a", IdOf(text),       text.size()};
    c.change(older, newer);
    ContentBlockEncoder encoder(newer, older, {});
    EXPECT_EQ(ErrorOf([&] { encoder.Encode({request}, [](std::string&&) {}); }), c.message)
        << c.name;
  }
}

TEST(ContentEncoder, ABlockEndsWithItsChunksByteExact) {
  MemoryOpener older;
  MemoryOpener newer;
  newer.files[u"\\a"] = "abc";  // too short for a frame to pay: stored raw
  ContentBlockEncoder encoder(newer, older, {});
  std::string block;
  encoder.Encode({{u"\\a", IdOf("abc"), 3, ContentKind::Compressed, {}, {}, 0}},
                 [&](std::string&& piece) { block += piece; });
  auto qword = [](int v) { return Bytes({0x14, v, 0, 0, 0, 0, 0, 0, 0}); };
  // Dword 1 (one chunk); Chunk: storage 0 (raw), reference offset and
  // length 0, content length 3, size 3, the bytes.
  const std::string chunkCountAndChunk = Bytes({0x11, 1, 0, 0, 0, 0x1D, 0x11, 0, 0, 0, 0}) +
                                         qword(0) + qword(0) + qword(3) + qword(3) + "abc";
  ASSERT_GT(block.size(), chunkCountAndChunk.size());
  EXPECT_EQ(block[0], 0x1B);
  EXPECT_EQ(Hex(block.substr(block.size() - chunkCountAndChunk.size())), Hex(chunkCountAndChunk));
}
