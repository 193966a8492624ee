// Jobs 0 and 1: a patch from two directories, or from a vault and a directory.
#pragma once

#include <string>

#include "engine/base/progress.h"
#include "engine/patch/content_encoder.h"

namespace torquelin {

// How a patch is written. Without `compact` the patch is the classic one,
// byte for byte; with it, the compact format (docs/compact-patch-format.md),
// its contents made with zstd at `level`.
struct CreatePatchOptions {
  bool compact = false;
  int level = kDefaultCompactLevel;
};

// Job 0. Normalises both directories, then checks, in this order, raising
// CZRErr (type 0, .\vudare) at the first that fails:
//   "Newer directory for patch creation does  not exists: " + newer directory
//   "Older directory for patch creation does  not exists: " + older directory
//   "No patch file specified: "
//   "Compression level out of range (1 to 22): " + level (only when compact)
// before anything is scanned. Scans newer, then older, with the same filter
// and file ids, compares them (CompareTrees writes the report when
// reportPath is not empty, and the patch), and ends with the status
// "Patch created ok.". The patch and report paths are used as given.
void CreatePatchFromDirectories(CProgressSink& progress, const std::u16string& olderDir,
                                const std::u16string& newerDir, const std::u16string& patchPath,
                                const std::u16string& reportPath, const std::u16string& filter,
                                const CreatePatchOptions& options = {});

// Job 1. The older state comes from the vault (its path is the older root
// the patch names). Checks, in this order: the newer-directory message of
// job 0, "No patch file specified: ", "No vault file specified: ", the level's
// message of job 0. Scans the
// newer directory with the vault's filter, compares and writes the report
// and patch. Only when the patch is complete and updateVault is set is the
// vault replaced (atomically) by the newer snapshot, its info left empty; so
// a failed or cancelled run leaves the vault as it was. "Patch created ok."
// is shown only after all of that succeeded.
void CreatePatchFromVault(CProgressSink& progress, const std::u16string& newerDir,
                          const std::u16string& patchPath, const std::u16string& vaultPath,
                          const std::u16string& reportPath, bool updateVault,
                          const CreatePatchOptions& options = {});

}  // namespace torquelin
