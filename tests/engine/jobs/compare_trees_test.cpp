// Tree comparison on real trees through the Create Patch job: the change
// lists, the info entries and the stored contents.
#include "engine/jobs/compare_trees.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>

#include "engine/io/file_system.h"
#include "engine/jobs/create_patch.h"
#include "engine/patch/patch_reader.h"
#include "engine/tree/walker.h"
#include "platform/encoding.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

using Paths = std::vector<std::u16string>;

// The stored file index of a complete patch.
PatchFileIndex IndexOf(const std::u16string& patchPath) {
  RecordingSink sink;
  zrFile::Reader in(patchPath);
  in.seek(ReadPatchHeader(in));
  return ReadFileIndex(in, sink);
}

// The non-empty change lists in a line: "UnlinkedFiles=\\a,\\b NewDirs=\\c".
std::string Summary(const ChangeSet& c) {
  Paths attributeKeys;
  for (const auto& entry : c.AttributeChanges) attributeKeys.push_back(entry.first);
  const std::pair<const char*, const Paths*> lists[] = {
      {"UnlinkedFiles", &c.UnlinkedFiles}, {"UnlinkedDirectories", &c.UnlinkedDirectories},
      {"NewFiles", &c.NewFiles},           {"NewDirs", &c.NewDirs},
      {"ChangedFiles", &c.ChangedFiles},   {"AttributeChanges", &attributeKeys}};
  std::string out;
  for (const auto& [name, list] : lists) {
    if (list->empty()) continue;
    out += (out.empty() ? "" : " ") + std::string(name) + "=";
    for (size_t i = 0; i < list->size(); ++i) out += (i ? "," : "") + Narrow((*list)[i]);
  }
  return out;
}

void SetMode(const TempDir& dir, const std::string& relative, mode_t mode) {
  ASSERT_EQ(chmod(dir.Native(relative).c_str(), mode), 0) << relative;
}

// Runs job 0 from older to newer and returns the change set the patch holds.
ChangeSet PatchBetween(const TempDir& older, const TempDir& newer, const TempDir& out,
                       const std::u16string& filter = u"") {
  RecordingSink sink;
  CreatePatchFromDirectories(sink, older.wpath(), newer.wpath(), out.wpath() + u"/p.dov", u"",
                             filter);
  EXPECT_EQ(sink.statuses.back(), u"Patch created ok.");
  return LoadPatchInfo(sink, out.wpath() + u"/p.dov");
}

}  // namespace

TEST(CompareTrees, ListsFollowTheRules) {
  struct Case {
    const char* name;
    std::function<void(const TempDir& older, const TempDir& newer)> build;
    const char* lists;  // as Summary writes them
  } cases[] = {
      {"read-only bit only",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("f.txt", "same");
         n.WriteFile("f.txt", "same");
         SetMode(o, "f.txt", 0644);
         SetMode(n, "f.txt", 0444);
       },
       "AttributeChanges=\\f.txt"},
      {"new content, same attributes",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("f.txt", "old");
         n.WriteFile("f.txt", "new");
       },
       "ChangedFiles=\\f.txt AttributeChanges=\\f.txt"},
      {"new empty directory", [](const TempDir&, const TempDir& n) { n.MakeDir("e"); },
       "NewDirs=\\e AttributeChanges=\\e"},
      {"rename changing only letter case",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("Read.txt", "r");
         n.WriteFile("READ.txt", "r");
       },
       "UnlinkedFiles=\\Read.txt NewFiles=\\READ.txt AttributeChanges=\\READ.txt"},
      {"removed directory with its file",
       [](const TempDir& o, const TempDir&) { o.WriteFile("a/x", "x"); },
       "UnlinkedFiles=\\a\\x UnlinkedDirectories=\\a"},
      {"removed nested directories, parent first",
       [](const TempDir& o, const TempDir&) { o.MakeDir("a/b/c"); },
       "UnlinkedDirectories=\\a,\\a\\b,\\a\\b\\c"},
      {"file replaced by a directory",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("p", "file");
         n.WriteFile("p/q", "inside");
       },
       "UnlinkedFiles=\\p NewFiles=\\p\\q NewDirs=\\p AttributeChanges=\\p,\\p\\q"},
      {"directory replaced by a file",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("p/q", "inside");
         n.WriteFile("p", "file");
       },
       "UnlinkedFiles=\\p\\q UnlinkedDirectories=\\p ChangedFiles=\\p AttributeChanges=\\p"},
      {"new files in code-unit order",
       [](const TempDir&, const TempDir& n) {
         n.WriteFile("b.txt", "b");
         n.WriteFile("A.txt", "a");
       },
       "NewFiles=\\A.txt,\\b.txt AttributeChanges=\\A.txt,\\b.txt"},
      {"changed directory permissions",
       [](const TempDir& o, const TempDir& n) {
         o.MakeDir("d");
         n.MakeDir("d");
         SetMode(o, "d", 0755);
         SetMode(n, "d", 0700);
       },
       "AttributeChanges=\\d"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir older, newer, out;
    // An untouched file on both sides must never show up anywhere.
    older.WriteFile("keep.txt", "keep");
    newer.WriteFile("keep.txt", "keep");
    c.build(older, newer);
    const ChangeSet got = PatchBetween(older, newer, out);
    EXPECT_EQ(Summary(got), c.lists);
    // The job keeps ids as raw bytes; a vault's ids come in the snapshot's
    // map. Both forms must decide alike.
    RecordingSink sink;
    CDirSnapshot newerScan = BuildSnapshot(sink, newer.wpath(), u"", FileIds::Compute);
    CDirSnapshot olderScan = BuildSnapshot(sink, older.wpath(), u"", FileIds::Compute);
    CElapsedTimer timer;
    EXPECT_EQ(Summary(CompareSnapshots(sink, newerScan, olderScan, timer)), c.lists);
    // Each entry carries the newer word as the newer tree reports it.
    for (const auto& [path, word] : got.AttributeChanges) {
      EXPECT_EQ(word, GetAttributesOrZero(newer.wpath() + path)) << Narrow(path);
    }
    // The patch carries exactly the new and changed files, with their content.
    std::set<std::u16string> carried(got.NewFiles.begin(), got.NewFiles.end());
    carried.insert(got.ChangedFiles.begin(), got.ChangedFiles.end());
    std::set<std::u16string> stored;
    for (const auto& entry : IndexOf(out.wpath() + u"/p.dov")) stored.insert(entry.first);
    EXPECT_EQ(stored, carried);
  }
}

TEST(CompareTrees, IdenticalTreesGiveAnEmptyPatchWithZeroCounts) {
  TempDir tree, out;
  tree.WriteFile("a.txt", "alpha");
  tree.WriteFile("sub/b.txt", "beta");
  tree.MakeDir("empty");
  RecordingSink sink;
  // The same tree on both sides, named once with trailing separators.
  CreatePatchFromDirectories(sink, tree.wpath(), tree.wpath() + u"//", out.wpath() + u"/p.dov",
                             out.wpath() + u"/r.xml", u"");
  EXPECT_EQ(sink.statuses.back(), u"Patch created ok.");
  const ChangeSet got = LoadPatchInfo(sink, out.wpath() + u"/p.dov");

  EXPECT_EQ(got.OlderTreeID, got.NewerTreeID);
  EXPECT_EQ(got.OlderTreeID.size(), 40u);
  for (const Paths* list : {&got.UnlinkedFiles, &got.UnlinkedDirectories, &got.NewFiles,
                            &got.NewDirs, &got.ChangedFiles, &got.ignoredNew, &got.ignoredOld}) {
    EXPECT_TRUE(list->empty());
  }
  EXPECT_TRUE(got.AttributeChanges.empty());
  EXPECT_TRUE(IndexOf(out.wpath() + u"/p.dov").empty());
  EXPECT_FALSE(out.ReadFile("r.xml").empty());

  for (const char16_t* count :
       {u"AttributeChanges", u"UnlinkedFiles", u"UnlinkedDirectories", u"NewFiles", u"NewDirs",
        u"ChangedFiles", u"ignoredNew", u"ignoredOld"}) {
    EXPECT_EQ(got.Info.at(count), u"0") << Narrow(count);
  }
  EXPECT_EQ(got.Info.at(u"NewerDir"), tree.wpath());
  EXPECT_EQ(got.Info.at(u"OlderDir"), tree.wpath());
  EXPECT_EQ(got.Info.at(u"OlderTreeID"), got.OlderTreeID);
  EXPECT_EQ(got.Info.at(u"NewerTreeID"), got.NewerTreeID);
  EXPECT_EQ(got.Info.at(u"AnalysisTime").rfind(u"00:00:0", 0), 0u);
  for (const char16_t* standard : {u"DateCreated", u"zrEngineVersion"}) {
    EXPECT_EQ(got.Info.count(standard), 1u) << Narrow(standard);
  }
  // Nothing else: the two standard entries the system may lack, and 15.
  EXPECT_EQ(got.Info.size() - got.Info.count(u"ComputerName") - got.Info.count(u"UserName"), 15u);

  // The comparison's own phases come between the fingerprints and the report.
  const auto at = [&](const char16_t* status) {
    return std::find(sink.statuses.begin(), sink.statuses.end(), status) - sink.statuses.begin();
  };
  EXPECT_LT(at(u"Calculating directory fingerprint..."), at(u"Detecting deleted files..."));
  EXPECT_LT(at(u"Detecting deleted files..."), at(u"Comparing files..."));
  EXPECT_LT(at(u"Comparing files..."), at(u"Creating an XML report"));
  EXPECT_LT(at(u"Creating an XML report"), at(u"Creating a patch file"));
}

TEST(CompareTrees, DifferentFiltersStopBeforeAnythingIsWritten) {
  TempDir older, newer, out;
  newer.WriteFile("a.txt", "a");
  RecordingSink sink;
  CDirSnapshot newerSnapshot = BuildSnapshot(sink, newer.wpath(), u"*.tmp", FileIds::Compute);
  CDirSnapshot olderSnapshot = BuildSnapshot(sink, older.wpath(), u"*.bak", FileIds::Compute);
  CElapsedTimer timer;
  timer.Start();
  EXPECT_EQ(ErrorOf([&] {
              CompareTrees(sink, newerSnapshot, olderSnapshot, timer, out.wpath() + u"/p.dov",
                           out.wpath() + u"/r.xml");
            }),
            "Ignored filters do not match: new:*.tmp old:*.bak");
  EXPECT_FALSE(PathExists(out.wpath() + u"/p.dov"));
  EXPECT_FALSE(PathExists(out.wpath() + u"/r.xml"));
}
