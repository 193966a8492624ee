// The six jobs, their parameters, the dispatch table and the runner that
// wraps every job: locking the host, timing, reporting the outcome.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

#include "engine/base/progress.h"

enum class JobKind : int32_t {
  CreatePatch = 0,       // two directories -> patch
  CreateVaultPatch = 1,  // vault + directory -> patch
  ApplyPatch = 2,
  QueryPatch = 3,
  CreateVault = 4,
  Fingerprint = 5,
};
inline constexpr int kJobKindCount = 6;

// Parameters of each job, in the order the entry point takes them.
struct CreatePatchParams {
  std::u16string olderDir, newerDir, patchPath, reportPath, filter;
};
struct CreateVaultPatchParams {
  std::u16string newerDir, patchPath, vaultPath, reportPath;
  bool updateVault = false;
};
struct ApplyPatchParams {
  std::u16string directory, patchPath, reportPath;
  bool continueOnErrors = false;
  bool ignoreFingerprint = false;
};
struct QueryPatchParams {
  std::u16string patchPath, reportPath;
};
struct CreateVaultParams {
  std::u16string directory, filter, vaultPath;
};
struct FingerprintParams {
  std::u16string directory, filter;
};

// Alternative i holds the parameters of JobKind i.
using JobParams = std::variant<CreatePatchParams, CreateVaultPatchParams, ApplyPatchParams,
                               QueryPatchParams, CreateVaultParams, FingerprintParams>;

// An entry point: runs the job and returns its result text (only the
// fingerprint job has one; the others return empty text). Raises CZRErr or
// lets COPCancel pass.
using JobEntryPoint = std::u16string (*)(CProgressSink& progress, const JobParams& params);

// The dispatch table: the entry point of a job, or nullptr for a job this
// build does not have.
JobEntryPoint EntryPointFor(JobKind kind);

// The window-side operations the runner needs. The desktop window and the
// command-line program each implement it. Called on the job's thread.
class CJobHost {
 public:
  virtual ~CJobHost() = default;
  // Sets the cancellation request back to "none".
  virtual void ClearCancelRequest() = 0;
  virtual void SetTabStripEnabled(bool enabled) = 0;
  virtual void SetCancelEnabled(bool enabled) = 0;
  // Disables (locked) or enables every listed control of the job's page.
  virtual void SetPageLocked(JobKind kind, bool locked) = 0;
  // The job's parameters as the page's fields show them now.
  virtual JobParams ReadParameters(JobKind kind) = 0;
  // The result field of the fingerprint page.
  virtual void SetFingerprintField(const std::u16string& text) = 0;
  // Stores the page's values as the user's settings (after success only).
  virtual void SaveSettings(JobKind kind) = 0;
};

enum class JobOutcome { Succeeded, Failed, Cancelled };

// The outcome texts of the runner.
inline constexpr char16_t kCancelledText[] = u"Cancelled";
inline constexpr char16_t kUnknownErrorText[] = u"A general unknown error has occured.";
inline constexpr char16_t kCompletedText[] = u"Completed.  Time:";

// Runs one job on the calling thread: clear the cancel request, lock the
// host, time the job, call its entry point with the host's parameters, save
// the settings after success, report an error (message), a cancellation
// ("Cancelled") or any other failure, show "Completed.  Time:" + elapsed on
// the detail line and unlock. Never throws, provided the host's operations
// and ShowMessage do not: a COPCancel from the final SetStatus("Cancelled") or
// the completion line is swallowed, since those reports are not cancellation
// points. A job whose entry point is nullptr fails as an unknown error. The
// desktop host forgets its worker once this returns.
JobOutcome RunJob(CJobHost& host, CProgressSink& sink, JobKind kind);
