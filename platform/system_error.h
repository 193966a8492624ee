// The operating system's error code of the last failed call, read in one
// place, and the system's words for a code.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

// The code the last failing system call left on this thread (errno):
// possibly 0, or unrelated when the failure came from elsewhere.
uint32_t LastErrorCode();
// True when the last failed write was refused because the file would grow
// beyond what the file system or a resource limit allows (EFBIG).
bool LastErrorIsFileTooLarge();
// True when the last failure was a symbolic link met where none may be
// followed (ELOOP from DirectoryHandle and DirectoryListing).
bool LastErrorIsLinkInTheWay();
// True when the last failure was an entry that is not there (ENOENT).
bool LastErrorIsMissingEntry();
// True when the last failure was a lock another process holds (EWOULDBLOCK
// from DirectoryHandle::OpenOwnFile).
bool LastErrorIsLockHeld();
// True when the last failure was an entry already there (EEXIST), or a
// directory in the way of a rename (EISDIR, ENOTEMPTY).
bool LastErrorIsEntryInTheWay();
// Called once at program start: a write beyond the file-size limit (ulimit
// -f) then fails with EFBIG, which the engine reports as an error, instead of
// raising SIGXFSZ, which would end the process with no word said.
void ReportOversizedWritesAsErrors();
// The system's text for a code, in UTF-8 ("No such file or directory").
std::string ErrorCodeText(uint32_t code);

}  // namespace platform
