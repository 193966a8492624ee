// The seven jobs, their parameters, the dispatch table and the runner that
// wraps every job: timing it and reporting its outcome.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "engine/base/progress.h"
#include "engine/jobs/change_listing.h"
#include "engine/jobs/create_patch.h"
#include "engine/jobs/tree_check.h"

namespace torquelin {

enum class JobKind : int32_t {
  CreatePatch = 0,       // two directories -> patch
  CreateVaultPatch = 1,  // vault + directory -> patch
  ApplyPatch = 2,
  QueryPatch = 3,
  CreateVault = 4,
  Fingerprint = 5,
  Verify = 6,  // directory against a vault; the command line's alone
};
inline constexpr int kJobKindCount = 7;

// Parameters of each job, in the order the entry point takes them.
struct CreatePatchParams {
  std::u16string olderDir, newerDir, patchPath, reportPath, filter;
  CreatePatchOptions options;
};
struct CreateVaultPatchParams {
  std::u16string newerDir, patchPath, vaultPath, reportPath;
  bool updateVault = false;
  CreatePatchOptions options;
};
struct ApplyPatchParams {
  std::u16string directory, patchPath, reportPath;
  bool continueOnErrors = false;
  bool ignoreFingerprint = false;
  bool inPlace = false;    // ApplyWay::InPlace instead of staging
  bool checkOnly = false;  // every check, no change
};
struct QueryPatchParams {
  std::u16string patchPath, reportPath;
  // Instead of writing a report, list what the patch changes (JobResult's
  // listing and text); reportPath is then unused.
  bool listOnly = false;
};
struct CreateVaultParams {
  std::u16string directory, filter, vaultPath;
};
struct FingerprintParams {
  std::u16string directory, filter;
};
struct VerifyParams {
  std::u16string directory, vaultPath, reportPath;
};

// Alternative i holds the parameters of JobKind i.
using JobParams =
    std::variant<CreatePatchParams, CreateVaultPatchParams, ApplyPatchParams, QueryPatchParams,
                 CreateVaultParams, FingerprintParams, VerifyParams>;

// What a job that ended normally gives back.
struct JobResult {
  // The fingerprint job's fingerprint, verify's difference lines (and a
  // listing query's); empty for the others.
  std::u16string text;
  // Apply Patch: the message of each item a tolerant run skipped, in the
  // order they happened, each on one line (a line feed or carriage return in
  // a message made a blank).
  std::vector<std::u16string> skipped;
  // Apply Patch's fingerprint checks, verify's comparison.
  TreeCheck check = TreeCheck::NotChecked;
  // What differs, item by item: verify's differences, a listing query's
  // changes, and those of a patch that a check found can be applied.
  std::optional<ChangeListing> listing;
};

// An entry point: runs the job and returns its result. Raises CZRErr or lets
// COPCancel pass.
using JobEntryPoint = JobResult (*)(CProgressSink& progress, const JobParams& params);

// The dispatch table: the entry point of a job, or nullptr for a job this
// build does not have.
JobEntryPoint EntryPointFor(JobKind kind);

enum class JobOutcome { Succeeded, Failed, Cancelled };

// The outcome texts of the runner.
inline constexpr char16_t kCancelledText[] = u"Cancelled";
inline constexpr char16_t kUnknownErrorText[] = u"A general unknown error has occured.";
inline constexpr char16_t kCompletedText[] = u"Completed.  Time:";

// What one run of a job ended with.
struct JobRun {
  JobOutcome outcome = JobOutcome::Failed;
  // After success, the job's result text, skipped items and check (see
  // JobResult); empty and NotChecked otherwise, except that an apply refused
  // because its target is not the patch's older tree fails with
  // NotTheOlderTree, which a script may want to tell from other failures.
  std::u16string result;
  std::vector<std::u16string> skipped;
  TreeCheck check = TreeCheck::NotChecked;
  std::optional<ChangeListing> listing;  // after success, see JobResult
};

// Called once the job has returned normally, with its result text, before
// the completion line: the place where a front end shows the result and keeps the
// user's settings. What it throws is reported like a failure of the job.
using JobSuccessHook = std::function<void(const std::u16string& result)>;

// Runs one job on the calling thread, the one place that wraps every job:
// times it, calls its entry point with the parameters, calls onSuccess after
// success, reports an error (ShowError), a cancellation ("Cancelled" on the
// status line, after clearing cancelRequested so the report cannot raise
// again) or any other failure, and ends with "Completed.  Time:" + elapsed on
// the detail line. The front end clears cancelRequested and locks its
// controls before, and unlocks after. Never throws, provided onSuccess's
// errors and ShowMessage do not: a COPCancel from the final reports is
// swallowed, since they are not cancellation points. A job whose entry point
// is nullptr fails as an unknown error.
JobRun RunJob(CProgressSink& sink, std::atomic<bool>& cancelRequested, JobKind kind,
              const JobParams& params, const JobSuccessHook& onSuccess = {});

}  // namespace torquelin
