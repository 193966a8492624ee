// A patch given as "-": standard input, kept whole in a private file with no
// name for as long as a job reads it (unless it is a file already), so
// every reader can move about in it as in a patch file.
#pragma once

#include <string>

#include "engine/base/progress.h"
#include "platform/file_handle.h"
#include "platform/result.h"

namespace torquelin {

// The argument that stands for standard input (a patch read) or standard
// output (a patch written).
inline constexpr char16_t kStandardStreamArgument[] = u"-";

bool IsStandardStream(const std::u16string& path);

// Standard input, opened to read a patch from. Raises "Refusing to read a
// patch from a terminal: standard input" when it is one (a read would wait
// for ever), or "Unable to read the patch from standard input" with the
// code of the failed open.
platform::FileHandle OpenPatchInput();

// Reads standard input to its end into a private file (0600, no name; see
// platform::CreatePrivateTemporaryFile) and, until destroyed, makes it what
// zrFile::Reader opens for "-". At most one lives at a time, on the job's
// thread; the file is gone once this and every Reader on it are.
// Raises what OpenPatchInput raises, before reading anything; "Unable to
// read the patch from standard input" with the code of a failed read;
// "Unable to keep the patch read from standard input in a temporary file"
// with the code of the failed create or write. Progress: SetStatus("Reading
// the patch from standard input"), then SetDetail with the bytes received
// after every chunk (a cancellation point). A stream cut short is kept as
// far as it got: the format's readers refuse what is missing. A regular
// file redirected to standard input, read from its start, is not copied:
// it is what Readers of "-" open.
class StandardInputCopy {
 public:
  explicit StandardInputCopy(CProgressSink& progress);
  ~StandardInputCopy();
  StandardInputCopy(const StandardInputCopy&) = delete;
  StandardInputCopy& operator=(const StandardInputCopy&) = delete;

 private:
  platform::FileHandle copy_;
};

// Whether a StandardInputCopy lives: "-" is then its file, no longer the
// stream (which it has read to its end).
bool StandardInputIsKept();

// A handle of its own on the live StandardInputCopy's file, at offset 0;
// EBADF when none lives.
platform::Result<platform::FileHandle> OpenStandardInputCopy();

}  // namespace torquelin
