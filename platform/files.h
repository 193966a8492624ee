// File-system primitives for the engine: opening files, the 32-bit attribute
// word, directory listing, removal and creation. Every path is engine text;
// ToNativePath (encoding.h) makes it native. Each call that can fail gives
// the code of the system call that failed (result.h); nothing here throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/attribute_word.h"
#include "platform/file_handle.h"
#include "platform/result.h"

namespace torquelin {

namespace platform {

// ---- The attribute word of a path -----------------------------------------
// Stands in for GetFileAttributesW: follows symbolic links (stat); fails
// when the entry does not exist or cannot be queried.
Result<uint32_t> GetAttributeWord(const std::u16string& path);

// Stands in for SetFileAttributesW: changes permission bits only, never the
// entry's type. A non-zero high half sets the mode to its 07777 bits; a zero
// high half only looks at 0x01 (set: drop every write bit; clear: add the
// owner's write bit).
Status SetAttributeWord(const std::u16string& path, uint32_t word);

// ---- Opening files ---------------------------------------------------------
// Opens a regular file for reading. Opens non-blocking and refuses anything
// the system does not call a regular file (EISDIR or ENXIO), so a FIFO or a
// device can never hang a scan; FileHandle::Read waits as a blocking read
// would. When size is given, it receives the file's length as the same look
// at the open file saw it.
Result<FileHandle> OpenForReading(const std::u16string& path, int64_t* size = nullptr);

// OpenForReading for an entry of a tree: a symbolic link at the last
// component is not followed but refused (IsLinkInTheWay), so its target text
// (ReadLinkTarget) can stand for its content.
Result<FileHandle> OpenEntryForReading(const std::u16string& path, int64_t* size = nullptr);

// The raw bytes a symbolic link holds (readlink). Fails when the entry is no
// link (EINVAL) or cannot be read.
Result<std::string> ReadLinkTarget(const std::u16string& path);

// Opens for writing, creating the file (mode 0666 less the umask) when it is
// missing. Never truncates: callers remove an existing file first. A symbolic
// link at the path is never followed (IsLinkInTheWay): whatever it points
// to, perhaps outside the tree being written, stays untouched.
Result<FileHandle> OpenForWriting(const std::u16string& path);

// ---- Many small files ------------------------------------------------------
// On a tree of tiny files the system calls per file are the whole cost, so a
// scan opens them relative to their directory and trusts the size it listed.

// Opens a directory only to open entries below it. An empty path is the
// root directory.
Result<FileHandle> OpenDirectoryForLookup(const std::u16string& path);

// Opens the entry `nativeName` of `directory` (from OpenDirectoryForLookup)
// for reading without a look at what it is: a symbolic link is refused, the
// open never blocks, and the access time stays as it was where the system
// allows it. The caller must make sure by other means that it reads a
// regular file (the length it reads must be the one a listing gave), and
// reads with FileHandle::ReadOnce.
Result<FileHandle> OpenEntryAt(const FileHandle& directory, const std::string& nativeName);

// ---- Entries ----------------------------------------------------------------
// Identity of a file-system node (device and inode): two paths name the same
// file exactly when their ids agree.
struct NodeId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const NodeId&) const = default;
};

// The identity of what a path names (links followed).
Result<NodeId> GetNodeId(const std::u16string& path);

// What lstat says about an entry, enough to tell that a file has not been
// touched since: any write or change of its mode moves ctime, a replacement
// brings another inode.
struct EntryStamp {
  uint64_t device = 0;
  uint64_t inode = 0;
  int64_t size = 0;
  int64_t modifiedNs = 0;  // mtime, nanoseconds since the epoch
  int64_t changedNs = 0;   // ctime, nanoseconds since the epoch
  bool operator==(const EntryStamp&) const = default;
};

// The entry's stamp, never through a link (lstat).
Result<EntryStamp> StampEntry(const std::u16string& path);

// True when the entry itself (lstat) is a symbolic link, dangling or not;
// false too when it cannot be looked at.
bool IsSymbolicLink(const std::u16string& path);

// Stands in for DeleteFileW; a symbolic link is removed as itself, a
// directory is refused (EISDIR).
Status RemoveFile(const std::u16string& path);
// Stands in for RemoveDirectoryW: only an empty directory goes.
Status RemoveEmptyDirectory(const std::u16string& path);
// Stands in for CreateDirectoryW: fails when anything exists at the path.
Status MakeDirectory(const std::u16string& path);

}  // namespace platform

}  // namespace torquelin
