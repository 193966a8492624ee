// Opening a tree's files for the compact codec, and reading a chain of them
// as one stream.
#include "engine/patch/content_files.h"

#include <algorithm>
#include <cstring>
#include <stdexcept>

#include "engine/base/error_sites.h"
#include "engine/io/file_system.h"
#include "engine/io/large_file.h"

namespace torquelin {

namespace {

class StreamContentReader : public ContentReader {
 public:
  uint64_t Read(uint8_t* buffer, uint64_t n) override { return stream.read(buffer, n); }
  StreamReader stream;
};

// Bytes skipped over between windows pass through a buffer of this size.
constexpr size_t kSkipPiece = 65536;

// Room a window's buffer has beyond the window, at most.
constexpr uint64_t kWindowSlack = uint64_t{32} << 20;

}  // namespace

std::unique_ptr<ContentReader> TreeContentOpener::Open(const std::u16string& relativePath) {
  auto reader = std::make_unique<StreamContentReader>();
  const std::u16string path = JoinPath(root_, relativePath);
  const platform::Status opened = reader->stream.tryOpen(path);
  if (!opened) Raise(site::kReaderOpen, path, opened.error());
  return reader;
}

std::u16string TreeContentOpener::Describe(const std::u16string& relativePath) const {
  return JoinPath(root_, relativePath);
}

FileChain::FileChain(ContentOpener& opener, std::vector<Part> parts, PartDone done, Options options)
    : opener_(opener),
      parts_(std::move(parts)),
      done_(std::move(done)),
      tolerateOpen_(options.tolerateOpen),
      overlapping_(options.overlapping) {
  for (const Part& part : parts_) size_ += part.length;
}

FileChain::~FileChain() = default;

void FileChain::OpenCurrent() {
  Sha1Init(digest_);
  partOpened_ = true;
  partShort_ = false;
  if (tolerateOpen_) {
    try {
      reader_ = opener_.Open(parts_[current_].path);
    } catch (const CZRErr&) {
      // Apply's tolerant mode: a missing older file spoils only the contents
      // made from it, which fail their own checks.
      reader_.reset();
      partShort_ = true;
    }
  } else {
    reader_ = opener_.Open(parts_[current_].path);
  }
}

void FileChain::CompleteParts() {
  while (current_ < parts_.size() && partRead_ == parts_[current_].length) {
    if (!partOpened_) OpenCurrent();
    bool matched = !partShort_;
    if (matched) {
      uint8_t extra;
      matched = reader_->Read(&extra, 1) == 0;
    }
    if (matched) {
      Sha1Digest digest;
      Sha1Final(digest, digest_);
      matched = std::memcmp(digest, parts_[current_].id.data(), sizeof digest) == 0;
    }
    reader_.reset();
    partOpened_ = false;
    partRead_ = 0;
    const size_t part = current_++;
    done_(part, matched);
  }
}

void FileChain::Pull(uint8_t* into, uint64_t n) {
  std::vector<uint8_t> skipped;
  while (n > 0) {
    CompleteParts();
    if (current_ == parts_.size()) throw std::logic_error("FileChain read beyond its parts");
    if (!partOpened_) OpenCurrent();
    uint64_t take = std::min(n, parts_[current_].length - partRead_);
    if (into == nullptr && partShort_) {
      // What a file that ended early lacks is passed over, never made: a
      // stated length costs nothing beyond what the file holds.
      partRead_ += take;
      n -= take;
      continue;
    }
    uint8_t* target = into;
    if (target == nullptr) {
      skipped.resize(kSkipPiece);
      take = std::min<uint64_t>(take, kSkipPiece);
      target = skipped.data();
    }
    uint64_t got = 0;
    while (!partShort_ && got < take) {
      const uint64_t read = reader_->Read(target + got, take - got);
      if (read == 0) partShort_ = true;
      got += read;
    }
    if (got > 0) {
      // Sha1Update counts in 32 bits at a time.
      for (uint64_t done = 0; done < got;) {
        const uint32_t step = static_cast<uint32_t>(std::min<uint64_t>(got - done, 1u << 30));
        Sha1Update(digest_, target + done, step);
        done += step;
      }
    }
    if (got < take) {
      std::memset(target + got, 0, take - got);
      if (!padded_) firstPadded_ = current_;
      padded_ = true;
    }
    partRead_ += take;
    n -= take;
    if (into != nullptr) into += take;
  }
  CompleteParts();
}

const uint8_t* FileChain::Window(uint64_t offset, uint64_t length) {
  const uint64_t end = windowStart_ + windowLength_;
  if (offset < windowStart_ || offset + length < end || offset + length > size_) {
    throw std::logic_error("FileChain window moved back");
  }
  uint64_t kept = 0;
  if (offset < end) {
    kept = end - offset;
    windowAt_ += static_cast<size_t>(offset - windowStart_);
  } else {
    Pull(nullptr, offset - end);
    windowAt_ = 0;
  }
  // Where windows overlap, the buffer has room beyond the window, and the
  // kept bytes move to its front only when the new ones would not fit
  // behind them: bytes are moved at most three times as many as are read,
  // however the windows advance. A buffer grows only for a larger window.
  const uint64_t room = overlapping_ ? length + std::min(length, kWindowSlack) : length;
  if (window_.size() < room) {
    std::vector<uint8_t> larger(room);
    if (kept > 0) std::memcpy(larger.data(), window_.data() + windowAt_, kept);
    window_.swap(larger);
    windowAt_ = 0;
  } else if (windowAt_ + length > window_.size()) {
    if (kept > 0) std::memmove(window_.data(), window_.data() + windowAt_, kept);
    windowAt_ = 0;
  }
  Pull(window_.data() + windowAt_ + kept, length - kept);
  windowStart_ = offset;
  windowLength_ = length;
  return window_.data() + windowAt_;
}

void FileChain::Finish() {
  const uint64_t end = windowStart_ + windowLength_;
  Pull(nullptr, size_ - end);
  windowStart_ = size_;
  windowLength_ = 0;
  CompleteParts();
}

}  // namespace torquelin
