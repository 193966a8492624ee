// The console host: an interrupt or a flag set on another thread cancels the
// running job.
#include "cli/console_host.h"

#include <gtest/gtest.h>
#include <pty.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "engine/base/errors.h"
#include "platform/console.h"
#include "platform/encoding.h"
#include "tests/support/temp_dir.h"

using namespace torquelin;

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

TEST(CConsoleHost, StatusLineShowsThePhaseCountsBytesRateAndPath) {
  using std::chrono::milliseconds;
  struct Case {
    std::u16string status;
    uint32_t range, steps;
    uint64_t bytes, bytesDone;
    milliseconds elapsed;
    int columns;
    std::string line;
  } cases[] = {
      {u"Counting all files", 0, 0, 0, 0, milliseconds(0), 100, "[1/5] Counting all files"},
      // No rate before a second has passed.
      {u"Calculating file ids...", 300, 110, 60000000, 22020096, milliseconds(500), 100,
       "[4/5] Calculating file ids...  110/300  21.0 MiB/57.2 MiB  sub/f.bin"},
      {u"Calculating file ids...", 300, 110, 60000000, 22020096, milliseconds(2000), 100,
       "[4/5] Calculating file ids...  110/300  21.0 MiB/57.2 MiB  10.5 MiB/s  ETA 0:03  "
       "sub/f.bin"},
      // Items alone give the rate when no bytes are counted.
      {u"Collecting files...", 40, 10, 0, 0, milliseconds(2000), 100,
       "[2/5] Collecting files...  10/40  5/s  ETA 0:06  sub/f.bin"},
      // Cut to the width.
      {u"Calculating file ids...", 300, 110, 0, 0, milliseconds(0), 20, "[4/5] Calculating fi"},
      // Not one of the job's phases: no count.
      {u"Fingerprint calculated.", 0, 0, 0, 0, milliseconds(0), 100, "Fingerprint calculated."},
  };
  for (const Case& c : cases) {
    CConsoleHost host(CConsoleHost::Mode::Lines, std::tmpfile());
    host.SetJob(JobKind::Fingerprint);
    // The phase before, as the job shows it.
    if (c.status != u"Counting all files") host.SetStatus(u"Counting all files");
    host.SetStatus(c.status);
    host.SetRange(c.range);
    if (c.bytes != 0) host.SetByteRange(c.bytes);
    for (uint32_t i = 0; i < c.steps; ++i) host.Step();
    host.AddBytes(c.bytesDone);
    if (c.range != 0) host.SetDetail(u"Processing: \\sub\\f.bin");
    EXPECT_EQ(host.StatusLineText(c.columns, c.elapsed), c.line);
  }
}

namespace {

// Runs the program on a pseudo-terminal with TERM set as given and returns
// all it wrote there.
std::string RunOnTerminal(const std::string& term, const std::string& directory) {
  const char* bin = std::getenv("TORQUELIN_BIN");
  const std::string program = std::string(bin ? bin : ".") + "/torquelin";
  struct winsize size = {};
  size.ws_col = 100;
  size.ws_row = 24;
  int terminal = -1;
  const pid_t child = forkpty(&terminal, nullptr, nullptr, &size);
  if (child == 0) {
    setenv("TERM", term.c_str(), 1);
    execl(program.c_str(), "torquelin", "fingerprint", directory.c_str(), nullptr);
    _exit(127);
  }
  std::string out;
  char buffer[4096];
  for (ssize_t n; (n = read(terminal, buffer, sizeof buffer)) > 0;) out.append(buffer, n);
  close(terminal);
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << out;
  return out;
}

}  // namespace

// On a terminal the status line is redrawn in place, in one form; a dumb
// terminal gets plain lines and no escape sequence at all.
TEST(CConsoleHost, ProgressRedrawsOnATerminalAndPrintsLinesOnADumbOne) {
  TempDir dir;
  for (int i = 0; i < 50; ++i) dir.WriteFile("sub/f" + std::to_string(i), std::string(1000, 'x'));
  const std::string redrawn = RunOnTerminal("xterm", dir.path());
  EXPECT_EQ(redrawn.rfind("\r\x1b[2K[1/5] Counting all files", 0), 0u) << redrawn;
  // Every escape sequence is the one that clears the line being redrawn.
  size_t escapes = 0;
  for (size_t at = redrawn.find('\x1b'); at != std::string::npos;
       at = redrawn.find('\x1b', at + 1)) {
    EXPECT_EQ(redrawn.compare(at - 1, 5, "\r\x1b[2K"), 0) << redrawn.substr(at - 1, 20);
    ++escapes;
  }
  EXPECT_GE(escapes, 2u);
  EXPECT_NE(redrawn.find("\r\x1b[2KFingerprint calculated.\r\nCompleted.  Time:"),
            std::string::npos)
      << redrawn;

  const std::string dumb = RunOnTerminal("dumb", dir.path());
  EXPECT_EQ(dumb.find('\x1b'), std::string::npos) << dumb;
  EXPECT_EQ(dumb.rfind("Counting all files\r\nCollecting files...\r\n", 0), 0u) << dumb;
}
