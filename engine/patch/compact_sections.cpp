// A compact patch's magic, head, index and end record (errors located
// .\patchReader).
#include "engine/patch/compact_sections.h"

#include <cstring>
#include <limits>

#include "engine/base/error_sites.h"
#include "engine/patch/compact_format.h"
#include "engine/patch/packed_records.h"
#include "engine/patch/patch_reader.h"
#include "engine/patch/patch_writer.h"

namespace torquelin {

namespace {

void WriteCompactTag(RecordOutput& out, CompactRecord tag) {
  WriteTag(out, static_cast<RecordType>(tag));
}

void ExpectCompactTag(RecordInput& in, CompactRecord tag) {
  ExpectTag(in, static_cast<RecordType>(tag));
}

// Nothing but memory limits the head and the index; PackedInput still
// refuses a small record that claims to decode to a huge one.
constexpr uint64_t kNoLimit = std::numeric_limits<uint64_t>::max();

}  // namespace

void WriteDigest(RecordOutput& out, const FileId& id) {
  WriteCompactTag(out, CompactRecord::Digest);
  WriteRaw(out, id.data(), static_cast<int64_t>(id.size()));
}

FileId ReadDigest(RecordInput& in) {
  ExpectCompactTag(in, CompactRecord::Digest);
  FileId id;
  ReadRaw(in, id.data(), static_cast<int64_t>(id.size()));
  return id;
}

PatchFormat ReadPatchMagic(RecordInput& in) {
  char magic[kPatchMagicSize];
  ReadRaw(in, magic, kPatchMagicSize);
  if (std::memcmp(magic, kPatchMagic, kPatchMagicSize) == 0) return PatchFormat::Classic;
  if (std::memcmp(magic, kCompactMagic, kCompactMagicSize) == 0) return PatchFormat::Compact;
  Raise(site::kMissingMagic);
}

void WriteCompactMagic(RecordOutput& out) { WriteRaw(out, kCompactMagic, kCompactMagicSize); }

void WriteCompactHead(RecordOutput& out, FrameEncoder& encoder, int level,
                      const CompactHead& head) {
  PackingOutput packed(encoder, level, u"the patch info");
  WritePatchInfoRecords(packed, head.changes);
  WriteCompactTag(packed, CompactRecord::OlderIds);
  WriteDword(packed, static_cast<uint32_t>(head.olderIds.size()));
  for (const auto& [path, id] : head.olderIds) {
    WriteString(packed, path);
    WriteDigest(packed, id);
  }
  packed.WriteTo(out);
}

CompactHead ReadCompactHead(RecordInput& in, const std::function<void()>& afterEachList) {
  CompactHead head;
  PackedInput packed(in, kNoLimit, u"the patch info");
  head.changes = ReadPatchInfoRecords(packed, afterEachList);
  ExpectCompactTag(packed, CompactRecord::OlderIds);
  for (uint32_t left = ReadDword(packed); left > 0; --left) {
    std::u16string path = ReadString(packed);
    head.olderIds[std::move(path)] = ReadDigest(packed);
  }
  packed.Finish();
  return head;
}

void WriteCompactIndex(RecordOutput& out, FrameEncoder& encoder, int level,
                       const PatchFileIndex& index) {
  PackingOutput packed(encoder, level, u"the file index");
  WriteTag(packed, RecordType::FileIndex);
  WriteDword(packed, static_cast<uint32_t>(index.size()));
  for (const auto& [path, offset] : index) {
    WriteString(packed, path);
    WriteQword(packed, offset);
  }
  packed.WriteTo(out);
}

PatchFileIndex ReadCompactIndex(RecordInput& in) {
  PackedInput packed(in, kNoLimit, u"the file index");
  ExpectTag(packed, RecordType::FileIndex);
  PatchFileIndex index;
  for (uint32_t left = ReadDword(packed); left > 0; --left) {
    std::u16string path = ReadString(packed);
    index[std::move(path)] = ReadQword(packed);
  }
  packed.Finish();
  return index;
}

void WriteCompactEnd(RecordOutput& out, int64_t indexOffset) {
  WriteCompactTag(out, CompactRecord::End);
  WriteQword(out, indexOffset);
  WriteRaw(out, kCompactMagic, kCompactMagicSize);
}

int64_t ReadCompactEnd(RecordInput& in) {
  uint8_t bytes[kCompactEndSize];
  if (in.read(bytes, kCompactEndSize) != kCompactEndSize) Raise(site::kUnfinishedPatch);
  uint64_t indexOffset = 0;
  for (int i = 0; i < 8; ++i) indexOffset |= uint64_t{bytes[2 + i]} << (8 * i);
  const bool complete = bytes[0] == static_cast<uint8_t>(CompactRecord::End) &&
                        bytes[1] == static_cast<uint8_t>(RecordType::Qword) &&
                        indexOffset <= static_cast<uint64_t>(INT64_MAX) &&
                        std::memcmp(bytes + 10, kCompactMagic, kCompactMagicSize) == 0;
  if (!complete) Raise(site::kUnfinishedPatch);
  return static_cast<int64_t>(indexOffset);
}

}  // namespace torquelin
