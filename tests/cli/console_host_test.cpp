// The console host: an interrupt or a flag set on another thread cancels the
// running job.
#include "cli/console_host.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/errors.h"
#include "platform/console.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"

TEST(CConsoleHost, InterruptCancelsTheRunningJob) {
  TempDir dir;
  dir.WriteFile("a.txt", "a");
  // The interrupt arrives once the job is under way, as a Ctrl-C during the
  // scan would.
  std::FILE* err = std::tmpfile();
  CConsoleHost host(CConsoleHost::Mode::Lines, err);
  platform::SetCancelFlagOnInterrupt(&host.CancelFlag());
  std::raise(SIGINT);
  const JobRun run =
      RunJob(host, host.CancelFlag(), JobKind::Fingerprint, FingerprintParams{dir.wpath(), u""});
  host.Finish(run);
  std::signal(SIGINT, SIG_DFL);
  EXPECT_EQ(run.outcome, JobOutcome::Cancelled);
  EXPECT_EQ(ExitCodeFor(run), 130);
  EXPECT_EQ(run.result, u"");
  std::rewind(err);
  char buffer[512] = {};
  const size_t n = std::fread(buffer, 1, sizeof buffer - 1, err);
  std::fclose(err);
  EXPECT_EQ(std::string(buffer, n).rfind("Counting all files\nCancelled\nCompleted.  Time:", 0), 0u)
      << buffer;
}

TEST(CConsoleHost, CancelFlagSetOnAnotherThreadIsSeen) {
  CConsoleHost host(CConsoleHost::Mode::Quiet, stderr);
  EXPECT_NO_THROW(host.Step());
  std::thread([&] { host.CancelFlag().store(true); }).join();
  EXPECT_THROW(host.SetDetail(u"x"), COPCancel);
  EXPECT_THROW(host.Step(), COPCancel);
  host.CancelFlag().store(false);
  EXPECT_NO_THROW(host.SetStatus(u"x"));
}

TEST(CConsoleHost, SkippedItemsAreListedAndExitWithFour) {
  struct Case {
    std::vector<std::u16string> skipped;
    TreeCheck check;
    std::string shown;
    int exitCode;
  } cases[] = {
      {{}, TreeCheck::Verified, "", 0},
      {{u"\\a.txt", u"\\d"},
       TreeCheck::Verified,
       "Skipped: /a.txt\nSkipped: /d\n2 items were skipped.\n",
       4},
      // The closing check's verdict outranks the list.
      {{u"\\a.txt"}, TreeCheck::Differs, "Skipped: /a.txt\n1 item was skipped.\n", 3},
      {{}, TreeCheck::Differs, "", 3},
      // Names as the user knows them: '/' between components, a byte that is
      // not UTF-8 escaped, a '\\' in a name and U+EF80 as they are on disk.
      {{u"/t\\caf\uEFE9\\a\uF05Cb\\\uEFEE\uEFBE\uEF80"},
       TreeCheck::NotChecked,
       "Skipped: /t/caf\\xe9/a\\b/\xEE\xBE\x80\n1 item was skipped.\n",
       4},
  };
  for (const Case& c : cases) {
    std::FILE* err = std::tmpfile();
    CConsoleHost host(CConsoleHost::Mode::Quiet, err);
    ReportSkippedItems(host, c.skipped);
    JobRun run;
    run.outcome = JobOutcome::Succeeded;
    run.skipped = c.skipped;
    run.check = c.check;
    EXPECT_EQ(ExitCodeFor(run), c.exitCode) << c.shown;
    std::rewind(err);
    char buffer[512] = {};
    const size_t n = std::fread(buffer, 1, sizeof buffer - 1, err);
    std::fclose(err);
    EXPECT_EQ(std::string(buffer, n), c.shown);
  }
}
