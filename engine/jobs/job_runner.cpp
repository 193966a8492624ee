// RunJob, the one place that wraps every job, and the dispatch table.
#include "engine/jobs/job_runner.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "engine/base/elapsed_timer.h"
#include "engine/base/error_sites.h"
#include "engine/base/errors.h"
#include "engine/base/silent_sink.h"
#include "engine/io/standard_input.h"
#include "engine/jobs/apply_patch.h"
#include "engine/jobs/calculate_fingerprint.h"
#include "engine/jobs/create_patch.h"
#include "engine/jobs/create_vault.h"
#include "engine/jobs/query_patch.h"
#include "engine/jobs/verify_tree.h"

namespace torquelin {

namespace {

// Each skipped item on one line: a line feed or carriage return inside a
// message (a name may hold one) becomes a blank.
std::vector<std::u16string> OneLineEach(std::vector<std::u16string> messages) {
  for (std::u16string& message : messages) {
    std::replace_if(
        message.begin(), message.end(), [](char16_t c) { return c == u'\n' || c == u'\r'; }, u' ');
  }
  return messages;
}

// A patch applied from "-" is standard input, copied whole before the job
// starts and kept while it runs: apply reads it more than once.
class StandardInputScope {
 public:
  StandardInputScope(CProgressSink& progress, const std::u16string& patchPath) {
    if (IsStandardStream(patchPath)) copy_.emplace(progress);
  }

 private:
  std::optional<StandardInputCopy> copy_;
};

// Index = job number. A job joins the table in the change that builds it.
constexpr JobEntryPoint kEntryPoints[kJobKindCount] = {
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<CreatePatchParams>(params);
      CreatePatchFromDirectories(progress, p.olderDir, p.newerDir, p.patchPath, p.reportPath,
                                 p.filter, p.options);
      return JobResult();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<CreateVaultPatchParams>(params);
      CreatePatchFromVault(progress, p.newerDir, p.patchPath, p.vaultPath, p.reportPath,
                           p.updateVault, p.options);
      return JobResult();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<ApplyPatchParams>(params);
      const StandardInputScope input(progress, p.patchPath);
      ApplyResult applied =
          ApplyPatch(progress, p.directory, p.patchPath, p.reportPath,
                     {p.continueOnErrors, p.ignoreFingerprint,
                      p.inPlace ? ApplyWay::InPlace : ApplyWay::Staged, p.checkOnly});
      JobResult result{{}, OneLineEach(std::move(applied.skipped)), applied.check, {}};
      // What the checked patch would do; read again, quietly, since the check
      // keeps nothing of it and its last status stays the verdict.
      if (applied.check == TreeCheck::CheckPassed) {
        CSilentSink quiet(progress.GetBuffer(), progress.GetBufferSize());
        result.listing = ListPatch(quiet, p.patchPath);
      }
      return result;
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<QueryPatchParams>(params);
      if (p.listOnly) {
        ChangeListing listing = ListPatch(progress, p.patchPath);
        std::u16string lines = DifferenceLines(listing.differences);
        return JobResult{std::move(lines), {}, TreeCheck::NotChecked, std::move(listing)};
      }
      QueryPatch(progress, p.patchPath, p.reportPath);
      return JobResult();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<CreateVaultParams>(params);
      CreateVault(progress, p.directory, p.filter, p.vaultPath);
      return JobResult();
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<FingerprintParams>(params);
      return JobResult{
          CalculateFingerprint(progress, p.directory, p.filter), {}, TreeCheck::NotChecked, {}};
    },
    [](CProgressSink& progress, const JobParams& params) {
      const auto& p = std::get<VerifyParams>(params);
      ChangeListing listing =
          ListChanges(VerifyTreeChanges(progress, p.directory, p.vaultPath, p.reportPath));
      std::u16string lines = DifferenceLines(listing.differences);
      const TreeCheck check = lines.empty() ? TreeCheck::Verified : TreeCheck::Differs;
      return JobResult{std::move(lines), {}, check, std::move(listing)};
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
    JobResult result = entry(sink, params);
    if (onSuccess) onSuccess(result.text);
    run.outcome = JobOutcome::Succeeded;
    run.result = std::move(result.text);
    run.skipped = std::move(result.skipped);
    run.check = result.check;
    run.listing = std::move(result.listing);
  } catch (const std::u16string& text) {
    sink.ShowMessage(text);
  } catch (const CZRErr& error) {
    if (error.site == &site::kApplyFingerprintMismatch) run.check = TreeCheck::NotTheOlderTree;
    sink.ShowError(error);
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

}  // namespace torquelin
