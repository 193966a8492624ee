// A directory opened once, through which every change to the tree beneath it
// goes: nothing reached through it lies outside the directory, and no
// symbolic link is ever followed on the way.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

// One entry as it is, never through a link (lstat).
struct EntryStatus {
  uint32_t word = 0;  // the attribute word (files.h), a link's included
  bool isDirectory = false;
  bool isLink = false;
};

// Owns one descriptor of a directory. Move-only; closed when destroyed. Used
// by one thread at a time.
//
// Every `relative` below is a relative path of the tree model ("\a\b"), which
// the caller has checked with IsSafeRelativePath; the empty text names the
// directory itself where an operation says so. Every component but the last
// is resolved beneath the directory without following a symbolic link: a
// link there fails with errno ELOOP, whatever it points to, and nothing
// outside is touched. The last component is never followed either: a link
// there is acted on as the entry it is. On failure an operation returns
// false (or -1) with errno set; nothing throws.
class DirectoryHandle {
 public:
  DirectoryHandle() = default;
  ~DirectoryHandle();
  DirectoryHandle(DirectoryHandle&& other) noexcept;
  DirectoryHandle& operator=(DirectoryHandle&& other) noexcept;
  DirectoryHandle(const DirectoryHandle&) = delete;
  DirectoryHandle& operator=(const DirectoryHandle&) = delete;

  // Opens the directory at `path` (engine text). Links within `path` itself
  // are followed: it is the user's own choice of directory. Closes any
  // directory held before.
  bool Open(const std::u16string& path);
  bool IsOpen() const { return descriptor_ >= 0; }

  // The entry at `relative` (empty: the directory itself). ENOENT when
  // nothing is there.
  bool Stat(std::u16string_view relative, EntryStatus& status) const;

  // Removes a file, a link or an empty directory, as the entry it is. When
  // wasDirectory is given it tells whether the entry was a directory (false
  // when there was none), so a caller can word its error.
  bool Remove(std::u16string_view relative, bool* wasDirectory = nullptr) const;

  // Creates a directory (mode 0777 less the umask); EEXIST when anything is
  // there already.
  bool MakeDirectory(std::u16string_view relative) const;

  // Creates a new regular file (mode 0666 less the umask) open for writing
  // and returns its descriptor, which the caller owns; EEXIST when anything,
  // a dangling link included, is there already. -1 on failure.
  int CreateFile(std::u16string_view relative) const;

  // Renames `from` to `to`, replacing what `to` names as rename(2) does
  // (a link at `to` is replaced, never followed).
  bool Rename(std::u16string_view from, std::u16string_view to) const;

  // Sets the permission bits from an attribute word, as SetAttributeWord
  // (files.h) does; `relative` may be empty for the directory itself. A link
  // at the last component fails with ELOOP: a link has no permissions of its
  // own, and changing its target's would reach past it.
  bool SetMode(std::u16string_view relative, uint32_t word) const;

  // Creates a symbolic link holding `target` (raw bytes, never resolved
  // here); EEXIST when anything is there already.
  bool MakeLink(std::u16string_view relative, const std::string& target) const;

  // Opens the regular file `name` in the directory itself (one component,
  // no link followed), creating it (mode 0600) when `create`, and takes an
  // exclusive lock on it (flock) without waiting: -1 with EWOULDBLOCK when
  // another open file holds the lock. A file removed or replaced between
  // the open and the lock is opened again, so the lock held is always on
  // the file the name names. The caller owns the descriptor; closing it
  // releases the lock.
  int OpenLocked(std::u16string_view name, bool create) const;

  // Flushes the directory itself to the device, so entries created or
  // removed in it survive a crash.
  bool SyncSelf() const;

  // Makes the contents of `files` (links are skipped: a link lives in its
  // directory) and the entries of `directories` ("" the directory itself)
  // durable, and nothing else: every file's writeback is started first and
  // waited for after, several files at a time on a few threads, so the
  // device sees batches rather than one flush per file; the directories
  // follow once every file is durable. A directory that is not there, or is
  // no longer one, is skipped. False with errno when a flush failed.
  bool SyncEntries(const std::vector<std::u16string>& files,
                   const std::vector<std::u16string>& directories) const;

  // Bytes an unprivileged process may still write on the file system
  // (statvfs f_bavail times f_frsize), and its fragment size.
  bool FreeSpace(uint64_t& available, uint64_t& blockSize) const;

 private:
  // A descriptor of the directory holding the last component of relative,
  // and that component's native name. Returns -1 on failure; the result
  // equals descriptor_ (not to be closed) for a top-level entry.
  int OpenParent(std::u16string_view relative, std::string& name) const;
  void CloseParent(int parent) const;

  int descriptor_ = -1;
  std::string path_;  // native, for the directory's own mode
};

// Whether the kernel resolves beneath a directory in one call (openat2,
// Linux 5.6 and later); otherwise each component is opened in turn with
// O_NOFOLLOW. Either way the guarantees above hold. Any thread.
bool ResolvesInOneCall();

}  // namespace platform
