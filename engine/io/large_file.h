// The lowest layer for file contents: descriptors with 64-bit positions, so
// patches and the files they carry may exceed 4 GB.
#pragma once

#include <cstdint>
#include <string>

#include "platform/file_handle.h"
#include "platform/result.h"

namespace torquelin {

namespace zrFile {

// Owns one open file (or writes to one it borrows) and closes it when
// destroyed. Neither copied nor shared; used by one operation on the job's
// thread.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  virtual ~File();

  // Opens the path or raises CZRErr (fileReader location) with the code of
  // the failed open.
  virtual void open(const std::u16string& path) = 0;

  // The count read, 0 at end of file, -1 on error. Never raises.
  int64_t read(void* buffer, int64_t n);
  // The count written (short or -1 on failure; the caller judges), except
  // that a write refused because the file would grow too large (EFBIG)
  // raises the type-1 "larger then 4GB" error, followed by " file:" and
  // name() when the file has one.
  int64_t write(const void* buffer, int64_t n);
  int64_t tell();
  // Absolute position; the result is not checked.
  void seek(int64_t position);
  // The file's length, the position left unchanged; -1 when it cannot be had.
  int64_t size();
  // True once the position has reached the end of the file.
  bool eof();
  // Forces written data to the device.
  bool sync();
  // Closes the file, unless it was only borrowed.
  void close();
  // The path a failed write names in its message; empty: none.
  const std::u16string& name() const { return name_; }
  // Why the last read, write or sync came out short or failed: the system's
  // error code of the call that failed, 0 when none did (a read that met the
  // end of the file). Errors raised over a short count carry it.
  uint32_t error() const { return error_; }

 protected:
  // Makes `owned` the open file, closing what was open.
  void Own(platform::FileHandle owned);
  // Makes `borrowed` the open file, closing what was open.
  void Borrow(const platform::FileHandle& borrowed);

  std::u16string name_;

 private:
  platform::FileHandle owned_;
  // The file reads and writes go to: owned_, or a borrowed one.
  const platform::FileHandle* file_ = &owned_;
  bool open_ = false;
  uint32_t error_ = 0;
};

// Opens for reading; raises "Unable to ioen file:" + path. "-" opens the
// live copy of standard input (standard_input.h), each Reader at its own
// position.
class Reader : public File {
 public:
  explicit Reader(std::u16string path);
  void open(const std::u16string& path) override;
};

// Opens for writing, creating the file, never truncating (callers remove an
// existing file first); raises "Unable to open file:" + path.
class Writer : public File {
 public:
  Writer() = default;
  explicit Writer(std::u16string path);
  void open(const std::u16string& path) override;
  // Takes over a file opened for writing elsewhere (a DirectoryHandle).
  void adopt(platform::FileHandle file);
  // Writes to a file that stays its owner's (a platform::ReplacementFile):
  // close leaves it open, and it must outlive this Writer's use of it.
  // `name` is the path failed writes name in their messages.
  void borrow(const platform::FileHandle& file, std::u16string name);
};

}  // namespace zrFile

// Reads a tree entry's content front to back in the caller's chunks; used
// for hashing and for the contents a patch carries. A symbolic link is never
// followed: its content is its target text, the raw bytes it holds.
class StreamReader {
 public:
  StreamReader() = default;
  StreamReader(const StreamReader&) = delete;
  StreamReader& operator=(const StreamReader&) = delete;
  ~StreamReader();

  // Closes what is open.
  void clear();
  // Raises "Unable to open file:" + path (fileReader location).
  void open(const std::u16string& path);
  // As open, but gives the failure back instead, so a caller can raise an
  // error of its own.
  platform::Status tryOpen(const std::u16string& path);
  // The count read; 0 at end of file or on error, error() telling which.
  uint64_t read(void* buffer, uint64_t n);
  // The system's error code of the last read when it failed, else 0.
  uint32_t error() const { return error_; }
  // Size of the open file as the file system gave it when it was opened.
  int64_t size() const { return size_; }
  void close();

 private:
  platform::FileHandle file_;
  int64_t size_ = -1;
  uint32_t error_ = 0;
  bool isLink_ = false;
  std::string linkTarget_;  // a link's content
  size_t linkRead_ = 0;     // of linkTarget_, handed out so far
};

}  // namespace torquelin
