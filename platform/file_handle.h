// The one owner of an open file or directory of the system, and the reads,
// writes and positions a job needs on it, with 64-bit sizes and offsets.
#pragma once

#include <cstdint>

#include "platform/result.h"

namespace torquelin {

namespace platform {

// The system's own handle of an open file (a descriptor on POSIX).
using NativeHandle = intptr_t;
inline constexpr NativeHandle kNoHandle = -1;

// Owns one open file or directory and closes it when destroyed, once, never
// retried. Move-only; a moved-from handle holds nothing. One thread at a
// time. Every operation needs an open handle; each failure carries the code
// of the call that failed.
class FileHandle {
 public:
  FileHandle() = default;
  // Takes over `native`, already open (kNoHandle: nothing).
  explicit FileHandle(NativeHandle native) : native_(native) {}
  ~FileHandle() { Close(); }
  FileHandle(FileHandle&& other) noexcept : native_(other.Release()) {}
  FileHandle& operator=(FileHandle&& other) noexcept;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;

  bool IsOpen() const { return native_ != kNoHandle; }
  NativeHandle native() const { return native_; }
  // Gives the handle up without closing it.
  NativeHandle Release();
  void Close();

  // Up to n bytes; 0 at the end of the file. Retries when interrupted, and
  // waits where a file opened not to block would refuse to (the handle is
  // made blocking then).
  Result<uint64_t> Read(void* buffer, uint64_t n) const;
  // One read of up to n bytes, retried only when interrupted: a file that
  // would block fails.
  Result<uint64_t> ReadOnce(void* buffer, uint64_t n) const;
  // All n bytes, over as many writes as it takes. Fails with the code of the
  // write that stopped it (the file system's "file too large" when the file
  // may not grow this far, IsFileTooLarge); `written`, when given, receives
  // the bytes that got out, n on success.
  Status Write(const void* buffer, uint64_t n, uint64_t* written = nullptr) const;

  // Moves to an absolute position; returns it.
  Result<int64_t> Seek(int64_t position) const;
  // Moves to the end; returns the position there, the size.
  Result<int64_t> SeekToEnd() const;
  Result<int64_t> Tell() const;
  // The size as the file system has it; the position stays.
  Result<int64_t> Size() const;
  // Flushes the file's data to the device.
  Status Sync() const;
  // Cuts the file to `size` bytes.
  Status Truncate(int64_t size) const;
  // Sets the file's times to now and returns its new change time in
  // nanoseconds: the file system's own clock, which the stamps of other
  // files on it (files.h, EntryStamp) can be compared with.
  Result<int64_t> Touch() const;

 private:
  NativeHandle native_ = kNoHandle;
};

}  // namespace platform

}  // namespace torquelin
