// RunJob, the one place that wraps every job, and the dispatch table.
#include "engine/jobs/job_runner.h"

#include "engine/base/elapsed_timer.h"
#include "engine/base/errors.h"
#include "engine/jobs/apply_patch.h"
#include "engine/jobs/calculate_fingerprint.h"
#include "engine/jobs/create_patch.h"
#include "engine/jobs/create_vault.h"
#include "engine/jobs/query_patch.h"
#include "engine/jobs/verify_tree.h"

namespace {

// One line per skipped item, in order, separated by line feeds; a line feed
// or carriage return inside a message (a name may hold one) becomes a blank,
// so that one item stays one line.
std::u16string SkippedItemsText(const std::vector<std::u16string>& messages) {
  std::u16string text;
  for (const std::u16string& message : messages) {
    if (!text.empty()) text.push_back(u'\n');
    for (const char16_t c : message) text.push_back(c == u'\n' || c == u'\r' ? u' ' : c);
  }
  return text;
}

// Index = job number. A job joins the table in the change that builds it.
constexpr JobEntryPoint kEntryPoints[kJobKindCount] = {
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<CreatePatchParams>(params);
      CreatePatchFromDirectories(progress, p.olderDir, p.newerDir, p.patchPath, p.reportPath,
                                 p.filter, p.options);
      return std::u16string();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<CreateVaultPatchParams>(params);
      CreatePatchFromVault(progress, p.newerDir, p.patchPath, p.vaultPath, p.reportPath,
                           p.updateVault, p.options);
      return std::u16string();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<ApplyPatchParams>(params);
      return SkippedItemsText(ApplyPatch(
          progress, p.directory, p.patchPath, p.reportPath, p.continueOnErrors, p.ignoreFingerprint,
          p.inPlace ? ApplyWay::InPlace : ApplyWay::Staged, p.checkOnly));
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<QueryPatchParams>(params);
      QueryPatch(progress, p.patchPath, p.reportPath);
      return std::u16string();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<CreateVaultParams>(params);
      CreateVault(progress, p.directory, p.filter, p.vaultPath);
      return std::u16string();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<FingerprintParams>(params);
      return CalculateFingerprint(progress, p.directory, p.filter);
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<VerifyParams>(params);
      return VerifyTree(progress, p.directory, p.vaultPath, p.reportPath);
    },
};

// A job that this build lacks is an unexpected failure, reported as such.
class MissingEntryPoint {};

// The final reports are not cancellation points: a cancel requested after
// the job's last one must not escape the runner.
template <typename Fn>
void ReportIgnoringCancel(Fn fn) {
  try {
    fn();
  } catch (const COPCancel&) {
  }
}

}  // namespace

JobEntryPoint EntryPointFor(JobKind kind) {
  const auto index = static_cast<int32_t>(kind);
  if (index < 0 || index >= kJobKindCount) return nullptr;
  return kEntryPoints[index];
}

JobRun RunJob(CProgressSink& sink, std::atomic<bool>& cancelRequested, JobKind kind,
              const JobParams& params, const JobSuccessHook& onSuccess) {
  CElapsedTimer timer;
  timer.Clear();
  timer.Start();

  JobRun run;
  try {
    const JobEntryPoint entry = EntryPointFor(kind);
    if (entry == nullptr) throw MissingEntryPoint();
    const std::u16string result = entry(sink, params);
    if (onSuccess) onSuccess(result);
    run.outcome = JobOutcome::Succeeded;
    run.result = result;
  } catch (const std::u16string& text) {
    sink.ShowMessage(text);
  } catch (const CZRErr& error) {
    sink.ShowMessage(error.GetText());
  } catch (const COPCancel&) {
    // Cleared first, so that showing the text cannot raise again.
    cancelRequested.store(false);
    run.outcome = JobOutcome::Cancelled;
    ReportIgnoringCancel([&] { sink.SetStatus(kCancelledText); });
  } catch (...) {
    sink.ShowMessage(kUnknownErrorText);
  }

  timer.Stop();
  ReportIgnoringCancel([&] { sink.SetDetail(kCompletedText + timer.Format()); });
  return run;
}
