// Apply Patch (errors located .\fileio): the checks before anything is
// touched, the five phases that change the target, the report and the closing
// check.
#include "engine/jobs/apply_patch.h"

#include <algorithm>
#include <set>
#include <utility>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/base/info_entries.h"
#include "engine/io/file_system.h"
#include "engine/jobs/output_rules.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"
#include "engine/tree/fingerprint.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"
#include "engine/xml/diff_report.h"
#include "platform/files.h"
#include "platform/safe_path.h"

namespace {

void RequireSafe(const std::u16string& path) {
  if (!platform::IsSafeRelativePath(path)) {
    Raise(site::kApplyUnsafePath, path);
  }
}

// A patch is refused whole, before the target is touched, when any path it
// would act on could reach outside the directory, or when a content record
// is stored under another path than the index key that leads to it (the
// report and the attributes would then speak of one file while another is
// written). Returns the index, so extraction uses exactly what was checked.
PatchFileIndex CheckPatchPaths(CProgressSink& progress, zrFile::Reader& reader, int64_t indexOffset,
                               const ChangeSet& patch) {
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs,
                               &patch.ChangedFiles, &patch.NewFiles}) {
    std::for_each(list->begin(), list->end(), RequireSafe);
  }
  for (const auto& [path, word] : patch.AttributeChanges) RequireSafe(path);

  reader.seek(indexOffset);
  PatchFileIndex index = ReadFileIndex(reader, progress);
  for (const auto& [path, offset] : index) {
    RequireSafe(path);
    reader.seek(offset);
    DirectInput in(reader);
    ExpectTag(in, RecordType::FileContent);
    const std::u16string stored = ReadString(in);
    if (stored != path) {
      Raise(site::kApplyIndexMismatch, path + u" leads to the content stored for " + stored);
    }
  }
  return index;
}

// A directory whose owner may not write it refuses new and removed entries,
// which a directory's read-only attribute never did on Windows; yet the older
// tree may hold such directories with entries the patch must change. Their
// owner gets the write bit while the tree changes, and every one gets its
// mode back before the patch's own attributes are set, or when the run stops
// early: nothing here may outlive the run.
class WritableParents {
 public:
  WritableParents() = default;
  WritableParents(const WritableParents&) = delete;
  WritableParents& operator=(const WritableParents&) = delete;
  ~WritableParents() { Restore(); }

  // Opens the existing parents (the target itself included) of every path
  // the patch removes, creates or writes.
  void Open(const std::u16string& directory, const ChangeSet& patch, const PatchFileIndex& index) {
    std::set<std::u16string> parents;
    const auto addParent = [&](const std::u16string& path) {
      parents.insert(path.substr(0, path.rfind(u'\\')));
    };
    for (const PathList* list :
         {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs}) {
      std::for_each(list->begin(), list->end(), addParent);
    }
    for (const auto& [path, offset] : index) addParent(path);
    for (const std::u16string& parent : parents) {
      const std::u16string full = JoinPath(directory, parent);
      const uint32_t word = platform::GetAttributeWord(full);
      if (word == platform::kInvalidAttributes || !IsDirectoryAttribute(word) ||
          (word & platform::kAttrReadOnly) == 0) {
        continue;
      }
      // A zero high half with the read-only bit clear adds the owner's write bit.
      if (platform::SetAttributeWord(full, 0)) opened_.emplace_back(full, word);
    }
  }

  // Puts back every mode changed by Open; a directory removed meanwhile is
  // skipped. Safe to call twice.
  void Restore() {
    for (const auto& [full, word] : opened_) platform::SetAttributeWord(full, word);
    opened_.clear();
  }

 private:
  std::vector<std::pair<std::u16string, uint32_t>> opened_;
};

std::u16string TreeFingerprint(CProgressSink& progress, const std::u16string& directory,
                               const std::u16string& filter, bool withFileIds) {
  CDirSnapshot snapshot = BuildSnapshot(progress, directory, filter, withFileIds);
  return ComputeFingerprint(progress, snapshot);
}

}  // namespace

void ApplyPatch(CProgressSink& progress, const std::u16string& directoryText,
                const std::u16string& patchPath, const std::u16string& reportPath,
                bool continueOnErrors, bool ignoreFingerprint) {
  const std::u16string directory = NormalizePath(directoryText);
  CheckOutputs({directory},
               {{patchPath, FileArgument::Use::Read}, {reportPath, FileArgument::Use::Report}});
  CheckReportWritable(reportPath);
  progress.SetStatus(u"Applying a file");
  const ChangeSet patch = LoadPatchInfo(progress, patchPath);
  if (!DirectoryExists(directory)) {
    Raise(site::kApplyDirectoryMissing, directory);
  }
  zrFile::Reader reader(patchPath);
  const int64_t indexOffset = ReadPatchHeader(reader);
  const PatchFileIndex fileIndex = CheckPatchPaths(progress, reader, indexOffset, patch);

  // Without the check the scan still runs (without ids), so every run shows
  // the same phases.
  const std::u16string before =
      TreeFingerprint(progress, directory, patch.IgnoreFilter, !ignoreFingerprint);
  if (!ignoreFingerprint && before != patch.OlderTreeID) {
    Raise(site::kApplyFingerprintMismatch, before + u" expected:" + patch.OlderTreeID);
  }

  ChangeSet applied;
  PathList errorTexts;
  WritableParents writableParents;
  writableParents.Open(directory, patch, fileIndex);

  progress.SetStatus(u"Removing Files.");
  progress.SetRange(static_cast<uint32_t>(patch.UnlinkedFiles.size()));
  for (const std::u16string& path : patch.UnlinkedFiles) {
    progress.Step();
    progress.SetDetail(u"Removing: " + path);
    if (RemoveItem(continueOnErrors, JoinPath(directory, path))) {
      applied.UnlinkedFiles.push_back(path);
    }
  }

  progress.SetStatus(u"Removing Directories.");
  PathList unlinkedDirs = patch.UnlinkedDirectories;
  progress.SetRange(static_cast<uint32_t>(unlinkedDirs.size()));
  // Ascending order puts a parent before everything below it; walking it
  // backwards empties every directory before its parent is removed.
  std::sort(unlinkedDirs.begin(), unlinkedDirs.end());
  for (auto it = unlinkedDirs.rbegin(); it != unlinkedDirs.rend(); ++it) {
    progress.Step();
    progress.SetDetail(u"Removing: " + *it);
    if (RemoveItem(continueOnErrors, JoinPath(directory, *it))) {
      applied.UnlinkedDirectories.push_back(*it);
    }
  }

  progress.SetStatus(u"Creating Directories.");
  progress.SetRange(static_cast<uint32_t>(patch.NewDirs.size()));
  for (const std::u16string& path : patch.NewDirs) {
    progress.Step();
    progress.SetDetail(u"Creating: " + path);
    if (platform::MakeDirectory(JoinPath(directory, path))) {
      applied.NewDirs.push_back(path);
    } else if (!continueOnErrors) {
      Raise(site::kApplyCreateDirectory, directory + path);
    }
  }

  progress.SetStatus(u"Restoring files.");
  progress.SetRange(static_cast<uint32_t>(fileIndex.size()));
  for (const auto& [path, offset] : fileIndex) {
    progress.Step();
    progress.SetDetail(u"Extructing file: " + path);
    try {
      if (!ExtractFile(reader, continueOnErrors, progress, offset, directory)) {
        // Tolerated, and the shortened file stays; but the report must say
        // so, or a damaged file would pass for a restored one.
        errorTexts.push_back(CZRErr(site::kApplyShortenedFile, path).GetText());
      }
      applied.ChangedFiles.push_back(path);
    } catch (const CZRErr& error) {
      if (!continueOnErrors) throw;
      errorTexts.push_back(error.GetText());
    }
  }

  writableParents.Restore();
  progress.SetStatus(u"Restoring FS attributes.");
  progress.SetRange(static_cast<uint32_t>(patch.AttributeChanges.size()));
  for (const auto& [path, word] : patch.AttributeChanges) {
    progress.Step();
    const std::u16string full = directory + u"\\" + path;
    progress.SetDetail(u"Restoring: " + full);
    if (platform::SetAttributeWord(full, word)) {
      applied.AttributeChanges[path] = word;
    } else if (!continueOnErrors) {
      Raise(site::kApplySetAttributes, path);
    }
  }

  AddInfoEntries(applied.Info);
  if (!reportPath.empty()) WriteDiffReport(progress, reportPath, applied, errorTexts);
  progress.SetStatus(u"Patch applied ok.");

  if (!ignoreFingerprint) {
    const std::u16string after = TreeFingerprint(progress, directory, patch.IgnoreFilter, true);
    progress.SetStatus(after == patch.NewerTreeID ? u"New fingerprint verified."
                                                  : kAppliedFingerprintMismatchText);
  }
}
