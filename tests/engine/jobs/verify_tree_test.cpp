// Verify: the lines it prints for every kind of drift, the progress it shows,
// the inputs it refuses, and the report it writes.
#include "engine/jobs/verify_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/base/errors.h"
#include "engine/jobs/create_vault.h"
#include "engine/xml/xml_document.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"

namespace {

// A tree with one entry for each kind of drift, and its vault (which leaves
// out *.tmp).
struct VaultedTree {
  VaultedTree() {
    tree.WriteFile("a.txt", "alpha");
    tree.WriteFile("c.txt", "c");
    tree.WriteFile("keep.txt", "k");
    tree.WriteFile("gone/x.txt", "x");
    tree.WriteFile("swap", "file, then a directory");
    tree.WriteFile("flip/in.txt", "a directory, then a file");
    tree.MakeDir("same");
    chmod(tree.Native("keep.txt").c_str(), 0644);
    chmod(tree.Native("same").c_str(), 0755);
    RecordingSink sink;
    CreateVault(sink, tree.wpath(), u"*.tmp", vault());
  }
  std::u16string vault() const { return out.wpath() + u"/v.zov"; }

  JobRun Verify(RecordingSink& sink, const std::u16string& report = u"") const {
    return RunJobForTest(sink, JobKind::Verify, VerifyParams{tree.wpath(), vault(), report});
  }

  TempDir tree, out;
};

}  // namespace

TEST(VerifyTree, AMatchingTreeHasNoLinesAndShowsTheComparisonsProgress) {
  VaultedTree t;
  t.tree.WriteFile("new.tmp", "left out by the vault's filter");
  const std::string vaultBytes = t.out.ReadFile("v.zov");
  RecordingSink sink;
  const JobRun run = t.Verify(sink);
  EXPECT_EQ(run.outcome, JobOutcome::Succeeded);
  EXPECT_EQ(run.result, u"");
  EXPECT_EQ(sink.statuses,
            (std::vector<std::u16string>{
                u"Counting all files", u"Collecting files...", u"Getting File attributes...",
                u"Calculating file ids...", u"Calculating directory fingerprint...",
                u"Calculating directory fingerprint...", u"Detecting deleted files...",
                u"Comparing files...", u"Directory matches the vault."}));
  EXPECT_EQ(t.out.ReadFile("v.zov"), vaultBytes);
}

TEST(VerifyTree, EveryKindOfDriftIsOneLineSortedByTheShownPath) {
  VaultedTree t;
  namespace fs = std::filesystem;
  t.tree.WriteFile("a.txt", "ALPHA");
  fs::remove(t.tree.Native("c.txt"));
  chmod(t.tree.Native("keep.txt").c_str(), 0600);
  fs::remove_all(t.tree.Native("gone"));
  fs::remove(t.tree.Native("swap"));
  t.tree.MakeDir("swap");
  fs::remove_all(t.tree.Native("flip"));
  t.tree.WriteFile("flip", "");
  chmod(t.tree.Native("same").c_str(), 0700);
  t.tree.WriteFile("newdir/n.txt", "n");
  // '0' sorts after '/' but before the tree model's '\'.
  t.tree.WriteFile("newdir0", "");
  t.tree.WriteFile("line\nbreak", "");
  t.tree.WriteFile("\"q", "");

  RecordingSink sink;
  const JobRun run = t.Verify(sink);
  EXPECT_EQ(run.outcome, JobOutcome::Succeeded);
  EXPECT_EQ(Narrow(run.result),
            "+ \"\\\"q\"\n"
            "M a.txt\n"
            "- c.txt\n"
            "- flip\n"
            "+ flip\n"
            "- flip/in.txt\n"
            "- gone\n"
            "- gone/x.txt\n"
            "A keep.txt\n"
            "+ \"line\\nbreak\"\n"
            "+ newdir\n"
            "+ newdir/n.txt\n"
            "+ newdir0\n"
            "A same\n"
            "- swap\n"
            "+ swap");
  EXPECT_EQ(sink.statuses.back(), kTreeDiffersText);
}

TEST(VerifyTree, ReportHoldsTheComparisonsChangeSet) {
  VaultedTree t;
  t.tree.WriteFile("a.txt", "ALPHA");
  t.tree.WriteFile("b.txt", "b");
  RecordingSink sink;
  const std::u16string report = t.out.wpath() + u"/r.xml";
  ASSERT_EQ(t.Verify(sink, report).outcome, JobOutcome::Succeeded);
  XmlDocument document;
  document.Open(report);
  const XmlElement root = document.documentElement().FindChild(u"roRaraVevodIzorov");
  ASSERT_FALSE(root.IsNull());
  const TextMap info =
      ReadNameValueMap(root.FindChild(u"PatchInfo"), u"infoEntry", u"name", u"value");
  EXPECT_EQ(info.at(u"NewFiles"), u"1");
  EXPECT_EQ(info.at(u"ChangedFiles"), u"1");
  EXPECT_EQ(info.at(u"UnlinkedFiles"), u"0");
  EXPECT_EQ(info.at(u"NewerDir"), t.tree.wpath());
  EXPECT_EQ(info.at(u"OlderDir"), t.vault());
  EXPECT_EQ(sink.statuses.back(), kTreeDiffersText);
}

TEST(VerifyTree, RefusesBadInputsBeforeReadingAnything) {
  VaultedTree t;
  const std::string vaultBytes = t.out.ReadFile("v.zov");
  const std::u16string missing = t.out.wpath() + u"/missing";
  struct Case {
    VerifyParams params;
    std::u16string message;
    int line;
  } cases[] = {
      {{missing + u"/", u"", u""}, u"Directory to verify does not exist: " + missing, 214},
      {{t.tree.wpath(), u"", u""}, u"No vault file specified: ", 220},
      // Another spelling of the vault is still the vault.
      {{t.tree.wpath(), t.vault(), t.out.wpath() + u"/./v.zov"},
       u"Refusing to write the report over the vault file: " + t.out.wpath() + u"/./v.zov",
       226},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    try {
      VerifyTree(sink, c.params.directory, c.params.vaultPath, c.params.reportPath);
      ADD_FAILURE() << Narrow(c.message);
    } catch (const CZRErr& error) {
      EXPECT_EQ(Narrow(error.message), Narrow(c.message));
      EXPECT_STREQ(error.file, ".\\vudare");
      EXPECT_EQ(error.line, c.line);
    }
    EXPECT_TRUE(sink.calls.empty()) << Narrow(c.message);
  }
  EXPECT_EQ(t.out.ReadFile("v.zov"), vaultBytes);
}

TEST(DifferenceLines, NoNameCanForgeALine) {
  ChangeSet changes;
  changes.NewFiles = {u"\\ctl\x01\x7f", u"\\tab\there", u"\\plain \"quote\""};
  changes.AttributeChanges = {{u"\\ctl\x01\x7f", 1}, {u"\\cr\r\\x", 1}};
  EXPECT_EQ(Narrow(DifferenceLines(changes)),
            "A \"cr\\r/x\"\n"
            "+ \"ctl\\001\\177\"\n"
            "+ plain \"quote\"\n"
            "+ \"tab\\there\"");
}
