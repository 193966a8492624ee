// POSIX implementation of platform/output_target.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "platform/encoding.h"
#include "platform/output_target.h"
#include "platform/posix/posix_failure.h"

namespace torquelin {

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

Result<FileHandle> OpenDeviceForWriting(const std::u16string& path) {
  FileHandle device(::open(ToNativePath(path).c_str(), O_WRONLY | O_NOCTTY | O_CLOEXEC));
  if (!device.IsOpen()) return LastFailure();
  struct stat st;
  if (::fstat(Fd(device), &st) == 0 && (S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode))) return device;
  // Something else took the device's place since the caller looked: written
  // into without truncating, a regular file would keep a stale tail.
  return FailureOf(ENXIO);
}

Status MayWrite(const std::u16string& path) {
  const std::string native = ToNativePath(path);
  struct stat st;
  if (::stat(native.c_str(), &st) != 0) return LastFailure();
  // New entries need search permission on the directory as well.
  const int wanted = S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK;
  if (::faccessat(AT_FDCWD, native.c_str(), wanted, AT_EACCESS) != 0) return LastFailure();
  return {};
}

}  // namespace platform

}  // namespace torquelin
