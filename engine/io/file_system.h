// Small file-system building blocks: attribute queries, existence tests,
// read-only-safe removal, digesting a file, joining paths.
#pragma once

#include <cstdint>
#include <string>

#include "engine/base/errors.h"
#include "engine/base/progress.h"
#include "engine/hash/sha1.h"

namespace torquelin {

// The attribute word, or 0 when the item is missing or cannot be queried.
uint32_t GetAttributesOrZero(const std::u16string& path);
// True when the item exists (its word is readable and not 0).
bool PathExists(const std::u16string& path);
bool IsDirectoryAttribute(uint32_t word);
bool DirectoryExists(const std::u16string& path);
// Raises the error of `site` + path unless the path names a directory (links
// followed), with the code of the failed look when it could not be looked at.
void RequireDirectory(const ErrorSite& site, const std::u16string& path);

// Removes one file or one empty directory, clearing the read-only bit first.
// A symbolic link is removed itself, never what it points to.
// On failure returns false when tolerateFailure is Tolerate, else raises
// "Unable to remove item. " + path (.\fileio, line 133 directory / 146 file).
// A missing path counts as a file that could not be removed.
enum class RemoveFailure { Raise, Tolerate };
bool RemoveItem(RemoveFailure tolerateFailure, const std::u16string& path);

// Feeds every byte of the file into an initialised SHA-1 context through the
// sink's scratch buffer. Raises "Unable to open file:" + path, "Unable to get
// a file  size:" + path (line 83) or, when fewer bytes arrive than the size
// promised, "Unable read a source file:" + path (line 105).
void DigestFileContent(CProgressSink& progress, const std::u16string& path, Sha1Context& context);

// base + relative, no separator added (relative paths begin with '\').
std::u16string JoinPath(const std::u16string& base, const std::u16string& relative);

}  // namespace torquelin
