// The journal apply keeps in the root of its target while it changes it, and
// the lock on it that keeps a second apply out: what lets a rerun finish a
// run that was killed. The format is described in docs/apply-journal.md.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/directory_handle.h"

// Names a patch well enough that a rerun knows it is the same one.
struct PatchIdentity {
  std::u16string olderId;
  std::u16string newerId;
  int64_t size = 0;
  std::u16string digest;  // SHA-1 of the header and the file index, 40 hex digits
  std::u16string path;    // as the user gave it; for messages only

  bool SamePatch(const PatchIdentity& other) const {
    return olderId == other.olderId && newerId == other.newerId && size == other.size &&
           digest == other.digest;
  }
};

// A new content written beside its destination before the commit.
struct StagedFile {
  std::u16string path;    // the destination, a relative path of the tree
  std::u16string staged;  // the temporary entry, a relative path of the tree
};

// What a journal holds.
struct JournalRecord {
  PatchIdentity patch;
  std::vector<StagedFile> files;
  // Set once every staged file was complete on the device: from then on the
  // tree may be part way through the commit.
  bool committing = false;
};

// The journal's bytes without the commit line, and that line.
std::string JournalText(const JournalRecord& record);
inline constexpr char kJournalCommitLine[] = "commit\n";

// The record the bytes hold, or nullopt for an empty or cut-short journal
// (a run killed while writing it had staged nothing yet).
std::optional<JournalRecord> ParseJournal(const std::string& bytes);

// The journal file of one run, locked for the whole run. Lifecycle:
// constructed (locked; Pending tells what an earlier run left), then
// Begin (staging), Commit (committing), Finish (nothing pending). When the
// run ends it leaves the tree as follows: while staging, the staged files
// and the journal are removed, so the tree is as it was; while committing,
// both stay for the next run to finish; otherwise the journal file goes.
// Raises CZRErr (.\fileio); used on the job's thread.
class ApplyJournal {
 public:
  // Locks the journal of the tree `target` opens (`directory` names it in
  // messages), creating the file when `create`; without it a missing file
  // means nothing to lock or read, and nothing is ever written or removed.
  // Raises "Another apply is already running on this directory: " when
  // another process holds the lock.
  ApplyJournal(const platform::DirectoryHandle& target, const std::u16string& directory,
               bool create);
  ~ApplyJournal();
  ApplyJournal(const ApplyJournal&) = delete;
  ApplyJournal& operator=(const ApplyJournal&) = delete;

  // What an earlier run left, if anything.
  const std::optional<JournalRecord>& Pending() const { return pending_; }
  // Keeps a pending journal of another patch in place when the run ends.
  void KeepPending() { keep_ = true; }

  // Removes the staged files a run killed while staging left, and forgets
  // its journal.
  void DropStaleStaging();

  // The file system's clock now, read by touching the journal: a file
  // whose change time is earlier cannot change later without moving it.
  int64_t FileSystemNow();

  // Writes the record (staging) and makes it and its entry durable.
  void Begin(const JournalRecord& record);
  // Makes every staged file (those of `files` written) and their
  // directories durable, then records that the commit starts.
  void Commit(const std::vector<StagedFile>& files);
  // Takes over a pending journal that is committing, to finish its commit.
  void Resume();
  // Makes the commit's changes to `directories` durable, then empties the
  // journal.
  void Finish(const std::vector<std::u16string>& directories);

 private:
  void Write(const std::string& bytes, bool append);
  [[noreturn]] void Fail();

  enum class State { Idle, Staging, Committing };
  const platform::DirectoryHandle& target_;
  std::u16string directory_;
  std::u16string path_;  // full path, for messages
  int descriptor_ = -1;
  State state_ = State::Idle;
  bool keep_ = false;
  std::optional<JournalRecord> pending_;
  std::vector<StagedFile> staged_;
};
