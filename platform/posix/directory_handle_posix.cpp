// DirectoryHandle on Linux: each path's parent is opened beneath the
// directory with openat2(RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS), or, where
// the kernel lacks it, one O_NOFOLLOW openat per component; the operation
// itself is the *at call on the last component.
#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <thread>
#include <utility>
#include <vector>

#include "platform/directory_handle.h"
#include "platform/encoding.h"
#include "platform/fault_injection.h"
#include "platform/files.h"

namespace platform {
namespace {

// Cleared for good the first time the kernel says it has no openat2.
std::atomic<bool> gOpenat2Works{true};

bool InjectedFailure(fault_injection::FaultPoint point) {
  const int error = fault_injection::Take(point);
  if (error == 0) return false;
  errno = error;
  return true;
}

constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// A link answered by O_DIRECTORY | O_NOFOLLOW comes back as ENOTDIR; the
// callers promise ELOOP for a link in the way.
int ErrnoForComponent(int at, const char* name, int error) {
  struct stat st;
  if (error == ENOTDIR && ::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    return ELOOP;
  }
  return error;
}

// Opens the directory `native` ("a/b", clean, relative) beneath `root`.
int OpenBeneath(int root, const std::string& native) {
  if (gOpenat2Works.load()) {
    open_how how{};
    how.flags = kDirectoryFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const bool injected = InjectedFailure(fault_injection::FaultPoint::Openat2);
    const long fd = injected ? -1 : ::syscall(SYS_openat2, root, native.c_str(), &how, sizeof how);
    if (fd >= 0) return static_cast<int>(fd);
    // ENOSYS: an older kernel; EPERM: a sandbox that filters the call. An
    // injected failure falls back for this call only, and so does a path
    // longer than one call may name: a component at a time has no limit.
    if (errno != ENOSYS && errno != EPERM && errno != ENAMETOOLONG) return -1;
    if (!injected && errno != ENAMETOOLONG) gOpenat2Works.store(false);
  }
  int at = root;
  size_t start = 0;
  while (true) {
    const size_t slash = native.find('/', start);
    const std::string name =
        native.substr(start, slash == std::string::npos ? slash : slash - start);
    const int next = ::openat(at, name.c_str(), kDirectoryFlags | O_NOFOLLOW);
    const int error = next < 0 ? ErrnoForComponent(at, name.c_str(), errno) : 0;
    if (at != root) ::close(at);
    if (next < 0) {
      errno = error;
      return -1;
    }
    if (slash == std::string::npos) return next;
    at = next;
    start = slash + 1;
  }
}

}  // namespace

bool ResolvesInOneCall() { return gOpenat2Works.load(); }

DirectoryHandle::~DirectoryHandle() {
  if (descriptor_ >= 0) ::close(descriptor_);
}

DirectoryHandle::DirectoryHandle(DirectoryHandle&& other) noexcept
    : descriptor_(std::exchange(other.descriptor_, -1)), path_(std::move(other.path_)) {}

DirectoryHandle& DirectoryHandle::operator=(DirectoryHandle&& other) noexcept {
  if (this != &other) {
    if (descriptor_ >= 0) ::close(descriptor_);
    descriptor_ = std::exchange(other.descriptor_, -1);
    path_ = std::move(other.path_);
  }
  return *this;
}

bool DirectoryHandle::Open(const std::u16string& path) {
  if (descriptor_ >= 0) ::close(descriptor_);
  path_ = ToNativePath(path);
  if (path_.empty()) path_.push_back('/');
  descriptor_ = ::open(path_.c_str(), kDirectoryFlags);
  return descriptor_ >= 0;
}

int DirectoryHandle::OpenParent(std::u16string_view relative, std::string& name) const {
  if (InjectedFailure(fault_injection::FaultPoint::Resolve)) return -1;
  // "\a\b\c" -> "a/b/c"; the parent is "a/b", the name "c".
  const std::string native = ToNativePath(relative.substr(relative.empty() ? 0 : 1));
  const size_t slash = native.rfind('/');
  if (slash == std::string::npos) {
    name = native;
    return descriptor_;
  }
  name = native.substr(slash + 1);
  return OpenBeneath(descriptor_, native.substr(0, slash));
}

void DirectoryHandle::CloseParent(int parent) const {
  if (parent != descriptor_ && parent >= 0) ::close(parent);
}

bool DirectoryHandle::Stat(std::u16string_view relative, EntryStatus& status) const {
  struct stat st;
  if (relative.empty()) {
    if (::fstat(descriptor_, &st) != 0) return false;
  } else {
    std::string name;
    const int parent = OpenParent(relative, name);
    if (parent < 0) return false;
    const bool ok = ::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    const int error = errno;
    CloseParent(parent);
    errno = error;
    if (!ok) return false;
  }
  status.word = AttributeWordFromMode(st.st_mode);
  status.isDirectory = S_ISDIR(st.st_mode);
  status.isLink = S_ISLNK(st.st_mode);
  status.owner = st.st_uid;
  status.group = st.st_gid;
  status.links = st.st_nlink;
  status.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return true;
}

bool DirectoryHandle::Remove(std::u16string_view relative, bool* wasDirectory) const {
  if (wasDirectory != nullptr) *wasDirectory = false;
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return false;
  struct stat st;
  bool ok = false;
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    const bool directory = S_ISDIR(st.st_mode);
    if (wasDirectory != nullptr) *wasDirectory = directory;
    // Swapped meanwhile for the other kind, the entry makes unlinkat fail
    // (EISDIR or ENOTDIR); nothing is ever followed.
    ok = ::unlinkat(parent, name.c_str(), directory ? AT_REMOVEDIR : 0) == 0;
  }
  const int error = errno;
  CloseParent(parent);
  errno = error;
  return ok;
}

bool DirectoryHandle::MakeDirectory(std::u16string_view relative, uint32_t permissions) const {
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return false;
  const bool ok = ::mkdirat(parent, name.c_str(), static_cast<mode_t>(permissions & 07777)) == 0;
  const int error = errno;
  CloseParent(parent);
  errno = error;
  return ok;
}

int DirectoryHandle::CreateFile(std::u16string_view relative, uint32_t permissions) const {
  if (InjectedFailure(fault_injection::FaultPoint::Create)) return -1;
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return -1;
  const int fd =
      ::openat(parent, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
               static_cast<mode_t>(permissions & 07777));
  const int error = errno;
  CloseParent(parent);
  errno = error;
  return fd;
}

bool DirectoryHandle::Rename(std::u16string_view from, std::u16string_view to) const {
  if (InjectedFailure(fault_injection::FaultPoint::Rename)) return false;
  std::string fromName, toName;
  const int fromParent = OpenParent(from, fromName);
  if (fromParent < 0) return false;
  const int toParent = OpenParent(to, toName);
  bool ok = false;
  if (toParent >= 0) ok = ::renameat(fromParent, fromName.c_str(), toParent, toName.c_str()) == 0;
  const int error = errno;
  CloseParent(fromParent);
  CloseParent(toParent);
  errno = error;
  return ok;
}

bool DirectoryHandle::SetMode(std::u16string_view relative, uint32_t word) const {
  struct stat st;
  if (relative.empty()) {
    if (::fstat(descriptor_, &st) != 0) return false;
    // The directory itself was opened by the user's path; its O_PATH
    // descriptor cannot change modes, the path can.
    return ::chmod(path_.c_str(), static_cast<mode_t>(PermissionsForWord(word, st.st_mode))) == 0;
  }
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return false;
  bool ok = false;
  if (::fstatat(parent, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) {
      errno = ELOOP;
    } else {
      // AT_SYMLINK_NOFOLLOW makes the C library check the entry it changes
      // through its own descriptor, so a link swapped in after the fstatat
      // above is refused (EOPNOTSUPP) rather than followed.
      ok = ::fchmodat(parent, name.c_str(),
                      static_cast<mode_t>(PermissionsForWord(word, st.st_mode)),
                      AT_SYMLINK_NOFOLLOW) == 0;
      if (!ok && errno == EOPNOTSUPP) errno = ELOOP;
    }
  }
  const int error = errno;
  CloseParent(parent);
  errno = error;
  return ok;
}

bool DirectoryHandle::MakeLink(std::u16string_view relative, const std::string& target) const {
  // A link holds a C string: a NUL inside would silently cut it short.
  if (target.empty() || target.find('\0') != std::string::npos) {
    errno = EINVAL;
    return false;
  }
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return false;
  const bool ok = ::symlinkat(target.c_str(), parent, name.c_str()) == 0;
  const int error = errno;
  CloseParent(parent);
  errno = error;
  return ok;
}

int DirectoryHandle::OpenFile(std::u16string_view relative) const {
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return -1;
  int fd = ::openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  int error = fd < 0 ? errno : 0;
  CloseParent(parent);
  struct stat st;
  if (fd >= 0 && (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
    error = S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    ::close(fd);
    fd = -1;
  }
  if (fd >= 0) ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  errno = error;
  return fd;
}

bool DirectoryHandle::ReadLink(std::u16string_view relative, std::string& target) const {
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return false;
  std::vector<char> buffer(4096);
  ssize_t n = 0;
  while ((n = ::readlinkat(parent, name.c_str(), buffer.data(), buffer.size())) >= 0 &&
         static_cast<size_t>(n) == buffer.size()) {
    buffer.resize(buffer.size() * 2);
  }
  const int error = errno;
  CloseParent(parent);
  errno = error;
  if (n < 0) return false;
  target.assign(buffer.data(), static_cast<size_t>(n));
  return true;
}

bool DirectoryHandle::SetOwner(std::u16string_view relative, uint32_t owner, uint32_t group) const {
  std::string name;
  const int parent = OpenParent(relative, name);
  if (parent < 0) return false;
  const bool ok = ::fchownat(parent, name.c_str(), static_cast<uid_t>(owner),
                             static_cast<gid_t>(group), AT_SYMLINK_NOFOLLOW) == 0;
  const int error = errno;
  CloseParent(parent);
  errno = error;
  return ok;
}

bool DirectoryHandle::ListNames(std::u16string_view relative,
                                std::vector<std::u16string>& names) const {
  int fd = -1;
  if (relative.empty()) {
    fd = ::openat(descriptor_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  } else {
    std::string name;
    const int parent = OpenParent(relative, name);
    if (parent < 0) return false;
    fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int error = fd < 0 ? ErrnoForComponent(parent, name.c_str(), errno) : 0;
    CloseParent(parent);
    errno = error;
  }
  if (fd < 0) return false;
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const int error = errno;
    ::close(fd);
    errno = error;
    return false;
  }
  names.clear();
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name != "." && name != "..") names.push_back(NameFromNative(name));
  }
  const int error = errno;
  ::closedir(dir);
  errno = error;
  return error == 0;
}

size_t DirectoryHandle::FirstUnchangeable(const std::vector<std::u16string>& paths) const {
  constexpr uint64_t kProtected = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  const auto isProtected = [](int at, const char* name, int flags) {
    struct statx st;
    return ::statx(at, name, flags | AT_STATX_DONT_SYNC, 0, &st) == 0 &&
           (st.stx_attributes & st.stx_attributes_mask & kProtected) != 0;
  };
  std::u16string openParent;
  int parent = -1;
  size_t first = paths.size();
  for (size_t i = 0; i < paths.size() && first == paths.size(); ++i) {
    const std::u16string& path = paths[i];
    if (path.empty()) {
      if (isProtected(descriptor_, "", AT_EMPTY_PATH)) first = i;
      continue;
    }
    const std::u16string directory = path.substr(0, path.rfind(u'\\'));
    if (parent < 0 || directory != openParent) {
      CloseParent(parent);
      std::string ignored;
      parent = OpenParent(path, ignored);
      openParent = directory;
    }
    if (parent < 0) continue;
    const std::string name = NameToNative(std::u16string_view(path).substr(path.rfind(u'\\') + 1));
    if (isProtected(parent, name.c_str(), AT_SYMLINK_NOFOLLOW)) first = i;
  }
  CloseParent(parent);
  return first;
}

namespace {

// A new file `name` in `directory` that holds `content` the moment its name
// appears: written unnamed (O_TMPFILE) and linked into place, where the file
// system allows that; else created empty and filled at once. -1 with errno
// EEXIST when anything is there.
int CreateFilled(int directory, const std::string& name, std::string_view content) {
  const auto fill = [&](int fd) {
    return WriteDescriptor(fd, content.data(), content.size()) ==
           static_cast<int64_t>(content.size());
  };
  int fd = content.empty() ? -1 : ::openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) {
    const std::string self = "/proc/self/fd/" + std::to_string(fd);
    if (fill(fd) &&
        ::linkat(AT_FDCWD, self.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      return fd;
    }
    const int error = errno;
    ::close(fd);
    if (error == EEXIST) {
      errno = EEXIST;
      return -1;
    }
  }
  fd = ::openat(directory, name.c_str(),
                O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600);
  if (fd >= 0 && !content.empty() && !fill(fd)) {
    const int error = errno;
    ::close(fd);
    ::unlinkat(directory, name.c_str(), 0);
    errno = error;
    return -1;
  }
  return fd;
}

}  // namespace

bool DirectoryHandle::OpenOwnFile(std::u16string_view name, bool create, std::string_view content,
                                  OwnFile& found, int& descriptor) const {
  const std::string native = ToNativePath(name);
  // The entry is judged by lstat before it is opened, so nothing that is not
  // a plain file (a device, a FIFO) is ever opened, and by fstat after, so
  // the file opened is the one judged.
  const auto foreign = [](const struct stat& st) {
    return !S_ISREG(st.st_mode) || st.st_nlink != 1 || st.st_uid != ::geteuid();
  };
  // Another run may remove the file between our open and our lock; the lock
  // would then sit on a file nobody else can find. A few tries settle it.
  for (int attempt = 0; attempt < 8; ++attempt) {
    struct stat named = {};
    int fd = -1;
    if (::fstatat(descriptor_, native.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0) {
      if (foreign(named)) {
        found = OwnFile::Foreign;
        return true;
      }
      fd = ::openat(descriptor_, native.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
      if (fd < 0 && errno == ENOENT) continue;
    } else if (errno != ENOENT) {
      return false;
    } else if (!create) {
      found = OwnFile::Missing;
      return true;
    } else {
      fd = CreateFilled(descriptor_, native, content);
      if (fd < 0 && errno == EEXIST) continue;
    }
    if (fd < 0) return false;
    struct stat opened = {};
    if (::fstat(fd, &opened) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error;
      return false;
    }
    if (foreign(opened)) {
      ::close(fd);
      found = OwnFile::Foreign;
      return true;
    }
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
      const int error = errno;
      ::close(fd);
      errno = error == EAGAIN ? EWOULDBLOCK : error;
      return false;
    }
    if (::fstatat(descriptor_, native.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == opened.st_dev && named.st_ino == opened.st_ino) {
      ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
      found = OwnFile::Opened;
      descriptor = fd;
      return true;
    }
    ::close(fd);
  }
  errno = EWOULDBLOCK;
  return false;
}

bool DirectoryHandle::SyncSelf() const {
  const int fd = ::openat(descriptor_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::fsync(fd) == 0;
  const int error = errno;
  ::close(fd);
  errno = error;
  return ok;
}

namespace {

// Runs flush(i) for every i below count, on a few threads when there are
// many: each flush mostly waits for the device, and flushes waiting at once
// share its queue and the file system's journal commits, where one after
// the other each pays a full round trip. False with the errno of a failed
// flush; the others still started run to their end.
template <class Flush>
bool FlushAll(size_t count, Flush flush) {
  constexpr size_t kFlushThreads = 8;
  constexpr size_t kPerThread = 16;  // fewer are not worth a thread
  const size_t threads = std::min(kFlushThreads, count / kPerThread);
  std::atomic<size_t> next{0};
  std::atomic<int> failure{0};
  const auto work = [&] {
    for (size_t i; failure.load() == 0 && (i = next++) < count;) {
      if (!flush(i)) {
        int expected = 0;
        failure.compare_exchange_strong(expected, errno != 0 ? errno : EIO);
      }
    }
  };
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& thread : pool) thread.join();
  if (failure.load() == 0) return true;
  errno = failure.load();
  return false;
}

}  // namespace

bool DirectoryHandle::SyncEntries(const std::vector<std::u16string>& files,
                                  const std::vector<std::u16string>& directories) const {
  if (InjectedFailure(fault_injection::FaultPoint::Sync)) return false;
  // One pass starts the writeback of every file, the next waits for each:
  // by then most are written, and their metadata goes in few journal commits.
  const auto fileFlush = [&](bool wait) {
    return [this, &files, wait](size_t i) {
      std::string name;
      const int parent = OpenParent(files[i], name);
      if (parent < 0) return false;
      const int fd = ::openat(parent, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
      const int error = errno;
      CloseParent(parent);
      if (fd < 0) {
        if (error == ELOOP) return true;  // a link
        errno = error;
        return false;
      }
      const bool ok =
          wait ? ::fdatasync(fd) == 0 : (::sync_file_range(fd, 0, 0, SYNC_FILE_RANGE_WRITE), true);
      const int syncError = errno;
      ::close(fd);
      errno = syncError;
      return ok;
    };
  };
  const auto start = fileFlush(false);
  for (size_t i = 0; i < files.size(); ++i) {
    if (!start(i)) return false;
  }
  if (!FlushAll(files.size(), fileFlush(true))) return false;
  return FlushAll(directories.size(), [&](size_t i) {
    const std::u16string& directory = directories[i];
    int fd = -1;
    if (directory.empty()) {
      fd = ::openat(descriptor_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    } else {
      std::string name;
      const int parent = OpenParent(directory, name);
      if (parent < 0) return false;
      fd = ::openat(parent, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      const int error = errno;
      CloseParent(parent);
      errno = error;
    }
    if (fd < 0) {
      // Gone, or no longer a directory (a link is never followed): nothing
      // of ours there to flush.
      return errno == ENOENT || errno == ENOTDIR || errno == ELOOP;
    }
    const bool ok = ::fsync(fd) == 0;
    const int error = errno;
    ::close(fd);
    errno = error;
    return ok;
  });
}

bool DirectoryHandle::FreeSpace(uint64_t& available, uint64_t& blockSize) const {
  struct statvfs vfs;
  if (::fstatvfs(descriptor_, &vfs) != 0) return false;
  blockSize = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
  available = static_cast<uint64_t>(vfs.f_bavail) * blockSize;
  return true;
}

}  // namespace platform
