// Reading a compact patch's parts around its contents (head, index, end
// record), telling how each content is stored, and loading the patch info
// of a patch of either format.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "engine/base/progress.h"
#include "engine/io/large_file.h"
#include "engine/patch/compact_format.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"

namespace torquelin {

// Records read in order, knowing the offset they stand at (a reader of a
// compact patch stops at the index by it), passing over bytes to a later
// offset.
class OffsetInput : public RecordInput {
 public:
  virtual int64_t position() const = 0;
  // Moves on to `offset`, never before position(); a stream that ends first
  // stops at its end, where the next read comes out short.
  virtual void SkipTo(int64_t offset) = 0;
};

// Reads records from a patch file through a buffer, and moves on to any
// later offset without reading what lies between. Leaves the Reader
// wherever it pleases.
class PositionedInput : public OffsetInput {
 public:
  PositionedInput(zrFile::Reader& reader, int64_t offset);
  int64_t read(void* buffer, int64_t n) override;
  int64_t position() const override { return position_; }
  void SkipTo(int64_t offset) override;

 private:
  zrFile::Reader& reader_;
  std::optional<BufferedInput> buffered_;
  int64_t position_ = 0;
};

// A compact patch's parts around its contents, read and checked.
struct CompactPatchInfo {
  CompactHead head;
  // Every path of NewFiles and ChangedFiles, exactly those, with the offset
  // of the ContentBlock record that holds its content.
  PatchFileIndex index;
  int64_t contentStart = 0;  // the first ContentBlock record, just after the head
  int64_t indexOffset = 0;   // where the contents end
};

// Reads a compact patch whose magic has been read (ReadPatchMagic). First
// its last kCompactEndSize bytes: anything but an End record raises "This
// patch file has not been properly written.", before any progress. Then
// SetStatus("Loading patch info."), SetRange(9), the head from offset 20
// with a Step after each of the seven lists and the attribute map, and the
// index with one more Step. Damage raises the record errors or "Refusing a
// damaged compact patch: " + what: "the file index" when the index does
// not start right after the head or later, does not end where the End
// record starts, lists other paths than NewFiles and ChangedFiles, or
// points outside the contents. Contents are not read.
CompactPatchInfo ReadCompactPatchInfo(zrFile::Reader& reader, CProgressSink& progress);

// How one content is stored, as Query Patch reports it (and what a reader
// that checks for room before writing needs).
struct StoredContent {
  ContentKind kind = ContentKind::Stored;
  uint64_t length = 0;  // of the content itself, as its member table states
  // The bytes of the patch its block takes; when a block holds several
  // contents, a share of them in proportion to the contents' lengths (equal
  // shares when none has bytes), the shares adding up to the block's size.
  uint64_t storedSize = 0;
  uint64_t block = 0;        // its block's place in the patch, from 0
  std::u16string reference;  // Delta: made from; Copy: equal to (else empty)
  FileId id{};               // of the content, as its member table states
};
using StoredContents = std::map<std::u16string, StoredContent>;

// Reads every block's member table and chunk headers, front to back,
// passing over the chunks' bytes without decoding them. A block alone with
// several chunks is told by its chunks (Delta when one is made from the
// older file, Compressed when one is a frame, else Stored), since its table
// keeps the kind asked for. Raises the record errors, what ReadMemberTable
// and ReadChunkHeader raise, and "Refusing a damaged compact patch: " +
// "a content block" when the blocks do not fill the contents exactly or
// a block's chunks do not hold its contents' bytes, "the file index" when
// a path is held twice, not at its index offset, or not at all.
StoredContents SkimCompactContents(zrFile::Reader& reader, const CompactPatchInfo& info);

// Raises "Refusing a damaged compact patch: the file index" unless the
// index lists exactly the paths whose contents the patch carries (the new
// and the changed files), each once.
void CheckIndexListsTheCarriedFiles(const ChangeSet& changes, const PatchFileIndex& index);

// Reads the content block at in's position (the patch's block number
// `block`) as SkimCompactContents does, its chunks' bytes passed over and
// none reaching `limit`, and adds each of its contents to `contents`. With
// `index`, each must be listed there at the block's offset; without, the
// caller compares the block offsets left in `starts` with the index later.
void SkimContentBlock(OffsetInput& in, const OlderIdMap& olderIds, int64_t limit, uint64_t block,
                      const PatchFileIndex* index, StoredContents& contents,
                      PatchFileIndex& starts);

// LoadPatchInfo for a patch of either format, which its first 20 bytes
// tell: a classic patch exactly as LoadPatchInfo reads it, a compact one
// through ReadCompactPatchInfo. With `contents`, a compact patch's contents
// are skimmed into it too (SkimCompactContents); it stays empty for a
// classic patch. "-" is standard input: the copy a StandardInputCopy keeps
// when one lives, else the stream itself, read front to back
// (LoadStreamedPatchInfo). Raises "No patch file specified: " for an empty
// path, the reader's open error, and the errors of the format's reading.
ChangeSet LoadAnyPatchInfo(CProgressSink& progress, const std::u16string& patchPath,
                           StoredContents* contents = nullptr);

}  // namespace torquelin
