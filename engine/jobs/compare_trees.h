// Tree comparison: turns an older and a newer snapshot into a change set, and
// writes that out as an optional report and a patch.
#pragma once

#include <string>
#include <vector>

#include "engine/base/elapsed_timer.h"
#include "engine/base/progress.h"
#include "engine/jobs/compact_contents.h"
#include "engine/patch/change_set.h"
#include "engine/patch/content_encoder.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/snapshot.h"

namespace torquelin {

// Fingerprints both snapshots (newer first; this sorts their lists in
// place), refuses snapshots made with different filters ("Ignored filters do
// not match: new:" + newer filter + " old:" + older filter, .\vudare), then
// decides from paths, attribute words and file ids alone:
//   UnlinkedFiles        older files that are not files in the newer tree
//   UnlinkedDirectories  older directories that are not directories in the
//                        newer tree (sorted, so a parent precedes its children)
//   NewFiles             newer files absent from the older tree
//   ChangedFiles         newer files present in the older tree with another id
//                        (a directory replaced by a file lands here)
//   NewDirs              newer directories that were not directories before
//   AttributeChanges     the newer word of every new or changed entry and of
//                        every entry whose word differs
// An attribute word of 0 (unreadable) counts as absent. The info entries get
// the standard ones, the eight counts, both roots and fingerprints, and
// "AnalysisTime" from `timer`, which is stopped here. Progress: the
// fingerprints', then "Detecting deleted files..." and "Comparing files...",
// each stepping once per entry. Every failure propagates.
ChangeSet CompareSnapshots(CProgressSink& progress, CDirSnapshot& newer, CDirSnapshot& older,
                           CElapsedTimer& timer);
// A scanned tree that keeps its file ids apart as raw bytes, in the order
// of its files (BuildSnapshot's `ids`), with the sorted order the scan
// worked out (`order`): a job that holds two large trees saves most of a
// map entry per file, and sorting them again.
struct CompactTree {
  CDirSnapshot snapshot;
  std::vector<FileId> ids;
  PathOrder order;
};

// The same for two compact trees. The fingerprints sort each list of ids
// along with its files.
ChangeSet CompareSnapshots(CProgressSink& progress, CompactTree& newer, CompactTree& older,
                           CElapsedTimer& timer);

// CompareSnapshots, then the report when reportPath is not empty, and the
// patch at patchPath (contents read from newer.root). Every failure
// propagates; a report already written stays when the patch then fails.
// With `compact`, the patch is a compact one made with those options
// (WriteCompactPatch, on FileIdThreadCount() threads); its deltas are made
// from the files below older.root only when olderContents says it is a
// directory.
void CompareTrees(CProgressSink& progress, CDirSnapshot& newer, CDirSnapshot& older,
                  CElapsedTimer& timer, const std::u16string& patchPath,
                  const std::u16string& reportPath, const CompactOptions* compact = nullptr,
                  OlderSource olderContents = OlderSource::Vault);
// The same for two compact trees, as CompareSnapshots' second form; the
// older tree is a directory.
void CompareTrees(CProgressSink& progress, CompactTree& newer, CompactTree& older,
                  CElapsedTimer& timer, const std::u16string& patchPath,
                  const std::u16string& reportPath, const CompactOptions* compact = nullptr);

}  // namespace torquelin
