// The changes apply makes to its target: directories opened for their owner
// while the tree changes, who new and replaced entries belong to, and the
// commit's steps, item by item, with the texts every run shows.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/base/progress.h"
#include "engine/io/large_file.h"
#include "engine/jobs/apply_journal.h"
#include "engine/jobs/apply_prediction.h"
#include "engine/jobs/compact_staging.h"
#include "engine/jobs/stored_files.h"
#include "engine/patch/change_set.h"
#include "platform/directory_handle.h"
#include "platform/result.h"

namespace torquelin {

// A directory of the target whose owner may not write it refuses new and
// removed entries, which a directory's read-only attribute never did on
// Windows; yet the older tree may hold such directories with entries the
// patch must change. Their owner gets the write bit while the tree changes,
// and each gets its mode back (only while it still has exactly the mode it
// was given) before the patch's own attributes are set, or when the run
// stops. The journal records them before they are opened, so a run killed
// meanwhile leaves them for the next run to put back. The root is
// WritableRoot's.
class WritableDirectories {
 public:
  explicit WritableDirectories(const platform::DirectoryHandle& target) : target_(target) {}
  WritableDirectories(const WritableDirectories&) = delete;
  WritableDirectories& operator=(const WritableDirectories&) = delete;
  ~WritableDirectories() { Restore(); }

  // Notes which of `directories` exist, as directories their owner may not
  // write; nothing changes yet.
  void Plan(const std::vector<std::u16string>& directories);
  const std::vector<OpenedDirectory>& Planned() const { return planned_; }

  // Gives the planned directories their owner's write bit.
  void Open();

  // Takes over directories a killed run opened (their words from before):
  // each still as that run left it, or as it was before, is opened now and
  // put back at the end; one changed since is left as it is.
  void Adopt(const std::vector<OpenedDirectory>& directories);

  // Puts back every mode changed by Open or taken over by Adopt. Safe to
  // call twice.
  void Restore();

 private:
  const platform::DirectoryHandle& target_;
  std::vector<OpenedDirectory> planned_;
  std::vector<OpenedDirectory> opened_;
};

// The journal lives in the target's root, so a root whose owner may not
// write it is opened for the owner for the whole run, and gets its mode back
// last, once the journal is gone. Its word is noted when made (`wanted`),
// and the root opened by Open.
class WritableRoot {
 public:
  WritableRoot(const platform::DirectoryHandle& target, bool wanted);
  WritableRoot(const WritableRoot&) = delete;
  WritableRoot& operator=(const WritableRoot&) = delete;
  ~WritableRoot() { Close(); }

  void Open();
  // Puts the root's mode back, when it still has the one this run gave it.
  void Close();

  // The root's word from before, when this run opens the root.
  std::optional<uint32_t> Word() const { return word_; }

  // Takes over the root a killed run opened, when it still has the mode that
  // run gave it.
  void Adopt(uint32_t word);

 private:
  const platform::DirectoryHandle& target_;
  std::optional<uint32_t> word_;
  bool opened_ = false;
};

// Stays silent about cancellation: once the commit has started, stopping
// halfway would leave a tree that is neither the older nor the newer one, so
// a request to cancel waits for the commit's end. Everything else is passed
// on as it comes.
class CommitSink : public CProgressSink {
 public:
  explicit CommitSink(CProgressSink& inner) : inner_(inner) {}
  uint32_t GetBufferSize() override { return inner_.GetBufferSize(); }
  uint8_t* GetBuffer() override { return inner_.GetBuffer(); }
  void SetStatus(const std::u16string& text) override;
  void SetDetail(const std::u16string& text) override;
  void ShowMessage(const std::u16string& text) override { inner_.ShowMessage(text); }
  void SetRange(uint32_t count) override { inner_.SetRange(count); }
  void ResetProgress() override { inner_.ResetProgress(); }
  void Step() override;
  void SetByteRange(uint64_t total) override { inner_.SetByteRange(total); }
  void AddBytes(uint64_t count) override { inner_.AddBytes(count); }

 private:
  CProgressSink& inner_;
};

// What the tolerant mode skipped, in order; the strict mode throws instead.
// A note is listed in both modes and never stops the run.
class Skipped {
 public:
  explicit Skipped(bool continueOnErrors) : continueOnErrors_(continueOnErrors) {}
  void Add(const CZRErr& error);
  void Note(const std::u16string& message) { messages_.push_back(message); }
  std::vector<std::u16string> Take() { return std::move(messages_); }

 private:
  bool continueOnErrors_;
  std::vector<std::u16string> messages_;
};

// Who a new or replaced entry belongs to. Run by the superuser, a replaced
// entry keeps its owner and group and a new one takes its directory's, so
// that applying never hands a user's file to the superuser; the set-id bits
// of a file then stay only where its owner is the one it had (an entry only
// given new attributes, or a replaced file), so a patch never makes a
// program set-id for someone else. Run by anyone else, entries are the
// running user's as they are made, and nothing here changes.
class Ownership {
 public:
  Ownership(const platform::DirectoryHandle& target, const ChangeSet& patch);

  bool Active() const { return active_; }

  // Who `path` belongs to once made or replaced: the entry there now, else
  // its directory. Fails when neither can be looked at.
  platform::Status OwnerFor(const std::u16string& path, platform::EntryStatus& owner,
                            bool& replaces) const;

  // Gives `entry` (the new entry, or its staged stand-in) to `owner`;
  // `replaces` tells whether it takes the place of an entry of that owner.
  platform::Status Give(const std::u16string& entry, const std::u16string& path,
                        const platform::EntryStatus& owner, bool replaces = false);

  // Marks a replaced file that a killed run already moved into place: that
  // run gave it the replaced file's owner first.
  void AlreadyGiven(const std::u16string& path) { kept_.insert(path); }

  // The word to set on `path`: without its set-id bits where they would
  // come with another owner than the file had.
  uint32_t Allowed(const std::u16string& path, uint32_t word) const;

 private:
  const platform::DirectoryHandle& target_;
  bool active_;
  std::set<std::u16string> carried_;  // the new and changed files
  std::set<std::u16string> kept_;     // those that kept a replaced file's owner
};

// How a Changer treats what goes wrong and what is there already.
struct ChangerMode {
  // Each item that cannot be changed is listed and skipped; otherwise the
  // first raises.
  bool continueOnErrors = false;
  // Finishing a killed run's commit: what that run did counts as done.
  bool resuming = false;
};

// The changes themselves, item by item, with the texts every run shows; a
// failure raises or, when tolerated, is listed and skipped. `applied`
// records what was done, for the report.
class Changer {
 public:
  Changer(CProgressSink& progress, const std::u16string& directory,
          const platform::DirectoryHandle& target, const ChangeSet& patch, ChangerMode mode);

  void UseSink(CProgressSink& progress) { progress_ = &progress; }

  // Writes every stored file at its destination (in place) or, with
  // `staged` (one name per file), under its staging name; returns the
  // places in `files` of those written. With `ids` (one per stored file),
  // each written content's id goes there. New files are private (0600)
  // until their attributes are set.
  std::vector<size_t> WriteFiles(zrFile::Reader& reader, const std::vector<StoredFile>& files,
                                 const std::vector<std::u16string>* staged,
                                 ContentIds* ids = nullptr);

  // Stages the contents of a compact patch as WriteFiles stages a classic
  // one's, decoding its blocks front to back and reading the older files
  // through `older`; each content that decoded is written, its id (as its
  // member table states it, which decoding checked) in `ids`. A content
  // that fails is removed and listed when tolerated (with the others of its
  // frame), else the first failure raises.
  std::vector<size_t> StageCompactFiles(zrFile::Reader& reader, const CompactSource& source,
                                        ContentOpener& older, const std::vector<StoredFile>& files,
                                        const std::vector<std::u16string>& staged, ContentIds* ids);

  // The commit's steps, the same for every way: remove files, remove
  // directories deepest first, create directories (private, 0700),
  // `placeFiles` (which writes or moves the new contents), put the opened
  // directories' modes back, set the attributes.
  void Commit(WritableDirectories& writable, const std::function<void()>& placeFiles);

  // Renames each staged file (`staged`, by the places in `files` of
  // `moving`) over its destination.
  void MoveIntoPlace(const std::vector<StoredFile>& files,
                     const std::vector<std::u16string>& staged, const std::vector<size_t>& moving);

  // Adds the info entries and writes the report, when one was asked for.
  void Report(const std::u16string& reportPath);

  std::vector<std::u16string> TakeSkipped() { return skipped_.Take(); }

  ChangeSet applied;

 private:
  void RemoveFiles();
  void RemoveDirectories();
  void CreateDirectories();
  void RestoreAttributes();
  enum class Removing { File, Directory };
  void Remove(const std::u16string& path, Removing kind, PathList& done);
  void ReportFailedFile(const CZRErr& error);

  CProgressSink* progress_;
  const std::u16string& directory_;
  const platform::DirectoryHandle& target_;
  const ChangeSet& patch_;
  ChangerMode mode_;
  Skipped skipped_;
  PathList errorTexts_;
  Ownership ownership_;
};

// The commit of the staged files (`staged`, those of `moving`), made
// durable and the journal emptied at its end (flushing `changedDirs`). A
// failure on the way leaves the journal, and says that the same command
// finishes the tree.
void CommitStaged(Changer& changer, WritableDirectories& writable, ApplyJournal& journal,
                  const std::vector<StoredFile>& files, const std::vector<std::u16string>& staged,
                  const std::vector<size_t>& moving,
                  const std::vector<std::u16string>& changedDirs);

// Every directory the commit adds an entry to or removes one from, the
// target itself included: sorted, each once. A directory removed meanwhile
// would fail its flush, and its parent is in the list anyway.
std::vector<std::u16string> ChangedDirectories(const ChangeSet& patch);

}  // namespace torquelin
