// Reading a patch's info from standard input front to back, passing over
// its contents (errors located .\patchReader).
#include "engine/patch/streamed_patch_info.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/io/standard_input.h"
#include "engine/patch/compact_format.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"

namespace torquelin {

namespace {

constexpr size_t kStreamBlock = 64 * 1024;

// A stream read through a buffer, which passes over bytes by reading them.
class StreamInput : public OffsetInput {
 public:
  explicit StreamInput(platform::FileHandle file) : file_(std::move(file)), block_(kStreamBlock) {}

  int64_t read(void* buffer, int64_t n) override {
    uint8_t* out = static_cast<uint8_t*>(buffer);
    int64_t done = 0;
    while (done < n) {
      if (next_ == end_ && !Refill()) return error_ != 0 && done == 0 ? -1 : done;
      const size_t take = std::min(end_ - next_, static_cast<size_t>(n - done));
      std::memcpy(out + done, block_.data() + next_, take);
      next_ += take;
      done += static_cast<int64_t>(take);
      position_ += static_cast<int64_t>(take);
    }
    return done;
  }
  uint32_t error() const override { return error_; }
  int64_t position() const override { return position_; }

  void SkipTo(int64_t offset) override {
    while (position_ < offset) {
      if (next_ == end_ && !Refill()) return;
      const size_t take = std::min(end_ - next_, static_cast<size_t>(offset - position_));
      next_ += take;
      position_ += static_cast<int64_t>(take);
    }
  }

  // The next byte, left unread; -1 at the end of the stream.
  int Peek() {
    if (next_ == end_ && !Refill()) return -1;
    return block_[next_];
  }

  // True once the stream has ended under a read (not failed).
  bool cutShort() const { return ended_ && error_ == 0; }

 private:
  bool Refill() {
    if (ended_) return false;
    const platform::Result<uint64_t> got = file_.Read(block_.data(), block_.size());
    if (!got) error_ = got.error();
    if (!got || *got == 0) {
      ended_ = true;
      return false;
    }
    next_ = 0;
    end_ = static_cast<size_t>(*got);
    return true;
  }

  platform::FileHandle file_;
  std::vector<uint8_t> block_;
  size_t next_ = 0;
  size_t end_ = 0;
  int64_t position_ = 0;
  bool ended_ = false;
  uint32_t error_ = 0;
};

ChangeSet ReadClassic(StreamInput& in, CProgressSink& progress) {
  const int64_t indexOffset = ReadQword(in);
  if (ReadDword(in) != kPatchComplete) Raise(site::kUnfinishedPatch);
  ChangeSet changes = ReadPatchInfoRecords(in, progress);
  // An index inside the patch info is not where a file reader would find
  // one either.
  if (indexOffset < in.position()) Raise(site::kTypeMismatch);
  in.SkipTo(indexOffset);
  ReadFileIndex(in);
  progress.Step();
  return changes;
}

ChangeSet ReadCompact(StreamInput& in, CProgressSink& progress, StoredContents* contents) {
  progress.SetStatus(u"Loading patch info.");
  progress.SetRange(9);
  CompactHead head = ReadCompactHead(in, [&] { progress.Step(); });
  StoredContents skimmed;
  PatchFileIndex starts;
  constexpr int64_t kNoLimit = INT64_MAX;
  for (uint64_t block = 0; in.Peek() == static_cast<int>(CompactRecord::ContentBlock); ++block) {
    SkimContentBlock(in, head.olderIds, kNoLimit, block, nullptr, skimmed, starts);
  }
  const int64_t indexStart = in.position();
  const PatchFileIndex index = ReadCompactIndex(in);
  const int64_t indexOffset = ReadCompactEnd(in);
  uint8_t more = 0;
  const auto damaged = [] { Raise(site::kCompactDamaged, u"the file index"); };
  if (indexOffset != indexStart || in.read(&more, 1) != 0 || starts != index) damaged();
  CheckIndexListsTheCarriedFiles(head.changes, index);
  progress.Step();
  if (contents != nullptr) *contents = std::move(skimmed);
  return std::move(head.changes);
}

}  // namespace

ChangeSet LoadStreamedPatchInfo(CProgressSink& progress, StoredContents* contents) {
  StreamInput in(OpenPatchInput());
  if (ReadPatchMagic(in) == PatchFormat::Classic) return ReadClassic(in, progress);
  try {
    return ReadCompact(in, progress, contents);
  } catch (const CZRErr&) {
    // A file is first asked for its End record, so a file cut short is
    // refused for that, whatever else the part it holds would show.
    if (in.cutShort()) Raise(site::kUnfinishedPatch);
    throw;
  }
}

}  // namespace torquelin
