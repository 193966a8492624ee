// POSIX implementation of the file-system primitives in platform/files.h.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/encoding.h"
#include "platform/fault_injection.h"
#include "platform/files.h"

namespace platform {
namespace {

// A failure a test has asked for at this point: sets errno and says so.
bool InjectedFailure(fault_injection::FaultPoint point) {
  const int error = fault_injection::Take(point);
  if (error == 0) return false;
  errno = error;
  return true;
}

uint32_t WordFromMode(mode_t mode) {
  uint32_t word = static_cast<uint32_t>(mode & 0xFFFF) << 16;
  word |= S_ISDIR(mode) ? kAttrDirectory : kAttrNormal;
  if ((mode & S_IWUSR) == 0) word |= kAttrReadOnly;
  return word;
}

}  // namespace

uint32_t GetAttributeWord(const std::u16string& path) {
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return kInvalidAttributes;
  return WordFromMode(st.st_mode);
}

bool SetAttributeWord(const std::u16string& path, uint32_t word) {
  const std::string native = ToNativePath(path);
  mode_t mode;
  if ((word >> 16) != 0) {
    mode = static_cast<mode_t>((word >> 16) & 07777);
  } else {
    struct stat st;
    if (::stat(native.c_str(), &st) != 0) return false;
    mode = st.st_mode & 07777;
    if (word & kAttrReadOnly) {
      mode &= ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH);
    } else {
      mode |= S_IWUSR;
    }
  }
  return ::chmod(native.c_str(), mode) == 0;
}

constexpr off_t kDefaultReadAhead = 128 * 1024;

int OpenForReading(const std::u16string& path, int64_t* size) {
  const int fd = ::open(ToNativePath(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
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

bool GetNodeId(const std::u16string& path, NodeId& id) {
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return false;
  id.device = st.st_dev;
  id.inode = st.st_ino;
  return true;
}

bool ListDirectory(const std::u16string& path, std::vector<DirEntry>& entries) {
  entries.clear();
  const std::string native = ToNativePath(path);
  DIR* dir = ::opendir(native.empty() ? "/" : native.c_str());
  if (dir == nullptr) return false;
  const int dirFd = ::dirfd(dir);
  while (struct dirent* e = ::readdir(dir)) {
    const char* name = e->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    DirEntry entry;
    entry.name = NameFromNative(name);
    bool needStat = true;
    // d_type saves a stat for plain files; directories and links are stat'ed
    // (links are followed, and directories need their identity).
    if (e->d_type == DT_REG) needStat = false;
    if (needStat) {
      struct stat st;
      if (::fstatat(dirFd, name, &st, 0) == 0 && S_ISDIR(st.st_mode)) {
        entry.isDirectory = true;
        entry.id.device = st.st_dev;
        entry.id.inode = st.st_ino;
      }
    }
    entries.push_back(std::move(entry));
  }
  ::closedir(dir);
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

bool RenameReplacing(const std::u16string& from, const std::u16string& to) {
  if (InjectedFailure(fault_injection::FaultPoint::Rename)) return false;
  return ::rename(ToNativePath(from).c_str(), ToNativePath(to).c_str()) == 0;
}

}  // namespace platform
