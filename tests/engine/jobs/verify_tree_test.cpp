// Verify: the lines it prints for every kind of drift, the report it writes,
// and the inputs it refuses.
#include "engine/jobs/verify_tree.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "engine/base/errors.h"
#include "engine/jobs/create_vault.h"
#include "engine/xml/xml_document.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

TEST(VerifyTree, EveryKindOfDriftIsOneLineSortedByTheShownPath) {
  namespace fs = std::filesystem;
  TempDir tree, out;
  for (const char* name : {"a.txt", "c.txt", "gone/x.txt", "swap", "flip/in.txt"}) {
    tree.WriteFile(name, name);
  }
  tree.MakeDir("same");
  chmod(tree.Native("same").c_str(), 0755);
  const std::u16string vault = out.wpath() + u"/v.zov";
  RecordingSink sink;
  CreateVault(sink, tree.wpath(), u"*.tmp", vault);

  tree.WriteFile("a.txt", "A.TXT");
  fs::remove(tree.Native("c.txt"));
  fs::remove_all(tree.Native("gone"));
  fs::remove(tree.Native("swap"));
  tree.MakeDir("swap");
  fs::remove_all(tree.Native("flip"));
  tree.WriteFile("flip", "");
  chmod(tree.Native("same").c_str(), 0700);
  tree.WriteFile("new/n.txt", "n");
  tree.WriteFile("new0", "");  // '0' sorts after '/' but before the tree model's '\'
  tree.WriteFile("line\n\x01", "");
  tree.WriteFile("\"q", "");
  tree.WriteFile("left-out.tmp", "");  // the vault's filter applies

  const JobRun run = RunJobForTest(sink, JobKind::Verify,
                                   VerifyParams{tree.wpath(), vault, out.wpath() + u"/r.xml"});
  EXPECT_EQ(Narrow(run.result),
            "+ \"\\\"q\"\nM a.txt\n- c.txt\n- flip/\n+ flip\n- flip/in.txt\n- gone/\n- gone/x.txt\n"
            "+ \"line\\n\\001\"\n+ new/\n+ new/n.txt\n+ new0\nA same/\n- swap\n+ swap/");
  EXPECT_EQ(sink.statuses.back(), kTreeDiffersText);
  XmlDocument report;
  report.Open(out.wpath() + u"/r.xml");
  const TextMap info = ReadNameValueMap(
      report.documentElement().FindChild(u"roRaraVevodIzorov").FindChild(u"PatchInfo"),
      u"infoEntry", u"name", u"value");
  EXPECT_EQ(info.at(u"NewFiles"), u"4");
  EXPECT_EQ(info.at(u"OlderDir"), vault);
}

TEST(VerifyTree, RefusesBadInputsBeforeReadingAnything) {
  TempDir dir, out;
  out.WriteFile("v.zov", "the vault");
  const std::u16string d = dir.wpath(), o = out.wpath();
  struct Case {
    VerifyParams params;
    std::u16string message;
    int line;
  } cases[] = {
      {{d + u"/missing/", u"", u""},
       u"Directory to verify does not exist: " + d + u"/missing",
       214},
      {{d, u"", u""}, u"No vault file specified: ", 220},
      // Another spelling of the vault is still the vault.
      {{d, o + u"/v.zov", o + u"/./v.zov"},
       u"Two arguments name the same file: " + o + u"/v.zov and " + o + u"/./v.zov",
       309},
      // A report inside the tree would be a difference of its own next time.
      {{d, o + u"/v.zov", d + u"/r.xml"},
       u"Refusing to write into a directory the job reads or changes: " + d + u"/r.xml is inside " +
           d,
       317},
  };
  for (const Case& c : cases) {
    RecordingSink sink;
    try {
      VerifyTree(sink, c.params.directory, c.params.vaultPath, c.params.reportPath);
      ADD_FAILURE() << Narrow(c.message);
    } catch (const CZRErr& error) {
      EXPECT_EQ(Narrow(error.message), Narrow(c.message));
      EXPECT_EQ(error.line, c.line);
    }
    EXPECT_TRUE(sink.calls.empty()) << Narrow(c.message);
  }
  EXPECT_EQ(out.ReadFile("v.zov"), "the vault");
}

// No name can end a line, move the text around it on a terminal, or pass for
// another name: such a path is quoted, with its own escapes.
TEST(DifferenceLines, QuotesEveryCharacterThatCouldForgeALine) {
  struct Case {
    std::u16string path;
    std::string line;
  } cases[] = {
      {u"\\d\\plain \u00A0\u2027\u202F\u206A\U0001F600",
       "+ d/plain \u00A0\u2027\u202F\u206A\U0001F600"},
      {u"\\a\uF05Cb", "+ a\\b"},  // a backslash in a name needs no quotes alone
      {u"\\\"q", "+ \"\\\"q\""},
      {u"\\t\t\n\r\x01\x1B\x7F\uF05C", "+ \"t\\t\\n\\r\\001\\033\\177\\\\\""},
      {u"\\c1\u0080\u0085\u009B\u009F", "+ \"c1\\u0080\\u0085\\u009b\\u009f\""},
      {u"\\\u2028\u2029\uFEFF", "+ \"\\u2028\\u2029\\ufeff\""},
      {u"\\\u202A\u202E\u2066\u2069.txt", "+ \"\\u202a\\u202e\\u2066\\u2069.txt\""},
      // Bytes that are not UTF-8, beside what is: U+10080 pairs to DC80.
      {u"\\caf\uEFE9\U00010080", "+ \"caf\\xe9\U00010080\""},
      {u"\\\uEFEE\uEFBE\uEF80", "+ \uEF80"},  // a name really holding U+EF80
  };
  for (const Case& c : cases) {
    ChangeSet changes;
    changes.NewFiles = {c.path};
    EXPECT_EQ(Narrow(DifferenceLines(changes)), c.line);
  }
}
