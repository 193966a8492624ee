// Making the contents of a compact patch: grouping the files it carries into
// blocks, and encoding one block into its ContentBlock record.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "engine/patch/compact_format.h"
#include "engine/patch/content_files.h"
#include "engine/patch/zstd_frames.h"
#include "engine/tree/fingerprint.h"

namespace torquelin {

// The zstd level a compact patch is made with unless asked otherwise, the
// benchmarks' choice (bench/compare_compact.py): on real upgrades its
// deltas are within a few percent of level 12's and it makes them in two
// thirds of the time `zstd -12` takes file by file; level 12 takes about
// that time, and levels 13 and up build search trees over the whole older
// file, ten times slower.
inline constexpr int kDefaultCompactLevel = 11;
inline constexpr int kMinCompactLevel = 1;
inline constexpr int kMaxCompactLevel = 22;

// One content the patch carries, as the scans found it. The caller finds
// copies (a new content whose id an older file has) and chooses the older
// file a delta is made from (the changed file's own older version).
struct ContentRequest {
  std::u16string path;  // relative path in the newer tree
  FileId id;            // the id of its content
  uint64_t length;      // its length
  // Compressed: no reference. Delta: made from `reference`, which the
  // encoder may drop when it does not pay. Copy: equals `reference`, an
  // older file whose id is `id`. The encoder stores a content as Stored
  // where compression does not pay.
  ContentKind kind;
  std::u16string reference;  // relative path in the older tree
  FileId referenceId;
  uint64_t referenceLength;  // Delta only
};

struct CompactOptions {
  int level = kDefaultCompactLevel;
  // Chunks: a content longer than chunkContent (or with more reference than
  // chunkReference) is cut into chunks of chunkContent bytes, each made
  // from at most chunkReference bytes of its older file around the same
  // offset. Tests set them small; a patch's readers allow at most the
  // kMaxChunk limits.
  uint64_t chunkContent = kMaxChunkContent;
  uint64_t chunkReference = kMaxChunkReference;
  // Groups: contents and references up to smallContent bytes share blocks
  // of up to groupContent new bytes, groupReference older bytes and
  // groupMembers members, so that what many small files have in common is
  // stored once.
  uint64_t smallContent = uint64_t{1} << 20;
  uint64_t groupContent = uint64_t{4} << 20;
  uint64_t groupReference = uint64_t{8} << 20;
  uint32_t groupMembers = 4096;
  // Long-distance matching for frames whose window spans at least this many
  // bytes (prefix and content): below, level 12's own search finds more.
  uint64_t longMatchesFrom = uint64_t{64} << 20;
};

using ContentBlockPlan = std::vector<ContentRequest>;

// Splits the requests, kept in the order given (ascending paths), into
// blocks: each large content alone, small ones, copies and empty files
// together up to the group limits.
std::vector<ContentBlockPlan> PlanContentBlocks(std::vector<ContentRequest> requests,
                                                const CompactOptions& options);

// The memory one encoder may hold for a block, beyond its zstd tables: the
// largest window of older bytes, of new bytes, and of the frames it makes.
uint64_t BlockWorkingMemory(const ContentBlockPlan& block, const CompactOptions& options);

// Encodes blocks; one object per thread, its zstd context reused.
class ContentBlockEncoder {
 public:
  ContentBlockEncoder(ContentOpener& newer, ContentOpener& older, CompactOptions options);

  // Writes the block's ContentBlock record through emit, a piece at a time
  // (the table and the first chunk, then chunk by chunk), so that a large
  // file never sits in memory whole; the pieces in order make the record.
  // Every file is read exactly as long as requested and must have the
  // requested id: a file that changed since it was scanned raises "Unable
  // read a source file:" + its full path; one that cannot be opened raises
  // the opener's error; a zstd failure "Unable to compress a file for the
  // patch: " + path. What emit raises passes.
  void Encode(const ContentBlockPlan& block, const std::function<void(std::string&&)>& emit);

  // The zstd context's memory now, for the benchmarks.
  size_t MemoryInUse() const { return frames_.MemoryInUse(); }

 private:
  struct Chunk;
  // Fills chunk's payload with the smallest of: a frame with the reference,
  // one without, the raw bytes.
  void EncodeChunk(Chunk& chunk, const uint8_t* content, const uint8_t* reference,
                   const std::u16string& what);

  ContentOpener& newer_;
  ContentOpener& older_;
  CompactOptions options_;
  FrameEncoder frames_;
  std::string spare_;
};

}  // namespace torquelin
