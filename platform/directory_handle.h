// A directory opened once, through which every change to the tree beneath it
// goes: nothing reached through it lies outside the directory, and no
// symbolic link is ever followed on the way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/result.h"

namespace torquelin {

namespace platform {

// One entry as it is, never through a link (lstat).
struct EntryStatus {
  uint32_t word = 0;  // the attribute word (files.h), a link's included
  bool isDirectory = false;
  bool isLink = false;
  // Who owns it, how many names it has and which node it is: enough to tell
  // a file of our own from one put in its place.
  uint32_t owner = 0;
  uint32_t group = 0;
  uint64_t links = 0;
  NodeId id;
};

// What OpenOwnFile found at its name.
enum class OwnFile {
  Opened,   // a regular file of ours with one name, open and locked
  Missing,  // nothing there, and nothing was to be created
  Foreign,  // something that cannot be ours: a link, a directory, a FIFO or
            // other kind, a file with a second name, or another user's file
};

// Owns the open directory. Move-only; closed when destroyed. Used
// by one thread at a time.
//
// Every `relative` below is a relative path of the tree model ("\a\b"), which
// the caller has checked with IsSafeRelativePath; the empty text names the
// directory itself where an operation says so. Every component but the last
// is resolved beneath the directory without following a symbolic link: a
// link there fails with the code IsLinkInTheWay names, whatever it points
// to, and nothing outside is touched. The last component is never followed
// either: a link there is acted on as the entry it is. A failure carries the
// code of the call that failed (system_error.h asks what it was); nothing
// throws.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  DirectoryHandle(DirectoryHandle&& other) noexcept = default;
  DirectoryHandle& operator=(DirectoryHandle&& other) noexcept = default;
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;

  // Opens the directory at `path` (engine text). Links within `path` itself
  // are followed: it is the user's own choice of directory. Closes any
  // directory held before.
  Status Open(const std::u16string& path);
  bool IsOpen() const { return directory_.IsOpen(); }

  // The entry at `relative` (empty: the directory itself); IsMissingEntry
  // when nothing is there.
  Status Stat(std::u16string_view relative, EntryStatus& status) const;

  // Removes a file, a link or an empty directory, as the entry it is. When
  // wasDirectory is given it tells whether the entry was a directory (false
  // when there was none), so a caller can word its error.
  Status Remove(std::u16string_view relative, bool* wasDirectory = nullptr) const;

  // Creates a directory with `permissions` (less the umask); EEXIST when
  // anything is there already.
  Status MakeDirectory(std::u16string_view relative, uint32_t permissions = 0777) const;

  // Creates a new regular file with `permissions` (less the umask) open for
  // writing; EEXIST when anything, a dangling link included, is there
  // already.
  Result<FileHandle> CreateFile(std::u16string_view relative, uint32_t permissions = 0666) const;

  // Opens the regular file at `relative` for reading (no link followed,
  // never blocking; anything but a regular file fails with EISDIR or ENXIO,
  // as OpenForReading does).
  Result<FileHandle> OpenFile(std::u16string_view relative) const;

  // The raw bytes the link at `relative` holds (readlink); EINVAL when it is
  // no link.
  Result<std::string> ReadLink(std::u16string_view relative) const;

  // Gives the entry (a link itself, never its target) to `owner` and
  // `group`. Only the superuser may give an entry away.
  Status SetOwner(std::u16string_view relative, uint32_t owner, uint32_t group) const;

  // The names in the directory at `relative` (empty: the directory itself),
  // "." and ".." left out, in listing order. A link there fails
  // (IsLinkInTheWay).
  Status ListNames(std::u16string_view relative, std::vector<std::u16string>& names) const;

  // The first of `paths` (the empty text: the directory itself) that the
  // system keeps from being removed, renamed or rewritten whatever its
  // permissions say (immutable or append-only), or paths.size() when none
  // is, or the file system cannot tell. An entry that cannot be looked at
  // counts as changeable. Each directory holding a run of them is opened
  // once.
  size_t FirstUnchangeable(const std::vector<std::u16string>& paths) const;

  // Renames `from` to `to`, replacing what `to` names as rename(2) does
  // (a link at `to` is replaced, never followed).
  Status Rename(std::u16string_view from, std::u16string_view to) const;

  // Sets the permission bits from an attribute word, as SetAttributeWord
  // (files.h) does; `relative` may be empty for the directory itself. A link
  // at the last component fails (IsLinkInTheWay): a link has no permissions
  // of its own, and changing its target's would reach past it.
  Status SetMode(std::u16string_view relative, uint32_t word) const;

  // Creates a symbolic link holding `target` (raw bytes, never resolved
  // here); EEXIST when anything is there already.
  Status MakeLink(std::u16string_view relative, const std::string& target) const;

  // Opens a file this process keeps for itself under `name` in the directory
  // itself (one component, no link followed) and takes an exclusive lock on
  // it (flock) without waiting. A file there must be a regular file with one
  // name that the effective user owns (else OwnFile::Foreign, untouched);
  // with nothing there it is created when `create` (O_EXCL, mode 0600),
  // holding `content` from the moment its name appears, else
  // OwnFile::Missing. Fails (IsLockHeld) when another open file holds the
  // lock. A file removed or replaced between the open and the lock is opened
  // again, so the lock held is always on the file the name names. `file` is
  // set only for OwnFile::Opened; closing it releases the lock.
  Status OpenOwnFile(std::u16string_view name, bool create, std::string_view content,
                     OwnFile& found, FileHandle& file) const;

  // Flushes the directory itself to the device, so entries created or
  // removed in it survive a crash.
  Status SyncSelf() const;

  // Makes the contents of `files` (links are skipped: a link lives in its
  // directory) and the entries of `directories` ("" the directory itself)
  // durable, and nothing else: every file's writeback is started first and
  // waited for after, several files at a time on a few threads, so the
  // device sees batches rather than one flush per file; the directories
  // follow once every file is durable. A directory that is not there, or is
  // no longer one, is skipped. Fails with the code of a flush that failed.
  Status SyncEntries(const std::vector<std::u16string>& files,
                     const std::vector<std::u16string>& directories) const;

  // Bytes an unprivileged process may still write on the file system
  // (statvfs f_bavail times f_frsize), and its fragment size.
  Status FreeSpace(uint64_t& available, uint64_t& blockSize) const;

 private:
  // The directory holding the last component of relative, and that
  // component's native name. A handle that holds nothing stands for the
  // directory itself (a top-level entry).
  Result<FileHandle> OpenParent(std::u16string_view relative, std::string& name) const;
  // The descriptor calls on an entry go through: the parent's, or the
  // directory's own.
  NativeHandle At(const FileHandle& parent) const;

  FileHandle directory_;
  std::string path_;  // native, for the directory's own mode
};

// Whether the kernel resolves beneath a directory in one call (openat2,
// Linux 5.6 and later); otherwise each component is opened in turn with
// O_NOFOLLOW. Either way the guarantees above hold. Any thread.
bool ResolvesInOneCall();

}  // namespace platform

}  // namespace torquelin
