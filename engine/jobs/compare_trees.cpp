// Tree comparison: two snapshots become a change set, a report and a patch.
#include "engine/jobs/compare_trees.h"

#include <algorithm>

#include "engine/base/error_sites.h"
#include "engine/base/info_entries.h"
#include "engine/base/number_text.h"
#include "engine/io/file_system.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_writer.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/ordered_lookup.h"
#include "engine/xml/diff_report.h"
#include "platform/files.h"

namespace {

// Looks up one snapshot's words and ids for paths asked in ascending order.
class SortedView {
 public:
  explicit SortedView(const CDirSnapshot& snapshot)
      : words_(snapshot.attributes), ids_(snapshot.fileIds) {}

  // 0 when the snapshot lacks the path; an unreadable item was recorded as 0
  // too, and counts as absent.
  uint32_t WordOf(const std::u16string& path) {
    const uint32_t* word = words_.Find(path);
    return word == nullptr ? 0 : *word;
  }

  const std::u16string& IdOf(const std::u16string& path) {
    static const std::u16string kNone;
    const std::u16string* id = ids_.Find(path);
    return id == nullptr ? kNone : *id;
  }

 private:
  OrderedLookup<AttributeMap> words_;
  OrderedLookup<TextMap> ids_;
};

void StartPhase(CProgressSink& progress, const std::u16string& status, size_t items) {
  progress.SetStatus(status);
  progress.SetRange(static_cast<uint32_t>(items));
  progress.ResetProgress();
}

// The lists and AttributeChanges; the snapshots' lists are sorted already,
// so every list comes out ascending except UnlinkedDirectories' order, which
// the caller fixes, and each pass over a list walks the maps alongside.
void DetectChanges(CProgressSink& progress, const CDirSnapshot& newer, const CDirSnapshot& older,
                   ChangeSet& changes) {
  StartPhase(progress, u"Detecting deleted files...",
             older.files.size() + older.directories.size());
  SortedView newerOfFiles(newer);
  for (const std::u16string& path : older.files) {
    const uint32_t now = newerOfFiles.WordOf(path);
    if (now == 0 || IsDirectoryAttribute(now)) changes.UnlinkedFiles.push_back(path);
    progress.Step();
  }
  SortedView newerOfDirectories(newer);
  for (const std::u16string& path : older.directories) {
    if (!IsDirectoryAttribute(newerOfDirectories.WordOf(path))) {
      changes.UnlinkedDirectories.push_back(path);
    }
    progress.Step();
  }

  StartPhase(progress, u"Comparing files...", newer.files.size() + newer.directories.size());
  SortedView newFiles(newer);
  SortedView oldFiles(older);
  for (const std::u16string& path : newer.files) {
    const uint32_t n = newFiles.WordOf(path);
    const uint32_t o = oldFiles.WordOf(path);
    bool carriesContent = true;
    if (o == 0) {
      changes.NewFiles.push_back(path);
    } else if (oldFiles.IdOf(path) != newFiles.IdOf(path) ||
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
  SortedView newDirectories(newer);
  SortedView oldDirectories(older);
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

}  // namespace

ChangeSet CompareSnapshots(CProgressSink& progress, CDirSnapshot& newer, CDirSnapshot& older,
                           CElapsedTimer& timer) {
  ChangeSet changes;
  changes.NewerTreeID = ComputeFingerprint(progress, newer);
  changes.OlderTreeID = ComputeFingerprint(progress, older);
  if (newer.filter != older.filter) {
    Raise(site::kFiltersDiffer, newer.filter + u" old:" + older.filter);
  }
  changes.IgnoreFilter = older.filter;
  changes.ignoredNew = newer.ignored;
  changes.ignoredOld = older.ignored;

  DetectChanges(progress, newer, older, changes);
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

void CompareTrees(CProgressSink& progress, CDirSnapshot& newer, CDirSnapshot& older,
                  CElapsedTimer& timer, const std::u16string& patchPath,
                  const std::u16string& reportPath) {
  const ChangeSet changes = CompareSnapshots(progress, newer, older, timer);
  if (!reportPath.empty()) WriteDiffReport(progress, reportPath, changes, {});
  WritePatch(progress, changes, newer.root, patchPath, &newer.fileIds);
}
