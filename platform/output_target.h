// What stands at a path a job is about to write, and the way into a device
// or FIFO that an output is written straight into rather than replaced.
#pragma once

#include <string>

#include "platform/file_handle.h"
#include "platform/result.h"

namespace torquelin {

namespace platform {

enum class NodeKind {
  // Nothing that can be seen: no entry, a dangling link, or a path whose
  // directories refuse the query (writing there fails with the reason).
  Missing,
  RegularFile,
  Directory,
  CharacterDevice,
  Fifo,
  Other,  // a socket or a block device
};

// What the path names, following symbolic links (stat), since that is what
// the user means by it: /dev/stdout is the terminal or pipe behind it.
NodeKind KindOfNode(const std::u16string& path);

// Where an output at this path really goes: when the last component is a
// symbolic link that resolves, the resolved path (realpath), else the path
// itself. Replacing the link would destroy it (as root even /dev/stdout);
// replacing its target is what the user asked for.
std::u16string ResolveFinalLink(const std::u16string& path);

// Opens an existing character device or FIFO for writing, following links,
// never creating or truncating anything. Blocks on a FIFO until a reader
// comes. ENXIO when what it opened is neither.
Result<FileHandle> OpenDeviceForWriting(const std::u16string& path);

// Succeeds when this process may write to the existing path: a directory it
// may create entries in, a device it may open for writing (access with the
// effective ids; a read-only file system says no).
Status MayWrite(const std::u16string& path);

}  // namespace platform

}  // namespace torquelin
