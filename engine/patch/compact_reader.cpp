// Reading a compact patch's head, index and end record, skimming its
// content blocks, and loading either format's patch info (errors located
// .\patchReader).
#include "engine/patch/compact_reader.h"

#include <algorithm>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/io/standard_input.h"
#include "engine/patch/compact_format.h"
#include "engine/patch/content_decoder.h"
#include "engine/patch/patch_stream.h"
#include "engine/patch/streamed_patch_info.h"

namespace torquelin {

namespace {

constexpr char16_t kIndexText[] = u"the file index";
constexpr char16_t kBlockText[] = u"a content block";

[[noreturn]] void Damaged(const char16_t* what) { Raise(site::kCompactDamaged, what); }

// Every path whose content the patch carries, ascending; a path listed
// twice stays twice, so that it can match no index.
PathList CarriedPaths(const ChangeSet& changes) {
  PathList carried = changes.NewFiles;
  carried.insert(carried.end(), changes.ChangedFiles.begin(), changes.ChangedFiles.end());
  std::sort(carried.begin(), carried.end());
  return carried;
}

bool HasBytes(ContentKind kind) { return kind != ContentKind::Copy; }

// Shares `size` out in proportion to `weights` (equally when they are all
// 0); the shares add up to `size`, what rounding leaves going to the
// heaviest.
std::vector<uint64_t> ShareOut(uint64_t size, const std::vector<uint64_t>& weights) {
  unsigned __int128 total = 0;
  for (uint64_t weight : weights) total += weight;
  std::vector<uint64_t> shares(weights.size());
  uint64_t given = 0;
  for (size_t i = 0; i < weights.size(); ++i) {
    shares[i] = static_cast<uint64_t>(
        total == 0 ? size / weights.size()
                   : size * static_cast<unsigned __int128>(weights[i]) / total);
    given += shares[i];
  }
  if (!shares.empty()) {
    const auto heaviest = std::max_element(weights.begin(), weights.end()) - weights.begin();
    shares[heaviest] += size - given;
  }
  return shares;
}

}  // namespace

PositionedInput::PositionedInput(zrFile::Reader& reader, int64_t offset) : reader_(reader) {
  SkipTo(offset);
}

int64_t PositionedInput::read(void* buffer, int64_t n) {
  const int64_t got = buffered_->read(buffer, n);
  if (got > 0) position_ += got;
  return got;
}

void PositionedInput::SkipTo(int64_t offset) {
  buffered_.reset();
  reader_.seek(offset);
  buffered_.emplace(reader_);
  position_ = offset;
}

CompactPatchInfo ReadCompactPatchInfo(zrFile::Reader& reader, CProgressSink& progress) {
  CompactPatchInfo info;
  const int64_t endStart = reader.size() - kCompactEndSize;
  if (endStart < static_cast<int64_t>(kCompactMagicSize)) Raise(site::kUnfinishedPatch);
  reader.seek(endStart);
  {
    DirectInput tail(reader);
    info.indexOffset = ReadCompactEnd(tail);
  }

  progress.SetStatus(u"Loading patch info.");
  progress.SetRange(9);
  PositionedInput in(reader, static_cast<int64_t>(kCompactMagicSize));
  info.head = ReadCompactHead(in, [&] { progress.Step(); });
  info.contentStart = in.position();
  if (info.indexOffset < info.contentStart || info.indexOffset > endStart) Damaged(kIndexText);
  in.SkipTo(info.indexOffset);
  info.index = ReadCompactIndex(in);
  if (in.position() != endStart) Damaged(kIndexText);

  CheckIndexListsTheCarriedFiles(info.head.changes, info.index);
  for (const auto& entry : info.index) {
    if (entry.second < info.contentStart || entry.second >= info.indexOffset) Damaged(kIndexText);
  }
  progress.Step();
  return info;
}

void CheckIndexListsTheCarriedFiles(const ChangeSet& changes, const PatchFileIndex& index) {
  const PathList carried = CarriedPaths(changes);
  if (carried.size() != index.size()) Damaged(kIndexText);
  auto path = carried.begin();
  for (const auto& entry : index) {
    if (*path++ != entry.first) Damaged(kIndexText);
  }
}

void SkimContentBlock(OffsetInput& in, const OlderIdMap& olderIds, int64_t limit, uint64_t block,
                      const PatchFileIndex* index, StoredContents& contents,
                      PatchFileIndex& starts) {
  const int64_t blockStart = in.position();
  uint32_t chunkCount = 0;
  std::vector<ContentMember> members = ReadMemberTable(in, olderIds, chunkCount);
  std::vector<uint64_t> weights;
  uint64_t total = 0;
  for (const ContentMember& member : members) {
    weights.push_back(HasBytes(member.kind) ? member.length : 0);
    total += weights.back();  // ReadMemberTable keeps the sum within int64
  }
  uint64_t held = 0;
  bool fromOlder = false;
  bool framed = false;
  for (uint32_t k = 0; k < chunkCount; ++k) {
    const ChunkHeader chunk = ReadChunkHeader(in);
    if (chunk.contentLength > total - held || in.position() > limit ||
        chunk.size > static_cast<uint64_t>(limit - in.position())) {
      Damaged(kBlockText);
    }
    held += chunk.contentLength;
    fromOlder = fromOlder || chunk.referenceLength > 0;
    framed = framed || chunk.storage == ChunkStorage::Frame;
    in.SkipTo(in.position() + static_cast<int64_t>(chunk.size));
  }
  if (held != total || in.position() > limit) Damaged(kBlockText);

  const std::vector<uint64_t> shares =
      ShareOut(static_cast<uint64_t>(in.position() - blockStart), weights);
  const bool toldByChunks =
      chunkCount > 1 && std::count_if(members.begin(), members.end(),
                                      [](const auto& m) { return HasBytes(m.kind); }) == 1;
  for (size_t i = 0; i < members.size(); ++i) {
    ContentMember& member = members[i];
    if (index != nullptr) {
      const auto indexed = index->find(member.path);
      if (indexed == index->end() || indexed->second != blockStart) Damaged(kIndexText);
    }
    if (contents.count(member.path) != 0) Damaged(kIndexText);
    starts.emplace(member.path, blockStart);
    StoredContent stored{member.kind, member.length, shares[i], block, std::move(member.reference),
                         member.id};
    if (toldByChunks && HasBytes(member.kind)) {
      stored.kind = fromOlder ? ContentKind::Delta
                    : framed  ? ContentKind::Compressed
                              : ContentKind::Stored;
      if (!fromOlder) stored.reference.clear();
    }
    contents.emplace(member.path, std::move(stored));
  }
}

StoredContents SkimCompactContents(zrFile::Reader& reader, const CompactPatchInfo& info) {
  StoredContents contents;
  PatchFileIndex starts;
  PositionedInput in(reader, info.contentStart);
  for (uint64_t block = 0; in.position() < info.indexOffset; ++block) {
    SkimContentBlock(in, info.head.olderIds, info.indexOffset, block, &info.index, contents,
                     starts);
  }
  if (in.position() != info.indexOffset || contents.size() != info.index.size()) {
    Damaged(kIndexText);
  }
  return contents;
}

ChangeSet LoadAnyPatchInfo(CProgressSink& progress, const std::u16string& patchPath,
                           StoredContents* contents) {
  if (patchPath.empty()) {
    Raise(site::kNoPatchToLoad);
  }
  // Nothing here is read twice: standard input is read as it comes.
  if (IsStandardStream(patchPath) && !StandardInputIsKept()) {
    return LoadStreamedPatchInfo(progress, contents);
  }
  zrFile::Reader reader(patchPath);
  PatchFormat format;
  {
    DirectInput in(reader);
    format = ReadPatchMagic(in);
  }
  if (format == PatchFormat::Classic) {
    reader.seek(0);
    return ReadPatchInfo(reader, progress);
  }
  CompactPatchInfo info = ReadCompactPatchInfo(reader, progress);
  if (contents != nullptr) *contents = SkimCompactContents(reader, info);
  return std::move(info.head.changes);
}

}  // namespace torquelin
