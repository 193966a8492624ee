// Tree comparison: two snapshots become a change set, a report and a patch.
#include "engine/jobs/compare_trees.h"

#include <algorithm>

#include "engine/base/error_sites.h"
#include "engine/base/info_entries.h"
#include "engine/base/number_text.h"
#include "engine/io/file_system.h"
#include "engine/jobs/compact_contents.h"
#include "engine/patch/change_set.h"
#include "engine/patch/compact_writer.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/ordered_lookup.h"
#include "engine/xml/diff_report.h"
#include "platform/attribute_word.h"

namespace torquelin {

namespace {

// A snapshot's ids as its fileIds map holds them, found for paths asked in
// ascending order.
class MappedIds {
 public:
  explicit MappedIds(const CDirSnapshot& snapshot) : ids_(snapshot.fileIds) {}
  const std::u16string* Find(const std::u16string& path) { return ids_.Find(path); }

 private:
  OrderedLookup<TextMap> ids_;
};

// A snapshot's ids as raw bytes beside its sorted files (a job that holds
// two large trees keeps them so), found the same way.
class RawIds {
 public:
  RawIds(const CDirSnapshot& snapshot, const std::vector<FileId>& ids)
      : files_(snapshot.files), ids_(ids) {}
  const FileId* Find(const std::u16string& path) {
    while (cursor_ < files_.size() && files_[cursor_] < path) ++cursor_;
    return cursor_ < files_.size() && files_[cursor_] == path ? &ids_[cursor_] : nullptr;
  }

 private:
  const PathList& files_;
  const std::vector<FileId>& ids_;
  size_t cursor_ = 0;
};

// Looks up one snapshot's words and ids for paths asked in ascending order.
template <class Ids>
class SortedView {
 public:
  explicit SortedView(const CDirSnapshot& snapshot, Ids ids)
      : words_(snapshot.attributes), ids_(std::move(ids)) {}

  // 0 when the snapshot lacks the path; an unreadable item was recorded as 0
  // too, and counts as absent.
  uint32_t WordOf(const std::u16string& path) {
    const uint32_t* word = words_.Find(path);
    return word == nullptr ? 0 : *word;
  }

  // True when both snapshots hold the same id for path, or neither holds one.
  bool SameId(const std::u16string& path, SortedView& other) {
    const auto* mine = ids_.Find(path);
    const auto* theirs = other.ids_.Find(path);
    if (mine == nullptr || theirs == nullptr) return mine == theirs;
    return *mine == *theirs;
  }

 private:
  OrderedLookup<AttributeMap> words_;
  Ids ids_;
};

void StartPhase(CProgressSink& progress, const std::u16string& status, size_t items) {
  progress.SetStatus(status);
  progress.SetRange(static_cast<uint32_t>(items));
  progress.ResetProgress();
}

// The lists and AttributeChanges; the snapshots' lists are sorted already,
// so every list comes out ascending except UnlinkedDirectories' order, which
// the caller fixes, and each pass over a list walks the maps alongside.
// idsOf(snapshot) gives the lookup of a snapshot's ids.
template <class IdsOf>
void DetectChanges(CProgressSink& progress, const CDirSnapshot& newer, const CDirSnapshot& older,
                   IdsOf idsOf, ChangeSet& changes) {
  const auto view = [&](const CDirSnapshot& snapshot) {
    return SortedView(snapshot, idsOf(snapshot));
  };
  StartPhase(progress, u"Detecting deleted files...",
             older.files.size() + older.directories.size());
  auto newerOfFiles = view(newer);
  for (const std::u16string& path : older.files) {
    const uint32_t now = newerOfFiles.WordOf(path);
    if (now == 0 || IsDirectoryAttribute(now)) changes.UnlinkedFiles.push_back(path);
    progress.Step();
  }
  auto newerOfDirectories = view(newer);
  for (const std::u16string& path : older.directories) {
    if (!IsDirectoryAttribute(newerOfDirectories.WordOf(path))) {
      changes.UnlinkedDirectories.push_back(path);
    }
    progress.Step();
  }

  StartPhase(progress, u"Comparing files...", newer.files.size() + newer.directories.size());
  auto newFiles = view(newer);
  auto oldFiles = view(older);
  for (const std::u16string& path : newer.files) {
    const uint32_t n = newFiles.WordOf(path);
    const uint32_t o = oldFiles.WordOf(path);
    bool carriesContent = true;
    if (o == 0) {
      changes.NewFiles.push_back(path);
    } else if (!oldFiles.SameId(path, newFiles) ||
               platform::IsLinkWord(n) != platform::IsLinkWord(o)) {
      // A file that became a link holding its very content (or the
      // reverse) has the same id, yet apply must replace the entry.
      changes.ChangedFiles.push_back(path);
    } else {
      carriesContent = false;
    }
    if (carriesContent || n != o) changes.AttributeChanges.insert_or_assign(path, n);
    progress.Step();
  }
  auto newDirectories = view(newer);
  auto oldDirectories = view(older);
  for (const std::u16string& path : newer.directories) {
    const uint32_t n = newDirectories.WordOf(path);
    const uint32_t o = oldDirectories.WordOf(path);
    if (!IsDirectoryAttribute(o)) changes.NewDirs.push_back(path);
    if (!IsDirectoryAttribute(o) || n != o) changes.AttributeChanges.insert_or_assign(path, n);
    progress.Step();
  }
}

void AddCount(TextMap& info, const char16_t* name, size_t count) {
  info.insert_or_assign(name, DecimalText(static_cast<int64_t>(count)));
}

// The change set once both fingerprints are known.
template <class IdsOf>
ChangeSet CompareFingerprinted(CProgressSink& progress, const CDirSnapshot& newer,
                               const CDirSnapshot& older, IdsOf idsOf, ChangeSet changes,
                               CElapsedTimer& timer) {
  if (newer.filter != older.filter) {
    Raise(site::kFiltersDiffer, newer.filter + u" old:" + older.filter);
  }
  changes.IgnoreFilter = older.filter;
  changes.ignoredNew = newer.ignored;
  changes.ignoredOld = older.ignored;

  DetectChanges(progress, newer, older, idsOf, changes);
  std::sort(changes.UnlinkedDirectories.begin(), changes.UnlinkedDirectories.end());

  TextMap& info = changes.Info;
  AddInfoEntries(info);
  AddCount(info, u"AttributeChanges", changes.AttributeChanges.size());
  AddCount(info, u"UnlinkedFiles", changes.UnlinkedFiles.size());
  AddCount(info, u"UnlinkedDirectories", changes.UnlinkedDirectories.size());
  AddCount(info, u"NewFiles", changes.NewFiles.size());
  AddCount(info, u"NewDirs", changes.NewDirs.size());
  AddCount(info, u"ChangedFiles", changes.ChangedFiles.size());
  AddCount(info, u"ignoredNew", changes.ignoredNew.size());
  AddCount(info, u"ignoredOld", changes.ignoredOld.size());
  info.insert_or_assign(u"NewerDir", newer.root);
  info.insert_or_assign(u"OlderDir", older.root);
  info.insert_or_assign(u"OlderTreeID", changes.OlderTreeID);
  info.insert_or_assign(u"NewerTreeID", changes.NewerTreeID);
  // The analysis time covers scanning and comparing, not the writing after.
  timer.Stop();
  info.insert_or_assign(u"AnalysisTime", timer.Format());
  return changes;
}

// The report when one is asked for, then the patch, whose writer checks
// each copied content against `scannedIds`.
void WriteOutputs(CProgressSink& progress, const ChangeSet& changes,
                  const std::u16string& newerRoot, const std::u16string& patchPath,
                  const std::u16string& reportPath, const TextMap& scannedIds) {
  if (!reportPath.empty()) WriteDiffReport(progress, reportPath, changes, {});
  WritePatch(progress, changes, newerRoot, patchPath, &scannedIds);
}

// The same for a compact patch; the writer checks every content it reads
// against the ids of `newer`.
void WriteCompactOutputs(CProgressSink& progress, ChangeSet changes, const ComparedFiles& newer,
                         const ComparedFiles& older, OlderSource olderContents,
                         const std::u16string& patchPath, const std::u16string& reportPath,
                         const CompactOptions& options) {
  if (!reportPath.empty()) WriteDiffReport(progress, reportPath, changes, {});
  CompactContents contents = PlanCompactContents(std::move(changes), newer, older, olderContents);
  TreeContentOpener newerFiles(newer.snapshot.root);
  TreeContentOpener olderFiles(older.snapshot.root);
  WriteCompactPatch(progress, contents.head, std::move(contents.requests), newerFiles, olderFiles,
                    patchPath, options, FileIdThreadCount());
}

}  // namespace

ChangeSet CompareSnapshots(CProgressSink& progress, CDirSnapshot& newer, CDirSnapshot& older,
                           CElapsedTimer& timer) {
  ChangeSet changes;
  changes.NewerTreeID = ComputeFingerprint(progress, newer);
  changes.OlderTreeID = ComputeFingerprint(progress, older);
  return CompareFingerprinted(
      progress, newer, older, [](const CDirSnapshot& s) { return MappedIds(s); },
      std::move(changes), timer);
}

ChangeSet CompareSnapshots(CProgressSink& progress, CompactTree& newer, CompactTree& older,
                           CElapsedTimer& timer) {
  ChangeSet changes;
  changes.NewerTreeID = ComputeFingerprintSorting(progress, newer.snapshot, newer.ids, newer.order);
  changes.OlderTreeID = ComputeFingerprintSorting(progress, older.snapshot, older.ids, older.order);
  return CompareFingerprinted(
      progress, newer.snapshot, older.snapshot,
      [&](const CDirSnapshot& s) {
        return RawIds(s, &s == &newer.snapshot ? newer.ids : older.ids);
      },
      std::move(changes), timer);
}

void CompareTrees(CProgressSink& progress, CDirSnapshot& newer, CDirSnapshot& older,
                  CElapsedTimer& timer, const std::u16string& patchPath,
                  const std::u16string& reportPath, const CompactOptions* compact,
                  OlderSource olderContents) {
  ChangeSet changes = CompareSnapshots(progress, newer, older, timer);
  if (compact != nullptr) {
    const std::vector<FileId> newerIds = IdsInFileOrder(newer);
    const std::vector<FileId> olderIds = IdsInFileOrder(older);
    WriteCompactOutputs(progress, std::move(changes), {newer, newerIds}, {older, olderIds},
                        olderContents, patchPath, reportPath, *compact);
    return;
  }
  WriteOutputs(progress, changes, newer.root, patchPath, reportPath, newer.fileIds);
}

void CompareTrees(CProgressSink& progress, CompactTree& newer, CompactTree& older,
                  CElapsedTimer& timer, const std::u16string& patchPath,
                  const std::u16string& reportPath, const CompactOptions* compact) {
  ChangeSet changes = CompareSnapshots(progress, newer, older, timer);
  if (compact != nullptr) {
    WriteCompactOutputs(progress, std::move(changes), {newer.snapshot, newer.ids},
                        {older.snapshot, older.ids}, OlderSource::Directory, patchPath, reportPath,
                        *compact);
    return;
  }
  // The writer checks each copied content against the id the scan gave it;
  // it needs those of the carried files alone.
  TextMap carriedIds;
  for (const PathList* list : {&changes.ChangedFiles, &changes.NewFiles}) {
    RawIds ids(newer.snapshot, newer.ids);  // each list is ascending on its own
    for (const std::u16string& path : *list) {
      if (const FileId* id = ids.Find(path)) carriedIds.emplace(path, DigestToHex(id->data()));
    }
  }
  WriteOutputs(progress, changes, newer.snapshot.root, patchPath, reportPath, carriedIds);
}

}  // namespace torquelin
