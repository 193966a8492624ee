// The files a compact patch's contents are made from and checked against:
// opening them by relative path, and reading several of them as one stream
// through a window that only moves forward.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "engine/hash/sha1.h"
#include "engine/tree/fingerprint.h"

namespace torquelin {

// One file's content, front to back.
class ContentReader {
 public:
  virtual ~ContentReader() = default;
  // Up to n bytes into buffer; 0 at the end. A file that cannot be read on
  // ends early; the caller's length and id checks tell that apart.
  virtual uint64_t Read(uint8_t* buffer, uint64_t n) = 0;
};

// Opens the files of one tree by relative path. Open may run on several
// threads at once; each reader it returns belongs to one thread.
class ContentOpener {
 public:
  virtual ~ContentOpener() = default;
  // Raises CZRErr when the file cannot be opened.
  virtual std::unique_ptr<ContentReader> Open(const std::u16string& relativePath) = 0;
  // The path messages name the file by.
  virtual std::u16string Describe(const std::u16string& relativePath) const = 0;
};

// The entries below a directory, read as a scan reads them: a symbolic link
// is never followed, its content is its target text. Open raises "Unable to
// ioen file:" + root + relative path.
class TreeContentOpener : public ContentOpener {
 public:
  explicit TreeContentOpener(std::u16string root) : root_(std::move(root)) {}
  std::unique_ptr<ContentReader> Open(const std::u16string& relativePath) override;
  std::u16string Describe(const std::u16string& relativePath) const override;

 private:
  std::u16string root_;
};

// Several files read as one stream, one after another, each exactly as long
// as stated. Every byte is read once, in order, and hashed, so each file's
// length and id are checked however little of it the windows take: a file
// that ends early is taken as padded with zero bytes, one that goes on is
// cut, so the files after it keep their places in the stream. Memory: the
// largest window, up to 32 MiB of room behind it, and one small buffer;
// work: each byte read once, and moved at most three times. One thread.
class FileChain {
 public:
  struct Part {
    std::u16string path;  // relative path, for the opener
    uint64_t length;
    FileId id;
  };
  // Runs once per part when its last byte has been read: matched is true
  // when the file held exactly `length` bytes with that id. It may raise;
  // the chain is then unusable.
  using PartDone = std::function<void(size_t part, bool matched)>;

  struct Options {
    // A part that cannot be opened reads as zero bytes and does not match;
    // otherwise the opener's error propagates.
    bool tolerateOpen = false;
    // Windows may share bytes with the one before: the buffer is made with
    // room to move them forward from the start, so that it is never
    // reallocated with a large window in it.
    bool overlapping = false;
  };

  FileChain(ContentOpener& opener, std::vector<Part> parts, PartDone done, Options options);
  ~FileChain();
  FileChain(const FileChain&) = delete;
  FileChain& operator=(const FileChain&) = delete;

  // The sum of the parts' lengths.
  uint64_t size() const { return size_; }
  // Bytes [offset, offset + length) of the stream, contiguous, valid until
  // the next call. Neither the offset nor the end may be below the previous
  // window's, and the end not beyond size() (callers check what they read
  // from a patch before asking).
  const uint8_t* Window(uint64_t offset, uint64_t length);
  // Reads the rest of every part, completing them all.
  void Finish();
  // Whether a part ended early (or could not be opened), so that zero bytes
  // stood in for some of it in a window.
  bool padded() const { return padded_; }
  // The first such part, once padded().
  size_t firstPadded() const { return firstPadded_; }

 private:
  // Moves the stream on by n bytes, into `into` when not null.
  void Pull(uint8_t* into, uint64_t n);
  // Ends the current part (and any empty parts after it) once it is read.
  void CompleteParts();
  void OpenCurrent();

  ContentOpener& opener_;
  std::vector<Part> parts_;
  PartDone done_;
  bool tolerateOpen_;
  bool overlapping_;
  uint64_t size_ = 0;

  size_t current_ = 0;     // the part being read
  uint64_t partRead_ = 0;  // of it, counting zero padding
  bool partShort_ = false;
  bool partOpened_ = false;
  std::unique_ptr<ContentReader> reader_;
  Sha1Context digest_;

  bool padded_ = false;
  size_t firstPadded_ = 0;

  // The window: stream bytes [windowStart_, windowStart_ + windowLength_) at
  // window_[windowAt_].
  std::vector<uint8_t> window_;
  size_t windowAt_ = 0;
  uint64_t windowStart_ = 0;
  uint64_t windowLength_ = 0;
};

}  // namespace torquelin
