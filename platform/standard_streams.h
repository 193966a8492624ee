// The process's standard input and output as files a job reads a patch from
// or writes one to, and the private file with no name that a stream is kept
// in when a reader needs to move about in it.
#pragma once

#include <string>

#include "platform/file_handle.h"
#include "platform/files.h"
#include "platform/result.h"

namespace torquelin {

namespace platform {

enum class StandardStream { Input, Output };

// A handle of its own on the process's standard input or output (a
// duplicate, closed on exec), so closing it leaves the stream open for the
// rest of the process.
Result<FileHandle> OpenStandardStream(StandardStream stream);

// The identity of the file or pipe behind the stream (fstat), so it can be
// told apart from, or matched with, a path another argument names.
Result<NodeId> StandardStreamId(StandardStream stream);

// True when the stream is a regular file (redirected from one), which can
// be read more than once and moved about in like any patch file.
bool StandardStreamIsRegularFile(StandardStream stream);

// The path of the regular file behind the stream, as engine text; empty
// when it is no regular file or its path cannot be had.
std::u16string StandardStreamFilePath(StandardStream stream);

// isatty on the stream.
bool StandardStreamIsTerminal(StandardStream stream);

// A new empty file, open for reading and writing, that no name leads to and
// no other user may open: made with O_TMPFILE (mode 0600) in $TMPDIR, or
// /tmp when that is unset or not absolute. Where the file system cannot do
// that, a fresh 0600 file is created there exclusively without following a
// link, and its name removed at once. It vanishes when its last handle is
// closed, by the process ending too, however it ends.
Result<FileHandle> CreatePrivateTemporaryFile();

// A second handle, open for reading, on the same file as `file`, with a
// position of its own (through /proc/self/fd; a duplicate would share the
// position). Works on a file no name leads to; EBADF when `file` holds
// nothing.
Result<FileHandle> ReopenForReading(const FileHandle& file);

}  // namespace platform

}  // namespace torquelin
