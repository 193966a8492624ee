// File-system primitives for the engine: descriptors with 64-bit positions,
// the 32-bit attribute word, directory listing, removal and creation.
// Every path is engine text; ToNativePath (encoding.h) makes it native.
// Failures return -1 / false and leave errno set; nothing here throws.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/attribute_word.h"

namespace platform {

// ---- The attribute word of a path -----------------------------------------
inline constexpr uint32_t kInvalidAttributes = 0xFFFFFFFF;

// Stands in for GetFileAttributesW: follows symbolic links (stat); returns
// kInvalidAttributes when the entry does not exist or cannot be queried.
uint32_t GetAttributeWord(const std::u16string& path);

// Stands in for SetFileAttributesW: changes permission bits only, never the
// entry's type. A non-zero high half sets the mode to its 07777 bits; a zero
// high half only looks at 0x01 (set: drop every write bit; clear: add the
// owner's write bit).
bool SetAttributeWord(const std::u16string& path, uint32_t word);

// ---- Descriptors -----------------------------------------------------------
// Opens a regular file for reading. Opens non-blocking and refuses anything
// fstat does not call a regular file (errno EISDIR or ENXIO), so a FIFO or a
// device can never hang a scan. When size is given, it receives the file's
// length as that same fstat saw it.
int OpenForReading(const std::u16string& path, int64_t* size = nullptr);

// OpenForReading for an entry of a tree: a symbolic link at the last
// component is not followed but refused with ELOOP, so its target text
// (ReadLinkTarget) can stand for its content.
int OpenEntryForReading(const std::u16string& path, int64_t* size = nullptr);

// The raw bytes a symbolic link holds (readlink). False when the entry is no
// link (EINVAL) or cannot be read.
bool ReadLinkTarget(const std::u16string& path, std::string& target);

// Opens for writing, creating the file (mode 0666 less the umask) when it is
// missing. Never truncates: callers remove an existing file first. A symbolic
// link at the path is never followed (errno ELOOP): whatever it points to,
// perhaps outside the tree being written, stays untouched.
int OpenForWriting(const std::u16string& path);

// Read up to n bytes; retries on EINTR, and waits where a descriptor from
// OpenForReading would refuse to (it makes it blocking then). Returns the count, 0 at end of file,
// -1 on error.
int64_t ReadDescriptor(int fd, void* buffer, uint64_t n);

// Writes n bytes, looping over partial writes and retrying on EINTR. Returns
// n on success; otherwise the count written before the error, or -1 when
// nothing could be written, and errno tells why (EFBIG: the file system will
// not let the file grow this large).
int64_t WriteDescriptor(int fd, const void* buffer, uint64_t n);

// lseek to an absolute position; returns the new position or -1.
int64_t SeekDescriptor(int fd, int64_t position);
// lseek to the end; returns the position there (the size) or -1.
int64_t SeekDescriptorToEnd(int fd);
// The current position, or -1.
int64_t TellDescriptor(int fd);
// Size from fstat, or -1.
int64_t DescriptorSize(int fd);
// Flushes the file's data to the device (fsync).
bool SyncDescriptor(int fd);
// Closes once; never retried, even on EINTR.
void CloseDescriptor(int fd);

// ---- Many small files ------------------------------------------------------
// On a tree of tiny files the system calls per file are the whole cost, so a
// scan opens them relative to their directory and trusts the size it listed.

// Opens a directory only to open entries below it (O_PATH); -1 on failure.
// An empty path is the root directory.
int OpenDirectoryForLookup(const std::u16string& path);

// Opens the entry `nativeName` of `directory` for reading without a stat: a
// symbolic link is refused (ELOOP), the open never blocks, and the access
// time stays as it was where the system allows it. The caller must make sure
// by other means that it reads a regular file (the length it reads must be
// the one a listing gave).
int OpenEntryAt(int directory, const std::string& nativeName);

// One read of up to n bytes, retried on EINTR only; -1 on any error,
// EAGAIN included.
int64_t ReadOnce(int fd, void* buffer, uint64_t n);

// ---- Entries ----------------------------------------------------------------
// Identity of a file-system node (device and inode): two paths name the same
// file exactly when their ids agree.
struct NodeId {
  uint64_t device = 0;
  uint64_t inode = 0;
  bool operator==(const NodeId&) const = default;
};

// stat() identity of a path (links followed); false when it cannot be read.
bool GetNodeId(const std::u16string& path, NodeId& id);

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

// The entry's stamp, never through a link (lstat); false when it cannot be
// read.
bool StampEntry(const std::u16string& path, EntryStamp& stamp);

// Sets the file's times to now and returns its new change time: the file
// system's own clock, which stamps of other files on it can be compared
// with. False on failure.
bool TouchDescriptor(int fd, int64_t& changedNs);

// Cuts the file to `size` bytes.
bool TruncateDescriptor(int fd, int64_t size);

// True when the entry itself (lstat) is a symbolic link, dangling or not.
bool IsSymbolicLink(const std::u16string& path);

// Stands in for DeleteFileW; a symbolic link is removed as itself.
bool RemoveFile(const std::u16string& path);
// Stands in for RemoveDirectoryW: only an empty directory goes.
bool RemoveEmptyDirectory(const std::u16string& path);
// Stands in for CreateDirectoryW: fails when anything exists at the path.
bool MakeDirectory(const std::u16string& path);

}  // namespace platform
