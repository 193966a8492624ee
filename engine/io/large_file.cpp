// Large-file I/O: zrFile::File, Reader, Writer and StreamReader over the
// platform's file handles.

#include "engine/io/large_file.h"

#include <algorithm>
#include <cstring>

#include "engine/base/error_sites.h"
#include "engine/io/standard_input.h"
#include "platform/files.h"
#include "platform/system_error.h"

namespace torquelin {

namespace zrFile {

File::~File() { close(); }

void File::Own(platform::FileHandle owned) {
  close();
  owned_ = std::move(owned);
  file_ = &owned_;
  open_ = true;
}

void File::Borrow(const platform::FileHandle& borrowed) {
  close();
  file_ = &borrowed;
  open_ = true;
}

int64_t File::read(void* buffer, int64_t n) {
  const platform::Result<uint64_t> got = file_->Read(buffer, static_cast<uint64_t>(n));
  error_ = got.error();
  return got ? static_cast<int64_t>(*got) : -1;
}

int64_t File::write(const void* buffer, int64_t n) {
  uint64_t written = 0;
  const platform::Status put = file_->Write(buffer, static_cast<uint64_t>(n), &written);
  error_ = put.error();
  if (put) return n;
  if (platform::IsFileTooLarge(put.error())) {
    Raise(site::kOutputTooLarge, site::FileNameDetail(name_), put.error());
  }
  return written == 0 ? -1 : static_cast<int64_t>(written);
}

int64_t File::tell() {
  const platform::Result<int64_t> at = file_->Tell();
  return at ? *at : -1;
}

void File::seek(int64_t position) { (void)file_->Seek(position); }

int64_t File::size() {
  const platform::Result<int64_t> here = file_->Tell();
  const platform::Result<int64_t> end = file_->SeekToEnd();
  if (here) (void)file_->Seek(*here);
  return end ? *end : -1;
}

bool File::eof() {
  const platform::Result<int64_t> here = file_->Tell();
  const platform::Result<int64_t> size = file_->Size();
  return here && size && *here >= *size;
}

bool File::sync() {
  if (!open_) return false;
  const platform::Status synced = file_->Sync();
  error_ = synced.error();
  return synced.ok();
}

void File::close() {
  if (!open_) return;
  owned_.Close();
  file_ = &owned_;
  open_ = false;
}

Reader::Reader(std::u16string path) { open(path); }

void Reader::open(const std::u16string& path) {
  platform::Result<platform::FileHandle> file =
      IsStandardStream(path) ? OpenStandardInputCopy() : platform::OpenForReading(path);
  if (!file) Raise(site::kReaderOpen, path, file.error());
  Own(std::move(*file));
}

Writer::Writer(std::u16string path) { open(path); }

void Writer::adopt(platform::FileHandle file) { Own(std::move(file)); }

void Writer::borrow(const platform::FileHandle& file, std::u16string name) {
  Borrow(file);
  name_ = std::move(name);
}

void Writer::open(const std::u16string& path) {
  platform::Result<platform::FileHandle> file = platform::OpenForWriting(path);
  if (!file) Raise(site::kWriterOpen, path, file.error());
  Own(std::move(*file));
}

}  // namespace zrFile

StreamReader::~StreamReader() { close(); }

void StreamReader::clear() { close(); }

void StreamReader::open(const std::u16string& path) {
  const platform::Status opened = tryOpen(path);
  if (!opened) Raise(site::kStreamOpen, path, opened.error());
}

platform::Status StreamReader::tryOpen(const std::u16string& path) {
  close();
  platform::Result<platform::FileHandle> file = platform::OpenEntryForReading(path, &size_);
  if (file) {
    file_ = std::move(*file);
    return {};
  }
  // The open refuses a link without a system call of its own; only then is
  // it asked for its target.
  if (!platform::IsLinkInTheWay(file.error())) return platform::Failure{file.error()};
  platform::Result<std::string> target = platform::ReadLinkTarget(path);
  if (!target) return platform::Failure{target.error()};
  isLink_ = true;
  linkTarget_ = std::move(*target);
  size_ = static_cast<int64_t>(linkTarget_.size());
  return {};
}

uint64_t StreamReader::read(void* buffer, uint64_t n) {
  error_ = 0;
  if (isLink_) {
    const size_t count = static_cast<size_t>(std::min<uint64_t>(n, linkTarget_.size() - linkRead_));
    std::memcpy(buffer, linkTarget_.data() + linkRead_, count);
    linkRead_ += count;
    return count;
  }
  const platform::Result<uint64_t> got = file_.Read(buffer, n);
  error_ = got.error();
  return got ? *got : 0;
}

void StreamReader::close() {
  file_.Close();
  size_ = -1;
  error_ = 0;
  isLink_ = false;
  linkTarget_.clear();
  linkRead_ = 0;
}

}  // namespace torquelin
