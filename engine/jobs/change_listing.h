// What a patch carries, or what a check of a tree found, listed for a front
// end that shows each change (the command line's listings and documents).
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "engine/base/progress.h"
#include "engine/jobs/verify_tree.h"
#include "engine/patch/change_set.h"

namespace torquelin {

// A plain value.
struct ChangeListing {
  // The fingerprints the change set holds: the patch's older and newer
  // trees; verify's vault and directory.
  std::u16string olderTree;
  std::u16string newerTree;
  // In DifferenceLines' order.
  std::vector<Difference> differences;
  // The length in bytes of each content a patch carries, by the change set's
  // path; empty for a comparison of a tree.
  std::map<std::u16string, uint64_t> sizes;
  // The bytes the patch spends on those contents: their lengths in a
  // classic patch, their shares of the compressed blocks in a compact one.
  uint64_t storedBytes = 0;
  // The patch file's size in bytes; 0 for a comparison of a tree.
  uint64_t patchBytes = 0;
};

// The fingerprints and differences of a change set.
ChangeListing ListChanges(const ChangeSet& changes);

// The changes the patch at patchPath carries, with the length of every
// content it stores and its size. Reads the patch info as LoadAnyPatchInfo
// does, with its errors, and the heads of the content records (a classic
// patch) or the contents' tables (a compact one), never the contents.
// Reports its progress to `progress`.
ChangeListing ListPatch(CProgressSink& progress, const std::u16string& patchPath);

}  // namespace torquelin
