// POSIX implementation of the file-system primitives in platform/files.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/encoding.h"
#include "platform/files.h"
#include "platform/posix/posix_failure.h"
#include "platform/posix/stat_stamp.h"

namespace torquelin {

namespace platform {

Result<uint32_t> GetAttributeWord(const std::u16string& path) {
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return LastFailure();
  return AttributeWordFromMode(st.st_mode);
}

Status SetAttributeWord(const std::u16string& path, uint32_t word) {
  const std::string native = ToNativePath(path);
  uint32_t current = 0;
  if ((word >> 16) == 0) {
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return LastFailure();
    current = st.st_mode;
  }
  if (::chmod(native.c_str(), static_cast<mode_t>(PermissionsForWord(word, current))) != 0) {
    return LastFailure();
  }
  return {};
}

constexpr off_t kDefaultReadAhead = 128 * 1024;

namespace {

// A path longer than one call may name (a tree deeper than PATH_MAX, which
// the walk lists): its directories are opened one at a time, as the kernel
// would resolve them, and `name` gets the last component. The parent is
// AT_FDCWD (held by no handle) for a bare name or a relative path's first
// level.
Result<FileHandle> OpenParentOfLongPath(const std::string& native, std::string& name) {
  const size_t last = native.rfind('/');
  name = native.substr(last == std::string::npos ? 0 : last + 1);
  if (last == std::string::npos) return FileHandle();
  FileHandle at;
  if (native[0] == '/') {
    at = FileHandle(::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC));
    if (!at.IsOpen()) return LastFailure();
  }
  size_t start = native[0] == '/' ? 1 : 0;
  while (start < last) {
    const size_t slash = native.find('/', start);
    if (slash > start) {
      const int next =
          ::openat(at.IsOpen() ? Fd(at) : AT_FDCWD, native.substr(start, slash - start).c_str(),
                   O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (next < 0) return LastFailure();
      at = FileHandle(next);
    }
    start = slash + 1;
  }
  return at;
}

int DescriptorOr(const FileHandle& directory, int none) {
  return directory.IsOpen() ? Fd(directory) : none;
}

Result<FileHandle> OpenRegularForReading(const std::u16string& path, int64_t* size,
                                         int extraFlags) {
  const std::string native = ToNativePath(path);
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | extraFlags;
  FileHandle file(::open(native.c_str(), flags));
  if (!file.IsOpen() && errno == ENAMETOOLONG) {
    std::string name;
    Result<FileHandle> parent = OpenParentOfLongPath(native, name);
    if (!parent) return Failure{parent.error()};
    file = FileHandle(::openat(DescriptorOr(*parent, AT_FDCWD), name.c_str(), flags));
  }
  if (!file.IsOpen()) return LastFailure();
  struct stat st;
  if (::fstat(Fd(file), &st) != 0) return LastFailure();
  if (!S_ISREG(st.st_mode)) return FailureOf(S_ISDIR(st.st_mode) ? EISDIR : ENXIO);
  // O_NONBLOCK stays: Linux file systems ignore it on regular files, and
  // clearing it would cost a system call per file on a tree of small files.
  // FileHandle::Read clears it the first time a read would block.
  if (size != nullptr) *size = st.st_size;
  // Only a file longer than the kernel's usual read-ahead window gains from a
  // wider one; on the many small files of a tree the call is pure cost.
  if (st.st_size > kDefaultReadAhead) ::posix_fadvise(Fd(file), 0, 0, POSIX_FADV_SEQUENTIAL);
  return file;
}

}  // namespace

Result<FileHandle> OpenForReading(const std::u16string& path, int64_t* size) {
  return OpenRegularForReading(path, size, 0);
}

Result<FileHandle> OpenEntryForReading(const std::u16string& path, int64_t* size) {
  return OpenRegularForReading(path, size, O_NOFOLLOW);
}

Result<FileHandle> OpenDirectoryForLookup(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  FileHandle directory(
      ::open(native.empty() ? "/" : native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!directory.IsOpen()) return LastFailure();
  return directory;
}

namespace {
// O_NOATIME is refused (EPERM) on files the caller does not own; once one
// refused it, the scan most likely reads someone else's tree and stops
// asking rather than paying a failed open per file.
std::atomic<bool> gNoAccessTimeRefused{false};
}  // namespace

Result<FileHandle> OpenEntryAt(const FileHandle& directory, const std::string& nativeName) {
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;
  if (!gNoAccessTimeRefused.load(std::memory_order_relaxed)) {
    const int fd = ::openat(Fd(directory), nativeName.c_str(), flags | O_NOATIME);
    if (fd >= 0) return FileHandle(fd);
    if (errno != EPERM) return LastFailure();
    gNoAccessTimeRefused.store(true, std::memory_order_relaxed);
  }
  const int fd = ::openat(Fd(directory), nativeName.c_str(), flags);
  if (fd < 0) return LastFailure();
  return FileHandle(fd);
}

Result<std::string> ReadLinkTarget(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  std::string name = native;
  FileHandle parent;
  if (native.size() >= PATH_MAX) {
    Result<FileHandle> opened = OpenParentOfLongPath(native, name);
    if (!opened) return Failure{opened.error()};
    parent = std::move(*opened);
  }
  // A link's size from lstat may be 0 (some file systems) or stale, so the
  // buffer grows until readlink no longer fills it.
  std::string target(256, '\0');
  while (true) {
    const ssize_t got =
        ::readlinkat(DescriptorOr(parent, AT_FDCWD), name.c_str(), target.data(), target.size());
    if (got < 0) return LastFailure();
    if (static_cast<size_t>(got) < target.size()) {
      target.resize(static_cast<size_t>(got));
      return target;
    }
    target.resize(target.size() * 2);
  }
}

Result<FileHandle> OpenForWriting(const std::u16string& path) {
  if (const int error = InjectedError(fault_injection::FaultPoint::Create)) {
    return FailureOf(error);
  }
  const int fd =
      ::open(ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
  if (fd < 0) return LastFailure();
  return FileHandle(fd);
}

Result<EntryStamp> StampEntry(const std::u16string& path) {
  struct stat st;
  if (::lstat(ToNativePath(path).c_str(), &st) != 0) return LastFailure();
  return StampFromStat(st);
}

Result<NodeId> GetNodeId(const std::u16string& path) {
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return LastFailure();
  return NodeId{static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino)};
}

bool IsSymbolicLink(const std::u16string& path) {
  struct stat st;
  return ::lstat(ToNativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

Status RemoveFile(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  // DeleteFileW never removes a directory; unlink on Linux would not either,
  // but say so plainly.
  if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return FailureOf(EISDIR);
  if (::unlink(native.c_str()) != 0) return LastFailure();
  return {};
}

Status RemoveEmptyDirectory(const std::u16string& path) {
  if (::rmdir(ToNativePath(path).c_str()) != 0) return LastFailure();
  return {};
}

Status MakeDirectory(const std::u16string& path) {
  if (::mkdir(ToNativePath(path).c_str(), 0777) != 0) return LastFailure();
  return {};
}

}  // namespace platform

}  // namespace torquelin
