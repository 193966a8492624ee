// Job 5: the fingerprint of one directory.
#include "engine/jobs/calculate_fingerprint.h"

#include <system_error>
#include <thread>

#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"

namespace torquelin {

std::u16string CalculateFingerprint(CProgressSink& progress, const std::u16string& directory,
                                    const std::u16string& filter) {
  const std::u16string root = NormalizePath(directory);
  RequireDirectory(site::kFingerprintDirectoryMissing, root);
  // The ids are needed only for the fingerprint: held as their bytes, a
  // tree of a million files needs a fifth of the memory for them.
  std::vector<FileId> ids;
  // The scan works out the sorted order on its threads as it goes.
  PathOrder order;
  CDirSnapshot snapshot = BuildSnapshot(progress, root, CIgnoreFilter(filter), filter,
                                        FileIds::Compute, &ids, nullptr, &order);
  // With the words in `order`, nothing reads the snapshot's map of them
  // again: another thread frees its nodes (one per entry, as long to free
  // as the fingerprint takes) while this one hashes.
  struct Freeing {
    std::thread thread;
    ~Freeing() {
      if (thread.joinable()) thread.join();
    }
  } freeing;
  if (order.Covers(snapshot)) {
    try {
      freeing.thread =
          std::thread([words = std::move(snapshot.attributes)]() mutable { words.clear(); });
    } catch (const std::system_error&) {
      // No thread to spare: the map was freed here.
    }
  }
  std::u16string fingerprint = ComputeFingerprint(progress, snapshot, ids, order);
  progress.SetStatus(u"Fingerprint calculated.");
  return fingerprint;
}

}  // namespace torquelin
