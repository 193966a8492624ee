// File-system operations on the target tree.
#include "engine/io/file_system.h"

#include <algorithm>

#include "engine/base/error_sites.h"
#include "engine/io/large_file.h"
#include "platform/attribute_word.h"
#include "platform/files.h"

namespace torquelin {

uint32_t GetAttributesOrZero(const std::u16string& path) {
  const platform::Result<uint32_t> word = platform::GetAttributeWord(path);
  return word ? *word : 0;
}

bool PathExists(const std::u16string& path) { return GetAttributesOrZero(path) != 0; }

bool IsDirectoryAttribute(uint32_t word) { return platform::IsDirectoryWord(word); }

bool DirectoryExists(const std::u16string& path) {
  return IsDirectoryAttribute(GetAttributesOrZero(path));
}

void RequireDirectory(const ErrorSite& site, const std::u16string& path) {
  const platform::Result<uint32_t> word = platform::GetAttributeWord(path);
  if (!word) Raise(site, path, word.error());
  if (!IsDirectoryAttribute(*word)) Raise(site, path);
}

bool RemoveItem(RemoveFailure tolerateFailure, const std::u16string& path) {
  // A symbolic link goes as itself. Clearing "its" read-only bit would chmod
  // whatever it points to, which may lie outside the tree.
  if (platform::IsSymbolicLink(path)) {
    const platform::Status removed = platform::RemoveFile(path);
    if (removed) return true;
    if (tolerateFailure == RemoveFailure::Tolerate) return false;
    Raise(site::kRemoveFile, path, removed.error());
  }
  const platform::Result<uint32_t> word = platform::GetAttributeWord(path);
  if (word) (void)platform::SetAttributeWord(path, *word & ~platform::kAttrReadOnly);
  const bool directory = IsDirectoryAttribute(GetAttributesOrZero(path));
  const platform::Status removed =
      directory ? platform::RemoveEmptyDirectory(path) : platform::RemoveFile(path);
  if (removed) return true;
  if (tolerateFailure == RemoveFailure::Tolerate) return false;
  Raise(directory ? site::kRemoveDirectory : site::kRemoveFile, path, removed.error());
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
  if (done != total) Raise(site::kDigestShortRead, path, stream.error());
}

std::u16string JoinPath(const std::u16string& base, const std::u16string& relative) {
  return base + relative;
}

}  // namespace torquelin
