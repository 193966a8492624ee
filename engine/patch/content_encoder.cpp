// Grouping a patch's contents into blocks and encoding each block: deltas
// against the older files, plain frames, raw bytes or copies, whichever is
// smallest (errors located .\patchReader).
#include "engine/patch/content_encoder.h"

#include <algorithm>

#include "engine/base/error_sites.h"
#include "engine/patch/compact_sections.h"
#include "engine/patch/packed_records.h"
#include "engine/patch/patch_stream.h"

namespace torquelin {

namespace {

void WriteCompactTag(RecordOutput& out, CompactRecord tag) {
  WriteTag(out, static_cast<RecordType>(tag));
}

bool HasBytes(const ContentRequest& request) { return request.kind != ContentKind::Copy; }

// Chunks of new content from this size on are tried at level 1 first.
constexpr uint64_t kProbeFrom = uint64_t{1} << 20;

bool IsSmall(const ContentRequest& request, const CompactOptions& options) {
  if (!HasBytes(request)) return true;
  const uint64_t reference = request.kind == ContentKind::Delta ? request.referenceLength : 0;
  return request.length <= options.smallContent && reference <= options.smallContent;
}

// The older bytes a chunk covering content [start, start + length) is made
// from: the whole reference when it fits, else `most` bytes around the same
// offset, which catch what moved by up to half of `most` (an insertion or
// removal before it) and keep their place where the file only grew or
// shrank at its end. Both ends only move forward from chunk to chunk, as a
// reader of the older files front to back needs.
std::pair<uint64_t, uint64_t> ReferenceRange(uint64_t start, uint64_t length, uint64_t reference,
                                             uint64_t most) {
  if (reference <= most) return {0, reference};
  const uint64_t middle = start + length / 2;
  uint64_t begin = middle > most / 2 ? middle - most / 2 : 0;
  begin = std::min(begin, reference - most);
  return {begin, most};
}

void WriteMember(RecordOutput& out, const ContentRequest& member, ContentKind kind) {
  WriteString(out, member.path);
  WriteDword(out, static_cast<uint32_t>(kind));
  WriteDigest(out, member.id);
  WriteQword(out, static_cast<int64_t>(member.length));
  const bool referenced = kind == ContentKind::Delta || kind == ContentKind::Copy;
  WriteString(out, referenced ? member.reference : std::u16string());
  WriteQword(out, kind == ContentKind::Delta ? static_cast<int64_t>(member.referenceLength) : 0);
}

}  // namespace

struct ContentBlockEncoder::Chunk {
  ChunkStorage storage = ChunkStorage::Raw;
  uint64_t referenceOffset = 0;
  uint64_t referenceLength = 0;
  uint64_t contentLength = 0;
  std::string payload;
};

std::vector<ContentBlockPlan> PlanContentBlocks(std::vector<ContentRequest> requests,
                                                const CompactOptions& options) {
  std::vector<ContentBlockPlan> blocks;
  ContentBlockPlan group;
  uint64_t groupContent = 0;
  uint64_t groupReference = 0;
  auto closeGroup = [&] {
    if (!group.empty()) blocks.push_back(std::move(group));
    group.clear();
    groupContent = groupReference = 0;
  };
  for (ContentRequest& request : requests) {
    if (!IsSmall(request, options)) {
      closeGroup();
      blocks.push_back({std::move(request)});
      continue;
    }
    const uint64_t content = HasBytes(request) ? request.length : 0;
    const uint64_t reference = request.kind == ContentKind::Delta ? request.referenceLength : 0;
    if (group.size() >= options.groupMembers || groupContent + content > options.groupContent ||
        groupReference + reference > options.groupReference) {
      closeGroup();
    }
    groupContent += content;
    groupReference += reference;
    group.push_back(std::move(request));
  }
  closeGroup();
  return blocks;
}

uint64_t BlockWorkingMemory(const ContentBlockPlan& block, const CompactOptions& options) {
  uint64_t content = 0;
  uint64_t reference = 0;
  for (const ContentRequest& member : block) {
    if (HasBytes(member)) content += member.length;
    if (member.kind == ContentKind::Delta) reference += member.referenceLength;
  }
  content = std::min(content, options.chunkContent);
  reference = std::min(reference, options.chunkReference);
  // The content window, two frames of it at worst and one waiting to be
  // written, the older bytes with room to move, and zstd's tables for a
  // window that large (about a third of it).
  const uint64_t room = std::min(reference, content);
  return 4 * content + reference + room + (content + reference) / 3;
}

ContentBlockEncoder::ContentBlockEncoder(ContentOpener& newer, ContentOpener& older,
                                         CompactOptions options)
    : newer_(newer), older_(older), options_(options) {}

void ContentBlockEncoder::EncodeChunk(Chunk& chunk, const uint8_t* content,
                                      const uint8_t* reference, const std::u16string& what) {
  const uint64_t length = chunk.contentLength;
  const bool longMatches = chunk.referenceLength + length >= options_.longMatchesFrom;
  chunk.payload.clear();
  if (chunk.referenceLength > 0) {
    frames_.Encode(options_.level, content, length, reference, chunk.referenceLength, chunk.payload,
                   what, {.longMatches = longMatches});
  }
  // A quick frame of the content alone (level 1, a small part of the
  // cost) tells whether the rest is worth trying: a frame of its own at
  // the level came to at least seven tenths of the quick one on every
  // kind of content measured (JavaScript, source maps, binaries, shared
  // libraries), so only a delta above two thirds of it may lose to one,
  // and only then is that made too; content that level 1 cannot shrink is
  // stored raw. The delta stays only where it saves more than a
  // sixty-fourth: a content that needs no older file is worth that.
  int64_t quick = -1;
  if (chunk.referenceLength > 0 || length >= kProbeFrom) {
    spare_.clear();
    quick = static_cast<int64_t>(frames_.Encode(1, content, length, nullptr, 0, spare_, what, {}));
  }
  if (chunk.referenceLength == 0 || static_cast<int64_t>(chunk.payload.size()) * 3 > quick * 2) {
    if (quick < 0 || static_cast<uint64_t>(quick) < length) {
      spare_.clear();
      frames_.Encode(options_.level, content, length, nullptr, 0, spare_, what, {});
    }
    if (chunk.referenceLength == 0 || chunk.payload.size() + spare_.size() / 64 >= spare_.size()) {
      chunk.payload.swap(spare_);
      chunk.referenceOffset = chunk.referenceLength = 0;
    }
  }
  chunk.storage = ChunkStorage::Frame;
  if (chunk.payload.size() >= length) {
    chunk.storage = ChunkStorage::Raw;
    chunk.referenceOffset = chunk.referenceLength = 0;
    chunk.payload.assign(reinterpret_cast<const char*>(content), length);
  }
}

void ContentBlockEncoder::Encode(const ContentBlockPlan& block,
                                 const std::function<void(std::string&&)>& emit) {
  // An empty file is stored as nothing and needs no older file.
  std::vector<ContentKind> kinds;
  std::vector<FileChain::Part> contentParts;
  std::vector<FileChain::Part> referenceParts;
  for (const ContentRequest& member : block) {
    kinds.push_back(member.length == 0 && HasBytes(member) ? ContentKind::Stored : member.kind);
    if (HasBytes(member)) contentParts.push_back({member.path, member.length, member.id});
    if (kinds.back() == ContentKind::Delta) {
      referenceParts.push_back({member.reference, member.referenceLength, member.referenceId});
    }
  }
  // A file that is not what the scan found would make a patch that cannot
  // give its newer fingerprint: the patch fails, as the classic writer does.
  FileChain contents(newer_, contentParts,
                     [&](size_t part, bool matched) {
                       if (!matched)
                         Raise(site::kPatchSourceShortRead,
                               newer_.Describe(contentParts[part].path));
                     },
                     {});
  FileChain references(older_, referenceParts,
                       [&](size_t part, bool matched) {
                         if (!matched) {
                           Raise(site::kPatchSourceShortRead,
                                 older_.Describe(referenceParts[part].path));
                         }
                       },
                       {.overlapping = true});
  const uint64_t total = contents.size();
  const uint64_t referenceTotal = references.size();
  const std::u16string& what = block.front().path;

  auto writeChunk = [](MemoryOutput& out, const Chunk& chunk) {
    WriteCompactTag(out, CompactRecord::Chunk);
    WriteDword(out, static_cast<uint32_t>(chunk.storage));
    WriteQword(out, static_cast<int64_t>(chunk.referenceOffset));
    WriteQword(out, static_cast<int64_t>(chunk.referenceLength));
    WriteQword(out, static_cast<int64_t>(chunk.contentLength));
    WriteQword(out, static_cast<int64_t>(chunk.payload.size()));
    WriteRaw(out, chunk.payload.data(), static_cast<int64_t>(chunk.payload.size()));
  };
  auto writeHead = [&](MemoryOutput& out, const std::vector<ContentKind>& storedKinds,
                       uint32_t chunkCount) {
    WriteCompactTag(out, CompactRecord::ContentBlock);
    PackingOutput table(frames_, options_.level, what);
    WriteCompactTag(table, CompactRecord::Members);
    WriteDword(table, static_cast<uint32_t>(block.size()));
    for (size_t i = 0; i < block.size(); ++i) WriteMember(table, block[i], storedKinds[i]);
    table.WriteTo(out);
    WriteDword(out, chunkCount);
  };
  if (total <= options_.chunkContent && referenceTotal <= options_.chunkReference) {
    // One chunk: encoded first, so that the table can say how the contents
    // ended up stored.
    Chunk chunk;
    chunk.contentLength = total;
    chunk.referenceLength = referenceTotal;
    const uint8_t* content = contents.Window(0, total);
    const uint8_t* reference = references.Window(0, referenceTotal);
    if (total > 0) EncodeChunk(chunk, content, reference, what);
    contents.Finish();
    references.Finish();
    for (ContentKind& kind : kinds) {
      if (kind == ContentKind::Copy || kind == ContentKind::Stored) continue;
      if (chunk.storage == ChunkStorage::Raw) {
        kind = ContentKind::Stored;
      } else if (chunk.referenceLength == 0) {
        kind = ContentKind::Compressed;
      }
    }
    MemoryOutput out;
    writeHead(out, kinds, total > 0 ? 1 : 0);
    if (total > 0) writeChunk(out, chunk);
    emit(std::move(out.bytes));
    return;
  }

  const uint64_t chunkCount = (total + options_.chunkContent - 1) / options_.chunkContent;
  MemoryOutput head;
  writeHead(head, kinds, static_cast<uint32_t>(chunkCount));
  emit(std::move(head.bytes));
  for (uint64_t start = 0; start < total; start += options_.chunkContent) {
    Chunk chunk;
    chunk.contentLength = std::min(options_.chunkContent, total - start);
    std::tie(chunk.referenceOffset, chunk.referenceLength) =
        ReferenceRange(start, chunk.contentLength, referenceTotal, options_.chunkReference);
    const uint8_t* content = contents.Window(start, chunk.contentLength);
    const uint8_t* reference = references.Window(chunk.referenceOffset, chunk.referenceLength);
    EncodeChunk(chunk, content, reference, what);
    MemoryOutput out;
    writeChunk(out, chunk);
    emit(std::move(out.bytes));
  }
  contents.Finish();
  references.Finish();
}

}  // namespace torquelin
