// File-system operations on the target tree.
#include "engine/io/file_system.h"

#include <algorithm>

#include "engine/base/error_sites.h"
#include "engine/io/large_file.h"
#include "platform/attribute_word.h"
#include "platform/files.h"

uint32_t GetAttributesOrZero(const std::u16string& path) {
  const uint32_t word = platform::GetAttributeWord(path);
  return word == platform::kInvalidAttributes ? 0 : word;
}

bool PathExists(const std::u16string& path) { return GetAttributesOrZero(path) != 0; }

bool IsDirectoryAttribute(uint32_t word) { return platform::IsDirectoryWord(word); }

bool DirectoryExists(const std::u16string& path) {
  return IsDirectoryAttribute(GetAttributesOrZero(path));
}

bool RemoveItem(bool tolerateFailure, const std::u16string& path) {
  // A symbolic link goes as itself. Clearing "its" read-only bit would chmod
  // whatever it points to, which may lie outside the tree.
  if (platform::IsSymbolicLink(path)) {
    if (platform::RemoveFile(path)) return true;
    if (tolerateFailure) return false;
    Raise(site::kRemoveFile, path);
  }
  const uint32_t word = platform::GetAttributeWord(path);
  if (word != platform::kInvalidAttributes) {
    platform::SetAttributeWord(path, word & ~platform::kAttrReadOnly);
  }
  const bool directory = IsDirectoryAttribute(GetAttributesOrZero(path));
  if (directory ? platform::RemoveEmptyDirectory(path) : platform::RemoveFile(path)) return true;
  if (tolerateFailure) return false;
  Raise(directory ? site::kRemoveDirectory : site::kRemoveFile, path);
}

void DigestFileContent(CProgressSink& progress, const std::u16string& path, Sha1Context& context) {
  StreamReader stream;
  stream.open(path);
  // The size comes from the fstat the open makes anyway: on a tree of small
  // files every system call per file counts.
  const int64_t size = stream.size();
  if (size < 0) Raise(site::kFileSize, path);
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
  if (done != total) Raise(site::kDigestShortRead, path);
}

std::u16string JoinPath(const std::u16string& base, const std::u16string& relative) {
  return base + relative;
}
