// Stand-in for the engine's job runner, compiled only while the engine does
// not have one yet; it runs no job and reports each as an unknown failure.
#include "engine/elapsed_timer.h"
#include "engine/errors.h"
#include "engine/job_runner.h"

JobEntryPoint EntryPointFor(JobKind) { return nullptr; }

JobOutcome RunJob(CJobHost& host, CProgressSink& sink, JobKind kind) {
  host.ClearCancelRequest();
  host.SetTabStripEnabled(false);
  host.SetCancelEnabled(true);
  host.SetPageLocked(kind, true);
  CElapsedTimer timer;
  timer.Start();
  if (kind == JobKind::Fingerprint) host.SetFingerprintField(u"");
  host.ReadParameters(kind);
  sink.ShowMessage(kUnknownErrorText);
  timer.Stop();
  try {
    sink.SetDetail(kCompletedText + timer.Format());
  } catch (const COPCancel&) {
  }
  host.SetCancelEnabled(false);
  host.SetPageLocked(kind, false);
  host.SetTabStripEnabled(true);
  return JobOutcome::Failed;
}
