// POSIX implementation of platform/replacement_file.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/encoding.h"
#include "platform/posix/posix_failure.h"
#include "platform/replacement_file.h"

namespace torquelin {

namespace platform {
namespace {

// The umask, read without changing it: umask(2) can only be read by setting
// it, and a thread creating a file in between would get the wrong mode.
// Kernels before 4.7 do not show it; then it is read the racy way.
mode_t CurrentUmask() {
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status) != nullptr) {
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    }
    std::fclose(status);
    if (found) return static_cast<mode_t>(mask);
  }
  const mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

std::string FreshName() {
  static constexpr char kHex[] = "0123456789abcdef";
  std::random_device random;
  std::string name = NameToNative(kReplacementPrefix);
  for (int half = 0; half < 2; ++half) {
    const uint32_t bits = random();
    for (int shift = 28; shift >= 0; shift -= 4) name.push_back(kHex[(bits >> shift) & 0xF]);
  }
  return name + NameToNative(kReplacementSuffix);
}

// True when `name` in `directory` is, itself, the open `file`.
bool NamesTheFile(const FileHandle& directory, const std::string& name, const FileHandle& file) {
  struct stat byName, byDescriptor;
  if (::fstatat(Fd(directory), name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (::fstat(Fd(file), &byDescriptor) != 0) return false;
  return byName.st_dev == byDescriptor.st_dev && byName.st_ino == byDescriptor.st_ino;
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

Status ReplacementFile::Create(const std::u16string& target) {
  Discard();
  if (const int error = InjectedError(fault_injection::FaultPoint::Create)) {
    return FailureOf(error);
  }
  const std::string native = ToNativePath(target);
  const size_t slash = native.rfind('/');
  const std::string directory = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : native.substr(0, slash);
  targetName_ = slash == std::string::npos ? native : native.substr(slash + 1);
  // The directory is held open, so the temporary, the rename and the clean-up
  // all happen in the same one whatever is renamed on the way to it.
  FileHandle opened(::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  if (!opened.IsOpen()) return LastFailure();
  // A name already taken (a leftover of a killed run, or another file) is
  // never opened: another fresh name is tried.
  for (int attempt = 0; attempt < 16; ++attempt) {
    name_ = FreshName();
    const int fd = ::openat(Fd(opened), name_.c_str(),
                            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0) {
      directory_ = std::move(opened);
      file_ = FileHandle(fd);
      return {};
    }
    if (errno != EEXIST) break;
  }
  const Failure failure = LastFailure();
  name_.clear();
  return failure;
}

Status ReplacementFile::Commit() {
  if (!file_.IsOpen()) return FailureOf(EBADF);
  struct stat previous;
  const bool replacesFile =
      ::fstatat(Fd(directory_), targetName_.c_str(), &previous, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(previous.st_mode);
  const mode_t mode = replacesFile ? previous.st_mode & 07777 : 0666 & ~CurrentUmask();
  // Best effort: a file system that keeps no permissions (FAT) refuses some
  // modes, and the file is then merely more private than asked.
  (void)::fchmod(Fd(file_), mode);
  if (!NamesTheFile(directory_, name_, file_)) {
    // Someone renamed our file away and put another in its place: that one
    // is not ours to move or remove.
    name_.clear();
    Discard();
    return FailureOf(ESTALE);
  }
  int error = InjectedError(fault_injection::FaultPoint::Rename);
  if (error == 0 &&
      ::renameat(Fd(directory_), name_.c_str(), Fd(directory_), targetName_.c_str()) != 0) {
    error = LastFailure().code;
  }
  if (error != 0) {
    Discard();
    return FailureOf(error);
  }
  name_.clear();
  Discard();
  return {};
}

void ReplacementFile::Discard() {
  if (file_.IsOpen() && !name_.empty() && NamesTheFile(directory_, name_, file_)) {
    ::unlinkat(Fd(directory_), name_.c_str(), 0);
  }
  file_.Close();
  directory_.Close();
  name_.clear();
}

}  // namespace platform

}  // namespace torquelin
