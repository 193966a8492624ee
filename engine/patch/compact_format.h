// The compact patch file's magic, record tags, storage kinds and limits: the
// one place that fixes the bytes every writer and reader of one must agree on.
// docs/compact-patch-format.md tells the whole layout with an example.
#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/patch/patch_format.h"

namespace torquelin {

// A compact patch is the same kind of record stream as the classic one (tags
// of patch_format.h, little-endian, UTF-16LE text) with a magic of its own,
// so that every classic reader refuses it at the magic. It is written and
// read front to back in one pass; nothing is ever patched in place:
//
//   magic        20 bytes "zeRizeDuvuz 02.00.00", no tag
//   head         Packed: the classic records 4 to 15 (tree ids, info, filter,
//                the seven lists, the attribute map), then OlderIds
//   blocks       ContentBlock, one per group of contents, ascending paths
//   index        Packed: a classic FileIndex record, path -> block offset
//   end          End: offset of the index's Packed record, the magic again
//
// New record forms (the classic ones of patch_format.h keep their tags):
//
//   Packed       18 | Qword decoded length | Qword size S | S bytes: one zstd
//                     frame, with its checksum, whose decoded bytes are a
//                     record stream
//   OlderIds     19 | Dword K | K x (String path, Digest id)
//   Members      1A | Dword K | K x member (below)
//   ContentBlock 1B | Packed (Members) | Dword N | N Chunk records
//   Digest       1C | 20 raw bytes, a SHA-1 digest
//   Chunk        1D | Dword storage | Qword reference offset | Qword reference
//                     length | Qword content length | Qword size S | S bytes
//   End          1E | Qword offset of the index | 20 bytes magic
//
// A member: String path | Dword kind | Digest new id | Qword length | String
// reference (empty for Stored and Compressed) | Qword reference length
// (0 unless Delta).
enum class CompactRecord : uint8_t {
  Packed = 0x18,
  OlderIds = 0x19,
  Members = 0x1A,
  ContentBlock = 0x1B,
  Digest = 0x1C,
  Chunk = 0x1D,
  End = 0x1E,
};

inline constexpr char kCompactMagic[] = "zeRizeDuvuz 02.00.00";
inline constexpr size_t kCompactMagicSize = sizeof(kCompactMagic) - 1;
static_assert(kCompactMagicSize == kPatchMagicSize);

// The End record: tag, Qword record, magic; always the last bytes.
inline constexpr int64_t kCompactEndSize = 1 + 9 + kCompactMagicSize;

// How a member's content is stored. Stored, Compressed and Delta members
// have their bytes in the block's content stream, one after the other in
// member order; a Delta member's older file (its reference) is read into
// the block's reference stream the same way. Stored and Compressed differ
// only in what the chunks holding them are (raw or frames), which a reader
// need not know; they are told apart for reports.
enum class ContentKind : uint32_t {
  Stored = 0,      // raw bytes
  Compressed = 1,  // zstd frames with no reference
  Delta = 2,       // zstd frames made with the reference's bytes as prefix
  Copy = 3,        // no bytes: the content equals the older file `reference`
};
inline constexpr uint32_t kContentKindCount = 4;

// What a Chunk's payload is.
enum class ChunkStorage : uint32_t {
  Raw = 0,    // the content bytes themselves; reference offset and length 0
  Frame = 1,  // one zstd frame that names its content size in its header; with
              // a reference length, made with those reference bytes as prefix
};

// Limits every reader enforces, so that memory stays bounded whatever a
// patch claims. A chunk is decoded with its reference range in memory
// beside the frame's window, which covers both.
inline constexpr uint64_t kMaxChunkContent = uint64_t{32} << 20;
inline constexpr uint64_t kMaxChunkReference = uint64_t{96} << 20;
inline constexpr int kMaxFrameWindowLog = 27;
static_assert(kMaxChunkContent + kMaxChunkReference <= (uint64_t{1} << kMaxFrameWindowLog));
// The decoded size of one block's member table.
inline constexpr uint64_t kMaxMemberTable = uint64_t{64} << 20;
// Packed records are decoded into memory (lists, maps), so a small record
// must not claim a huge decoded length: beyond kPackedAlwaysAllowed, a
// Packed record may decode to at most kMaxPackedRatio times its size.
// Patch info compresses about twentyfold.
inline constexpr uint64_t kPackedAlwaysAllowed = uint64_t{64} << 20;
inline constexpr uint64_t kMaxPackedRatio = 256;

}  // namespace torquelin
