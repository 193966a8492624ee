// Tree comparison and the Create Patch jobs on real trees: the change lists,
// the info entries, the stored contents, and the inputs the jobs refuse.
#include "engine/create_patch.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <functional>
#include <set>

#include "engine/compare_trees.h"
#include "engine/fsops.h"
#include "engine/patch_reader.h"
#include "engine/walker.h"
#include "platform/encoding.h"
#include "tests/engine/patch_test_util.h"
#include "tests/support/temp_dir.h"

namespace {

using Paths = std::vector<std::u16string>;

// The stored file index of a complete patch.
PatchFileIndex IndexOf(const std::u16string& patchPath) {
  RecordingSink sink;
  zrFile::Reader in(patchPath);
  in.seek(ReadPatchHeader(in));
  return ReadFileIndex(in, sink);
}

Paths Keys(const AttributeMap& map) {
  Paths keys;
  for (const auto& entry : map) keys.push_back(entry.first);
  return keys;
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
    Paths unlinkedFiles, unlinkedDirs, newFiles, newDirs, changedFiles, attributeKeys;
  } cases[] = {
      {"read-only bit only",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("f.txt", "same");
         n.WriteFile("f.txt", "same");
         SetMode(o, "f.txt", 0644);
         SetMode(n, "f.txt", 0444);
       },
       {},
       {},
       {},
       {},
       {},
       {u"\\f.txt"}},
      {"new content, same attributes",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("f.txt", "old");
         n.WriteFile("f.txt", "new");
       },
       {},
       {},
       {},
       {},
       {u"\\f.txt"},
       {u"\\f.txt"}},
      {"new empty directory",
       [](const TempDir&, const TempDir& n) { n.MakeDir("e"); },
       {},
       {},
       {},
       {u"\\e"},
       {},
       {u"\\e"}},
      {"rename changing only letter case",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("Read.txt", "r");
         n.WriteFile("READ.txt", "r");
       },
       {u"\\Read.txt"},
       {},
       {u"\\READ.txt"},
       {},
       {},
       {u"\\READ.txt"}},
      {"removed directory with its file",
       [](const TempDir& o, const TempDir&) { o.WriteFile("a/x", "x"); },
       {u"\\a\\x"},
       {u"\\a"},
       {},
       {},
       {},
       {}},
      {"removed nested directories, parent first",
       [](const TempDir& o, const TempDir&) { o.MakeDir("a/b/c"); },
       {},
       {u"\\a", u"\\a\\b", u"\\a\\b\\c"},
       {},
       {},
       {},
       {}},
      {"file replaced by a directory",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("p", "file");
         n.WriteFile("p/q", "inside");
       },
       {u"\\p"},
       {},
       {u"\\p\\q"},
       {u"\\p"},
       {},
       {u"\\p", u"\\p\\q"}},
      {"directory replaced by a file",
       [](const TempDir& o, const TempDir& n) {
         o.WriteFile("p/q", "inside");
         n.WriteFile("p", "file");
       },
       {u"\\p\\q"},
       {u"\\p"},
       {},
       {},
       {u"\\p"},
       {u"\\p"}},
      {"new files in code-unit order",
       [](const TempDir&, const TempDir& n) {
         n.WriteFile("b.txt", "b");
         n.WriteFile("A.txt", "a");
       },
       {},
       {},
       {u"\\A.txt", u"\\b.txt"},
       {},
       {},
       {u"\\A.txt", u"\\b.txt"}},
      {"changed directory permissions",
       [](const TempDir& o, const TempDir& n) {
         o.MakeDir("d");
         n.MakeDir("d");
         SetMode(o, "d", 0755);
         SetMode(n, "d", 0700);
       },
       {},
       {},
       {},
       {},
       {},
       {u"\\d"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TempDir older, newer, out;
    // An untouched file on both sides must never show up anywhere.
    older.WriteFile("keep.txt", "keep");
    newer.WriteFile("keep.txt", "keep");
    c.build(older, newer);
    const ChangeSet got = PatchBetween(older, newer, out);
    EXPECT_EQ(got.UnlinkedFiles, c.unlinkedFiles);
    EXPECT_EQ(got.UnlinkedDirectories, c.unlinkedDirs);
    EXPECT_EQ(got.NewFiles, c.newFiles);
    EXPECT_EQ(got.NewDirs, c.newDirs);
    EXPECT_EQ(got.ChangedFiles, c.changedFiles);
    EXPECT_EQ(Keys(got.AttributeChanges), c.attributeKeys);
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

TEST(CompareTrees, IgnoredEntriesAndFilterAreRecorded) {
  TempDir older, newer, out;
  older.WriteFile("x.obj", "o");
  newer.WriteFile("y.obj", "n");
  newer.WriteFile("debug/z.txt", "z");
  const ChangeSet got = PatchBetween(older, newer, out, u"*.obj;debug");
  EXPECT_EQ(got.IgnoreFilter, u"*.obj;debug");
  EXPECT_EQ(got.ignoredOld, Paths{u"\\x.obj"});
  EXPECT_EQ(std::set<std::u16string>(got.ignoredNew.begin(), got.ignoredNew.end()),
            (std::set<std::u16string>{u"\\y.obj", u"\\debug"}));
  EXPECT_EQ(got.Info.at(u"ignoredNew"), u"2");
  EXPECT_TRUE(got.NewFiles.empty());
}

TEST(CompareTrees, DifferentFiltersStopBeforeAnythingIsWritten) {
  TempDir older, newer, out;
  newer.WriteFile("a.txt", "a");
  RecordingSink sink;
  CDirSnapshot newerSnapshot = BuildSnapshot(sink, newer.wpath(), u"*.tmp", true);
  CDirSnapshot olderSnapshot = BuildSnapshot(sink, older.wpath(), u"*.bak", true);
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

TEST(CreatePatchJobs, InputsAreCheckedInOrderBeforeAnyScan) {
  TempDir dir, out;
  const std::u16string d = dir.wpath();
  const std::u16string missing = d + u"/missing";
  const std::u16string patch = out.wpath() + u"/p.dov";
  const std::u16string vault = out.wpath() + u"/v.zov";
  struct Case {
    const char* name;
    std::function<void(CProgressSink&)> run;
    std::u16string message;
  } cases[] = {
      {"both directories missing",
       [&](CProgressSink& s) {
         CreatePatchFromDirectories(s, missing + u"/o", missing + u"/n/", patch, u"", u"");
       },
       u"Newer directory for patch creation does  not exists: " + missing + u"/n"},
      {"older directory missing",
       [&](CProgressSink& s) { CreatePatchFromDirectories(s, missing + u"/", d, patch, u"", u""); },
       u"Older directory for patch creation does  not exists: " + missing},
      {"no patch path",
       [&](CProgressSink& s) { CreatePatchFromDirectories(s, d, d, u"", u"", u""); },
       u"No patch file specified: "},
      {"vault job, nothing valid",
       [&](CProgressSink& s) { CreatePatchFromVault(s, missing, u"", u"", u"", true); },
       u"Newer directory for patch creation does  not exists: " + missing},
      {"vault job, no patch and no vault path",
       [&](CProgressSink& s) { CreatePatchFromVault(s, d, u"", u"", u"", false); },
       u"No patch file specified: "},
      {"vault job, no vault path",
       [&](CProgressSink& s) { CreatePatchFromVault(s, d, patch, u"", u"", false); },
       u"No vault file specified: "},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    try {
      c.run(sink);
      ADD_FAILURE() << "no error";
    } catch (const CZRErr& e) {
      EXPECT_EQ(Narrow(e.message), Narrow(c.message));
      EXPECT_EQ(e.type, 0);
      EXPECT_STREQ(e.file, ".\\vudare");
    }
    EXPECT_TRUE(sink.calls.empty());
    EXPECT_FALSE(PathExists(patch));
  }
}
