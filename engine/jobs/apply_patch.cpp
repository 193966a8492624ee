// Apply Patch (errors located .\fileio): the order of one run, from the
// checks before anything is touched, through finishing a killed run or
// staging and committing, to the report and the closing check. The steps
// live beside it: apply_checks, stored_files, apply_prediction,
// apply_changer, apply_journal.
#include "engine/jobs/apply_patch.h"

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "engine/jobs/apply_changer.h"
#include "engine/jobs/apply_checks.h"
#include "engine/jobs/apply_journal.h"
#include "engine/jobs/apply_prediction.h"
#include "engine/jobs/compact_staging.h"
#include "engine/jobs/output_rules.h"
#include "engine/jobs/stored_files.h"
#include "engine/patch/change_set.h"
#include "engine/patch/patch_format.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"
#include "engine/tree/ignore_filter.h"
#include "engine/tree/normalize_path.h"
#include "platform/directory_handle.h"
#include "platform/system_info.h"

namespace torquelin {

namespace {

// One run: what it holds open from its first check to its end. The members
// are declared in the order they must go away in: a run that stops while
// staging has its staged files removed (the journal) before the
// directories' modes are put back, and the root's last.
class ApplyRun {
 public:
  ApplyRun(CProgressSink& progress, const std::u16string& directoryText,
           const std::u16string& patchPath, const std::u16string& reportPath,
           const ApplyOptions& options)
      : progress_(progress),
        directory_(NormalizePath(directoryText)),
        patchPath_(patchPath),
        reportPath_(reportPath),
        options_(options),
        patch_(Load()),
        target_(OpenTarget()),
        writableRoot_(target_, !options.checkOnly),
        writable_(target_),
        journal_(target_, directory_, !options.checkOnly, OpenRootForJournal()),
        reader_(patchPath),
        indexOffset_(compact_ ? compact_->info.indexOffset : ReadPatchHeader(reader_)),
        identity_(IdentifyPatch(progress, reader_, indexOffset_, patch_, patchPath,
                                compact_ ? compact_->info.contentStart : kPatchHeaderSize)),
        filter_(patch_.IgnoreFilter) {
    writableRoot_.Open();
    if (platform::RunsAsSuperuser()) journal_.BeforeRemoval([this] { writableRoot_.Close(); });
    // A killed run that opened the root left its word in the journal.
    if (journal_.RootWord()) writableRoot_.Adopt(*journal_.RootWord());
    if (compact_) {
      // Every block's table and chunk heads, read past the contents: the
      // lengths, and damage to the structure, before anything changes.
      compact_->contents = SkimCompactContents(reader_, compact_->info);
      storedFiles_ = CompactStoredFiles(*compact_);
      CheckListedPaths(patch_, PathsOf(storedFiles_), filter_);
      CheckOlderPaths(compact_->info.head.olderIds, filter_);
      return;
    }
    storedFiles_ = ReadStoredFiles(progress_, reader_, indexOffset_);
    CheckListedPaths(patch_, PathsOf(storedFiles_), filter_);
    CheckRecords(reader_, indexOffset_, storedFiles_,
                 options_.continueOnErrors ? DamagedRecord::Tolerate : DamagedRecord::Refuse);
  }

  // A compact patch's contents are made from the older files, which the
  // commit removes or replaces before new contents go into place: it is
  // always staged.
  bool Staged() const { return compact_ || options_.way == ApplyWay::Staged; }

  // A journal an earlier run left: refused, finished (its commit), or
  // cleared (its staging). The run's result when that ends it.
  std::optional<ApplyResult> TakePending();
  // Scans the target and makes every check before the first change; the
  // run's result when that ends it (a check, a tree that is newer already).
  std::optional<ApplyResult> Check();
  ApplyResult ApplyInPlace();
  ApplyResult ApplyStaged();
  bool InPlace() const { return !Staged(); }

 private:
  ChangeSet Load() {
    CheckOutputs({directory_},
                 {{patchPath_, FileArgument::Use::Read}, {reportPath_, FileArgument::Use::Report}});
    CheckReportWritable(reportPath_);
    progress_.SetStatus(u"Applying a file");
    ChangeSet patch = IsCompactPatch(patchPath_)
                          ? LoadCompactPatch(progress_, patchPath_, compact_.emplace())
                          : LoadPatchInfo(progress_, patchPath_);
    RequireDirectory(site::kApplyDirectoryMissing, directory_);
    return patch;
  }

  platform::DirectoryHandle OpenTarget() {
    platform::DirectoryHandle target;
    const platform::Status opened = target.Open(directory_);
    if (!opened) Raise(site::kApplyDirectoryMissing, directory_, opened.error());
    return target;
  }

  // The superuser makes the journal, which records the root's word, before
  // opening the root, and puts the mode back before removing it; anyone
  // else needs the root open to make and remove it.
  std::optional<uint32_t> OpenRootForJournal() {
    if (!platform::RunsAsSuperuser()) writableRoot_.Open();
    return writableRoot_.Word();
  }

  // The staged paths follow from the patch and a token alone.
  std::vector<std::u16string> StagedPaths(const std::string& token) {
    if (!places_) places_.emplace(patch_.NewDirs);
    std::vector<std::u16string> staged;
    staged.reserve(storedFiles_.size());
    for (size_t i = 0; i < storedFiles_.size(); ++i) {
      staged.push_back(places_->PathFor(storedFiles_[i].path, token, i));
    }
    return staged;
  }

  ChangerMode Mode() const { return {.continueOnErrors = options_.continueOnErrors}; }
  ChangerMode ResumingMode() const {
    return {.continueOnErrors = options_.continueOnErrors, .resuming = true};
  }

  // The report, "Patch applied ok." and the closing check.
  ApplyResult Close(Changer& changer, const KnownFiles& known) {
    changer.Report(reportPath_);
    changer.UseSink(progress_);
    progress_.SetStatus(u"Patch applied ok.");
    ApplyResult result;
    if (!options_.ignoreFingerprint) {
      result.check = ClosingCheck(progress_, directory_, filter_, patch_, known, journal_.Entry())
                         ? TreeCheck::Verified
                         : TreeCheck::Differs;
    }
    result.skipped = changer.TakeSkipped();
    return result;
  }

  CProgressSink& progress_;
  const std::u16string directory_;
  const std::u16string& patchPath_;
  const std::u16string& reportPath_;
  const ApplyOptions options_;
  // Set by Load for a compact patch, before the change set it comes with.
  std::optional<CompactSource> compact_;
  const ChangeSet patch_;
  platform::DirectoryHandle target_;
  WritableRoot writableRoot_;
  WritableDirectories writable_;
  ApplyJournal journal_;
  zrFile::Reader reader_;
  const int64_t indexOffset_;
  const PatchIdentity identity_;
  const CIgnoreFilter filter_;
  std::vector<StoredFile> storedFiles_;
  std::optional<StagingPlaces> places_;
  // From Check, for the staged way's forecast and the closing check.
  CDirSnapshot before_;
  std::vector<FileId> ids_;
  KnownFiles known_;
};

std::optional<ApplyResult> ApplyRun::TakePending() {
  if (!journal_.Pending()) return std::nullopt;
  const JournalRecord& pending = *journal_.Pending();
  if (!pending.patch.SamePatch(identity_)) {
    journal_.KeepPending();
    Raise(site::kApplyOtherPatchPending, pending.patch.path + u" (fingerprints " +
                                             pending.patch.olderId + u" to " +
                                             pending.patch.newerId + u")");
  }
  // Nothing the journal holds leads anywhere the patch does not: the
  // directories it opened are ones the patch changes.
  const std::vector<std::u16string> staged = StagedPaths(pending.token);
  const std::vector<std::u16string> parents = ParentsOfChanges(patch_, staged);
  for (const OpenedDirectory& opened : pending.opened) {
    if (!std::binary_search(parents.begin(), parents.end(), opened.path)) {
      journal_.RefusePending();
    }
  }
  std::vector<bool> unstaged(storedFiles_.size(), false);
  for (const uint32_t index : pending.unstaged) {
    if (index >= storedFiles_.size()) journal_.RefusePending();
    unstaged[index] = true;
  }
  if (pending.committing) {
    // Killed during the commit: every new content is staged, so the rest
    // of the commit finishes the tree.
    if (!options_.checkOnly) progress_.SetStatus(u"Finishing an interrupted apply.");
    RequireResumable(progress_,
                     compact_ ? CompactContentIds(*compact_, storedFiles_)
                              : HashStoredContents(progress_, reader_, storedFiles_),
                     target_, journal_, patch_, storedFiles_, staged, unstaged);
  }
  if (options_.checkOnly) {
    progress_.SetStatus(kApplyPendingText);
    return ApplyResult{{}, TreeCheck::Pending};
  }
  if (!pending.committing) {
    // Killed while staging: its directories get their modes back (the root
    // stays open for this run) and its staged files go.
    writable_.Adopt(pending.opened);
    writable_.Restore();
    journal_.DropStaleStaging(staged);
    return std::nullopt;
  }
  writable_.Adopt(pending.opened);
  std::vector<size_t> moving;
  for (size_t i = 0; i < storedFiles_.size(); ++i) {
    if (!unstaged[i]) moving.push_back(i);
  }
  journal_.Resume();
  CommitSink commitSink(progress_);
  Changer changer(commitSink, directory_, target_, patch_, ResumingMode());
  CommitStaged(changer, writable_, journal_, storedFiles_, staged, moving,
               ChangedDirectories(patch_));
  return Close(changer, {});
}

std::optional<ApplyResult> ApplyRun::Check() {
  // Without the check the scan still runs (without ids), so every run shows
  // the same phases.
  const bool withIds = !options_.ignoreFingerprint;
  const int64_t clock = withIds && !options_.checkOnly ? journal_.FileSystemNow() : 0;
  std::u16string fingerprint;
  before_ = OpeningScan(progress_, directory_, filter_, patch_.IgnoreFilter, withIds, clock, ids_,
                        options_.checkOnly ? nullptr : &known_, journal_.Entry(), fingerprint);
  if (withIds && fingerprint != patch_.OlderTreeID) {
    if (fingerprint == patch_.NewerTreeID) {
      if (!options_.checkOnly) {
        Changer(progress_, directory_, target_, patch_, Mode()).Report(reportPath_);
      }
      progress_.SetStatus(kAlreadyAppliedText);
      return ApplyResult{{}, TreeCheck::AlreadyNewer};
    }
    std::u16string detail = fingerprint + u" expected:" + patch_.OlderTreeID;
    if (compact_) detail += DescribeWrongTarget(before_, ids_, compact_->info.head.olderIds);
    Raise(site::kApplyFingerprintMismatch, detail);
  }
  RefuseLinksOnTheWay(before_, patch_, PathsOf(storedFiles_), directory_);
  if (!options_.continueOnErrors) CheckChangesCanBeMade(target_, directory_, patch_, before_);
  // Staging reads every content anyway: it checks them in the same pass,
  // and a refusal then removes what it staged. Otherwise they are read
  // once more here.
  const bool checkWhileStaging = withIds && Staged() && !options_.checkOnly;
  if (compact_ && options_.checkOnly) {
    // Decoding is the only way to know a content sound, and the check says
    // so without the fingerprint too.
    TargetContentOpener older(target_, directory_);
    const ContentIds contentIds = CheckCompactContents(progress_, reader_, *compact_, older,
                                                       storedFiles_, options_.continueOnErrors);
    if (withIds) RefuseAnotherResult(before_, ids_, patch_, storedFiles_, contentIds);
  } else if (withIds && !checkWhileStaging) {
    RefuseAnotherResult(before_, ids_, patch_, storedFiles_,
                        HashStoredContents(progress_, reader_, storedFiles_));
  }
  if (!checkWhileStaging) {
    before_ = CDirSnapshot();
    ids_ = {};
  }
  if (Staged()) RequireRoom(target_, directory_, patch_, storedFiles_);
  if (!options_.checkOnly) return std::nullopt;
  ApplyResult checked{{}, TreeCheck::CheckPassed};
  for (const StoredFile& file : storedFiles_) {
    if (file.damage) checked.skipped.push_back(file.damage->message);
  }
  progress_.SetStatus(kApplyCheckedText);
  return checked;
}

ApplyResult ApplyRun::ApplyInPlace() {
  Changer changer(progress_, directory_, target_, patch_, Mode());
  writable_.Plan(ParentsOfChanges(patch_, {}));
  writable_.Open();
  changer.Commit(writable_, [&] { changer.WriteFiles(reader_, storedFiles_, nullptr); });
  return Close(changer, known_);
}

ApplyResult ApplyRun::ApplyStaged() {
  Changer changer(progress_, directory_, target_, patch_, Mode());
  JournalRecord record;
  record.patch = identity_;
  record.token = NewStagingToken();
  const std::vector<std::u16string> staged = StagedPaths(record.token);
  writable_.Plan(ParentsOfChanges(patch_, staged));
  record.opened = writable_.Planned();
  journal_.Begin(record, staged);
  writable_.Open();
  const bool checkWhileStaging = !options_.ignoreFingerprint;
  ContentIds contentIds(storedFiles_.size());
  ContentIds* ids = checkWhileStaging ? &contentIds : nullptr;
  std::vector<size_t> written;
  if (compact_) {
    TargetContentOpener older(target_, directory_);
    written = changer.StageCompactFiles(reader_, *compact_, older, storedFiles_, staged, ids);
  } else {
    written = changer.WriteFiles(reader_, storedFiles_, &staged, ids);
  }
  if (checkWhileStaging) {
    RefuseAnotherResult(before_, ids_, patch_, storedFiles_, contentIds);
  }
  std::vector<std::u16string> writtenPaths;
  std::vector<uint32_t> unstaged;
  for (size_t i = 0, w = 0; i < storedFiles_.size(); ++i) {
    if (w < written.size() && written[w] == i) {
      writtenPaths.push_back(staged[i]);
      ++w;
    } else {
      unstaged.push_back(static_cast<uint32_t>(i));
    }
  }
  journal_.Commit(writtenPaths, unstaged);
  CommitSink commitSink(progress_);
  changer.UseSink(commitSink);
  CommitStaged(changer, writable_, journal_, storedFiles_, staged, written,
               ChangedDirectories(patch_));
  return Close(changer, known_);
}

}  // namespace

ApplyResult ApplyPatch(CProgressSink& progress, const std::u16string& directory,
                       const std::u16string& patchPath, const std::u16string& reportPath,
                       const ApplyOptions& options) {
  ApplyRun run(progress, directory, patchPath, reportPath, options);
  if (auto finished = run.TakePending()) return *finished;
  if (auto checked = run.Check()) return *checked;
  return run.InPlace() ? run.ApplyInPlace() : run.ApplyStaged();
}

}  // namespace torquelin
