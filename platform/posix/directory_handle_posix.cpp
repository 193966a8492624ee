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
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "platform/directory_handle.h"
#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/posix/posix_failure.h"

namespace torquelin {

namespace platform {
namespace {

// Cleared for good the first time the kernel says it has no openat2.
std::atomic<bool> gOpenat2Works{true};

constexpr int kDirectoryFlags = O_PATH | O_DIRECTORY | O_CLOEXEC;

// A link answered by O_DIRECTORY | O_NOFOLLOW comes back as ENOTDIR; the
// callers promise ELOOP for a link in the way.
Failure ComponentFailure(int at, const char* name, int error) {
  struct stat st;
  if (error == ENOTDIR && ::fstatat(at, name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISLNK(st.st_mode)) {
    return FailureOf(ELOOP);
  }
  return FailureOf(error);
}

// The status of a call that has just returned `ok`: else its failure, from
// errno.
Status Done(bool ok) { return ok ? Status() : Status(LastFailure()); }

// Opens the directory `native` ("a/b", clean, relative) beneath `root`.
Result<FileHandle> OpenBeneath(int root, const std::string& native) {
  if (gOpenat2Works.load()) {
    open_how how{};
    how.flags = kDirectoryFlags;
    how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS;
    const int injected = InjectedError(fault_injection::FaultPoint::Openat2);
    const long fd =
        injected != 0 ? -1 : ::syscall(SYS_openat2, root, native.c_str(), &how, sizeof how);
    if (fd >= 0) return FileHandle(static_cast<int>(fd));
    const int error = injected != 0 ? injected : errno;
    // ENOSYS: an older kernel; EPERM: a sandbox that filters the call. An
    // injected failure falls back for this call only, and so does a path
    // longer than one call may name: a component at a time has no limit.
    if (error != ENOSYS && error != EPERM && error != ENAMETOOLONG) return FailureOf(error);
    if (injected == 0 && error != ENAMETOOLONG) gOpenat2Works.store(false);
  }
  FileHandle at;
  size_t start = 0;
  while (true) {
    const size_t slash = native.find('/', start);
    const std::string name =
        native.substr(start, slash == std::string::npos ? slash : slash - start);
    const int from = at.IsOpen() ? Fd(at) : root;
    FileHandle next(::openat(from, name.c_str(), kDirectoryFlags | O_NOFOLLOW));
    if (!next.IsOpen()) return ComponentFailure(from, name.c_str(), errno);
    if (slash == std::string::npos) return next;
    at = std::move(next);
    start = slash + 1;
  }
}

}  // namespace

bool ResolvesInOneCall() { return gOpenat2Works.load(); }

Status DirectoryHandle::Open(const std::u16string& path) {
  path_ = ToNativePath(path);
  if (path_.empty()) path_.push_back('/');
  FileHandle opened(::open(path_.c_str(), kDirectoryFlags));
  if (!opened.IsOpen()) {
    const Failure failure = LastFailure();
    directory_.Close();
    return failure;
  }
  directory_ = std::move(opened);
  return {};
}

Result<FileHandle> DirectoryHandle::OpenParent(std::u16string_view relative,
                                               std::string& name) const {
  if (const int error = InjectedError(fault_injection::FaultPoint::Resolve)) {
    return FailureOf(error);
  }
  // "\a\b\c" -> "a/b/c"; the parent is "a/b", the name "c".
  const std::string native = ToNativePath(relative.substr(relative.empty() ? 0 : 1));
  const size_t slash = native.rfind('/');
  if (slash == std::string::npos) {
    name = native;
    return FileHandle();
  }
  name = native.substr(slash + 1);
  return OpenBeneath(Fd(directory_), native.substr(0, slash));
}

NativeHandle DirectoryHandle::At(const FileHandle& parent) const {
  return parent.IsOpen() ? parent.native() : directory_.native();
}

Status DirectoryHandle::Stat(std::u16string_view relative, EntryStatus& status) const {
  struct stat st;
  if (relative.empty()) {
    if (::fstat(Fd(directory_), &st) != 0) return LastFailure();
  } else {
    std::string name;
    const Result<FileHandle> parent = OpenParent(relative, name);
    if (!parent) return Failure{parent.error()};
    if (::fstatat(static_cast<int>(At(*parent)), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
      return LastFailure();
    }
  }
  status.word = AttributeWordFromMode(st.st_mode);
  status.isDirectory = S_ISDIR(st.st_mode);
  status.isLink = S_ISLNK(st.st_mode);
  status.owner = st.st_uid;
  status.group = st.st_gid;
  status.links = st.st_nlink;
  status.id = {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
  return {};
}

Status DirectoryHandle::Remove(std::u16string_view relative, bool* wasDirectory) const {
  if (wasDirectory != nullptr) *wasDirectory = false;
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  const int at = static_cast<int>(At(*parent));
  struct stat st;
  if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastFailure();
  const bool directory = S_ISDIR(st.st_mode);
  if (wasDirectory != nullptr) *wasDirectory = directory;
  // Swapped meanwhile for the other kind, the entry makes unlinkat fail
  // (EISDIR or ENOTDIR); nothing is ever followed.
  return Done(::unlinkat(at, name.c_str(), directory ? AT_REMOVEDIR : 0) == 0);
}

Status DirectoryHandle::MakeDirectory(std::u16string_view relative, uint32_t permissions) const {
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  return Done(::mkdirat(static_cast<int>(At(*parent)), name.c_str(),
                        static_cast<mode_t>(permissions & 07777)) == 0);
}

Result<FileHandle> DirectoryHandle::CreateFile(std::u16string_view relative,
                                               uint32_t permissions) const {
  if (const int error = InjectedError(fault_injection::FaultPoint::Create)) {
    return FailureOf(error);
  }
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  FileHandle file(::openat(static_cast<int>(At(*parent)), name.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                           static_cast<mode_t>(permissions & 07777)));
  if (!file.IsOpen()) return LastFailure();
  return file;
}

Status DirectoryHandle::Rename(std::u16string_view from, std::u16string_view to) const {
  if (const int error = InjectedError(fault_injection::FaultPoint::Rename)) {
    return FailureOf(error);
  }
  std::string fromName, toName;
  const Result<FileHandle> fromParent = OpenParent(from, fromName);
  if (!fromParent) return Failure{fromParent.error()};
  const Result<FileHandle> toParent = OpenParent(to, toName);
  if (!toParent) return Failure{toParent.error()};
  return Done(::renameat(static_cast<int>(At(*fromParent)), fromName.c_str(),
                         static_cast<int>(At(*toParent)), toName.c_str()) == 0);
}

Status DirectoryHandle::SetMode(std::u16string_view relative, uint32_t word) const {
  struct stat st;
  if (relative.empty()) {
    if (::fstat(Fd(directory_), &st) != 0) return LastFailure();
    // The directory itself was opened by the user's path; its O_PATH
    // descriptor cannot change modes, the path can.
    return Done(::chmod(path_.c_str(), static_cast<mode_t>(PermissionsForWord(word, st.st_mode))) ==
                0);
  }
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  const int at = static_cast<int>(At(*parent));
  if (::fstatat(at, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastFailure();
  if (S_ISLNK(st.st_mode)) return FailureOf(ELOOP);
  // AT_SYMLINK_NOFOLLOW makes the C library check the entry it changes
  // through its own descriptor, so a link swapped in after the fstatat
  // above is refused (EOPNOTSUPP) rather than followed.
  if (::fchmodat(at, name.c_str(), static_cast<mode_t>(PermissionsForWord(word, st.st_mode)),
                 AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == EOPNOTSUPP ? FailureOf(ELOOP) : LastFailure();
  }
  return {};
}

Status DirectoryHandle::MakeLink(std::u16string_view relative, const std::string& target) const {
  // A link holds a C string: a NUL inside would silently cut it short.
  if (target.empty() || target.find('\0') != std::string::npos) return FailureOf(EINVAL);
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  return Done(::symlinkat(target.c_str(), static_cast<int>(At(*parent)), name.c_str()) == 0);
}

Result<FileHandle> DirectoryHandle::OpenFile(std::u16string_view relative) const {
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  FileHandle file(::openat(static_cast<int>(At(*parent)), name.c_str(),
                           O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
  if (!file.IsOpen()) return LastFailure();
  struct stat st;
  if (::fstat(Fd(file), &st) != 0) return LastFailure();
  if (!S_ISREG(st.st_mode)) return FailureOf(S_ISDIR(st.st_mode) ? EISDIR : ENXIO);
  ::fcntl(Fd(file), F_SETFL, ::fcntl(Fd(file), F_GETFL) & ~O_NONBLOCK);
  return file;
}

Result<std::string> DirectoryHandle::ReadLink(std::u16string_view relative) const {
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  std::vector<char> buffer(4096);
  ssize_t n = 0;
  while ((n = ::readlinkat(static_cast<int>(At(*parent)), name.c_str(), buffer.data(),
                           buffer.size())) >= 0 &&
         static_cast<size_t>(n) == buffer.size()) {
    buffer.resize(buffer.size() * 2);
  }
  if (n < 0) return LastFailure();
  return std::string(buffer.data(), static_cast<size_t>(n));
}

Status DirectoryHandle::SetOwner(std::u16string_view relative, uint32_t owner,
                                 uint32_t group) const {
  std::string name;
  const Result<FileHandle> parent = OpenParent(relative, name);
  if (!parent) return Failure{parent.error()};
  return Done(::fchownat(static_cast<int>(At(*parent)), name.c_str(), static_cast<uid_t>(owner),
                         static_cast<gid_t>(group), AT_SYMLINK_NOFOLLOW) == 0);
}

Status DirectoryHandle::ListNames(std::u16string_view relative,
                                  std::vector<std::u16string>& names) const {
  int fd = -1;
  if (relative.empty()) {
    fd = ::openat(Fd(directory_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return LastFailure();
  } else {
    std::string name;
    const Result<FileHandle> parent = OpenParent(relative, name);
    if (!parent) return Failure{parent.error()};
    const int at = static_cast<int>(At(*parent));
    fd = ::openat(at, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return ComponentFailure(at, name.c_str(), errno);
  }
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const Failure failure = LastFailure();
    ::close(fd);
    return failure;
  }
  names.clear();
  errno = 0;
  while (const dirent* entry = ::readdir(dir)) {
    const std::string_view name(entry->d_name);
    if (name != "." && name != "..") names.push_back(NameFromNative(name));
  }
  const int error = errno;
  ::closedir(dir);
  if (error != 0) return FailureOf(error);
  return {};
}

size_t DirectoryHandle::FirstUnchangeable(const std::vector<std::u16string>& paths) const {
  constexpr uint64_t kProtected = STATX_ATTR_IMMUTABLE | STATX_ATTR_APPEND;
  const auto isProtected = [](int at, const char* name, int flags) {
    struct statx st;
    return ::statx(at, name, flags | AT_STATX_DONT_SYNC, 0, &st) == 0 &&
           (st.stx_attributes & st.stx_attributes_mask & kProtected) != 0;
  };
  std::u16string openParent;
  std::optional<Result<FileHandle>> parent;
  size_t first = paths.size();
  for (size_t i = 0; i < paths.size() && first == paths.size(); ++i) {
    const std::u16string& path = paths[i];
    if (path.empty()) {
      if (isProtected(Fd(directory_), "", AT_EMPTY_PATH)) first = i;
      continue;
    }
    const std::u16string directory = path.substr(0, path.rfind(u'\\'));
    if (!parent || directory != openParent) {
      std::string ignored;
      parent.emplace(OpenParent(path, ignored));
      openParent = directory;
    }
    if (!*parent) continue;
    const std::string name = NameToNative(std::u16string_view(path).substr(path.rfind(u'\\') + 1));
    if (isProtected(static_cast<int>(At(**parent)), name.c_str(), AT_SYMLINK_NOFOLLOW)) first = i;
  }
  return first;
}

namespace {

// A new file `name` in `directory` that holds `content` the moment its name
// appears: written unnamed (O_TMPFILE) and linked into place, where the file
// system allows that; else created empty and filled at once. EEXIST when
// anything is there.
Result<FileHandle> CreateFilled(int directory, const std::string& name, std::string_view content) {
  if (!content.empty()) {
    FileHandle unnamed(::openat(directory, ".", O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
    if (unnamed.IsOpen()) {
      const std::string self = "/proc/self/fd/" + std::to_string(Fd(unnamed));
      const Status filled = unnamed.Write(content.data(), content.size());
      if (filled &&
          ::linkat(AT_FDCWD, self.c_str(), directory, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        return unnamed;
      }
      if (filled && errno == EEXIST) return FailureOf(EEXIST);
    }
  }
  FileHandle file(::openat(directory, name.c_str(),
                           O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600));
  if (!file.IsOpen()) return LastFailure();
  if (!content.empty()) {
    const Status filled = file.Write(content.data(), content.size());
    if (!filled) {
      file.Close();
      ::unlinkat(directory, name.c_str(), 0);
      return Failure{filled.error()};
    }
  }
  return file;
}

}  // namespace

Status DirectoryHandle::OpenOwnFile(std::u16string_view name, bool create, std::string_view content,
                                    OwnFile& found, FileHandle& file) const {
  const std::string native = ToNativePath(name);
  const int directory = Fd(directory_);
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
    FileHandle opened;
    if (::fstatat(directory, native.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0) {
      if (foreign(named)) {
        found = OwnFile::Foreign;
        return {};
      }
      opened = FileHandle(
          ::openat(directory, native.c_str(), O_RDWR | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK));
      if (!opened.IsOpen()) {
        if (errno == ENOENT) continue;
        return LastFailure();
      }
    } else if (errno != ENOENT) {
      return LastFailure();
    } else if (!create) {
      found = OwnFile::Missing;
      return {};
    } else {
      Result<FileHandle> created = CreateFilled(directory, native, content);
      if (!created) {
        if (created.error() == EEXIST) continue;
        return Failure{created.error()};
      }
      opened = std::move(*created);
    }
    struct stat st = {};
    if (::fstat(Fd(opened), &st) != 0) return LastFailure();
    if (foreign(st)) {
      found = OwnFile::Foreign;
      return {};
    }
    if (::flock(Fd(opened), LOCK_EX | LOCK_NB) != 0) {
      return errno == EAGAIN ? FailureOf(EWOULDBLOCK) : LastFailure();
    }
    if (::fstatat(directory, native.c_str(), &named, AT_SYMLINK_NOFOLLOW) == 0 &&
        named.st_dev == st.st_dev && named.st_ino == st.st_ino) {
      ::fcntl(Fd(opened), F_SETFL, ::fcntl(Fd(opened), F_GETFL) & ~O_NONBLOCK);
      found = OwnFile::Opened;
      file = std::move(opened);
      return {};
    }
  }
  return FailureOf(EWOULDBLOCK);
}

Status DirectoryHandle::SyncSelf() const {
  const FileHandle self(::openat(Fd(directory_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!self.IsOpen()) return LastFailure();
  return Done(::fsync(Fd(self)) == 0);
}

namespace {

// Runs flush(i) for every i below count, on a few threads when there are
// many: each flush mostly waits for the device, and flushes waiting at once
// share its queue and the file system's journal commits, where one after
// the other each pays a full round trip. Fails with the code of a failed
// flush; the others still started run to their end.
template <class Flush>
Status FlushAll(size_t count, Flush flush) {
  constexpr size_t kFlushThreads = 8;
  constexpr size_t kPerThread = 16;  // fewer are not worth a thread
  const size_t threads = std::min(kFlushThreads, count / kPerThread);
  std::atomic<size_t> next{0};
  std::atomic<uint32_t> failure{0};
  const auto work = [&] {
    for (size_t i; failure.load() == 0 && (i = next++) < count;) {
      const Status flushed = flush(i);
      if (!flushed) {
        uint32_t expected = 0;
        failure.compare_exchange_strong(expected, flushed.error() != 0 ? flushed.error() : EIO);
      }
    }
  };
  std::vector<std::thread> pool;
  for (size_t t = 1; t < threads; ++t) pool.emplace_back(work);
  work();
  for (std::thread& thread : pool) thread.join();
  if (failure.load() == 0) return {};
  return Failure{failure.load()};
}

}  // namespace

Status DirectoryHandle::SyncEntries(const std::vector<std::u16string>& files,
                                    const std::vector<std::u16string>& directories) const {
  if (const int error = InjectedError(fault_injection::FaultPoint::Sync)) return FailureOf(error);
  // One pass starts the writeback of every file, the next waits for each:
  // by then most are written, and their metadata goes in few journal commits.
  enum class Flush { Start, Wait };
  const auto fileFlush = [&](Flush flush) {
    return [this, &files, flush](size_t i) -> Status {
      std::string name;
      const Result<FileHandle> parent = OpenParent(files[i], name);
      if (!parent) return Failure{parent.error()};
      const FileHandle file(::openat(static_cast<int>(At(*parent)), name.c_str(),
                                     O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
      if (!file.IsOpen()) return errno == ELOOP ? Status() : Status(LastFailure());  // a link
      if (flush == Flush::Start) {
        ::sync_file_range(Fd(file), 0, 0, SYNC_FILE_RANGE_WRITE);
        return {};
      }
      return Done(::fdatasync(Fd(file)) == 0);
    };
  };
  const auto start = fileFlush(Flush::Start);
  for (size_t i = 0; i < files.size(); ++i) {
    const Status started = start(i);
    if (!started) return started;
  }
  const Status flushed = FlushAll(files.size(), fileFlush(Flush::Wait));
  if (!flushed) return flushed;
  return FlushAll(directories.size(), [&](size_t i) -> Status {
    const std::u16string& directory = directories[i];
    FileHandle opened;
    if (directory.empty()) {
      opened = FileHandle(::openat(Fd(directory_), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    } else {
      std::string name;
      const Result<FileHandle> parent = OpenParent(directory, name);
      if (!parent) return Failure{parent.error()};
      opened = FileHandle(::openat(static_cast<int>(At(*parent)), name.c_str(),
                                   O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    if (!opened.IsOpen()) {
      // Gone, or no longer a directory (a link is never followed): nothing
      // of ours there to flush.
      if (errno == ENOENT || errno == ENOTDIR || errno == ELOOP) return {};
      return LastFailure();
    }
    return Done(::fsync(Fd(opened)) == 0);
  });
}

Status DirectoryHandle::FreeSpace(uint64_t& available, uint64_t& blockSize) const {
  struct statvfs vfs;
  if (::fstatvfs(Fd(directory_), &vfs) != 0) return LastFailure();
  blockSize = vfs.f_frsize != 0 ? vfs.f_frsize : vfs.f_bsize;
  available = static_cast<uint64_t>(vfs.f_bavail) * blockSize;
  return {};
}

}  // namespace platform

}  // namespace torquelin
