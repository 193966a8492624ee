// Apply Patch (errors located .\fileio): the checks before anything is
// touched, the five phases that change the target, the report and the closing
// check.
#include "engine/jobs/apply_patch.h"

#include <algorithm>
#include <optional>
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
#include "engine/tree/ignore_filter.h"
#include "engine/tree/normalize_path.h"
#include "engine/tree/walker.h"
#include "engine/xml/diff_report.h"
#include "platform/directory_handle.h"
#include "platform/files.h"
#include "platform/safe_path.h"
#include "platform/system_error.h"

namespace {

// Calls fn with every proper ancestor of a relative path ("\a\b\c" gives
// "\a", then "\a\b").
template <typename Fn>
void ForEachAncestor(const std::u16string& path, Fn fn) {
  for (size_t end = path.find(u'\\', 1); end != std::u16string::npos;
       end = path.find(u'\\', end + 1)) {
    fn(path.substr(0, end));
  }
}

// A path the patch acts on must stay inside the directory and must be one a
// patch made with its own filter could hold: a path the filter ignores, or
// one below an ignored directory, is refused whole (a patch whose filter is
// "*" would otherwise see an empty tree, whatever the target holds).
void RequireActionable(const std::u16string& path, const CIgnoreFilter& filter) {
  if (!platform::IsSafeRelativePath(path)) {
    Raise(site::kApplyUnsafePath, path);
  }
  std::u16string matched;
  bool ignored = filter.Match(path, matched);
  ForEachAncestor(path, [&](const std::u16string& ancestor) {
    ignored = ignored || filter.Match(ancestor, matched);
  });
  if (ignored) Raise(site::kApplyIgnoredPath, path);
}

void CheckListedPaths(const ChangeSet& patch, const CIgnoreFilter& filter) {
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs,
                               &patch.ChangedFiles, &patch.NewFiles}) {
    for (const std::u16string& path : *list) RequireActionable(path, filter);
  }
  for (const auto& [path, word] : patch.AttributeChanges) RequireActionable(path, filter);
}

// One file the patch carries, as checked before anything changes.
struct StoredFile {
  std::u16string path;
  int64_t offset = 0;
  // Why its record cannot be used; only ever set when errors are tolerated,
  // and then only this file is skipped.
  std::optional<CZRErr> damage;
};

// Reads the record's head as extraction will, so no later step can fail on
// a record this check let pass: its place between the header and the index,
// its tag, its path (the index key that leads to it: the report and the
// attributes would otherwise speak of one file while another is written),
// and a length that ends before the index.
void CheckRecord(zrFile::Reader& reader, int64_t indexOffset, const std::u16string& path,
                 int64_t offset) {
  if (offset < kPatchHeaderSize || offset >= indexOffset) {
    Raise(site::kApplyRecordPosition, path);
  }
  reader.seek(offset);
  DirectInput in(reader);
  ExpectTag(in, RecordType::FileContent);
  const std::u16string stored = ReadString(in);
  if (stored != path) {
    Raise(site::kApplyIndexMismatch, path + u" leads to the content stored for " + stored);
  }
  const int64_t length = ReadQword(in);
  if (length < 0 || length > indexOffset - reader.tell()) {
    Raise(site::kApplyRecordLength, path);
  }
}

// The file index, each entry checked. An index key that could reach
// outside the directory refuses the patch in both modes; a damaged record
// refuses it only when errors are not tolerated.
std::vector<StoredFile> CheckStoredFiles(CProgressSink& progress, zrFile::Reader& reader,
                                         int64_t indexOffset, const CIgnoreFilter& filter,
                                         bool continueOnErrors) {
  reader.seek(indexOffset);
  const PatchFileIndex index = ReadFileIndex(reader, progress);
  std::vector<StoredFile> files;
  files.reserve(index.size());
  for (const auto& [path, offset] : index) {
    RequireActionable(path, filter);
    StoredFile file{path, offset, std::nullopt};
    try {
      CheckRecord(reader, indexOffset, path, offset);
    } catch (const CZRErr& error) {
      if (!continueOnErrors) throw;
      file.damage = error;
    }
    files.push_back(std::move(file));
  }
  return files;
}

// A path beneath a symbolic link of the target would be changed wherever
// the link points: refused whole, naming it, unless the patch removes that
// link first (a link the newer tree replaced by a directory).
void RefuseLinksOnTheWay(const CDirSnapshot& target, const ChangeSet& patch,
                         const std::vector<StoredFile>& files, const std::u16string& directory) {
  const std::set<std::u16string> removed(patch.UnlinkedFiles.begin(), patch.UnlinkedFiles.end());
  const auto check = [&](const std::u16string& path) {
    ForEachAncestor(path, [&](const std::u16string& ancestor) {
      const auto word = target.attributes.find(ancestor);
      if (word != target.attributes.end() && platform::IsLinkWord(word->second) &&
          removed.count(ancestor) == 0) {
        Raise(site::kApplyThroughLink, JoinPath(directory, path));
      }
    });
  };
  for (const PathList* list : {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs}) {
    std::for_each(list->begin(), list->end(), check);
  }
  for (const auto& [path, word] : patch.AttributeChanges) check(path);
  for (const StoredFile& file : files) check(file.path);
}

// The error for a change that failed beneath the target: a symbolic link met
// on the way is named as such, any other failure gets the phase's own error.
// Built at once, so it carries the failed call's errno.
CZRErr ChangeError(const ErrorSite& usual, const std::u16string& detail,
                   const std::u16string& fullPath) {
  if (platform::LastErrorIsLinkInTheWay()) return CZRErr(site::kApplyThroughLink, fullPath);
  return CZRErr(usual, detail);
}

// What the tolerant mode skipped, in order; the strict mode throws instead.
class Skipped {
 public:
  explicit Skipped(bool continueOnErrors) : continueOnErrors_(continueOnErrors) {}

  void Add(const CZRErr& error) {
    if (!continueOnErrors_) throw error;
    messages_.push_back(error.message);
  }

  std::vector<std::u16string> Take() { return std::move(messages_); }

 private:
  bool continueOnErrors_;
  std::vector<std::u16string> messages_;
};

// A directory whose owner may not write it refuses new and removed entries,
// which a directory's read-only attribute never did on Windows; yet the older
// tree may hold such directories with entries the patch must change. Their
// owner gets the write bit while the tree changes, and every one gets its
// mode back before the patch's own attributes are set, or when the run stops
// early: nothing here may outlive the run. Both go through the target's
// handle like every other change.
class WritableParents {
 public:
  explicit WritableParents(const platform::DirectoryHandle& target) : target_(target) {}
  WritableParents(const WritableParents&) = delete;
  WritableParents& operator=(const WritableParents&) = delete;
  ~WritableParents() { Restore(); }

  // Opens the existing parents (the target itself included) of every path
  // the patch removes, creates or writes.
  void Open(const ChangeSet& patch, const std::vector<StoredFile>& files) {
    std::set<std::u16string> parents;
    const auto addParent = [&](const std::u16string& path) {
      parents.insert(path.substr(0, path.rfind(u'\\')));
    };
    for (const PathList* list :
         {&patch.UnlinkedFiles, &patch.UnlinkedDirectories, &patch.NewDirs}) {
      std::for_each(list->begin(), list->end(), addParent);
    }
    for (const StoredFile& file : files) addParent(file.path);
    for (const std::u16string& parent : parents) {
      platform::EntryStatus status;
      if (!target_.Stat(parent, status) || !status.isDirectory ||
          (status.word & platform::kAttrReadOnly) == 0) {
        continue;
      }
      // A zero high half with the read-only bit clear adds the owner's write bit.
      if (target_.SetMode(parent, 0)) opened_.emplace_back(parent, status.word);
    }
  }

  // Puts back every mode changed by Open; a directory removed meanwhile is
  // skipped. Safe to call twice.
  void Restore() {
    for (const auto& [parent, word] : opened_) target_.SetMode(parent, word);
    opened_.clear();
  }

 private:
  const platform::DirectoryHandle& target_;
  std::vector<std::pair<std::u16string, uint32_t>> opened_;
};

}  // namespace

std::vector<std::u16string> ApplyPatch(CProgressSink& progress, const std::u16string& directoryText,
                                       const std::u16string& patchPath,
                                       const std::u16string& reportPath, bool continueOnErrors,
                                       bool ignoreFingerprint) {
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
  const CIgnoreFilter filter(patch.IgnoreFilter);
  CheckListedPaths(patch, filter);
  const std::vector<StoredFile> storedFiles =
      CheckStoredFiles(progress, reader, indexOffset, filter, continueOnErrors);

  // Without the check the scan still runs (without ids), so every run shows
  // the same phases.
  CDirSnapshot before =
      BuildSnapshot(progress, directory, filter, patch.IgnoreFilter, !ignoreFingerprint);
  const std::u16string fingerprint = ComputeFingerprint(progress, before);
  if (!ignoreFingerprint && fingerprint != patch.OlderTreeID) {
    Raise(site::kApplyFingerprintMismatch, fingerprint + u" expected:" + patch.OlderTreeID);
  }
  RefuseLinksOnTheWay(before, patch, storedFiles, directory);
  before = CDirSnapshot();

  platform::DirectoryHandle target;
  if (!target.Open(directory)) {
    Raise(site::kApplyDirectoryMissing, directory);
  }
  ChangeSet applied;
  PathList errorTexts;
  Skipped skipped(continueOnErrors);
  WritableParents writableParents(target);
  writableParents.Open(patch, storedFiles);

  progress.SetStatus(u"Removing Files.");
  progress.SetRange(static_cast<uint32_t>(patch.UnlinkedFiles.size()));
  const auto remove = [&](const std::u16string& path, PathList& done) {
    bool wasDirectory = false;
    if (target.Remove(path, &wasDirectory)) {
      done.push_back(path);
      return;
    }
    const std::u16string full = JoinPath(directory, path);
    skipped.Add(ChangeError(wasDirectory ? site::kRemoveDirectory : site::kRemoveFile, full, full));
  };
  for (const std::u16string& path : patch.UnlinkedFiles) {
    progress.Step();
    progress.SetDetail(u"Removing: " + path);
    remove(path, applied.UnlinkedFiles);
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
    remove(*it, applied.UnlinkedDirectories);
  }

  progress.SetStatus(u"Creating Directories.");
  progress.SetRange(static_cast<uint32_t>(patch.NewDirs.size()));
  for (const std::u16string& path : patch.NewDirs) {
    progress.Step();
    progress.SetDetail(u"Creating: " + path);
    if (target.MakeDirectory(path)) {
      applied.NewDirs.push_back(path);
    } else {
      const std::u16string full = JoinPath(directory, path);
      skipped.Add(ChangeError(site::kApplyCreateDirectory, full, full));
    }
  }

  progress.SetStatus(u"Restoring files.");
  progress.SetRange(static_cast<uint32_t>(storedFiles.size()));
  const auto reportExtractionError = [&](const CZRErr& error) {
    errorTexts.push_back(error.GetText());
    skipped.Add(error);
  };
  for (const StoredFile& file : storedFiles) {
    progress.Step();
    progress.SetDetail(u"Extructing file: " + file.path);
    // The carried file's word says whether it is a link.
    const auto word = patch.AttributeChanges.find(file.path);
    const bool asLink = word != patch.AttributeChanges.end() && platform::IsLinkWord(word->second);
    try {
      if (file.damage) throw *file.damage;
      if (!ExtractFileBeneath(reader, continueOnErrors, progress, file.offset, target, directory,
                              file.path, asLink)) {
        // Tolerated, and the shortened file stays; but the report must say
        // so, or a damaged file would pass for a restored one.
        reportExtractionError(CZRErr(site::kApplyShortenedFile, file.path));
      }
      applied.ChangedFiles.push_back(file.path);
    } catch (const CZRErr& error) {
      if (!continueOnErrors) throw;
      reportExtractionError(error);
    }
  }

  writableParents.Restore();
  progress.SetStatus(u"Restoring FS attributes.");
  progress.SetRange(static_cast<uint32_t>(patch.AttributeChanges.size()));
  for (const auto& [path, word] : patch.AttributeChanges) {
    progress.Step();
    const std::u16string full = directory + u"\\" + path;
    progress.SetDetail(u"Restoring: " + full);
    if (platform::IsLinkWord(word)) {
      // A link has no permissions of its own: its word holds when a link
      // stands there.
      platform::EntryStatus status;
      if (!target.Stat(path, status)) {
        skipped.Add(ChangeError(site::kApplySetAttributes, path, full));
      } else if (!status.isLink) {
        skipped.Add(CZRErr(site::kApplySetAttributes, path));
      } else {
        applied.AttributeChanges[path] = word;
      }
    } else if (target.SetMode(path, word)) {
      applied.AttributeChanges[path] = word;
    } else {
      skipped.Add(ChangeError(site::kApplySetAttributes, path, full));
    }
  }

  AddInfoEntries(applied.Info);
  if (!reportPath.empty()) WriteDiffReport(progress, reportPath, applied, errorTexts);
  progress.SetStatus(u"Patch applied ok.");

  if (!ignoreFingerprint) {
    CDirSnapshot after = BuildSnapshot(progress, directory, filter, patch.IgnoreFilter, true);
    progress.SetStatus(ComputeFingerprint(progress, after) == patch.NewerTreeID
                           ? u"New fingerprint verified."
                           : kAppliedFingerprintMismatchText);
  }
  return skipped.Take();
}
