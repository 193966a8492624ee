// The patch writer: header, patch info, file contents and index
// (errors located .\patchReader).
#include "engine/patch/patch_writer.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "engine/base/error_sites.h"
#include "engine/hash/sha1.h"
#include "engine/io/file_system.h"
#include "engine/io/large_file.h"
#include "engine/io/standard_input.h"
#include "engine/patch/patch_stream.h"
#include "platform/output_target.h"
#include "platform/standard_streams.h"

namespace torquelin {

namespace {

// The compound records of the patch info, as patch_format.h lays them out.
void WriteStringList(RecordOutput& out, const PathList& list) {
  WriteTag(out, RecordType::StringList);
  WriteDword(out, static_cast<uint32_t>(list.size()));
  for (const std::u16string& s : list) WriteString(out, s);
}

void WriteInfoMap(RecordOutput& out, const TextMap& map) {
  WriteTag(out, RecordType::InfoMap);
  WriteDword(out, static_cast<uint32_t>(map.size()));
  for (const auto& [key, value] : map) {
    WriteString(out, key);
    WriteString(out, value);
  }
}

void WriteAttributeMap(RecordOutput& out, const AttributeMap& map) {
  WriteTag(out, RecordType::AttributeMap);
  WriteDword(out, static_cast<uint32_t>(map.size()));
  for (const auto& [path, word] : map) {
    WriteString(out, path);
    WriteDword(out, word);
  }
}

// What a patch kept for standard output is copied out in.
constexpr size_t kCopyChunk = size_t{1} << 20;

// Writes one FileContent record and returns the offset of its tag. The
// record's head goes through `records`; the content goes straight from the
// scratch buffer to the file. The length is the one measured at open: a file
// that grows meanwhile contributes exactly that many bytes, one that shrinks
// is an error. With scannedId, the bytes copied must be those the scan
// hashed: a file changed since (even one that shrank before it was opened,
// which its length alone cannot show) is an error too.
int64_t WriteFileContent(zrFile::Writer& out, BufferedOutput& records, CProgressSink& progress,
                         const std::u16string& newerRoot, const std::u16string& relativePath,
                         const std::u16string* scannedId) {
  records.Flush();
  const int64_t start = out.tell();
  WriteTag(records, RecordType::FileContent);
  const std::u16string sourcePath = JoinPath(newerRoot, relativePath);
  // A symbolic link is carried as its target text, never followed.
  StreamReader source;
  const platform::Status opened = source.tryOpen(sourcePath);
  if (!opened) Raise(site::kReaderOpen, sourcePath, opened.error());
  const int64_t length = source.size();
  WriteString(records, relativePath);
  WriteQword(records, length);
  records.Flush();
  Sha1Context digest;
  Sha1Init(digest);
  uint8_t* buffer = progress.GetBuffer();
  const uint64_t chunk = progress.GetBufferSize();
  int64_t done = 0;
  while (done < length) {
    const uint64_t got =
        source.read(buffer, std::min<uint64_t>(chunk, static_cast<uint64_t>(length - done)));
    if (got == 0) break;
    if (scannedId) Sha1Update(digest, buffer, static_cast<uint32_t>(got));
    WriteRaw(out, buffer, static_cast<int64_t>(got));
    done += static_cast<int64_t>(got);
  }
  bool asScanned = true;
  if (scannedId) {
    Sha1Digest copied;
    Sha1Final(copied, digest);
    asScanned = DigestToHex(copied) == *scannedId;
  }
  if (done != length || !asScanned) {
    Raise(site::kPatchSourceShortRead, sourcePath, done != length ? source.error() : 0);
  }
  return start;
}

void SyncOrFail(zrFile::Writer& out, const std::u16string& patchPath) {
  if (!out.sync()) {
    Raise(site::kPatchFlush, patchPath, out.error());
  }
}

}  // namespace

PatchOutputFile::PatchOutputFile(const std::u16string& patchPath, Order order)
    : patchPath_(patchPath) {
  if (IsStandardStream(patchPath)) {
    kept_ = order == Order::RewritesHeader;
    platform::Result<platform::FileHandle> stream =
        kept_ ? platform::CreatePrivateTemporaryFile()
              : platform::OpenStandardStream(platform::StandardStream::Output);
    if (!stream)
      Raise(kept_ ? site::kStandardOutputKeep : site::kStandardOutputWrite, {}, stream.error());
    stream_ = std::move(*stream);
    writer_.borrow(stream_, patchPath);
    return;
  }
  const platform::Status created = file_.Create(platform::ResolveFinalLink(patchPath));
  if (!created) Raise(site::kWriterOpen, patchPath, created.error());
  writer_.borrow(file_.file(), patchPath);
}

void PatchOutputFile::Commit() {
  if (stream_.IsOpen()) {
    // A pipe cannot be flushed to a device; durability is the receiver's.
    writer_.close();
    if (kept_) CopyToStandardOutput();
    stream_.Close();
    return;
  }
  SyncOrFail(writer_, patchPath_);
  writer_.close();
  const platform::Status committed = file_.Commit();
  if (!committed) Raise(site::kPatchReplace, patchPath_, committed.error());
}

void PatchOutputFile::CopyToStandardOutput() {
  platform::Result<platform::FileHandle> out =
      platform::OpenStandardStream(platform::StandardStream::Output);
  if (!out) Raise(site::kStandardOutputWrite, {}, out.error());
  const platform::Result<int64_t> start = stream_.Seek(0);
  if (!start) Raise(site::kStandardOutputKeep, {}, start.error());
  std::vector<uint8_t> buffer(kCopyChunk);
  while (true) {
    const platform::Result<uint64_t> got = stream_.Read(buffer.data(), buffer.size());
    if (!got) Raise(site::kStandardOutputKeep, {}, got.error());
    if (*got == 0) return;
    const platform::Status put = out->Write(buffer.data(), *got);
    if (!put) Raise(site::kStandardOutputWrite, {}, put.error());
  }
}

void WritePatchStart(RecordOutput& out, const ChangeSet& changes) {
  WriteRaw(out, kPatchMagic, kPatchMagicSize);
  WriteQword(out, 0);
  WriteDword(out, 0);
  WritePatchInfoRecords(out, changes);
}

void WritePatchInfoRecords(RecordOutput& out, const ChangeSet& changes) {
  WriteString(out, changes.NewerTreeID);
  WriteString(out, changes.OlderTreeID);
  WriteInfoMap(out, changes.Info);
  WriteString(out, changes.IgnoreFilter);
  WriteStringList(out, changes.ignoredNew);
  WriteStringList(out, changes.ignoredOld);
  WriteStringList(out, changes.UnlinkedDirectories);
  WriteStringList(out, changes.UnlinkedFiles);
  WriteStringList(out, changes.NewDirs);
  WriteStringList(out, changes.ChangedFiles);
  WriteStringList(out, changes.NewFiles);
  WriteAttributeMap(out, changes.AttributeChanges);
}

void WritePatch(CProgressSink& progress, const ChangeSet& changes, const std::u16string& newerRoot,
                const std::u16string& patchPath, const TextMap* scannedIds) {
  progress.SetStatus(u"Creating a patch file");

  std::map<std::u16string, int64_t> index;
  for (const std::u16string& path : changes.NewFiles) index.emplace(path, 0);
  for (const std::u16string& path : changes.ChangedFiles) index.emplace(path, 0);

  PatchOutputFile file(patchPath);
  zrFile::Writer& out = file.writer();
  BufferedOutput records(out);

  WritePatchStart(records, changes);

  progress.SetRange(static_cast<uint32_t>(index.size()));
  progress.ResetProgress();
  for (auto& [path, offset] : index) {
    progress.SetDetail(u"Writing File: " + path);
    progress.Step();
    const std::u16string* scannedId = nullptr;
    if (scannedIds) {
      const auto found = scannedIds->find(path);
      if (found != scannedIds->end()) scannedId = &found->second;
    }
    offset = WriteFileContent(out, records, progress, newerRoot, path, scannedId);
  }

  records.Flush();
  const int64_t indexOffset = out.tell();
  WriteTag(records, RecordType::FileIndex);
  WriteDword(records, static_cast<uint32_t>(index.size()));
  for (const auto& [path, offset] : index) {
    WriteString(records, path);
    WriteQword(records, offset);
  }
  records.Flush();

  // The flag is what makes readers trust the file, so everything it vouches
  // for must be on the device before it is, and the flag itself before the
  // file takes the patch's name: a crash leaves the previous file or this
  // one whole, never one whose flag is set over missing contents.
  SyncOrFail(out, patchPath);
  out.seek(kPatchIndexOffsetPosition);
  DirectOutput header(out);
  WriteQword(header, indexOffset);
  WriteDword(header, kPatchComplete);
  file.Commit();
}

}  // namespace torquelin
