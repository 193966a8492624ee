// FileHandle on POSIX: a descriptor, read and written with retries on EINTR,
// closed once.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>

#include "platform/file_handle.h"
#include "platform/posix/posix_failure.h"
#include "platform/posix/stat_stamp.h"

namespace torquelin {

namespace platform {

FileHandle& FileHandle::operator=(FileHandle&& other) noexcept {
  if (this != &other) {
    Close();
    native_ = other.Release();
  }
  return *this;
}

NativeHandle FileHandle::Release() { return std::exchange(native_, kNoHandle); }

void FileHandle::Close() {
  // Never retried, even on EINTR: the descriptor is gone either way on Linux.
  if (native_ != kNoHandle) ::close(static_cast<int>(native_));
  native_ = kNoHandle;
}

Result<uint64_t> FileHandle::Read(void* buffer, uint64_t n) const {
  const int fd = Fd(*this);
  while (true) {
    const ssize_t got = ::read(fd, buffer, n);
    if (got >= 0) return static_cast<uint64_t>(got);
    if (errno == EINTR) continue;
    // Only an open that asked not to block can make a read refuse to wait; a
    // file system that honours that on a regular file gets a plain blocking
    // read, as if the flag had never been set.
    if (errno != EAGAIN && errno != EWOULDBLOCK) return LastFailure();
    const Failure refused = LastFailure();
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0) return LastFailure();
    if ((flags & O_NONBLOCK) == 0) return refused;
    if (::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) return LastFailure();
  }
}

Result<uint64_t> FileHandle::ReadOnce(void* buffer, uint64_t n) const {
  while (true) {
    const ssize_t got = ::read(Fd(*this), buffer, n);
    if (got >= 0) return static_cast<uint64_t>(got);
    if (errno != EINTR) return LastFailure();
  }
}

Status FileHandle::Write(const void* buffer, uint64_t n, uint64_t* written) const {
  uint64_t done = 0;
  const auto stop = [&](Failure failure) -> Status {
    if (written != nullptr) *written = done;
    return failure;
  };
  if (const int error = InjectedError(fault_injection::FaultPoint::Write)) {
    return stop(FailureOf(error));
  }
  const char* p = static_cast<const char*>(buffer);
  while (done < n) {
    const ssize_t put = ::write(Fd(*this), p + done, n - done);
    if (put < 0) {
      if (errno == EINTR) continue;
      return stop(LastFailure());
    }
    if (put == 0) return stop(FailureOf(ENOSPC));
    done += static_cast<uint64_t>(put);
  }
  if (written != nullptr) *written = done;
  return {};
}

Result<int64_t> FileHandle::Seek(int64_t position) const {
  const off_t at = ::lseek(Fd(*this), position, SEEK_SET);
  if (at < 0) return LastFailure();
  return static_cast<int64_t>(at);
}

Result<int64_t> FileHandle::SeekToEnd() const {
  const off_t at = ::lseek(Fd(*this), 0, SEEK_END);
  if (at < 0) return LastFailure();
  return static_cast<int64_t>(at);
}

Result<int64_t> FileHandle::Tell() const {
  const off_t at = ::lseek(Fd(*this), 0, SEEK_CUR);
  if (at < 0) return LastFailure();
  return static_cast<int64_t>(at);
}

Result<int64_t> FileHandle::Size() const {
  struct stat st;
  if (::fstat(Fd(*this), &st) != 0) return LastFailure();
  return static_cast<int64_t>(st.st_size);
}

Status FileHandle::Sync() const {
  if (const int error = InjectedError(fault_injection::FaultPoint::Sync)) return FailureOf(error);
  if (::fsync(Fd(*this)) != 0) return LastFailure();
  return {};
}

Status FileHandle::Truncate(int64_t size) const {
  if (::ftruncate(Fd(*this), size) != 0) return LastFailure();
  return {};
}

Result<int64_t> FileHandle::Touch() const {
  struct stat st;
  if (::futimens(Fd(*this), nullptr) != 0 || ::fstat(Fd(*this), &st) != 0) return LastFailure();
  return Nanoseconds(st.st_ctim);
}

}  // namespace platform

}  // namespace torquelin
