// The command-line program's side of a job: the progress display on stderr.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/jobs/job_runner.h"

namespace torquelin {

// Runs on the thread that calls RunJob; only the cancel flag is touched from
// elsewhere (the handler of SIGINT, SIGTERM and SIGHUP), and it is an atomic
// read afresh at every cancellation point.
class CConsoleHost : public CProgressSink {
 public:
  enum class Mode {
    Quiet,  // nothing but messages (and "Cancelled")
    Lines,  // each status text as a line; no detail lines, no escape sequences
    // One status line redrawn in place, at most ten times a second: the
    // phase as [k/n], items and bytes done of their totals, the rate and the
    // time left, the current path (StatusLineText).
    Terminal,
  };

  // err receives everything the display writes. verbose adds, below an
  // error, its four-line text with the location that raised it.
  CConsoleHost(Mode mode, std::FILE* err, bool verbose = false);

  std::atomic<bool>& CancelFlag() { return cancel_; }
  // The job about to run: its phases, in the order it shows their status
  // texts, number the status line's [k/n].
  void SetJob(JobKind kind);
  // Ends the display after RunJob: the completion line is shown (in place on
  // a terminal) and, when quiet, a cancellation or the last status of a run
  // whose check found the tree differs (exit 3) is still named.
  void Finish(const JobRun& run);

  // CProgressSink
  uint32_t GetBufferSize() override;
  uint8_t* GetBuffer() override;
  void SetStatus(const std::u16string& text) override;
  void SetDetail(const std::u16string& text) override;
  void ShowMessage(const std::u16string& text) override;
  void SetRange(uint32_t count) override;
  void ResetProgress() override;
  void Step() override;
  // "torquelin: " + the message on one line, then, only when a system call
  // failed, "torquelin: reason: " + the system's words + " (errno N)"; the
  // four-line text below when verbose. Shown even when quiet.
  void ShowError(const CZRErr& error) override;
  void SetByteRange(uint64_t total) override;
  void AddBytes(uint64_t count) override;

  // The status line as it stands `elapsed` after its phase began, cut to
  // `columns` characters:
  //   "[k/n] " (when the status is one of the job's phases) + status
  //   + "  " + done + "/" + total          (when the phase has a range)
  //   + "  " + bytes done + "/" + total     (when the phase counts bytes)
  //   + "  " + rate + "/s  ETA " + m:ss    (once a second has passed)
  //   + "  " + the detail's path, '/' between components.
  std::string StatusLineText(int columns, std::chrono::steady_clock::duration elapsed) const;

 private:
  void ThrowIfCancelled();
  // Draws the line, unless the last drawing is younger than the redraw
  // interval.
  void Redraw();
  void EraseLine();
  void Write(const std::string& text);

  Mode mode_;
  std::FILE* err_;
  bool verbose_;
  std::vector<uint8_t> buffer_;
  std::atomic<bool> cancel_{false};

  std::u16string status_;
  std::u16string detail_;
  uint32_t range_ = 0;
  uint32_t position_ = 0;
  uint64_t byteRange_ = 0;
  uint64_t bytesDone_ = 0;
  const std::vector<const char16_t*>* phases_ = nullptr;
  size_t phase_ = 0;      // 1 + the index in phases_ of the current status; 0 before the first
  bool inPhase_ = false;  // the status is one of phases_
  bool drawn_ = false;    // the status line stands on the terminal
  std::chrono::steady_clock::time_point lastDraw_;
  std::chrono::steady_clock::time_point phaseStart_;
};

// The exit statuses a script branches on.
enum ExitStatus : int {
  kExitDone = 0,
  kExitFailed = 1,
  kExitUsage = 2,
  kExitTreeDiffers = 3,   // closing fingerprint not the newer one; verify found differences
  kExitItemsSkipped = 4,  // a tolerant apply skipped items
  kExitNotOlderTree = 5,  // apply refused: the target is not the patch's older tree
  kExitCancelled = 130,
};

// 0 success, 1 failed, 5 failed because the target is not the patch's older
// tree (nothing changed), 130 cancelled; after success 3 when the job's check
// found the tree differs (an applied patch's closing fingerprint, verify's
// comparison), else 4 when a tolerant apply skipped items: a tree known to
// differ says more than a list of what was skipped, which is shown in both
// cases.
int ExitCodeFor(const JobRun& run);

// Engine text (a message, a status, a path) as the command line shows it:
// the engine's '\' separators as '/', names as the user knows them
// (platform::ToTerminalUtf8: a '\' inside a name is '\' again).
std::string ShownOnConsole(const std::u16string& text);

// Shows what a tolerant apply skipped as messages, "Skipped: " + item each,
// then "1 item was skipped." or "N items were skipped."; shown even when
// quiet. Nothing when there are none.
void ReportSkippedItems(CConsoleHost& host, const std::vector<std::u16string>& items);

}  // namespace torquelin
