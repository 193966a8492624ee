// Job 5: the fingerprint of one directory.
#include "engine/jobs/calculate_fingerprint.h"

#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"

std::u16string CalculateFingerprint(CProgressSink& progress, const std::u16string& directory,
                                    const std::u16string& filter) {
  const std::u16string root = NormalizePath(directory);
  if (!DirectoryExists(root)) {
    Raise(site::kFingerprintDirectoryMissing, root);
  }
  CDirSnapshot snapshot = BuildSnapshot(progress, root, filter, true);
  std::u16string fingerprint = ComputeFingerprint(progress, snapshot);
  progress.SetStatus(u"Fingerprint calculated.");
  return fingerprint;
}
