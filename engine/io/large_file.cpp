// Large-file I/O: zrFile::File, Reader, Writer and StreamReader over the
// platform's descriptors.

#include "engine/io/large_file.h"

#include <algorithm>
#include <cstring>

#include "engine/base/error_sites.h"
#include "platform/files.h"
#include "platform/system_error.h"

namespace zrFile {

File::~File() { close(); }

int64_t File::read(void* buffer, int64_t n) {
  return platform::ReadDescriptor(descriptor_, buffer, static_cast<uint64_t>(n));
}

int64_t File::write(const void* buffer, int64_t n) {
  const int64_t written = platform::WriteDescriptor(descriptor_, buffer, static_cast<uint64_t>(n));
  if (written != n && platform::LastErrorIsFileTooLarge()) {
    Raise(site::kOutputTooLarge, site::FileNameDetail(name_));
  }
  return written;
}

int64_t File::tell() { return platform::TellDescriptor(descriptor_); }

void File::seek(int64_t position) { platform::SeekDescriptor(descriptor_, position); }

int64_t File::size() {
  const int64_t here = tell();
  const int64_t end = platform::SeekDescriptorToEnd(descriptor_);
  if (here >= 0) platform::SeekDescriptor(descriptor_, here);
  return end;
}

bool File::eof() {
  const int64_t here = tell();
  return here >= 0 && here >= platform::DescriptorSize(descriptor_);
}

bool File::sync() { return open_ && platform::SyncDescriptor(descriptor_); }

void File::close() {
  if (open_) {
    if (owned_) platform::CloseDescriptor(descriptor_);
    open_ = false;
    owned_ = true;
    descriptor_ = 0;
  }
}

Reader::Reader(std::u16string path) { open(path); }

void Reader::open(const std::u16string& path) {
  const int fd = platform::OpenForReading(path);
  if (fd < 0) Raise(site::kReaderOpen, path);
  descriptor_ = fd;
  open_ = true;
}

Writer::Writer(std::u16string path) { open(path); }

void Writer::adopt(int descriptor) {
  close();
  descriptor_ = descriptor;
  open_ = true;
}

void Writer::borrow(int descriptor, std::u16string name) {
  close();
  descriptor_ = descriptor;
  open_ = true;
  owned_ = false;
  name_ = std::move(name);
}

void Writer::open(const std::u16string& path) {
  const int fd = platform::OpenForWriting(path);
  if (fd < 0) Raise(site::kWriterOpen, path);
  descriptor_ = fd;
  open_ = true;
}

}  // namespace zrFile

StreamReader::~StreamReader() { close(); }

void StreamReader::clear() { descriptor_ = -1; }

void StreamReader::open(const std::u16string& path) {
  if (!tryOpen(path)) Raise(site::kStreamOpen, path);
}

bool StreamReader::tryOpen(const std::u16string& path) {
  close();
  const int fd = platform::OpenEntryForReading(path, &size_);
  if (fd >= 0) {
    descriptor_ = fd;
    return true;
  }
  // The open refuses a link without a system call of its own; only then is
  // it asked for its target.
  if (!platform::LastErrorIsLinkInTheWay() || !platform::ReadLinkTarget(path, linkTarget_)) {
    return false;
  }
  isLink_ = true;
  size_ = static_cast<int64_t>(linkTarget_.size());
  return true;
}

uint64_t StreamReader::read(void* buffer, uint64_t n) {
  if (isLink_) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(n, linkTarget_.size() - linkRead_));
    std::memcpy(buffer, linkTarget_.data() + linkRead_, count);
    linkRead_ += count;
    return count;
  }
  const int64_t got = platform::ReadDescriptor(descriptor_, buffer, n);
  return got > 0 ? static_cast<uint64_t>(got) : 0;
}

void StreamReader::close() {
  if (descriptor_ >= 0) {
    platform::CloseDescriptor(descriptor_);
    descriptor_ = -1;
  }
  size_ = -1;
  isLink_ = false;
  linkTarget_.clear();
  linkRead_ = 0;
}
