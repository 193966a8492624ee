// Questions about the error code a failed platform call gave (result.h), and
// the system's words for one.
#pragma once

#include <cstdint>
#include <string>

namespace torquelin {

namespace platform {

// The file would grow beyond what the file system or a resource limit allows
// (EFBIG).
bool IsFileTooLarge(uint32_t code);
// A symbolic link met where none may be followed (ELOOP from
// DirectoryHandle, DirectoryListing and the opens that refuse a link).
bool IsLinkInTheWay(uint32_t code);
// The entry is not there (ENOENT).
bool IsMissingEntry(uint32_t code);
// Another process holds the lock (EWOULDBLOCK from
// DirectoryHandle::OpenOwnFile).
bool IsLockHeld(uint32_t code);
// An entry is there already (EEXIST), or a directory is in the way of a
// rename (EISDIR, ENOTEMPTY).
bool IsEntryInTheWay(uint32_t code);

// Called once at program start: a write beyond the file-size limit (ulimit
// -f) then fails with EFBIG, which the engine reports as an error, instead of
// raising SIGXFSZ, which would end the process with no word said.
void ReportOversizedWritesAsErrors();
// The system's text for a code, in UTF-8 ("No such file or directory").
std::string ErrorCodeText(uint32_t code);

}  // namespace platform

}  // namespace torquelin
