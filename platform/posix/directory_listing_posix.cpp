// DirectoryListing on POSIX: openat relative to the parent, readdir on a
// duplicate of the descriptor, fstatat(AT_SYMLINK_NOFOLLOW) per entry.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <utility>

#include "platform/directory_listing.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/posix/posix_failure.h"
#include "platform/posix/stat_stamp.h"

namespace torquelin {

namespace platform {
namespace {

EntryKind KindFromMode(mode_t mode) {
  if (S_ISDIR(mode)) return EntryKind::Directory;
  if (S_ISLNK(mode)) return EntryKind::Link;
  return EntryKind::Other;
}

void Fill(ListedEntry& entry, const struct stat& st) {
  entry.kind = KindFromMode(st.st_mode);
  entry.word = AttributeWordFromMode(st.st_mode);
  entry.size = S_ISREG(st.st_mode) ? st.st_size : -1;
  entry.stamp = StampFromStat(st);
}

}  // namespace

Status DirectoryListing::OpenRoot(const std::u16string& path) {
  Close();
  const std::string native = ToNativePath(path);
  directory_ =
      FileHandle(::open(native.empty() ? "/" : native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!directory_.IsOpen()) return LastFailure();
  return {};
}

Status DirectoryListing::OpenChild(const DirectoryListing& parent, const std::string& nativeName) {
  Close();
  const int at = Fd(parent.directory_);
  directory_ =
      FileHandle(::openat(at, nativeName.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
  if (directory_.IsOpen()) return {};
  const Failure failure = LastFailure();
  struct stat st;
  // O_DIRECTORY may answer a link with ENOTDIR; say what it is.
  if (failure.code == ENOTDIR && ::fstatat(at, nativeName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    return FailureOf(ELOOP);
  }
  return failure;
}

Status DirectoryListing::OpenRoute(const DirectoryListing& base,
                                   std::span<const std::string> route) {
  const DirectoryListing* parent = &base;
  DirectoryListing at;
  for (size_t k = 0; k + 1 < route.size(); ++k) {
    DirectoryListing next;
    const Status opened = next.OpenChild(*parent, route[k]);
    if (!opened) return opened;
    at = std::move(next);
    parent = &at;
  }
  return OpenChild(*parent, route.back());
}

Status DirectoryListing::ReadEntries(bool withWords, std::vector<ListedEntry>& entries,
                                     std::u16string& failedName) {
  failedName.clear();
  const Status listed = ListNames(entries);
  if (!listed) return listed;
  for (ListedEntry& entry : entries) {
    if (!withWords && entry.kindListed) continue;
    const Status looked = Stat(entry);
    if (!looked) {
      failedName = entry.name;
      return looked;
    }
  }
  return {};
}

Status DirectoryListing::ListNames(std::vector<ListedEntry>& entries) {
  entries.clear();
  // readdir takes its descriptor over; the listing keeps its own for openat.
  const int copy = ::fcntl(Fd(directory_), F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return LastFailure();
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    const Failure failure = LastFailure();
    ::close(copy);
    return failure;
  }
  ::rewinddir(dir);
  int error = 0;
  while (true) {
    errno = 0;
    const struct dirent* e = ::readdir(dir);
    if (e == nullptr) {
      error = errno;
      break;
    }
    const char* name = e->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    ListedEntry& entry = entries.emplace_back();
    entry.nativeName = name;
    entry.name = NameFromNative(name);
    entry.kindListed = e->d_type != DT_UNKNOWN;
    entry.kind = e->d_type == DT_DIR   ? EntryKind::Directory
                 : e->d_type == DT_LNK ? EntryKind::Link
                                       : EntryKind::Other;
    entry.listedAsFile = e->d_type == DT_REG;
  }
  ::closedir(dir);
  if (error != 0) return FailureOf(error);
  return {};
}

Status DirectoryListing::Stat(ListedEntry& entry) const {
  struct stat st;
  if (::fstatat(Fd(directory_), entry.nativeName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return LastFailure();
  }
  Fill(entry, st);
  return {};
}

Status DirectoryListing::LookAt(ListedEntry& entry, uint8_t* buffer, uint32_t limit,
                                int64_t& content) const {
  content = -1;
  if (entry.listedAsFile && buffer != nullptr) {
    // One lookup of the name instead of two (a stat, then an open).
    const Result<FileHandle> file = OpenEntryAt(directory_, entry.nativeName);
    if (file) {
      struct stat st;
      if (::fstat(Fd(*file), &st) == 0) {
        if (S_ISREG(st.st_mode) && st.st_size <= static_cast<off_t>(limit)) {
          // The byte past the length tells a file that grew since the stat.
          const Result<uint64_t> got =
              file->ReadOnce(buffer, static_cast<uint64_t>(st.st_size) + 1);
          if (got && *got == static_cast<uint64_t>(st.st_size)) content = st.st_size;
        }
        Fill(entry, st);
        return {};
      }
    } else if (file.error() == ENOENT) {
      return Failure{file.error()};
    }
    // Refused for another reason (a link now, no permission, no descriptor
    // left): the stat below says what the entry is.
  }
  return Stat(entry);
}

}  // namespace platform

}  // namespace torquelin
