// Reading the contents of a compact patch back: one ContentBlock record at a
// time, front to back, each content checked against its id.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/base/errors.h"
#include "engine/patch/compact_format.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/content_files.h"
#include "engine/patch/patch_stream.h"
#include "engine/patch/zstd_frames.h"

namespace torquelin {

// One content of a block, as its member table lists it.
struct ContentMember {
  std::u16string path;
  ContentKind kind;
  FileId id;
  uint64_t length;
  std::u16string reference;  // Delta: made from; Copy: equal to (else empty)
  uint64_t referenceLength;  // Delta only
};

// What a Chunk record says before its payload.
struct ChunkHeader {
  ChunkStorage storage;
  uint64_t referenceOffset;
  uint64_t referenceLength;
  uint64_t contentLength;
  uint64_t size;  // of the payload that follows
};

// Reads a ContentBlock record's tag and member table, and its chunk count
// into chunkCount. Refuses ("Refusing a damaged compact patch: " + what) a
// table beyond the limits, a kind that does not exist, paths out of order,
// and references that do not fit the kind or that olderIds does not list
// (a Copy's with another id than its own).
std::vector<ContentMember> ReadMemberTable(RecordInput& in, const OlderIdMap& olderIds,
                                           uint32_t& chunkCount);
// Reads one Chunk record's fields, leaving the input at its payload.
// Refuses a storage that does not exist and sizes beyond the limits.
ChunkHeader ReadChunkHeader(RecordInput& in);

// Where decoded contents go. Every member of a block gets Begin, its bytes
// through Write in order, and End, in table order; copies and empty files
// too. A member's bytes are sound only once Decode returns without it
// among the failures (and without raising).
class ContentOutput {
 public:
  virtual ~ContentOutput() = default;
  virtual void Begin(const ContentMember& member) = 0;
  virtual void Write(const uint8_t* bytes, size_t size) = 0;
  virtual void End(const ContentMember& member) = 0;
};

struct FailedContent {
  std::u16string path;
  CZRErr error;
};

// Decodes blocks; one object per thread, its zstd context and buffers kept
// between blocks. Memory: one chunk's reference range and content (at most
// kMaxChunkReference + kMaxChunkContent) and about 2 MiB of buffers,
// whatever a block or a patch holds.
class ContentBlockDecoder {
 public:
  ContentBlockDecoder();

  // Reads the ContentBlock record at the input's position to its end and
  // hands every member's content to `out`. A Delta member's older file and
  // a Copy's are read through `older`, front to back, each whole: its
  // length and id must be those olderIds lists, or the member fails with
  // "The older file a stored content is made from is not the one the patch
  // expects: " + its path. A member whose bytes do not give its id fails
  // with "The content stored for a file does not give its id: " + path, one
  // in a chunk zstd cannot decode with "Unable to decode the content stored
  // for: " + path (+ the reason). Without tolerate the first failure is
  // raised, and what `out` received is to be thrown away; with it, the
  // failed members are returned and the others are sound. Damage to the
  // block's structure ("Refusing a damaged compact patch: ", the record
  // errors) always raises. The opener's and out's errors pass.
  std::vector<FailedContent> Decode(RecordInput& in, const OlderIdMap& olderIds,
                                    ContentOpener& older, ContentOutput& out, bool tolerate);

  size_t MemoryInUse() const { return frames_.MemoryInUse(); }

 private:
  FrameDecoder frames_;
  std::vector<uint8_t> input_;
  std::vector<uint8_t> output_;
};

}  // namespace torquelin
