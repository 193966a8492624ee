// Compact patch files as a whole: what the writer puts in them reads back
// to the newer contents, its progress, and what a failure or a cancel
// leaves behind.
#include "engine/patch/compact_writer.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/base/errors.h"
#include "engine/patch/compact_reader.h"
#include "engine/patch/content_decoder.h"
#include "tests/support/memory_contents.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

// An older and a newer tree in memory and the requests of a patch between
// them, in path order: one of each storage kind, small ones sharing a block.
struct Upgrade : MemoryTrees {
  CompactHead head;

  Upgrade() {
    const std::string text = SampleText(1500000, 7);
    std::string changed = text;
    changed.replace(700000, 5, "EDIT!");
    Add(u"\\big.js", changed, &text);
    Add(u"\\empty", "", nullptr);
    older.files[u"\\old-name.txt"] = "renamed";
    Add(u"\\new-name.txt", "renamed", nullptr, u"\\old-name.txt");
    Add(u"\\noise.bin", RandomBytes(70000, 8), nullptr);
    Add(u"\\small.txt", SampleText(3000, 9), nullptr);
    for (const ContentRequest& r : requests) head.changes.NewFiles.push_back(r.path);
  }

  void Write(CProgressSink& sink, const std::u16string& patchPath, unsigned threads = 2) {
    head.olderIds = olderIds;
    WriteCompactPatch(sink, head, requests, newer, older, patchPath, CompactOptions{}, threads);
  }
};

}  // namespace

TEST(CompactWriter, APatchFileReadsBackToTheNewerContents) {
  Upgrade upgrade;
  TempDir out;
  const std::u16string patch = out.wpath() + u"/p.dov";
  RecordingSink sink;
  upgrade.Write(sink, patch);
  EXPECT_EQ(sink.statuses, (std::vector<std::u16string>{u"Creating a patch file",
                                                        u"Compressing the file contents"}));
  EXPECT_EQ(sink.steps, upgrade.requests.size());

  zrFile::Reader reader(patch);
  RecordingSink loading;
  const CompactPatchInfo info = ReadCompactPatchInfo(reader, loading);
  EXPECT_EQ(info.head.changes, upgrade.head.changes);
  EXPECT_EQ(info.head.olderIds, upgrade.head.olderIds);
  EXPECT_EQ(loading.steps, 9u);

  // Front to back through the blocks, each content checked by its id.
  reader.seek(info.contentStart);
  CollectingOutput decoded;
  {
    BufferedInput in(reader);
    ContentBlockDecoder decoder;
    for (size_t block = 0; block < 2; ++block) {
      EXPECT_TRUE(decoder.Decode(in, info.head.olderIds, upgrade.older, decoded, false).empty());
    }
  }
  EXPECT_EQ(reader.tell(), info.indexOffset);
  EXPECT_EQ(decoded.contents, upgrade.newer.files);

  // The large delta has a block of its own; the rest share one.
  const StoredContents stored = SkimCompactContents(reader, info);
  const std::pair<const char16_t*, ContentKind> kinds[] = {
      {u"\\big.js", ContentKind::Delta},         {u"\\empty", ContentKind::Stored},
      {u"\\new-name.txt", ContentKind::Copy},    {u"\\noise.bin", ContentKind::Compressed},
      {u"\\small.txt", ContentKind::Compressed},
  };
  uint64_t sizes = 0;
  for (const auto& [path, kind] : kinds) {
    EXPECT_EQ(stored.at(path).kind, kind) << Narrow(path);
    EXPECT_EQ(stored.at(path).length, upgrade.newer.files.at(path).size());
    EXPECT_EQ(stored.at(path).block, path == std::u16string(u"\\big.js") ? 0u : 1u);
    sizes += stored.at(path).storedSize;
  }
  EXPECT_EQ(info.contentStart + static_cast<int64_t>(sizes), info.indexOffset);
  EXPECT_LT(stored.at(u"\\big.js").storedSize, 1000u);
  EXPECT_EQ(stored.at(u"\\new-name.txt").reference, u"\\old-name.txt");
}

TEST(CompactWriter, AFailureOrACancelKeepsThePreviousPatch) {
  TempDir out;
  const std::u16string patch = out.wpath() + u"/p.dov";
  out.WriteFile("p.dov", "previous patch");
  struct Case {
    const char* name;
    std::function<void(Upgrade&)> spoil;
    std::function<void(RecordingSink&)> arm;
    std::string message;  // empty: cancelled
  } cases[] = {
      {"a content changed since its scan", [](Upgrade& u) { u.newer.files[u"\\small.txt"] += "x"; },
       [](RecordingSink&) {}, "Unable read a source file:mem:\\small.txt"},
      {"a copied file changed since its scan",
       [](Upgrade& u) { u.newer.files[u"\\new-name.txt"] = "RENAMED"; }, [](RecordingSink&) {},
       "Unable read a source file:mem:\\new-name.txt"},
      {"a delta's older file changed since its scan",
       [](Upgrade& u) { u.older.files[u"\\big.js"][0] ^= 1; }, [](RecordingSink&) {},
       "Unable read a source file:mem:\\big.js"},
      {"cancelled at the first content", [](Upgrade&) {},
       [](RecordingSink& s) { s.cancelAfterCalls = 3; }, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Upgrade upgrade;
    c.spoil(upgrade);
    RecordingSink sink;
    c.arm(sink);
    std::string message = "<no error>";
    try {
      upgrade.Write(sink, patch);
    } catch (const CZRErr& e) {
      message = Narrow(e.message);
    } catch (const COPCancel&) {
      message = "";
    }
    EXPECT_EQ(message, c.message);
    EXPECT_EQ(out.ReadFile("p.dov"), "previous patch");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(out.path()), {}), 1);
  }
}
