// The inputs every creating job refuses, and a patch made against a vault
// with and without the vault's update.
#include "engine/jobs/create_patch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/io/file_system.h"
#include "engine/jobs/create_vault.h"
#include "engine/jobs/query_patch.h"
#include "engine/patch/compact_reader.h"
#include "engine/patch/patch_reader.h"
#include "engine/xml/vault_file.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

PathList Sorted(PathList list) {
  std::sort(list.begin(), list.end());
  return list;
}

void MakeTree(const TempDir& tree) {
  tree.WriteFile("a.txt", "alpha");
  tree.WriteFile("sub/b.txt", "beta");
  tree.WriteFile("sub/scratch.tmp", "ignored");
  tree.MakeDir("empty");
}

}  // namespace

TEST(JobInputs, CheckedInOrderBeforeAnyScan) {
  TempDir dir;
  const std::u16string d = dir.wpath();
  const std::u16string missing = d + u"/missing";
  const std::u16string patch = d + u"/p.dov";
  struct Case {
    const char* name;
    std::function<void(CProgressSink&)> run;
    std::u16string message;
    const char* location;
    int line;  // 0: any
  } cases[] = {
      {"patch: both directories missing",
       [&](CProgressSink& s) {
         CreatePatchFromDirectories(s, missing + u"/o", missing + u"/n/", patch, u"", u"");
       },
       u"Newer directory for patch creation does  not exists: " + missing + u"/n", ".\\vudare", 0},
      {"patch: older directory missing",
       [&](CProgressSink& s) { CreatePatchFromDirectories(s, missing + u"/", d, patch, u"", u""); },
       u"Older directory for patch creation does  not exists: " + missing, ".\\vudare", 0},
      {"patch: no patch path",
       [&](CProgressSink& s) { CreatePatchFromDirectories(s, d, d, u"", u"", u""); },
       u"No patch file specified: ", ".\\vudare", 0},
      {"patch from vault: nothing valid",
       [&](CProgressSink& s) { CreatePatchFromVault(s, missing, u"", u"", u"", true); },
       u"Newer directory for patch creation does  not exists: " + missing, ".\\vudare", 0},
      {"patch from vault: no patch and no vault path",
       [&](CProgressSink& s) { CreatePatchFromVault(s, d, u"", u"", u"", false); },
       u"No patch file specified: ", ".\\vudare", 0},
      {"patch from vault: no vault path",
       [&](CProgressSink& s) { CreatePatchFromVault(s, d, patch, u"", u"", false); },
       u"No vault file specified: ", ".\\vudare", 0},
      {"patch: no compression level",
       [&](CProgressSink& s) {
         CreatePatchFromDirectories(s, d, d, patch, u"", u"", {true, 0});
       },
       u"Compression level out of range (1 to 22): 0", ".\\vudare", 230},
      {"patch from vault: a level beyond zstd's",
       [&](CProgressSink& s) {
         CreatePatchFromVault(s, d, patch, missing + u"/v.zov", u"", false, {true, 23});
       },
       u"Compression level out of range (1 to 22): 23", ".\\vudare", 230},
      {"vault: missing directory and no vault path",
       [&](CProgressSink& s) { CreateVault(s, missing + u"/", u"", u""); },
       u"Directory for patch application does  not exists: " + missing, ".\\vault", 129},
      {"vault: no vault path", [&](CProgressSink& s) { CreateVault(s, dir.wpath(), u"", u""); },
       u"No vault file specified: ", ".\\vault", 135},
      {"query: no paths at all", [&](CProgressSink& s) { QueryPatch(s, u"", u""); },
       u"No XML report file specified: ", ".\\rezeriravodu", 0},
      {"query: no patch path",
       [&](CProgressSink& s) { QueryPatch(s, u"", dir.wpath() + u"/r.xml"); },
       u"No patch file specified: ", ".\\patchReader", 0},
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
      EXPECT_STREQ(e.file, c.location);
      if (c.line != 0) {
        EXPECT_EQ(e.line, c.line);
      }
    }
    EXPECT_TRUE(sink.calls.empty());
  }
  EXPECT_FALSE(PathExists(patch));
  EXPECT_FALSE(PathExists(d + u"/r.xml"));
}

TEST(VaultJobs, PatchAgainstAnUnchangedTreeAndTheVaultUpdate) {
  TempDir tree, out;
  MakeTree(tree);
  const std::u16string vault = out.wpath() + u"/v.zov";
  const std::u16string patch = out.wpath() + u"/p.dov";
  RecordingSink sink;
  CreateVault(sink, tree.wpath(), u"*.tmp", vault);
  EXPECT_EQ(sink.statuses.back(), u"riDerev file Created. ");
  const std::string vaultBytes = ReadBytes(out.Native("v.zov"));
  const CDirSnapshot stored = ReadVault(sink, vault);
  EXPECT_EQ(stored.ignored, PathList{u"\\sub\\scratch.tmp"});
  EXPECT_EQ(stored.info.count(u"DateCreated"), 1u);

  for (bool update : {false, true}) {
    SCOPED_TRACE(update ? "update" : "keep");
    RecordingSink job;
    CreatePatchFromVault(job, tree.wpath() + u"/", patch, vault, u"", update);
    EXPECT_EQ(job.statuses.back(), u"Patch created ok.");
    const ChangeSet got = LoadPatchInfo(job, patch);
    for (const PathList* list : {&got.UnlinkedFiles, &got.UnlinkedDirectories, &got.NewFiles,
                                 &got.NewDirs, &got.ChangedFiles}) {
      EXPECT_TRUE(list->empty());
    }
    EXPECT_TRUE(got.AttributeChanges.empty());
    EXPECT_EQ(got.OlderTreeID, got.NewerTreeID);
    EXPECT_EQ(got.IgnoreFilter, u"*.tmp");
    EXPECT_EQ(got.ignoredNew, stored.ignored);
    EXPECT_EQ(got.Info.at(u"OlderDir"), vault);
    EXPECT_EQ(got.Info.at(u"NewerDir"), tree.wpath());
    {
      RecordingSink index;
      zrFile::Reader in(patch);
      in.seek(ReadPatchHeader(in));
      EXPECT_TRUE(ReadFileIndex(in, index).empty());
    }

    if (!update) {
      EXPECT_EQ(ReadBytes(out.Native("v.zov")), vaultBytes);
      continue;
    }
    // Rewritten from the newer scan: the same state, lists now sorted, and
    // no info entries of its own.
    const CDirSnapshot rewritten = ReadVault(job, vault);
    EXPECT_EQ(rewritten.filter, stored.filter);
    EXPECT_EQ(rewritten.ignored, stored.ignored);
    EXPECT_EQ(rewritten.files, Sorted(stored.files));
    EXPECT_EQ(rewritten.directories, Sorted(stored.directories));
    EXPECT_EQ(rewritten.attributes, stored.attributes);
    EXPECT_EQ(rewritten.fileIds, stored.fileIds);
    EXPECT_TRUE(rewritten.info.empty());
  }
}

TEST(VaultJobs, ACompactPatchFromAVaultCopiesWhatTheVaultListsAndStoresTheRest) {
  TempDir tree, out;
  MakeTree(tree);
  const std::u16string vault = out.wpath() + u"/v.zov";
  RecordingSink sink;
  CreateVault(sink, tree.wpath(), u"*.tmp", vault);
  tree.WriteFile("a.txt", std::string(3000, 'a'));  // changed: no older content to use
  tree.WriteFile("copy.txt", "beta");               // \sub\b.txt's content
  CreatePatchFromVault(sink, tree.wpath(), out.wpath() + u"/p.dov", vault, u"", false, {true, 19});
  StoredContents contents;
  const ChangeSet changes = LoadAnyPatchInfo(sink, out.wpath() + u"/p.dov", &contents);
  EXPECT_EQ(changes.ChangedFiles, PathList{u"\\a.txt"});
  EXPECT_EQ(changes.NewFiles, PathList{u"\\copy.txt"});
  EXPECT_EQ(contents.at(u"\\a.txt").kind, ContentKind::Compressed);
  EXPECT_EQ(contents.at(u"\\copy.txt").kind, ContentKind::Copy);
  EXPECT_EQ(contents.at(u"\\copy.txt").reference, u"\\sub\\b.txt");
}
