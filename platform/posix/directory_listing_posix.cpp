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
#include "platform/posix/stat_stamp.h"

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

DirectoryListing::~DirectoryListing() { Close(); }

DirectoryListing::DirectoryListing(DirectoryListing&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)) {}

DirectoryListing& DirectoryListing::operator=(DirectoryListing&& other) noexcept {
  if (this != &other) {
    Close();
    descriptor_ = std::exchange(other.descriptor_, -1);
  }
  return *this;
}

void DirectoryListing::Close() {
  if (descriptor_ >= 0) ::close(descriptor_);
  descriptor_ = -1;
}

bool DirectoryListing::OpenRoot(const std::u16string& path) {
  Close();
  const std::string native = ToNativePath(path);
  descriptor_ = ::open(native.empty() ? "/" : native.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  return descriptor_ >= 0;
}

bool DirectoryListing::OpenChild(const DirectoryListing& parent, const std::string& nativeName) {
  Close();
  descriptor_ = ::openat(parent.descriptor_, nativeName.c_str(),
                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor_ >= 0) return true;
  const int error = errno;
  struct stat st;
  // O_DIRECTORY may answer a link with ENOTDIR; say what it is.
  if (error == ENOTDIR &&
      ::fstatat(parent.descriptor_, nativeName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    errno = ELOOP;
  } else {
    errno = error;
  }
  return false;
}

bool DirectoryListing::OpenRoute(const DirectoryListing& base, std::span<const std::string> route) {
  const DirectoryListing* parent = &base;
  DirectoryListing at;
  for (size_t k = 0; k + 1 < route.size(); ++k) {
    DirectoryListing next;
    if (!next.OpenChild(*parent, route[k])) return false;
    at = std::move(next);
    parent = &at;
  }
  return OpenChild(*parent, route.back());
}

bool DirectoryListing::ReadEntries(bool withWords, std::vector<ListedEntry>& entries,
                                   std::u16string& failedName) {
  failedName.clear();
  if (!ListNames(entries)) return false;
  for (ListedEntry& entry : entries) {
    if (!withWords && entry.kindListed) continue;
    if (!Stat(entry)) {
      failedName = entry.name;
      return false;
    }
  }
  return true;
}

bool DirectoryListing::ListNames(std::vector<ListedEntry>& entries) {
  entries.clear();
  // readdir takes its descriptor over; the listing keeps its own for openat.
  const int copy = ::fcntl(descriptor_, F_DUPFD_CLOEXEC, 0);
  if (copy < 0) return false;
  DIR* dir = ::fdopendir(copy);
  if (dir == nullptr) {
    const int error = errno;
    ::close(copy);
    errno = error;
    return false;
  }
  ::rewinddir(dir);
  bool ok = true;
  while (true) {
    errno = 0;
    const struct dirent* e = ::readdir(dir);
    if (e == nullptr) {
      ok = errno == 0;
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
  const int error = errno;
  ::closedir(dir);
  errno = error;
  return ok;
}

bool DirectoryListing::Stat(ListedEntry& entry) const {
  struct stat st;
  if (::fstatat(descriptor_, entry.nativeName.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return false;
  }
  Fill(entry, st);
  return true;
}

bool DirectoryListing::LookAt(ListedEntry& entry, uint8_t* buffer, uint32_t limit,
                              int64_t& content) const {
  content = -1;
  if (entry.listedAsFile && buffer != nullptr) {
    // One lookup of the name instead of two (a stat, then an open).
    const int fd = OpenEntryAt(descriptor_, entry.nativeName);
    if (fd >= 0) {
      struct stat st;
      const bool known = ::fstat(fd, &st) == 0;
      if (known && S_ISREG(st.st_mode) && st.st_size <= static_cast<off_t>(limit)) {
        // The byte past the length tells a file that grew since the stat.
        const int64_t got = ReadOnce(fd, buffer, static_cast<uint64_t>(st.st_size) + 1);
        if (got == st.st_size) content = got;
      }
      ::close(fd);
      if (known) {
        Fill(entry, st);
        return true;
      }
    } else if (errno == ENOENT) {
      return false;
    }
    // Refused for another reason (a link now, no permission, no descriptor
    // left): the stat below says what the entry is.
  }
  return Stat(entry);
}

}  // namespace platform
