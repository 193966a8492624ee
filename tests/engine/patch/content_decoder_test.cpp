// Content blocks read back: every storage kind round trips, and damage, a
// wrong older file or a missing one is named, without tolerance at once and
// with it for the damaged contents alone.
#include "engine/patch/content_decoder.h"

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "engine/patch/content_encoder.h"
#include "engine/patch/packed_records.h"
#include "tests/support/memory_contents.h"
#include "tests/support/patch_test_util.h"

using namespace torquelin;

namespace {

// Two trees, the requests a writer makes of them, and their blocks.
struct Trees : MemoryTrees {
  // Every block's record.
  std::vector<std::string> EncodeBlocks(const CompactOptions& options = {}) {
    std::vector<std::string> blocks;
    ContentBlockEncoder encoder(newer, older, options);
    for (const ContentBlockPlan& block : PlanContentBlocks(requests, options)) {
      blocks.emplace_back();
      encoder.Encode(block, [&](std::string&& piece) { blocks.back() += piece; });
    }
    return blocks;
  }
  // The same, one after the other.
  std::string Encode(const CompactOptions& options = {}) {
    std::string bytes;
    for (const std::string& block : EncodeBlocks(options)) bytes += block;
    return bytes;
  }

  // Decodes `blocks` records from bytes; the failures' messages by path.
  std::map<std::u16string, std::string> Decode(const std::string& bytes, size_t blocks,
                                               CollectingOutput& out, bool tolerate) {
    MemoryInput in(bytes);
    ContentBlockDecoder decoder;
    std::map<std::u16string, std::string> failures;
    for (size_t b = 0; b < blocks; ++b) {
      for (const FailedContent& f : decoder.Decode(in, olderIds, older, out, tolerate)) {
        failures[f.path] = Narrow(f.error.message);
      }
    }
    EXPECT_EQ(in.left(), 0u);
    return failures;
  }
};

// The size of a content stored on its own.
size_t PackedSize(const std::string& content) {
  Trees trees;
  trees.Add(u"\\x", content, nullptr);
  return trees.Encode().size();
}

std::string Changed(std::string text, size_t every) {
  for (size_t i = every / 2; i < text.size(); i += every) text[i] = '#';
  return text;
}

}  // namespace

TEST(ContentCodec, EveryKindRoundTrips) {
  const std::string text = SampleText(200000, 1);
  const std::string big = SampleText(300000, 2);
  CompactOptions smallChunks;
  smallChunks.chunkContent = 65536;
  smallChunks.chunkReference = 131072;
  smallChunks.smallContent = 1000;
  const std::string inserted = SampleText(90000, 5);
  const size_t packed = PackedSize(inserted);
  struct Case {
    const char* name;
    std::string before;  // empty: a new file
    std::string after;
    CompactOptions options;
    ContentKind stored;
    size_t most;  // bytes the block may take
  } cases[] = {
      {"empty file", "", "", {}, ContentKind::Stored, 200},
      {"incompressible new file", "", RandomBytes(100000, 3), {}, ContentKind::Stored, 100200},
      {"compressible new file", "", text, {}, ContentKind::Compressed, 100000},
      {"small change", text, Changed(text, 50000), {}, ContentKind::Delta, 300},
      {"older file of no use", RandomBytes(50000, 4), text, {}, ContentKind::Compressed, 100000},
      {"chunked, same length", big, Changed(big, 70000), smallChunks, ContentKind::Delta, 1000},
      {"chunked, grown in the middle", big, big.substr(0, 150000) + inserted + big.substr(150000),
       smallChunks, ContentKind::Delta, packed + 2000},
      {"chunked, older longer at its end", big + SampleText(400000, 6), Changed(big, 90000),
       smallChunks, ContentKind::Delta, 1000},
  };
  for (const Case& c : cases) {
    Trees trees;
    trees.Add(u"\\f.js", c.after, c.before.empty() ? nullptr : &c.before);
    const std::string bytes = trees.Encode(c.options);
    CollectingOutput out;
    EXPECT_TRUE(trees.Decode(bytes, 1, out, false).empty()) << c.name;
    EXPECT_EQ(out.contents[u"\\f.js"], c.after) << c.name;
    EXPECT_EQ(out.kinds[u"\\f.js"], c.stored) << c.name;
    EXPECT_LE(bytes.size(), c.most) << c.name;
  }
}

TEST(ContentCodec, SmallFilesCopiesAndEmptyFilesShareOneBlock) {
  Trees trees;
  const std::string shared = SampleText(3000, 7);
  trees.older.files[u"\\old\\same.txt"] = shared;
  std::vector<std::string> befores;
  for (int i = 0; i < 20; ++i) befores.push_back(SampleText(4000, 100 + i));
  for (int i = 0; i < 20; ++i) {
    const std::u16string path = u"\\m\\" + std::u16string(1, u'a' + i) + u".js";
    trees.Add(path, "/* v2 */" + befores[i], &befores[i]);
  }
  trees.Add(u"\\m\\u.txt", shared, nullptr, u"\\old\\same.txt");
  trees.Add(u"\\m\\v.txt", "", nullptr);
  ASSERT_EQ(PlanContentBlocks(trees.requests, {}).size(), 1u);
  const std::string bytes = trees.Encode();
  // One change repeated in twenty files is stored about once.
  EXPECT_LT(bytes.size(), 20 * 60u);
  CollectingOutput out;
  EXPECT_TRUE(trees.Decode(bytes, 1, out, false).empty());
  EXPECT_EQ(out.contents, trees.newer.files);
  EXPECT_EQ(out.kinds[u"\\m\\u.txt"], ContentKind::Copy);
}

TEST(ContentCodec, DamageAndWrongOlderFilesAreNamed) {
  const std::string text = SampleText(100000, 8);
  const std::string random = RandomBytes(1500, 9);
  struct Case {
    const char* name;
    std::function<void(Trees&, std::vector<std::string>& blocks)> spoil;
    std::string message;
  } cases[] = {
      {"a byte of stored content flipped",
       [](Trees&, std::vector<std::string>& blocks) { blocks[1][blocks[1].size() - 1000] ^= 1; },
       "The content stored for a file does not give its id: \\b.bin"},
      {"a delta's frame damaged",
       [](Trees&, std::vector<std::string>& blocks) { blocks[0][blocks[0].size() - 3] ^= 0x55; },
       "Unable to decode the content stored for: \\a.js ("},
      {"older file changed",
       [](Trees& t, std::vector<std::string>&) { t.older.files[u"\\a.js"][10] = '!'; },
       "The older file a stored content is made from is not the one the patch expects: \\a.js"},
      {"older file longer",
       [](Trees& t, std::vector<std::string>&) { t.older.files[u"\\a.js"] += "x"; },
       "The older file a stored content is made from is not the one the patch expects: \\a.js"},
      {"older file missing",
       [](Trees& t, std::vector<std::string>&) { t.older.files.erase(u"\\a.js"); },
       "Unable to ioen file:mem:\\a.js"},
      {"copy source changed",
       [](Trees& t, std::vector<std::string>&) { t.older.files[u"\\old.txt"] = "x"; },
       "The older file a stored content is made from is not the one the patch expects: "
       "\\old.txt"},
  };
  for (const Case& c : cases) {
    Trees trees;
    const std::string before = Changed(text, 20000);
    trees.Add(u"\\a.js", text, &before);
    trees.older.files[u"\\old.txt"] = "copied";
    CompactOptions options;
    options.smallContent = 2000;  // \a.js alone, \b.bin and \c.txt together
    trees.Add(u"\\b.bin", random, nullptr);
    trees.Add(u"\\c.txt", "copied", nullptr, u"\\old.txt");
    std::vector<std::string> blocks = trees.EncodeBlocks(options);
    ASSERT_EQ(blocks.size(), 2u);
    c.spoil(trees, blocks);
    const std::string bytes = blocks[0] + blocks[1];
    CollectingOutput out;
    const std::string message = ErrorOf([&] { trees.Decode(bytes, 2, out, false); });
    EXPECT_EQ(message.substr(0, c.message.size()), c.message) << c.name << ": " << message;
  }
}

TEST(ContentCodec, ToleranceLosesOnlyTheFailedContents) {
  Trees trees;
  const std::string text = SampleText(100000, 10);
  const std::string before = Changed(text, 30000);
  trees.Add(u"\\a.js", text, &before);
  trees.Add(u"\\b.js", SampleText(100000, 11), nullptr);
  trees.older.files[u"\\old.txt"] = "copied";
  trees.Add(u"\\c.txt", "copied", nullptr, u"\\old.txt");
  const std::string large = SampleText(100000, 12);
  const std::string largeBefore = Changed(large, 10000);
  trees.Add(u"\\d.js", large, &largeBefore);
  trees.Add(u"\\e.js", large + "2", &large);
  CompactOptions options;
  options.smallContent = 10;  // every content a block of its own
  options.chunkContent = 20000;
  options.chunkReference = 40000;
  const std::string bytes = trees.Encode(options);
  trees.older.files[u"\\a.js"][0] ^= 1;
  trees.older.files.erase(u"\\old.txt");
  trees.older.files[u"\\d.js"].resize(30000);  // later chunks have nothing to go by
  CollectingOutput out;
  const auto failures = trees.Decode(bytes, 5, out, true);
  const std::string wrongOlder =
      "The older file a stored content is made from is not the one the patch expects: ";
  EXPECT_EQ(failures, (std::map<std::u16string, std::string>{{u"\\a.js", wrongOlder + "\\a.js"},
                                                             {u"\\c.txt", wrongOlder + "\\old.txt"},
                                                             {u"\\d.js", wrongOlder + "\\d.js"}}));
  EXPECT_EQ(out.contents[u"\\b.js"], trees.newer.files[u"\\b.js"]);
  EXPECT_EQ(out.contents[u"\\e.js"], trees.newer.files[u"\\e.js"]);
}

// Blocks built record by record, to put into them what no encoder writes.
TEST(ContentCodec, DamagedStructureIsRefused) {
  const std::string abc = "abc";
  struct Member {
    std::u16string path;
    uint32_t kind;
    std::u16string reference;
    uint64_t referenceLength;
  };
  struct Case {
    const char* name;
    std::vector<Member> members;
    uint64_t chunkContent;  // one raw chunk of this length, if not 0
    uint64_t chunkSize;
    std::string message;
  } cases[] = {
      {"unknown kind", {{u"\\a", 4, u"", 0}}, 3, 3, "a member table"},
      {"paths out of order", {{u"\\b", 0, u"", 0}, {u"\\a", 0, u"", 0}}, 6, 6, "a member table"},
      {"reference the head does not list", {{u"\\a", 2, u"\\x", 3}}, 3, 3, "a member table"},
      {"stored member with a reference", {{u"\\a", 0, u"\\o", 0}}, 3, 3, "a member table"},
      {"chunk beyond the limit", {{u"\\a", 0, u"", 0}}, kMaxChunkContent + 1, 3, "a chunk"},
      {"raw chunk of another size", {{u"\\a", 0, u"", 0}}, 3, 4, "a chunk"},
      {"chunks short of the contents", {{u"\\a", 0, u"", 0}, {u"\\b", 0, u"", 0}}, 3, 3, "a chunk"},
  };
  for (const Case& c : cases) {
    MemoryOutput block;
    WriteTag(block, static_cast<RecordType>(CompactRecord::ContentBlock));
    FrameEncoder frames;
    PackingOutput table(frames, 3, u"t");
    WriteTag(table, static_cast<RecordType>(CompactRecord::Members));
    WriteDword(table, static_cast<uint32_t>(c.members.size()));
    for (const Member& m : c.members) {
      WriteString(table, m.path);
      WriteDword(table, m.kind);
      WriteDigest(table, IdOf(abc));
      WriteQword(table, 3);
      WriteString(table, m.reference);
      WriteQword(table, static_cast<int64_t>(m.referenceLength));
    }
    table.WriteTo(block);
    WriteDword(block, 1);
    WriteTag(block, static_cast<RecordType>(CompactRecord::Chunk));
    WriteDword(block, static_cast<uint32_t>(ChunkStorage::Raw));
    for (uint64_t value : {uint64_t{0}, uint64_t{0}, c.chunkContent, c.chunkSize}) {
      WriteQword(block, static_cast<int64_t>(value));
    }
    WriteRaw(block, "abcd", static_cast<int64_t>(std::min<uint64_t>(c.chunkSize, 4)));
    MemoryInput in(block.bytes);
    MemoryOpener older;
    CollectingOutput out;
    EXPECT_EQ(ErrorOf([&] {
                ContentBlockDecoder().Decode(in, {{u"\\o", IdOf(abc)}}, older, out, true);
              }),
              "Refusing a damaged compact patch: " + c.message)
        << c.name;
  }
}
