// A vault survives every run that fails or is cancelled.
#include "engine/jobs/create_vault.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "engine/jobs/create_patch.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

TEST(VaultJobs, AFailedOrCancelledRunLeavesTheVaultUntouched) {
  TempDir tree, out;
  tree.WriteFile("a.txt", "alpha");
  tree.WriteFile("sub/b.txt", "beta");
  tree.MakeDir("empty");
  const std::u16string vault = out.wpath() + u"/v.zov";
  RecordingSink first;
  CreateVault(first, tree.wpath(), u"", vault);
  const std::string before = ReadBytes(out.Native("v.zov"));
  tree.WriteFile("later.txt", "a change the vault must not see");

  struct Case {
    const char* name;
    std::function<void(RecordingSink&)> run;
  } cases[] = {
      {"create vault cancelled while scanning",
       [&](RecordingSink& s) {
         s.cancelOnStatus = u"Calculating file ids...";
         CreateVault(s, tree.wpath(), u"", vault);
       }},
      {"patch from vault cancelled while writing the patch",
       [&](RecordingSink& s) {
         s.cancelOnStatus = u"Creating a patch file";
         CreatePatchFromVault(s, tree.wpath(), out.wpath() + u"/p.dov", vault, u"", true);
       }},
      {"patch from vault whose patch cannot be created",
       [&](RecordingSink& s) {
         CreatePatchFromVault(s, tree.wpath(), out.wpath() + u"/no/such/dir/p.dov", vault, u"",
                              true);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RecordingSink sink;
    EXPECT_ANY_THROW(c.run(sink));
    EXPECT_EQ(ReadBytes(out.Native("v.zov")), before);
    EXPECT_EQ(std::count(sink.statuses.begin(), sink.statuses.end(), u"Patch created ok."), 0);
  }
}
