// The parts of a compact patch around its contents: magic, head (patch info
// and older ids), index and end record.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>

#include "engine/patch/change_set.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_stream.h"
#include "engine/patch/zstd_frames.h"
#include "engine/tree/fingerprint.h"

namespace torquelin {

// The ids of older files a patch refers to, by relative path.
using OlderIdMap = std::map<std::u16string, FileId>;

// A file id as a Digest record.
void WriteDigest(RecordOutput& out, const FileId& id);
FileId ReadDigest(RecordInput& in);

enum class PatchFormat { Classic, Compact };

// Reads the 20 bytes at the start of a patch. A short read fails as ReadRaw
// does, anything but one of the two magics with "Unable to open a patch
// file, missing magic number.".
PatchFormat ReadPatchMagic(RecordInput& in);
void WriteCompactMagic(RecordOutput& out);

struct CompactHead {
  ChangeSet changes;
  // Every file the patch changes or removes, and every older file a content
  // is made from or copied from, with the id the patch expects of it.
  OlderIdMap olderIds;
};

// The head, right after the magic: one Packed record holding the classic
// patch info records in their classic order, then OlderIds. The compression
// level is zstd's.
void WriteCompactHead(RecordOutput& out, FrameEncoder& encoder, int level, const CompactHead& head);
// Reads it back; the record errors, or "Refusing a damaged compact patch: the
// patch info" when the packed frame is damaged. afterEachList, when given,
// runs after each of the seven lists and after the attribute map, for
// progress.
CompactHead ReadCompactHead(RecordInput& in, const std::function<void()>& afterEachList = {});

// The index after the last block: a Packed record holding a classic
// FileIndex record, relative path -> offset of the ContentBlock record that
// holds the path's content.
void WriteCompactIndex(RecordOutput& out, FrameEncoder& encoder, int level,
                       const PatchFileIndex& index);
PatchFileIndex ReadCompactIndex(RecordInput& in);

// The End record, the patch's last kCompactEndSize bytes: written last, it
// marks the patch complete. ReadCompactEnd returns the index's offset, or
// raises "This patch file has not been properly written." when the bytes
// are anything else (a patch cut short, or still being written).
void WriteCompactEnd(RecordOutput& out, int64_t indexOffset);
int64_t ReadCompactEnd(RecordInput& in);

}  // namespace torquelin
