// How a compact patch stores each content, decided from two scans or a
// vault and a scan, and the older ids it names.
#include "engine/jobs/compact_contents.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/base/elapsed_timer.h"
#include "engine/jobs/compare_trees.h"
#include "engine/tree/walker.h"
#include "engine/xml/vault_file.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

// Every case of the choice, one file each.
void MakeTrees(const TempDir& older, const TempDir& newer) {
  const std::string text = "a line of text that changes a little\n";
  older.WriteFile("changed.txt", text + text + "old end\n");
  newer.WriteFile("changed.txt", text + text + "new end\n");
  older.WriteFile("moved/from.txt", "moved content");
  newer.WriteFile("moved/to.txt", "moved content");
  older.WriteFile("kept.txt", "kept");
  newer.WriteFile("kept.txt", "kept");
  newer.WriteFile("dup.txt", "kept");
  older.WriteFile("becomes-kept.txt", "before");
  newer.WriteFile("becomes-kept.txt", "kept");
  older.WriteFile("empty-old", "");
  newer.WriteFile("empty-new", "");
  newer.WriteFile("new.txt", "brand new");
  older.WriteFile("removed.txt", "gone");
  // A link whose text equals an older file's content is still made from
  // its text; a file that was a link is not made from the link.
  std::filesystem::create_symlink("moved content", newer.Native("link"));
  std::filesystem::create_symlink("target text", older.Native("was-link"));
  newer.WriteFile("was-link", "target text, now a file");
  older.MakeDir("was-dir");
  newer.WriteFile("was-dir", "a file where a directory was");
}

struct Expected {
  const char16_t* path;
  ContentKind kind;
  const char16_t* reference;
};

void ExpectRequests(const CompactContents& contents, const std::vector<Expected>& expected) {
  ASSERT_EQ(contents.requests.size(), expected.size());
  for (size_t i = 0; i < expected.size(); ++i) {
    const ContentRequest& request = contents.requests[i];
    SCOPED_TRACE(Narrow(request.path));
    EXPECT_EQ(request.path, expected[i].path);
    EXPECT_EQ(request.kind, expected[i].kind);
    EXPECT_EQ(request.reference, expected[i].reference);
  }
}

}  // namespace

TEST(PlanCompactContents, ChoosesCopiesDeltasAndCompressionAndNamesTheOlderIds) {
  TempDir older, newer;
  MakeTrees(older, newer);
  RecordingSink sink;
  CDirSnapshot olderScan = BuildSnapshot(sink, older.wpath(), u"", FileIds::Compute);
  CDirSnapshot newerScan = BuildSnapshot(sink, newer.wpath(), u"", FileIds::Compute);
  CElapsedTimer timer;
  const ChangeSet changes = CompareSnapshots(sink, newerScan, olderScan, timer);
  const std::vector<FileId> olderIds = IdsInFileOrder(olderScan);
  const std::vector<FileId> newerIds = IdsInFileOrder(newerScan);

  const CompactContents fromTree = PlanCompactContents(
      changes, {newerScan, newerIds}, {olderScan, olderIds}, OlderSource::Directory);
  const auto kCompressed = ContentKind::Compressed;
  ExpectRequests(fromTree, {
                               {u"\\becomes-kept.txt", ContentKind::Copy, u"\\kept.txt"},
                               {u"\\changed.txt", ContentKind::Delta, u"\\changed.txt"},
                               {u"\\dup.txt", ContentKind::Copy, u"\\kept.txt"},
                               {u"\\empty-new", kCompressed, u""},
                               {u"\\link", kCompressed, u""},
                               {u"\\moved\\to.txt", ContentKind::Copy, u"\\moved\\from.txt"},
                               {u"\\new.txt", kCompressed, u""},
                               {u"\\was-dir", kCompressed, u""},
                               {u"\\was-link", kCompressed, u""},
                           });
  EXPECT_EQ(fromTree.requests[1].referenceLength, 2u * 37 + 8);
  EXPECT_EQ(fromTree.requests[8].length, 23u);
  EXPECT_EQ(fromTree.requests[4].length, 13u);  // the link's text
  // Every file the patch changes or removes, and every reference, with the
  // id the older scan gave it; a directory has none.
  PathList named;
  for (const auto& [path, id] : fromTree.head.olderIds) {
    named.push_back(path);
    EXPECT_EQ(DigestToHex(id.data()), olderScan.fileIds.at(path)) << Narrow(path);
  }
  EXPECT_EQ(named, (PathList{u"\\becomes-kept.txt", u"\\changed.txt", u"\\empty-old", u"\\kept.txt",
                             u"\\moved\\from.txt", u"\\removed.txt", u"\\was-link"}));
  EXPECT_EQ(fromTree.head.changes, changes);

  // From a vault there is nothing to make a delta from; copies remain, and
  // an id the vault does not hold as 40 hex digits is none.
  olderScan.fileIds[u"\\kept.txt"] = u"NOT-AN-ID";
  const std::vector<FileId> vaultIds = IdsInFileOrder(olderScan);
  const CompactContents fromVault = PlanCompactContents(changes, {newerScan, newerIds},
                                                        {olderScan, vaultIds}, OlderSource::Vault);
  EXPECT_EQ(fromVault.requests[0].kind, kCompressed);
  EXPECT_EQ(fromVault.requests[1].kind, kCompressed);
  EXPECT_EQ(fromVault.requests[2].kind, kCompressed);
  EXPECT_EQ(fromVault.requests[5].kind, ContentKind::Copy);
  EXPECT_EQ(fromVault.head.olderIds.count(u"\\kept.txt"), 0u);
}
