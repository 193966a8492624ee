// The job runner's outcomes and the host operations around them.
#include "engine/jobs/job_runner.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>

#include "engine/jobs/create_vault.h"
#include "engine/patch/patch_writer.h"
#include "tests/support/temp_dir.h"
#include "tests/support/test_sink.h"

using namespace torquelin;

namespace {

bool EndsWithCompletionLine(const RecordingSink& sink) {
  return !sink.calls.empty() && sink.calls.back().rfind(u"detail:Completed.  Time:00:00:0", 0) == 0;
}

}  // namespace

TEST(RunJob, SuccessHandsTheResultToTheHookBeforeTheCompletionLine) {
  TempDir dir;
  RecordingSink sink;
  size_t callsAtHook = 0;
  std::u16string hooked;
  const JobRun run = RunJob(sink, sink.cancelRequested, JobKind::Fingerprint,
                            FingerprintParams{dir.wpath(), u""}, [&](const std::u16string& r) {
                              hooked = r;
                              callsAtHook = sink.calls.size();
                            });
  EXPECT_EQ(run.outcome, JobOutcome::Succeeded);
  EXPECT_EQ(run.result, u"da39a3ee5e6b4b0d3255bfef95601890afd80709");
  EXPECT_EQ(hooked, run.result);
  EXPECT_EQ(callsAtHook + 1, sink.calls.size());
  EXPECT_TRUE(sink.messages.empty());
  EXPECT_TRUE(EndsWithCompletionLine(sink));
}

TEST(RunJob, FailuresShowOneMessageAndNeverReachTheHook) {
  struct Case {
    const char* name;
    JobParams params;
    JobKind kind;
    std::function<void()> hook;
    std::u16string message;  // prefix of the message shown
  } cases[] = {
      {"CZRErr", FingerprintParams{u"/no/such/dir", u""}, JobKind::Fingerprint, nullptr,
       u"Error type:1\nMessage: Directory for fingerprinting does  not exists: /no/such/dir\n"
       u"Error Code: "},
      {"bare text from the hook", FingerprintParams{}, JobKind::Fingerprint,
       [] { throw std::u16string(u"plain words"); }, u"plain words"},
      {"other exception from the hook", FingerprintParams{}, JobKind::Fingerprint,
       [] { throw std::runtime_error("x"); }, u"A general unknown error has occured."},
      {"parameters of another job", QueryPatchParams{}, JobKind::Fingerprint, nullptr,
       u"A general unknown error has occured."},
      {"job this build lacks", FingerprintParams{}, static_cast<JobKind>(kJobKindCount), nullptr,
       u"A general unknown error has occured."},
  };
  TempDir dir;
  for (Case& c : cases) {
    if (auto* p = std::get_if<FingerprintParams>(&c.params); p && p->directory.empty()) {
      p->directory = dir.wpath();
    }
    RecordingSink sink;
    int hooked = 0;
    const JobRun run =
        RunJob(sink, sink.cancelRequested, c.kind, c.params, [&](const std::u16string&) {
          ++hooked;
          if (c.hook) c.hook();
        });
    EXPECT_EQ(run.outcome, JobOutcome::Failed) << c.name;
    EXPECT_EQ(run.result, u"") << c.name;
    ASSERT_EQ(sink.messages.size(), 1u) << c.name;
    EXPECT_EQ(sink.messages[0].rfind(c.message, 0), 0u)
        << c.name << ": " << Narrow(sink.messages[0]);
    EXPECT_EQ(hooked, c.hook ? 1 : 0) << c.name;
    EXPECT_TRUE(EndsWithCompletionLine(sink)) << c.name;
  }
}

TEST(RunJob, CancelShowsCancelledAndNeverEscapes) {
  TempDir dir;
  dir.WriteFile("a/b.txt", "");
  // cancelAfterCalls keeps re-arming the request, so the final reports meet a
  // pending cancel too; it must not leave the runner.
  for (uint64_t after : {1, 3, 1000000}) {
    RecordingSink sink;
    if (after == 1000000) {
      sink.cancelOnStatus = u"Calculating file ids...";
    } else {
      sink.cancelAfterCalls = after;
    }
    bool hooked = false;
    JobRun run;
    EXPECT_NO_THROW(run = RunJob(sink, sink.cancelRequested, JobKind::Fingerprint,
                                 FingerprintParams{dir.wpath(), u""},
                                 [&](const std::u16string&) { hooked = true; }));
    EXPECT_EQ(run.outcome, JobOutcome::Cancelled);
    EXPECT_EQ(sink.statuses.back(), u"Cancelled");
    EXPECT_TRUE(sink.messages.empty());
    EXPECT_FALSE(hooked);
    EXPECT_EQ(run.result, u"");
    EXPECT_TRUE(EndsWithCompletionLine(sink));
  }
}

TEST(EntryPointFor, FingerprintIsDispatchedAndOutOfRangeIsNot) {
  EXPECT_NE(EntryPointFor(JobKind::Fingerprint), nullptr);
  EXPECT_EQ(EntryPointFor(static_cast<JobKind>(-1)), nullptr);
  EXPECT_EQ(EntryPointFor(static_cast<JobKind>(kJobKindCount)), nullptr);
}

// A tolerant apply lists each skipped item, in order, each the message of
// the error that made it skip, on one line; none when nothing was skipped.
TEST(RunJob, ApplyReturnsTheItemsATolerantRunSkipped) {
  TempDir target, newer, out;
  target.MakeDir("there");
  ChangeSet changes;
  changes.UnlinkedFiles = {u"\\miss\ning", u"\\gone"};  // a line feed inside a name
  changes.NewDirs = {u"\\there"};
  RecordingSink sink;
  WritePatch(sink, changes, newer.wpath(), out.wpath() + u"/p.dov");
  WritePatch(sink, ChangeSet{}, newer.wpath(), out.wpath() + u"/empty.dov");
  const std::u16string dir = target.wpath();
  const auto apply = [&](const char16_t* patch) {
    return RunJob(sink, sink.cancelRequested, JobKind::ApplyPatch,
                  ApplyPatchParams{dir, out.wpath() + patch, u"", true, true});
  };
  const JobRun run = apply(u"/p.dov");
  EXPECT_EQ(run.outcome, JobOutcome::Succeeded);
  EXPECT_EQ(run.skipped,
            (std::vector<std::u16string>{u"Unable to remove item. " + dir + u"\\miss ing",
                                         u"Unable to remove item. " + dir + u"\\gone",
                                         u"Unable to create a directory. " + dir + u"\\there"}));
  EXPECT_EQ(run.result, u"");
  EXPECT_EQ(apply(u"/empty.dov").skipped, std::vector<std::u16string>());
}

// The verdict of a job's check of its tree comes as a value, for the front
// ends to branch on, whatever text the job showed with it.
TEST(RunJob, TheTreeCheckComesAsAValue) {
  TempDir dir;
  dir.WriteFile("older/a.txt", "a");
  dir.WriteFile("newer/a.txt", "b");
  for (const char* copy : {"checked", "applied", "ignored"})
    dir.WriteFile(copy + std::string("/a.txt"), "a");
  const std::u16string root = dir.wpath();
  const std::u16string patch = root + u"/p.dov";
  RecordingSink sink;
  ASSERT_EQ(RunJob(sink, sink.cancelRequested, JobKind::CreatePatch,
                   CreatePatchParams{root + u"/older", root + u"/newer", patch, u"", u"", {}})
                .outcome,
            JobOutcome::Succeeded);
  CreateVault(sink, root + u"/newer", u"", root + u"/v.zov");
  struct Case {
    const char* name;
    JobKind kind;
    JobParams params;
    TreeCheck check;
  } cases[] = {
      {"a fingerprint", JobKind::Fingerprint, FingerprintParams{root + u"/older", u""},
       TreeCheck::NotChecked},
      {"a check", JobKind::ApplyPatch,
       ApplyPatchParams{root + u"/checked", patch, u"", false, false, false, true},
       TreeCheck::CheckPassed},
      {"an apply", JobKind::ApplyPatch, ApplyPatchParams{root + u"/applied", patch, u""},
       TreeCheck::Verified},
      {"the same apply again", JobKind::ApplyPatch,
       ApplyPatchParams{root + u"/applied", patch, u""}, TreeCheck::AlreadyNewer},
      {"an apply told to ignore the fingerprint", JobKind::ApplyPatch,
       ApplyPatchParams{root + u"/ignored", patch, u"", false, true}, TreeCheck::NotChecked},
      {"a tree that matches its vault", JobKind::Verify,
       VerifyParams{root + u"/newer", root + u"/v.zov", u""}, TreeCheck::Verified},
      {"a tree that differs", JobKind::Verify,
       VerifyParams{root + u"/older", root + u"/v.zov", u""}, TreeCheck::Differs},
  };
  for (const Case& c : cases) {
    const JobRun run = RunJob(sink, sink.cancelRequested, c.kind, c.params);
    EXPECT_EQ(run.outcome, JobOutcome::Succeeded) << c.name;
    EXPECT_EQ(run.check, c.check) << c.name;
  }
}
