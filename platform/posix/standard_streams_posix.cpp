// POSIX implementation of platform/standard_streams.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <random>
#include <string>

#include "platform/encoding.h"
#include "platform/posix/posix_failure.h"
#include "platform/standard_streams.h"

namespace torquelin {

namespace platform {
namespace {

int DescriptorOf(StandardStream stream) {
  return stream == StandardStream::Input ? STDIN_FILENO : STDOUT_FILENO;
}

std::string TemporaryDirectory() {
  const char* directory = std::getenv("TMPDIR");
  // A relative TMPDIR would depend on where the program was started.
  if (directory != nullptr && directory[0] == '/') return directory;
  return "/tmp";
}

std::string FreshName() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::random_device random;
  std::string name = ".torquelin-stream-";
  for (int half = 0; half < 2; ++half) {
    const uint32_t bits = random();
    for (int shift = 28; shift >= 0; shift -= 4) name.push_back(kHex[(bits >> shift) & 0xF]);
  }
  return name;
}

// Whether a failed O_TMPFILE open means the file system (or the kernel)
// cannot make such files, rather than that the directory refuses us.
bool CannotMakeUnnamedFiles(int error) {
  return error == EOPNOTSUPP || error == EISDIR || error == EINVAL;
}

}  // namespace

Result<FileHandle> OpenStandardStream(StandardStream stream) {
  const int fd = ::fcntl(DescriptorOf(stream), F_DUPFD_CLOEXEC, 0);
  if (fd < 0) return LastFailure();
  return FileHandle(fd);
}

Result<NodeId> StandardStreamId(StandardStream stream) {
  struct stat status {};
  if (::fstat(DescriptorOf(stream), &status) != 0) return LastFailure();
  return NodeId{static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}

bool StandardStreamIsRegularFile(StandardStream stream) {
  struct stat status {};
  return ::fstat(DescriptorOf(stream), &status) == 0 && S_ISREG(status.st_mode);
}

std::u16string StandardStreamFilePath(StandardStream stream) {
  if (!StandardStreamIsRegularFile(stream)) return {};
  const std::string link = "/proc/self/fd/" + std::to_string(DescriptorOf(stream));
  char* resolved = ::realpath(link.c_str(), nullptr);
  if (resolved == nullptr) return {};
  // A native path: its '/' stay separators, every other byte maps back.
  std::u16string path = NameFromNative(resolved);
  std::free(resolved);
  return path;
}

bool StandardStreamIsTerminal(StandardStream stream) { return ::isatty(DescriptorOf(stream)) == 1; }

Result<FileHandle> CreatePrivateTemporaryFile() {
  const std::string directory = TemporaryDirectory();
  const int fd = ::open(directory.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
  if (fd >= 0) return FileHandle(fd);
  if (!CannotMakeUnnamedFiles(errno)) return LastFailure();
  const FileHandle parent(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!parent.IsOpen()) return LastFailure();
  // A name taken by someone else is tried again under another.
  for (int attempt = 0; attempt < 16; ++attempt) {
    const std::string name = FreshName();
    const int made = ::openat(Fd(parent), name.c_str(),
                              O_CREAT | O_EXCL | O_NOFOLLOW | O_RDWR | O_CLOEXEC, 0600);
    if (made < 0) {
      if (errno == EEXIST) continue;
      return LastFailure();
    }
    FileHandle file(made);
    if (::unlinkat(Fd(parent), name.c_str(), 0) != 0) return LastFailure();
    return file;
  }
  return FailureOf(EEXIST);
}

Result<FileHandle> ReopenForReading(const FileHandle& file) {
  if (!file.IsOpen()) return FailureOf(EBADF);
  const std::string link = "/proc/self/fd/" + std::to_string(Fd(file));
  const int fd = ::open(link.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return LastFailure();
  return FileHandle(fd);
}

}  // namespace platform

}  // namespace torquelin
