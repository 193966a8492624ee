// POSIX implementation of platform/output_target.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/encoding.h"
#include "platform/output_target.h"

namespace platform {

NodeKind KindOfNode(const std::u16string& path) {
  struct stat st;
  if (::stat(ToNativePath(path).c_str(), &st) != 0) return NodeKind::Missing;
  if (S_ISREG(st.st_mode)) return NodeKind::RegularFile;
  if (S_ISDIR(st.st_mode)) return NodeKind::Directory;
  if (S_ISCHR(st.st_mode)) return NodeKind::CharacterDevice;
  if (S_ISFIFO(st.st_mode)) return NodeKind::Fifo;
  return NodeKind::Other;
}

std::u16string ResolveFinalLink(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (::lstat(native.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
  char* resolved = ::realpath(native.c_str(), nullptr);
  if (resolved == nullptr) return path;
  // A native path: its '/' stay separators, every other byte maps back.
  std::u16string result = NameFromNative(resolved);
  std::free(resolved);
  return result;
}

int OpenDeviceForWriting(const std::u16string& path) {
  const int fd = ::open(ToNativePath(path).c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC);
  struct stat st;
  if (fd < 0 || (::fstat(fd, &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)))) {
    return fd;
  }
  // Something else took the device's place since the caller looked: written
  // into without truncating, a regular file would keep a stale tail.
  ::close(fd);
  errno = ENXIO;
  return -1;
}

bool MayWrite(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return false;
  // New entries need search permission on the directory as well.
  const int wanted = S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK;
  return ::faccessat(AT_FDCWD, native.c_str(), wanted, AT_EACCESS) == 0;
}

}  // namespace platform
