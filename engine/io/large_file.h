// The lowest layer for file contents: descriptors with 64-bit positions, so
// patches and the files they carry may exceed 4 GB.
#pragma once

#include <cstdint>
#include <string>

namespace zrFile {

// Owns one descriptor (0 = none open) and closes it when destroyed. Neither
// copied nor shared; used by one operation on the job's thread.
class File {
 public:
  File() = default;
  File(const File&) = delete;
  File& operator=(const File&) = delete;
  virtual ~File();

  // Opens the path or raises CZRErr (fileReader location).
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
  // Closes the descriptor, unless it was only borrowed.
  void close();
  // The path a failed write names in its message; empty: none.
  const std::u16string& name() const { return name_; }

 protected:
  int descriptor_ = 0;
  bool open_ = false;
  bool owned_ = true;
  std::u16string name_;
};

// Opens for reading; raises "Unable to ioen file:" + path.
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
  // Takes over a descriptor opened for writing elsewhere (a DirectoryHandle).
  void adopt(int descriptor);
  // Writes to a descriptor that stays its owner's (a platform::
  // ReplacementFile): close leaves it open. `name` is the path failed
  // writes name in their messages.
  void borrow(int descriptor, std::u16string name);
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

  void clear();
  // Raises "Unable to open file:" + path (fileReader location).
  void open(const std::u16string& path);
  // As open, but returns false instead, errno as the failure left it, so a
  // caller can raise an error of its own.
  bool tryOpen(const std::u16string& path);
  // The count read; 0 at end of file or on error.
  uint64_t read(void* buffer, uint64_t n);
  // Size of the open file as the file system gave it when it was opened.
  int64_t size() const { return size_; }
  void close();

 private:
  int descriptor_ = -1;
  int64_t size_ = -1;
  bool isLink_ = false;
  std::string linkTarget_;  // a link's content
  size_t linkRead_ = 0;     // of linkTarget_, handed out so far
};
