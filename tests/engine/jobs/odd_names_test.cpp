// Names that differ only in bytes the name mapping stands in for, taken
// through every job: each keeps a text of its own from scan to disk.
#include <gtest/gtest.h>

#include <filesystem>
#include <set>
#include <string>

#include "tests/support/patch_test_util.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

namespace {

// The job's result, or what it failed with.
std::string JobText(JobKind kind, JobParams params) {
  RecordingSink sink;
  const JobRun run = RunJobForTest(sink, kind, std::move(params));
  if (run.outcome == JobOutcome::Succeeded) return Narrow(run.result);
  return "failed: " + (sink.messages.empty() ? "" : Narrow(sink.messages.back()));
}

// Every entry below root by its native name, a file with its content.
std::set<std::string> Listing(const std::string& root) {
  std::set<std::string> entries;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    entries.insert(e.path().string().substr(root.size()) + " " +
                   (e.is_regular_file() ? ReadBytes(e.path()) : ""));
  }
  return entries;
}

}  // namespace

// Each pair used to be one text: a '\' in a name and U+F05C, an undecodable
// byte and the stand-in character for it.
TEST(OddNames, NamesOnceSharingATextStayApartThroughEveryJob) {
  struct Case {
    std::string a, b;
    std::string verifyLines;  // verify of a tree holding b against one holding a
  } cases[] = {
      {"x\\y", "x\xEF\x81\x9Cy", "- x\\y\n+ x\xEF\x81\x9Cy"},
      {"\x80", "\xEE\xBE\x80", "- \"\\x80\"\n+ \xEE\xBE\x80"},
      {"\xFF", "\xEE\xBF\xBF", "- \"\\xff\"\n+ \xEE\xBF\xBF"},
  };
  for (const Case& c : cases) {
    TempDir older, newer, out;
    older.WriteFile(c.a, "same");
    newer.WriteFile(c.b, "same");
    EXPECT_NE(JobText(JobKind::Fingerprint, FingerprintParams{older.wpath(), u""}),
              JobText(JobKind::Fingerprint, FingerprintParams{newer.wpath(), u""}))
        << c.verifyLines;
    const std::u16string vault = out.wpath() + u"/v.zov", patch = out.wpath() + u"/p.dov";
    JobText(JobKind::CreateVault, CreateVaultParams{older.wpath(), u"", vault});
    EXPECT_EQ(JobText(JobKind::Verify, VerifyParams{newer.wpath(), vault, u""}), c.verifyLines);

    // Each name also inside a directory named by the other.
    newer.WriteFile(c.b + "d/" + c.a, "a below b");
    newer.WriteFile(c.a + "d/" + c.b, "b below a");
    EXPECT_EQ(JobText(JobKind::CreatePatch,
                      CreatePatchParams{older.wpath(), newer.wpath(), patch, u"", u"", {}}),
              "");
    EXPECT_EQ(JobText(JobKind::ApplyPatch, ApplyPatchParams{older.wpath(), patch, u""}), "");
    EXPECT_EQ(Listing(older.path()), Listing(newer.path())) << c.verifyLines;
    JobText(JobKind::CreateVault, CreateVaultParams{newer.wpath(), u"", vault});
    EXPECT_EQ(JobText(JobKind::Verify, VerifyParams{older.wpath(), vault, u""}), "");
  }
}
