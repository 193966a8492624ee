// Names that differ only in bytes the name mapping stands in for, taken
// through every job: each keeps a text of its own from scan to disk.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/jobs/verify_tree.h"
#include "tests/support/patch_test_util.h"
#include "tests/support/run_job.h"
#include "tests/support/temp_dir.h"

namespace {

// The job's result, or its error message when it fails.
std::string JobText(JobKind kind, JobParams params, RecordingSink& sink) {
  const JobRun run = RunJobForTest(sink, kind, std::move(params));
  if (run.outcome == JobOutcome::Succeeded) return Narrow(run.result);
  return "failed: " + (sink.messages.empty() ? std::string() : Narrow(sink.messages.back()));
}

std::string JobText(JobKind kind, JobParams params) {
  RecordingSink sink;
  return JobText(kind, std::move(params), sink);
}

// Every entry below root by its native name, with a file's content.
std::string Listing(const std::string& root) {
  std::vector<std::string> lines;
  for (const auto& e : std::filesystem::recursive_directory_iterator(root)) {
    std::string line = e.path().string().substr(root.size());
    if (e.is_regular_file()) line += " " + ReadBytes(e.path());
    lines.push_back(line);
  }
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const std::string& line : lines) out += line + "\n";
  return out;
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
    TempDir older, other, newer, out;
    older.WriteFile(c.a, "same");
    other.WriteFile(c.b, "same");
    EXPECT_NE(JobText(JobKind::Fingerprint, FingerprintParams{older.wpath(), u""}),
              JobText(JobKind::Fingerprint, FingerprintParams{other.wpath(), u""}))
        << c.verifyLines;
    const std::u16string olderVault = out.wpath() + u"/older.zov";
    JobText(JobKind::CreateVault, CreateVaultParams{older.wpath(), u"", olderVault});
    EXPECT_EQ(JobText(JobKind::Verify, VerifyParams{other.wpath(), olderVault, u""}),
              c.verifyLines);

    // Both names side by side, and each inside a directory named by the other.
    newer.WriteFile(c.a, "changed");
    newer.WriteFile(c.b, "new");
    newer.WriteFile(c.b + "d/" + c.a, "a below b");
    newer.WriteFile(c.a + "d/" + c.b, "b below a");
    const std::u16string patch = out.wpath() + u"/p.dov";
    EXPECT_EQ(JobText(JobKind::CreatePatch,
                      CreatePatchParams{older.wpath(), newer.wpath(), patch, u"", u""}),
              "")
        << c.verifyLines;
    RecordingSink applied;
    EXPECT_EQ(JobText(JobKind::ApplyPatch, ApplyPatchParams{older.wpath(), patch, u""}, applied),
              "");
    EXPECT_EQ(applied.statuses.back(), u"New fingerprint verified.") << c.verifyLines;
    EXPECT_EQ(Listing(older.path()), Listing(newer.path()));

    const std::u16string newerVault = out.wpath() + u"/newer.zov";
    JobText(JobKind::CreateVault, CreateVaultParams{newer.wpath(), u"", newerVault});
    RecordingSink verified;
    EXPECT_EQ(JobText(JobKind::Verify, VerifyParams{older.wpath(), newerVault, u""}, verified), "");
    EXPECT_EQ(verified.statuses.back(), kTreeMatchesText) << c.verifyLines;
  }
}
