// Job entry points of the operation core: Calculate Fingerprint and Query Patch.
#include "engine/calculate_fingerprint.h"
#include "engine/diff_report.h"
#include "engine/errors.h"
#include "engine/fingerprint.h"
#include "engine/fsops.h"
#include "engine/normalize_path.h"
#include "engine/patch_reader.h"
#include "engine/query_patch.h"
#include "engine/walker.h"

std::u16string CalculateFingerprint(CProgressSink& progress, const std::u16string& directory,
                                    const std::u16string& filter) {
  const std::u16string root = NormalizePath(directory);
  if (!DirectoryExists(root)) {
    throw CZRErr(1, u"Directory for fingerprinting does  not exists: " + root,
                 location::kRezeriravodu, __LINE__);
  }
  CDirSnapshot snapshot = BuildSnapshot(progress, root, filter, true);
  std::u16string fingerprint = ComputeFingerprint(progress, snapshot);
  progress.SetStatus(u"Fingerprint calculated.");
  return fingerprint;
}

void QueryPatch(CProgressSink& progress, const std::u16string& patchPath,
                const std::u16string& reportPath) {
  if (reportPath.empty()) {
    throw CZRErr(0, u"No XML report file specified: ", location::kRezeriravodu, __LINE__);
  }
  const ChangeSet info = LoadPatchInfo(progress, patchPath);
  WriteDiffReport(progress, reportPath, info, {});
}
