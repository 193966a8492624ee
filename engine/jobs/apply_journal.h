// The journal apply keeps in the root of its target while it changes it, the
// lock on it that keeps a second apply out, and the names of the files it
// stages: what lets a rerun finish a run that was killed. The format, and
// why nothing in it can steer a rerun, is described in
// docs/apply-journal.md.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/tree/walker.h"
#include "platform/directory_handle.h"
#include "platform/file_handle.h"

namespace torquelin {

// The journal's name in the target's root. A patch may not name this entry
// of the root; anything else standing there refuses the run.
inline constexpr char16_t kApplyJournalName[] = u".torquelin-journal";

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

// A directory of the target whose owner may not write it, opened for the
// owner while the tree changes: its word from before.
struct OpenedDirectory {
  std::u16string path;  // a relative path of the tree
  uint32_t word = 0;
};

// What a journal holds. Paths appear only in `opened`, and a rerun takes
// those only where the patch itself leads it (see ApplyPatch).
struct JournalRecord {
  // The root's word from before, when the run opened the root for its owner
  // (to keep the journal there). Written first, the moment the journal is
  // made, so even a journal cut short holds it.
  std::optional<uint32_t> root;
  PatchIdentity patch;
  std::string token;  // 16 lower-case hexadecimal digits; names the staged files
  std::vector<OpenedDirectory> opened;
  // Set once every staged file was complete on the device: from then on the
  // tree may be part way through the commit.
  bool committing = false;
  // With `committing`: the stored files (by their place in the patch's
  // file index) the tolerant mode could not stage.
  std::vector<uint32_t> unstaged;
};

// The journal's bytes up to its `end` line, the first lines alone (which
// hold nothing of a patch), and the part that starts the commit.
std::string JournalText(const JournalRecord& record);
std::string JournalPreamble(std::optional<uint32_t> root);
std::string JournalCommitText(const std::vector<uint32_t>& unstaged);

// What a journal's bytes say.
struct ParsedJournal {
  enum class Kind {
    Nothing,  // empty, or cut short before its end line: nothing was staged
              // (`record.root` may be known all the same)
    Record,   // `record` holds it
    Invalid,  // not a journal this program wrote
  };
  Kind kind = Kind::Nothing;
  JournalRecord record;
};
ParsedJournal ParseJournal(const std::string& bytes);

// A new random token for the staged names of one run.
std::string NewStagingToken();

// Where the patch's stored files wait for the commit: beside their
// destination, or, when the commit creates that directory (one of
// `newDirs`), in the nearest directory above it that the commit does not
// create. The name is ".tq-" + token + "." + the file's place in the file
// index, so the patch and the token alone give every staged path.
class StagingPlaces {
 public:
  explicit StagingPlaces(const std::vector<std::u16string>& newDirs);
  std::u16string PathFor(const std::u16string& path, const std::string& token, size_t index) const;

 private:
  const std::u16string* Find(const std::u16string& directory) const;
  // Each new directory, and the directory its files wait in, sorted.
  std::vector<std::pair<std::u16string, std::u16string>> waitIn_;
};

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
  // messages), creating it when `create`; without it a missing file means
  // nothing to lock or read, and nothing is ever written or removed.
  // `openedRoot` is the root's word from before when this run opened the
  // root; a journal made or found holding nothing records it (or the one an
  // earlier run recorded) at once.
  // Raises "Another apply is already running on this directory: " when
  // another process holds the lock, and refuses, naming it, whatever stands
  // at the journal's name that is not a journal of this program: another
  // kind of entry, a file with a second name or of another user, or bytes
  // that do not parse.
  ApplyJournal(const platform::DirectoryHandle& target, const std::u16string& directory,
               bool create, std::optional<uint32_t> openedRoot = std::nullopt);
  ~ApplyJournal();
  ApplyJournal(const ApplyJournal&) = delete;
  ApplyJournal& operator=(const ApplyJournal&) = delete;

  // What an earlier run left, if anything.
  const std::optional<JournalRecord>& Pending() const { return pending_; }
  // The root's word from before that this run or an earlier one recorded:
  // whoever holds the journal puts it back at the end.
  std::optional<uint32_t> RootWord() const { return root_; }
  // Keeps a pending journal of another patch in place when the run ends.
  void KeepPending() { keep_ = true; }
  // Runs `restore` (putting the root's mode back) just before the journal is
  // removed, so no moment lacks both: for a caller who may remove the
  // journal from a root its owner may not write (the superuser).
  void BeforeRemoval(std::function<void()> restore) { beforeRemoval_ = std::move(restore); }
  // Refuses the pending journal as one that does not fit this patch or
  // this tree, naming it; it stays where it is.
  [[noreturn]] void RefusePending();

  // The journal as the entry a scan of the tree leaves out; null when no
  // journal file is held.
  const LeftOutEntry* Entry() const { return file_.IsOpen() ? &entry_ : nullptr; }
  // The user the journal file belongs to: the one this run runs as.
  uint32_t Owner() const { return owner_; }

  // Removes the entries at `staged` (the staged paths of the pending run,
  // which was killed while staging) and forgets its journal. Only what that
  // run could have made is removed: a regular file or a link of ours with
  // one name; anything else there refuses the run, naming it.
  void DropStaleStaging(const std::vector<std::u16string>& staged);

  // The file system's clock now, read by touching the journal: a file
  // whose change time is earlier cannot change later without moving it.
  int64_t FileSystemNow();

  // Writes the record (staging) and makes it and its entry durable. From
  // here on a failure removes the entries at `staged`.
  void Begin(const JournalRecord& record, const std::vector<std::u16string>& staged);
  // Makes the staged files written and their directories durable, then
  // records that the commit starts and which files were not staged.
  void Commit(const std::vector<std::u16string>& written, const std::vector<uint32_t>& unstaged);
  // Takes over a pending journal that is committing, to finish its commit.
  void Resume();
  // Makes the commit's changes to `directories` durable, then empties the
  // journal (but for the root's word).
  void Finish(const std::vector<std::u16string>& directories);

 private:
  // The journal only ever grows from its preamble (the root's word, or
  // nothing) and is cut back to it: a kill at any moment leaves a journal
  // that holds the root's word.
  std::string Preamble() const;
  void CutToPreamble();
  void Append(const std::string& bytes);
  // "Unable to write the apply journal: " with the code of the failed call.
  [[noreturn]] void Fail(uint32_t code);

  enum class State { Idle, Staging, Committing };
  const platform::DirectoryHandle& target_;
  std::u16string directory_;
  std::u16string path_;  // full path, for messages
  platform::FileHandle file_;
  LeftOutEntry entry_;
  uint32_t owner_ = 0;  // the journal's, the effective user's
  State state_ = State::Idle;
  bool keep_ = false;
  std::optional<JournalRecord> pending_;
  std::optional<uint32_t> root_;
  std::function<void()> beforeRemoval_;
  std::vector<std::u16string> staged_;
};

}  // namespace torquelin
