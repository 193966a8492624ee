// POSIX implementation of platform/replacement_file.h.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <random>

#include "platform/encoding.h"
#include "platform/fault_injection.h"
#include "platform/replacement_file.h"

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

// True when `name` in `directory` is, itself, the file open as `fd`.
bool NamesTheFile(int directory, const std::string& name, int fd) {
  struct stat byName, byDescriptor;
  if (::fstatat(directory, name.c_str(), &byName, AT_SYMLINK_NOFOLLOW) != 0) return false;
  if (::fstat(fd, &byDescriptor) != 0) return false;
  return byName.st_dev == byDescriptor.st_dev && byName.st_ino == byDescriptor.st_ino;
}

}  // namespace

ReplacementFile::~ReplacementFile() { Discard(); }

int ReplacementFile::Create(const std::u16string& target) {
  Discard();
  if (const int error = fault_injection::Take(fault_injection::FaultPoint::Create)) {
    errno = error;
    return -1;
  }
  const std::string native = ToNativePath(target);
  const size_t slash = native.rfind('/');
  const std::string directory = slash == std::string::npos ? "."
                                : slash == 0               ? "/"
                                                           : native.substr(0, slash);
  targetName_ = slash == std::string::npos ? native : native.substr(slash + 1);
  // The directory is held open, so the temporary, the rename and the clean-up
  // all happen in the same one whatever is renamed on the way to it.
  directory_ = ::open(directory.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (directory_ < 0) return -1;
  // A name already taken (a leftover of a killed run, or another file) is
  // never opened: another fresh name is tried.
  for (int attempt = 0; attempt < 16; ++attempt) {
    name_ = FreshName();
    descriptor_ = ::openat(directory_, name_.c_str(),
                           O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (descriptor_ >= 0 || errno != EEXIST) break;
  }
  if (descriptor_ >= 0) return descriptor_;
  const int error = errno;
  ::close(directory_);
  directory_ = -1;
  errno = error;
  return -1;
}

bool ReplacementFile::Commit() {
  if (descriptor_ < 0) {
    errno = EBADF;
    return false;
  }
  struct stat previous;
  const bool replacesFile =
      ::fstatat(directory_, targetName_.c_str(), &previous, AT_SYMLINK_NOFOLLOW) == 0 &&
      S_ISREG(previous.st_mode);
  const mode_t mode = replacesFile ? previous.st_mode & 07777 : 0666 & ~CurrentUmask();
  // Best effort: a file system that keeps no permissions (FAT) refuses some
  // modes, and the file is then merely more private than asked.
  (void)::fchmod(descriptor_, mode);
  if (!NamesTheFile(directory_, name_, descriptor_)) {
    // Someone renamed our file away and put another in its place: that one
    // is not ours to move or remove.
    name_.clear();
    Discard();
    errno = ESTALE;
    return false;
  }
  int error = fault_injection::Take(fault_injection::FaultPoint::Rename);
  if (error == 0 && ::renameat(directory_, name_.c_str(), directory_, targetName_.c_str()) != 0) {
    error = errno;
  }
  if (error != 0) {
    Discard();
    errno = error;
    return false;
  }
  name_.clear();
  Discard();
  return true;
}

void ReplacementFile::Discard() {
  const int error = errno;
  if (descriptor_ >= 0) {
    if (!name_.empty() && NamesTheFile(directory_, name_, descriptor_)) {
      ::unlinkat(directory_, name_.c_str(), 0);
    }
    ::close(descriptor_);
    descriptor_ = -1;
  }
  if (directory_ >= 0) {
    ::close(directory_);
    directory_ = -1;
  }
  name_.clear();
  errno = error;
}

}  // namespace platform
