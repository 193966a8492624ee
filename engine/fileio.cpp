// File-system operations on the target tree.
#include <algorithm>

#include "engine/errors.h"
#include "engine/fsops.h"
#include "engine/large_file.h"
#include "platform/files.h"

uint32_t GetAttributesOrZero(const std::u16string& path) {
  const uint32_t word = platform::GetAttributeWord(path);
  return word == platform::kInvalidAttributes ? 0 : word;
}

bool PathExists(const std::u16string& path) { return GetAttributesOrZero(path) != 0; }

bool IsDirectoryAttribute(uint32_t word) { return (word & platform::kAttrDirectory) != 0; }

bool DirectoryExists(const std::u16string& path) {
  return IsDirectoryAttribute(GetAttributesOrZero(path));
}

bool RemoveItem(bool tolerateFailure, const std::u16string& path) {
  // A symbolic link goes as itself. Clearing "its" read-only bit would chmod
  // whatever it points to, which may lie outside the tree.
  if (platform::IsSymbolicLink(path)) {
    if (platform::RemoveFile(path)) return true;
    if (tolerateFailure) return false;
    throw CZRErr(0, u"Unable to remove item. " + path, location::kFileio, 146);
  }
  const uint32_t word = platform::GetAttributeWord(path);
  if (word != platform::kInvalidAttributes) {
    platform::SetAttributeWord(path, word & ~platform::kAttrReadOnly);
  }
  const bool directory = IsDirectoryAttribute(GetAttributesOrZero(path));
  if (directory ? platform::RemoveEmptyDirectory(path) : platform::RemoveFile(path)) return true;
  if (tolerateFailure) return false;
  if (directory) throw CZRErr(0, u"Unable to remove item. " + path, location::kFileio, 133);
  throw CZRErr(0, u"Unable to remove item. " + path, location::kFileio, 146);
}

void DigestFileContent(CProgressSink& progress, const std::u16string& path, Sha1Context& context) {
  StreamReader stream;
  stream.open(path);
  // One descriptor serves for the size as well as the bytes.
  const int64_t size = stream.size();
  if (size < 0) throw CZRErr(0, u"Unable to get a file  size:" + path, location::kFileio, 83);
  uint8_t* buffer = progress.GetBuffer();
  const uint64_t chunk = progress.GetBufferSize();
  uint64_t done = 0;
  const uint64_t total = static_cast<uint64_t>(size);
  while (done < total) {
    const uint64_t got = stream.read(buffer, std::min(chunk, total - done));
    if (got == 0) break;
    Sha1Update(context, buffer, static_cast<uint32_t>(got));
    done += got;
  }
  if (done != total) throw CZRErr(0, u"Unable read a source file:" + path, location::kFileio, 105);
}

std::u16string JoinPath(const std::u16string& base, const std::u16string& relative) {
  return base + relative;
}
