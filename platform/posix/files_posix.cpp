// POSIX implementation of the file-system primitives in platform/files.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstring>

#include "platform/encoding.h"
#include "platform/fault_injection.h"
#include "platform/files.h"
#include "platform/posix/stat_stamp.h"

namespace platform {
namespace {

// A failure a test has asked for at this point: sets errno and says so.
bool InjectedFailure(fault_injection::FaultPoint point) {
  const int error = fault_injection::Take(point);
  if (error == 0) return false;
  errno = error;
  return true;
}

}  // namespace

uint32_t GetAttributeWord(const std::u16string& path) {
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return kInvalidAttributes;
  return AttributeWordFromMode(st.st_mode);
}

bool SetAttributeWord(const std::u16string& path, uint32_t word) {
  const std::string native = ToNativePath(path);
  uint32_t current = 0;
  if ((word >> 16) == 0) {
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return false;
    current = st.st_mode;
  }
  return ::chmod(native.c_str(), static_cast<mode_t>(PermissionsForWord(word, current))) == 0;
}

constexpr off_t kDefaultReadAhead = 128 * 1024;

namespace {

// A path longer than one call may name (a tree deeper than PATH_MAX, which
// the walk lists): its directories are opened one at a time, as the kernel
// would resolve them, and `name` gets the last component. Returns the parent
// descriptor (AT_FDCWD for a bare name), which the caller closes, or -1.
int OpenParentOfLongPath(const std::string& native, std::string& name) {
  const size_t last = native.rfind('/');
  name = native.substr(last == std::string::npos ? 0 : last + 1);
  if (last == std::string::npos) return AT_FDCWD;
  int at = native[0] == '/' ? ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC) : AT_FDCWD;
  size_t start = native[0] == '/' ? 1 : 0;
  while (at != -1 && start < last) {
    const size_t slash = native.find('/', start);
    if (slash > start) {
      const int next = ::openat(at, native.substr(start, slash - start).c_str(),
                                O_PATH | O_DIRECTORY | O_CLOEXEC);
      const int error = errno;
      if (at != AT_FDCWD) ::close(at);
      errno = error;
      at = next;
    }
    start = slash + 1;
  }
  return at;
}

void CloseParent(int parent) {
  const int error = errno;
  if (parent >= 0) ::close(parent);
  errno = error;
}

int OpenRegularForReading(const std::u16string& path, int64_t* size, int extraFlags) {
  const std::string native = ToNativePath(path);
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | extraFlags;
  int fd = ::open(native.c_str(), flags);
  if (fd < 0 && errno == ENAMETOOLONG) {
    std::string name;
    const int parent = OpenParentOfLongPath(native, name);
    if (parent == -1) return -1;
    fd = ::openat(parent, name.c_str(), flags);
    CloseParent(parent);
  }
  if (fd < 0) return -1;
  struct stat st;
  const bool known = ::fstat(fd, &st) == 0;
  if (!known || !S_ISREG(st.st_mode)) {
    const int err = !known ? errno : S_ISDIR(st.st_mode) ? EISDIR : ENXIO;
    ::close(fd);
    errno = err;
    return -1;
  }
  // O_NONBLOCK stays: Linux file systems ignore it on regular files, and
  // clearing it would cost a system call per file on a tree of small files.
  // ReadDescriptor clears it the first time a read would block.
  if (size != nullptr) *size = st.st_size;
  // Only a file longer than the kernel's usual read-ahead window gains from a
  // wider one; on the many small files of a tree the call is pure cost.
  if (st.st_size > kDefaultReadAhead) ::posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  return fd;
}

}  // namespace

int OpenForReading(const std::u16string& path, int64_t* size) {
  return OpenRegularForReading(path, size, 0);
}

int OpenEntryForReading(const std::u16string& path, int64_t* size) {
  return OpenRegularForReading(path, size, O_NOFOLLOW);
}

int OpenDirectoryForLookup(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  return ::open(native.empty() ? "/" : native.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
}

namespace {
// O_NOATIME is refused (EPERM) on files the caller does not own; once one
// refused it, the scan most likely reads someone else's tree and stops
// asking rather than paying a failed open per file.
std::atomic<bool> gNoAccessTimeRefused{false};
}  // namespace

int OpenEntryAt(int directory, const std::string& nativeName) {
  const int flags = O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW;
  if (!gNoAccessTimeRefused.load(std::memory_order_relaxed)) {
    const int fd = ::openat(directory, nativeName.c_str(), flags | O_NOATIME);
    if (fd >= 0 || errno != EPERM) return fd;
    gNoAccessTimeRefused.store(true, std::memory_order_relaxed);
  }
  return ::openat(directory, nativeName.c_str(), flags);
}

int64_t ReadOnce(int fd, void* buffer, uint64_t n) {
  while (true) {
    const ssize_t got = ::read(fd, buffer, n);
    if (got >= 0 || errno != EINTR) return got;
  }
}

bool ReadLinkTarget(const std::u16string& path, std::string& target) {
  const std::string native = ToNativePath(path);
  std::string name = native;
  int parent = AT_FDCWD;
  if (native.size() >= PATH_MAX) {
    parent = OpenParentOfLongPath(native, name);
    if (parent == -1) return false;
  }
  // A link's size from lstat may be 0 (some file systems) or stale, so the
  // buffer grows until readlink no longer fills it.
  target.resize(256);
  while (true) {
    const ssize_t got = ::readlinkat(parent, name.c_str(), target.data(), target.size());
    if (got < 0 || static_cast<size_t>(got) < target.size()) CloseParent(parent);
    if (got < 0) return false;
    if (static_cast<size_t>(got) < target.size()) {
      target.resize(static_cast<size_t>(got));
      return true;
    }
    target.resize(target.size() * 2);
  }
}

int OpenForWriting(const std::u16string& path) {
  if (InjectedFailure(fault_injection::FaultPoint::Create)) return -1;
  return ::open(ToNativePath(path).c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
}

int64_t ReadDescriptor(int fd, void* buffer, uint64_t n) {
  while (true) {
    const ssize_t got = ::read(fd, buffer, n);
    if (got >= 0) return got;
    if (errno == EINTR) continue;
    // Only OpenForReading's O_NONBLOCK can make a read refuse to wait; a file
    // system that honours it on a regular file gets a plain blocking read,
    // as if the flag had never been set.
    if (errno != EAGAIN && errno != EWOULDBLOCK) return -1;
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || (flags & O_NONBLOCK) == 0) return -1;
    if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return -1;
  }
}

int64_t WriteDescriptor(int fd, const void* buffer, uint64_t n) {
  if (InjectedFailure(fault_injection::FaultPoint::Write)) return -1;
  const char* p = static_cast<const char*>(buffer);
  uint64_t done = 0;
  while (done < n) {
    const ssize_t put = ::write(fd, p + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return done == 0 ? -1 : static_cast<int64_t>(done);
    }
    if (put == 0) {
      errno = ENOSPC;
      return done == 0 ? -1 : static_cast<int64_t>(done);
    }
    done += static_cast<uint64_t>(put);
  }
  return static_cast<int64_t>(done);
}

int64_t SeekDescriptor(int fd, int64_t position) { return ::lseek(fd, position, SEEK_SET); }
int64_t SeekDescriptorToEnd(int fd) { return ::lseek(fd, 0, SEEK_END); }
int64_t TellDescriptor(int fd) { return ::lseek(fd, 0, SEEK_CUR); }

int64_t DescriptorSize(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return -1;
  return st.st_size;
}

bool SyncDescriptor(int fd) {
  if (InjectedFailure(fault_injection::FaultPoint::Sync)) return false;
  return ::fsync(fd) == 0;
}

void CloseDescriptor(int fd) { ::close(fd); }

bool StampEntry(const std::u16string& path, EntryStamp& stamp) {
  struct stat st;
  if (::lstat(ToNativePath(path).c_str(), &st) != 0) return false;
  stamp = StampFromStat(st);
  return true;
}

bool TouchDescriptor(int fd, int64_t& changedNs) {
  struct stat st;
  if (::futimens(fd, nullptr) != 0 || ::fstat(fd, &st) != 0) return false;
  changedNs = Nanoseconds(st.st_ctim);
  return true;
}

bool TruncateDescriptor(int fd, int64_t size) { return ::ftruncate(fd, size) == 0; }

bool GetNodeId(const std::u16string& path, NodeId& id) {
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return false;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  return true;
}

bool IsSymbolicLink(const std::u16string& path) {
  struct stat st;
  return ::lstat(ToNativePath(path).c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool RemoveFile(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  // DeleteFileW never removes a directory; unlink on Linux would not either,
  // but say so plainly.
  if (::lstat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
    errno = EISDIR;
    return false;
  }
  return ::unlink(native.c_str()) == 0;
}

bool RemoveEmptyDirectory(const std::u16string& path) {
  return ::rmdir(ToNativePath(path).c_str()) == 0;
}

bool MakeDirectory(const std::u16string& path) {
  return ::mkdir(ToNativePath(path).c_str(), 0777) == 0;
}

}  // namespace platform
