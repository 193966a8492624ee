// Job entry points of the operation core: Calculate Fingerprint.
#include "engine/calculate_fingerprint.h"
#include "engine/errors.h"
#include "engine/fingerprint.h"
#include "engine/fsops.h"
#include "engine/normalize_path.h"
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
