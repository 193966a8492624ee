// Job 2, Apply Patch: brings a copy of the older tree up to the newer state a
// patch records, checking the tree's fingerprint before and after.
#pragma once

#include <string>

#include "engine/base/progress.h"

// The closing status when the applied tree does not fingerprint as the newer
// tree. The job still ends normally; callers that must tell it apart (the
// command-line program's exit status) compare the last status with it.
inline constexpr char16_t kAppliedFingerprintMismatchText[] =
    u"After patch has been aplied fingerprints do not match.";

// Applies the patch at patchPath to directory (normalised first). In order:
// loads the patch info (the reader's errors, "No patch file specified: " for
// an empty path); refuses a missing directory ("Directory for patch
// application does  not exists: ", line 165); refuses, before anything is
// touched, a patch holding a path that could leave the directory or a file
// record stored under another path than its index key; unless
// ignoreFingerprint, refuses a directory whose fingerprint is not the patch's
// older one (line 188). Then removes files, removes directories deepest
// first, creates directories (line 238), writes every stored file, sets
// attributes (line 287), writes the report of what was done to reportPath
// when given, shows "Patch applied ok." and, unless ignoreFingerprint,
// "New fingerprint verified." or kAppliedFingerprintMismatchText.
//
// A directory of the target whose owner may not write it is opened for the
// owner while entries inside it change, and gets its mode back before the
// attributes are set (or when the run stops).
//
// continueOnErrors skips items that cannot be removed, created or given
// their attributes, and records failed or shortened extractions as report
// errors instead of stopping. Nothing is rolled back: after an error or a
// cancellation (COPCancel passes through) what was done stays done. Raises
// CZRErr of type 0. Runs on the job's thread.
void ApplyPatch(CProgressSink& progress, const std::u16string& directory,
                const std::u16string& patchPath, const std::u16string& reportPath,
                bool continueOnErrors, bool ignoreFingerprint);
