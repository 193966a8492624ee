// One directory of a walk, opened by descriptor relative to its parent, so a
// walk has no path-length limit and never enters a symbolic link.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/result.h"

namespace torquelin {

namespace platform {

enum class EntryKind {
  Directory,
  Link,   // a symbolic link, dangling or not; never entered
  Other,  // a regular file, or a FIFO, socket or device
};

struct ListedEntry {
  std::u16string name;     // NameFromNative of the native name
  std::string nativeName;  // as the file system spells it, for OpenChild
  EntryKind kind = EntryKind::Other;
  uint32_t word = 0;  // the attribute word (lstat), when asked for
  int64_t size = -1;  // a regular file's length (the same lstat); -1 otherwise
  EntryStamp stamp;   // the same lstat's identity and times, when asked for
  // From ListNames: the kind came from the listing (which may not give
  // one), and it called the entry a regular file. Only hints (the entry may
  // have changed since); LookAt decides.
  bool kindListed = false;
  bool listedAsFile = false;
};

// Owns one open directory; closed when destroyed. Move-only; one thread at
// a time. A failure carries the code of the call that failed.
class DirectoryListing {
 public:
  // Opens the directory a walk starts from. Links within `path` are
  // followed: the user chose it.
  Status OpenRoot(const std::u16string& path);

  // Opens the subdirectory `nativeName` of `parent`, never following a link
  // (a link there fails with IsLinkInTheWay, a vanished one with
  // IsMissingEntry).
  Status OpenChild(const DirectoryListing& parent, const std::string& nativeName);

  // Opens the directory reached from `base` through `route`, each name a
  // subdirectory of the one before, as OpenChild does at every step; for a
  // walk that keeps only some of its levels open. `route` is not empty.
  Status OpenRoute(const DirectoryListing& base, std::span<const std::string> route);

  bool IsOpen() const { return directory_.IsOpen(); }
  void Close() { directory_.Close(); }

  // Every entry in readdir order, "." and ".." skipped. With words, one
  // fstatat that never follows a link per entry gives its kind and word;
  // without, the kind comes from the listing itself where the file system
  // gives it (a stat only where it does not). An entry that cannot be looked
  // at fails the listing with its name in `failedName` (IsMissingEntry when
  // it is gone). The directory stays open, for OpenChild.
  Status ReadEntries(bool withWords, std::vector<ListedEntry>& entries, std::u16string& failedName);

  // ReadEntries in two steps, for a scan that reads small files while it
  // lists them. ListNames gives every entry's names and the listing's
  // hints (kind, kindListed, listedAsFile), in readdir order, "." and ".."
  // skipped.
  Status ListNames(std::vector<ListedEntry>& entries);
  // Fills kind, word, size and stamp of one listed entry as lstat gives
  // them. An entry listed as a file is opened instead (never following a
  // link, never blocking, the access time kept where allowed) and its
  // stat taken from the open descriptor; when it is a regular file of at
  // most `limit` bytes, one read of its length plus one byte puts its
  // content into `buffer`, and `content` is that length; otherwise (any
  // other kind, larger, a different length read, or not readable this
  // way) `content` is -1. Fails when the entry cannot be looked at
  // (IsMissingEntry when it is gone).
  Status LookAt(ListedEntry& entry, uint8_t* buffer, uint32_t limit, int64_t& content) const;

 private:
  // fstatat that never follows a link: kind, word, size and stamp.
  Status Stat(ListedEntry& entry) const;

  FileHandle directory_;
};

}  // namespace platform

}  // namespace torquelin
