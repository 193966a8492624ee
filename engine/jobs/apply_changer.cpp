// Apply's changes to its target: opened directories, owners, and the commit's
// steps.
#include "engine/jobs/apply_changer.h"

#include <algorithm>

#include "engine/base/error_sites.h"
#include "engine/base/info_entries.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "engine/jobs/apply_checks.h"
#include "engine/patch/patch_reader.h"
#include "engine/xml/diff_report.h"
#include "platform/attribute_word.h"
#include "platform/result.h"
#include "platform/system_error.h"
#include "platform/system_info.h"

namespace torquelin {

namespace {

// New contents and directories stay private until the commit gives them
// the patch's attributes.
constexpr uint32_t kPrivateFile = 0600;
constexpr uint32_t kPrivateDirectory = 0700;

// Added to a failure during the commit of a staged apply: the journal stays,
// so the same command finishes the tree.
constexpr char16_t kPartlyChanged[] =
    u" (The directory is partly changed; once the cause is fixed, running the same command again "
    u"finishes the apply.)";

// The error for a change that failed beneath the target with `code`: a
// symbolic link met on the way is named as such, any other failure gets the
// phase's own error.
CZRErr ChangeError(const ErrorSite& usual, const std::u16string& detail,
                   const std::u16string& fullPath, uint32_t code) {
  if (platform::IsLinkInTheWay(code)) return CZRErr(site::kApplyThroughLink, fullPath, code);
  return CZRErr(usual, detail, code);
}

}  // namespace

void WritableDirectories::Plan(const std::vector<std::u16string>& directories) {
  for (const std::u16string& directory : directories) {
    platform::EntryStatus status;
    // The root is WritableRoot's.
    if (!directory.empty() && target_.Stat(directory, status) && status.isDirectory &&
        platform::IsReadOnlyWord(status.word)) {
      planned_.push_back({directory, status.word});
    }
  }
}

void WritableDirectories::Open() {
  for (const OpenedDirectory& directory : planned_) {
    // A zero high half with the read-only bit clear adds the owner's write bit.
    if (target_.SetMode(directory.path, 0)) opened_.push_back(directory);
  }
  planned_.clear();
}

void WritableDirectories::Adopt(const std::vector<OpenedDirectory>& directories) {
  for (const OpenedDirectory& directory : directories) {
    platform::EntryStatus status;
    if (!target_.Stat(directory.path, status) || !status.isDirectory) continue;
    const uint32_t now = platform::PermissionBits(status.word);
    if (now == platform::OwnerWritablePermissions(directory.word) ||
        (now == platform::PermissionBits(directory.word) && target_.SetMode(directory.path, 0))) {
      opened_.push_back(directory);
    }
  }
}

void WritableDirectories::Restore() {
  for (const OpenedDirectory& directory : opened_) {
    platform::EntryStatus status;
    if (target_.Stat(directory.path, status) && status.isDirectory &&
        platform::PermissionBits(status.word) ==
            platform::OwnerWritablePermissions(directory.word)) {
      (void)target_.SetMode(directory.path, directory.word);
    }
  }
  opened_.clear();
}

WritableRoot::WritableRoot(const platform::DirectoryHandle& target, bool wanted) : target_(target) {
  platform::EntryStatus status;
  if (wanted && target_.Stat(u"", status) && platform::IsReadOnlyWord(status.word)) {
    word_ = status.word;
  }
}

void WritableRoot::Open() {
  // A zero high half with the read-only bit clear adds the owner's write bit.
  if (word_ && !opened_) opened_ = target_.SetMode(u"", 0).ok();
}

void WritableRoot::Close() {
  platform::EntryStatus status;
  if (opened_ && target_.Stat(u"", status) &&
      platform::PermissionBits(status.word) == platform::OwnerWritablePermissions(*word_)) {
    (void)target_.SetMode(u"", *word_);
  }
  opened_ = false;
}

void WritableRoot::Adopt(uint32_t word) {
  platform::EntryStatus status;
  if (!opened_ && target_.Stat(u"", status) &&
      platform::PermissionBits(status.word) == platform::OwnerWritablePermissions(word)) {
    word_ = word;
    opened_ = true;
  }
}

void CommitSink::SetStatus(const std::u16string& text) {
  try {
    inner_.SetStatus(text);
  } catch (const COPCancel&) {
  }
}

void CommitSink::SetDetail(const std::u16string& text) {
  try {
    inner_.SetDetail(text);
  } catch (const COPCancel&) {
  }
}

void CommitSink::Step() {
  try {
    inner_.Step();
  } catch (const COPCancel&) {
  }
}

void Skipped::Add(const CZRErr& error) {
  if (!continueOnErrors_) throw error;
  messages_.push_back(error.message);
}

Ownership::Ownership(const platform::DirectoryHandle& target, const ChangeSet& patch)
    : target_(target), active_(platform::RunsAsSuperuser()) {
  if (!active_) return;
  carried_.insert(patch.NewFiles.begin(), patch.NewFiles.end());
  carried_.insert(patch.ChangedFiles.begin(), patch.ChangedFiles.end());
}

platform::Status Ownership::OwnerFor(const std::u16string& path, platform::EntryStatus& owner,
                                     bool& replaces) const {
  replaces = target_.Stat(path, owner).ok();
  if (replaces) return {};
  return target_.Stat(path.substr(0, path.rfind(u'\\')), owner);
}

platform::Status Ownership::Give(const std::u16string& entry, const std::u16string& path,
                                 const platform::EntryStatus& owner, bool replaces) {
  const platform::Status given = target_.SetOwner(entry, owner.owner, owner.group);
  if (given && replaces) kept_.insert(path);
  return given;
}

uint32_t Ownership::Allowed(const std::u16string& path, uint32_t word) const {
  if (!active_ || !platform::HasSetIdBits(word) || platform::IsDirectoryWord(word)) return word;
  if (carried_.count(path) == 0 || kept_.count(path) != 0) return word;
  return platform::WithoutSetIdBits(word);
}

Changer::Changer(CProgressSink& progress, const std::u16string& directory,
                 const platform::DirectoryHandle& target, const ChangeSet& patch, ChangerMode mode)
    : progress_(&progress),
      directory_(directory),
      target_(target),
      patch_(patch),
      mode_(mode),
      skipped_(mode.continueOnErrors),
      ownership_(target, patch) {}

void Changer::Commit(WritableDirectories& writable, const std::function<void()>& placeFiles) {
  RemoveFiles();
  RemoveDirectories();
  CreateDirectories();
  placeFiles();
  writable.Restore();
  RestoreAttributes();
}

void Changer::RemoveFiles() {
  progress_->SetStatus(u"Removing Files.");
  progress_->SetRange(static_cast<uint32_t>(patch_.UnlinkedFiles.size()));
  for (const std::u16string& path : patch_.UnlinkedFiles) {
    progress_->Step();
    progress_->SetDetail(u"Removing: " + path);
    Remove(path, Removing::File, applied.UnlinkedFiles);
  }
}

void Changer::RemoveDirectories() {
  progress_->SetStatus(u"Removing Directories.");
  PathList unlinkedDirs = patch_.UnlinkedDirectories;
  progress_->SetRange(static_cast<uint32_t>(unlinkedDirs.size()));
  // Ascending order puts a parent before everything below it; walking it
  // backwards empties every directory before its parent is removed.
  std::sort(unlinkedDirs.begin(), unlinkedDirs.end());
  for (auto it = unlinkedDirs.rbegin(); it != unlinkedDirs.rend(); ++it) {
    progress_->Step();
    progress_->SetDetail(u"Removing: " + *it);
    Remove(*it, Removing::Directory, applied.UnlinkedDirectories);
  }
}

void Changer::CreateDirectories() {
  progress_->SetStatus(u"Creating Directories.");
  progress_->SetRange(static_cast<uint32_t>(patch_.NewDirs.size()));
  for (const std::u16string& path : patch_.NewDirs) {
    progress_->Step();
    progress_->SetDetail(u"Creating: " + path);
    const std::u16string full = JoinPath(directory_, path);
    platform::EntryStatus status, parent;
    const platform::Status made = target_.MakeDirectory(path, kPrivateDirectory);
    if (!made && !(mode_.resuming && target_.Stat(path, status) && status.isDirectory)) {
      skipped_.Add(ChangeError(site::kApplyCreateDirectory, full, full, made.error()));
      continue;
    }
    // A new directory belongs to whoever its directory belongs to.
    if (ownership_.Active()) {
      platform::Status given = target_.Stat(path.substr(0, path.rfind(u'\\')), parent);
      if (given) given = ownership_.Give(path, path, parent);
      if (!given) {
        skipped_.Add(ChangeError(site::kApplyCreateDirectory, full, full, given.error()));
        continue;
      }
    }
    applied.NewDirs.push_back(path);
  }
}

std::vector<size_t> Changer::WriteFiles(zrFile::Reader& reader,
                                        const std::vector<StoredFile>& files,
                                        const std::vector<std::u16string>* staged,
                                        ContentIds* ids) {
  progress_->SetStatus(staged != nullptr ? u"Staging new contents." : u"Restoring files.");
  progress_->SetRange(static_cast<uint32_t>(files.size()));
  uint64_t bytes = 0;
  for (const StoredFile& file : files) bytes += static_cast<uint64_t>(file.length);
  progress_->SetByteRange(bytes);
  std::vector<size_t> written;
  for (size_t i = 0; i < files.size(); ++i) {
    const StoredFile& file = files[i];
    progress_->Step();
    // Counted as the file starts: the line then shows what is under way.
    progress_->AddBytes(static_cast<uint64_t>(file.length));
    progress_->SetDetail((staged != nullptr ? u"Staging: " : u"Extructing file: ") + file.path);
    const ExtractAs asLink = CarriedAsLink(patch_, file.path) ? ExtractAs::Link : ExtractAs::File;
    const std::u16string writeAs = staged != nullptr ? (*staged)[i] : std::u16string();
    const std::u16string full = directory_ + u"\\" + file.path;
    try {
      if (file.damage) throw *file.damage;
      // In place, the owner of what is replaced is known only before.
      platform::EntryStatus owner;
      bool replaces = false;
      if (staged == nullptr && ownership_.Active()) {
        const platform::Status found = ownership_.OwnerFor(file.path, owner, replaces);
        if (!found) throw ChangeError(site::kWriterOpen, full, full, found.error());
      }
      Sha1Context context;
      Sha1Init(context);
      const ShortContent tolerateShort =
          mode_.continueOnErrors ? ShortContent::Tolerate : ShortContent::Raise;
      if (!ExtractFileBeneath(reader, tolerateShort, *progress_, file.offset, target_, directory_,
                              file.path, asLink, writeAs, ids != nullptr ? &context : nullptr,
                              kPrivateFile)) {
        // Tolerated, and the shortened file stays; but the report must say
        // so, or a damaged file would pass for a restored one.
        ReportFailedFile(CZRErr(site::kApplyShortenedFile, file.path, reader.error()));
      }
      if (staged == nullptr && ownership_.Active()) {
        const platform::Status given = ownership_.Give(file.path, file.path, owner, replaces);
        if (!given) throw ChangeError(site::kWriterOpen, full, full, given.error());
      }
      if (ids != nullptr) {
        Sha1Digest digest;
        Sha1Final(digest, context);
        (*ids)[i] = ToFileId(digest);
      }
      if (staged == nullptr) applied.ChangedFiles.push_back(file.path);
      written.push_back(i);
    } catch (const CZRErr& error) {
      if (!mode_.continueOnErrors) throw;
      if (!writeAs.empty()) (void)target_.Remove(writeAs);
      ReportFailedFile(error);
    }
  }
  return written;
}

std::vector<size_t> Changer::StageCompactFiles(zrFile::Reader& reader, const CompactSource& source,
                                               ContentOpener& older,
                                               const std::vector<StoredFile>& files,
                                               const std::vector<std::u16string>& staged,
                                               ContentIds* ids) {
  progress_->SetStatus(u"Staging new contents.");
  progress_->SetRange(static_cast<uint32_t>(files.size()));
  StagingOutput out(*progress_, target_, directory_, patch_, files, staged, mode_.continueOnErrors);
  for (const FailedContent& failed :
       DecodeCompactContents(reader, source, older, out, mode_.continueOnErrors)) {
    out.Fail(failed.path, failed.error);
  }
  const ContentIds stated = CompactContentIds(source, files);
  std::vector<size_t> written;
  for (size_t i = 0; i < files.size(); ++i) {
    if (const std::optional<CZRErr> failure = out.Failure(i)) {
      if (!mode_.continueOnErrors) throw *failure;
      (void)target_.Remove(staged[i]);
      ReportFailedFile(*failure);
      continue;
    }
    if (ids != nullptr) (*ids)[i] = stated[i];
    written.push_back(i);
  }
  return written;
}

void Changer::MoveIntoPlace(const std::vector<StoredFile>& files,
                            const std::vector<std::u16string>& staged,
                            const std::vector<size_t>& moving) {
  progress_->SetStatus(u"Restoring files.");
  progress_->SetRange(static_cast<uint32_t>(moving.size()));
  for (const size_t i : moving) {
    const std::u16string& path = files[i].path;
    progress_->Step();
    progress_->SetDetail(u"Extructing file: " + path);
    const std::u16string full = directory_ + u"\\" + path;
    platform::EntryStatus status;
    // A killed run moved it already.
    if (mode_.resuming) {
      const platform::Status looked = target_.Stat(staged[i], status);
      if (!looked && platform::IsMissingEntry(looked.error())) {
        ownership_.AlreadyGiven(path);
        applied.ChangedFiles.push_back(path);
        continue;
      }
    }
    platform::EntryStatus owner;
    bool replaces = false;
    platform::Status moved;
    if (ownership_.Active()) {
      moved = ownership_.OwnerFor(path, owner, replaces);
      if (moved) moved = ownership_.Give(staged[i], path, owner, replaces);
    }
    if (moved) moved = target_.Rename(staged[i], path);
    // An empty directory in the way goes, as it would for an extraction.
    if (!moved && platform::IsEntryInTheWay(moved.error())) {
      const platform::Status cleared = target_.Remove(path);
      moved = cleared ? target_.Rename(staged[i], path) : cleared;
    }
    if (moved) {
      applied.ChangedFiles.push_back(path);
      continue;
    }
    const CZRErr error = ChangeError(site::kApplyMoveIntoPlace, full, full, moved.error());
    if (mode_.continueOnErrors) (void)target_.Remove(staged[i]);
    ReportFailedFile(error);
  }
}

void Changer::RestoreAttributes() {
  progress_->SetStatus(u"Restoring FS attributes.");
  progress_->SetRange(static_cast<uint32_t>(patch_.AttributeChanges.size()));
  for (const auto& [path, asked] : patch_.AttributeChanges) {
    progress_->Step();
    const std::u16string full = directory_ + u"\\" + path;
    progress_->SetDetail(u"Restoring: " + full);
    const uint32_t word = ownership_.Allowed(path, asked);
    if (platform::IsLinkWord(word)) {
      // A link has no permissions of its own: its word holds when a link
      // stands there.
      platform::EntryStatus status;
      const platform::Status looked = target_.Stat(path, status);
      if (!looked) {
        skipped_.Add(ChangeError(site::kApplySetAttributes, path, full, looked.error()));
      } else if (!status.isLink) {
        skipped_.Add(CZRErr(site::kApplySetAttributes, path));
      } else {
        applied.AttributeChanges[path] = word;
      }
      continue;
    }
    const platform::Status set = target_.SetMode(path, word);
    if (set) {
      applied.AttributeChanges[path] = word;
      if (word != asked) skipped_.Note(CZRErr(site::kApplySetIdLeftOff, path).message);
    } else {
      skipped_.Add(ChangeError(site::kApplySetAttributes, path, full, set.error()));
    }
  }
}

void Changer::Report(const std::u16string& reportPath) {
  AddInfoEntries(applied.Info);
  if (!reportPath.empty()) WriteDiffReport(*progress_, reportPath, applied, errorTexts_);
}

void Changer::Remove(const std::u16string& path, Removing kind, PathList& done) {
  platform::EntryStatus status;
  // A killed run removed it already, or put the newer entry of the other
  // kind in its place.
  if (mode_.resuming &&
      (!target_.Stat(path, status) || status.isDirectory != (kind == Removing::Directory))) {
    done.push_back(path);
    return;
  }
  bool wasDirectory = false;
  const platform::Status removed = target_.Remove(path, &wasDirectory);
  if (removed) {
    done.push_back(path);
    return;
  }
  const std::u16string full = JoinPath(directory_, path);
  skipped_.Add(ChangeError(wasDirectory ? site::kRemoveDirectory : site::kRemoveFile, full, full,
                           removed.error()));
}

void Changer::ReportFailedFile(const CZRErr& error) {
  errorTexts_.push_back(error.GetText());
  skipped_.Add(error);
}

void CommitStaged(Changer& changer, WritableDirectories& writable, ApplyJournal& journal,
                  const std::vector<StoredFile>& files, const std::vector<std::u16string>& staged,
                  const std::vector<size_t>& moving,
                  const std::vector<std::u16string>& changedDirs) {
  try {
    changer.Commit(writable, [&] { changer.MoveIntoPlace(files, staged, moving); });
    journal.Finish(changedDirs);
  } catch (CZRErr& error) {
    error.message += kPartlyChanged;
    throw;
  }
}

std::vector<std::u16string> ChangedDirectories(const ChangeSet& patch) {
  std::vector<std::u16string> directories = ParentsOfChanges(patch, {});
  if (directories.empty() || !directories.front().empty()) {
    directories.insert(directories.begin(), u"");
  }
  PathList gone = patch.UnlinkedDirectories;
  std::sort(gone.begin(), gone.end());
  std::vector<std::u16string> kept;
  for (const std::u16string& directory : directories) {
    if (!std::binary_search(gone.begin(), gone.end(), directory)) kept.push_back(directory);
  }
  return kept;
}

}  // namespace torquelin
