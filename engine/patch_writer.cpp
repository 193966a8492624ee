// The patch writer: header, patch info, file contents and index
// (patchReader module).
#include "engine/patch_writer.h"

#include <cstdint>
#include <map>

#include "engine/errors.h"
#include "engine/fsops.h"
#include "engine/large_file.h"
#include "engine/patch_stream.h"

namespace {

void WriteStringList(zrFile::Writer& out, const PathList& list) {
  WriteTag(out, RecordType::StringList);
  WriteDword(out, static_cast<uint32_t>(list.size()));
  for (const std::u16string& s : list) WriteString(out, s);
}

void WriteInfoMap(zrFile::Writer& out, const TextMap& map) {
  WriteTag(out, RecordType::InfoMap);
  WriteDword(out, static_cast<uint32_t>(map.size()));
  for (const auto& [key, value] : map) {
    WriteString(out, key);
    WriteString(out, value);
  }
}

void WriteAttributeMap(zrFile::Writer& out, const AttributeMap& map) {
  WriteTag(out, RecordType::AttributeMap);
  WriteDword(out, static_cast<uint32_t>(map.size()));
  for (const auto& [path, word] : map) {
    WriteString(out, path);
    WriteDword(out, word);
  }
}

// Writes one FileContent record and returns the offset of its tag. The
// length is the one measured at open: a file that grows meanwhile
// contributes exactly that many bytes, one that shrinks is an error.
int64_t WriteFileContent(zrFile::Writer& out, CProgressSink& progress,
                         const std::u16string& newerRoot, const std::u16string& relativePath) {
  const int64_t start = out.tell();
  WriteTag(out, RecordType::FileContent);
  const std::u16string sourcePath = JoinPath(newerRoot, relativePath);
  zrFile::Reader source(sourcePath);
  const int64_t length = source.size();
  WriteString(out, relativePath);
  WriteQword(out, length);
  const int64_t done =
      CopyThroughBuffer(source, length, progress.GetBuffer(), progress.GetBufferSize(),
                        [&out](const uint8_t* chunk, int64_t n) { WriteRaw(out, chunk, n); });
  if (done != length) {
    throw CZRErr(0, u"Unable read a source file:" + sourcePath, location::kPatchReader, __LINE__);
  }
  return start;
}

void SyncOrFail(zrFile::Writer& out, const std::u16string& patchPath) {
  if (!out.sync()) {
    throw CZRErr(0, u"Unable to flush a patch file to disk:" + patchPath, location::kPatchReader,
                 __LINE__);
  }
}

}  // namespace

void WritePatch(CProgressSink& progress, const ChangeSet& changes, const std::u16string& newerRoot,
                const std::u16string& patchPath) {
  progress.SetStatus(u"Creating a patch file");

  std::map<std::u16string, int64_t> index;
  for (const std::u16string& path : changes.NewFiles) index.emplace(path, 0);
  for (const std::u16string& path : changes.ChangedFiles) index.emplace(path, 0);

  RemoveItem(true, patchPath);
  zrFile::Writer out(patchPath);

  WriteRaw(out, kPatchMagic, kPatchMagicSize);
  const int64_t headerFields = out.tell();
  WriteQword(out, 0);
  WriteDword(out, 0);

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

  progress.SetRange(static_cast<uint32_t>(index.size()));
  progress.ResetProgress();
  for (auto& [path, offset] : index) {
    progress.SetDetail(u"Writing File: " + path);
    progress.Step();
    offset = WriteFileContent(out, progress, newerRoot, path);
  }

  const int64_t indexOffset = out.tell();
  WriteTag(out, RecordType::FileIndex);
  WriteDword(out, static_cast<uint32_t>(index.size()));
  for (const auto& [path, offset] : index) {
    WriteString(out, path);
    WriteQword(out, offset);
  }

  // The flag is what makes readers trust the file, so everything it vouches
  // for must be on the device before it is, and the flag itself after.
  SyncOrFail(out, patchPath);
  out.seek(headerFields);
  WriteQword(out, indexOffset);
  WriteDword(out, kPatchComplete);
  SyncOrFail(out, patchPath);
  out.close();
}
