// Standard input as a patch: copied whole into a private file with no name,
// which Readers of "-" open.
#include "engine/io/standard_input.h"

#include "engine/base/error_sites.h"
#include "engine/base/number_text.h"
#include "platform/standard_streams.h"

namespace torquelin {

namespace {

// The live copy's file, or nothing. Set and cleared on the job's thread;
// readers on other threads only open it while it lives.
const platform::FileHandle* gLiveCopy = nullptr;

}  // namespace

bool IsStandardStream(const std::u16string& path) { return path == kStandardStreamArgument; }

platform::FileHandle OpenPatchInput() {
  using platform::StandardStream;
  if (platform::StandardStreamIsTerminal(StandardStream::Input)) {
    Raise(site::kPatchFromTerminal, u"standard input");
  }
  platform::Result<platform::FileHandle> input =
      platform::OpenStandardStream(StandardStream::Input);
  if (!input) Raise(site::kStandardInputRead, {}, input.error());
  return std::move(*input);
}

StandardInputCopy::StandardInputCopy(CProgressSink& progress) {
  platform::FileHandle input = OpenPatchInput();
  // A file redirected to standard input from its start is a patch file
  // already: it is read where it is, when this process may open it anew (a
  // shell of another user may have opened it for us).
  const platform::Result<int64_t> at = input.Tell();
  if (platform::StandardStreamIsRegularFile(platform::StandardStream::Input) && at && *at == 0 &&
      platform::ReopenForReading(input)) {
    copy_ = std::move(input);
    gLiveCopy = &copy_;
    return;
  }
  platform::Result<platform::FileHandle> copy = platform::CreatePrivateTemporaryFile();
  if (!copy) Raise(site::kStandardInputKeep, {}, copy.error());
  copy_ = std::move(*copy);

  progress.SetStatus(u"Reading the patch from standard input");
  uint8_t* buffer = progress.GetBuffer();
  const uint64_t size = progress.GetBufferSize();
  int64_t received = 0;
  bool ended = false;
  while (!ended) {
    // A pipe hands out a little at a time: the buffer is filled before it
    // is written and shown, so a long stream costs few calls.
    uint64_t filled = 0;
    while (filled < size) {
      const platform::Result<uint64_t> got = input.Read(buffer + filled, size - filled);
      if (!got) Raise(site::kStandardInputRead, {}, got.error());
      if (*got == 0) {
        ended = true;
        break;
      }
      filled += *got;
    }
    const platform::Status put = copy_.Write(buffer, filled);
    if (!put) Raise(site::kStandardInputKeep, {}, put.error());
    received += static_cast<int64_t>(filled);
    progress.SetDetail(DecimalText(received) + u" bytes received");
  }
  gLiveCopy = &copy_;
}

StandardInputCopy::~StandardInputCopy() {
  if (gLiveCopy == &copy_) gLiveCopy = nullptr;
}

bool StandardInputIsKept() { return gLiveCopy != nullptr; }

platform::Result<platform::FileHandle> OpenStandardInputCopy() {
  static const platform::FileHandle kNone;
  return platform::ReopenForReading(gLiveCopy != nullptr ? *gLiveCopy : kNone);
}

}  // namespace torquelin
